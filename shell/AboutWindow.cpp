// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/AboutWindow.h"

#include "shell/ClickableLabel.h"
#include "shell/Links.h"
#include "shell/Look.h"
#include "desktop/OpenLink.h"

#include <QFrame>
#include <QPushButton>

namespace {
QLabel* aboutLabel(QWidget* parent, const char* name, const QString& text, const QRect& r, const QFont& font)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(r);
    l->setFont(font);
    return l;
}
} // namespace

AboutWindow::AboutWindow(const Desktop& desktop, QWidget* parent) : QDialog(parent), desktop(desktop)
{
    Look::ensureResources();
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Velmora v" VELMORA_VERSION));
    setModal(true);
    setFixedSize(320, 272);
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto* image1 = ClickableLabel::picture(this, "Image1", {42, 8, 236, 52}, QStringLiteral(":/about_banner.png"),
                                           QStringLiteral("Click to visit Website"));
    connect(image1, &ClickableLabel::clicked, this, &AboutWindow::Image1_Click);

    QFont verdana = Look::verdana();
    const QFont tahoma = Look::tahoma();
    aboutLabel(this, "Label7", QStringLiteral("Program's Name: Velmora"), {16, 72, 288, 16}, tahoma);
    aboutLabel(this, "Label9", QStringLiteral("Version Info: Version " VELMORA_VERSION), {16, 90, 288, 16}, tahoma);
    aboutLabel(this, "Label8", QStringLiteral("Idea by: Lee Example"), {16, 108, 288, 16}, tahoma);
    aboutLabel(this, "Label10", QStringLiteral("Graphics by: Robin Example"), {16, 126, 288, 16}, tahoma);

    auto* line = new QFrame(this);
    line->setObjectName(QStringLiteral("Line1"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(16, 148, 288, 4);

    aboutLabel(this, "Label2", QStringLiteral("Programmers:"), {16, 158, 288, 16}, verdana);
    aboutLabel(this, "Label3", QStringLiteral("Sam Example"), {32, 178, 120, 16}, tahoma);
    aboutLabel(this, "Label5", QStringLiteral("Kim Example"), {176, 178, 120, 16}, tahoma);
    auto mailLabel = [&](const char* name, const QRect& r, void (AboutWindow::*handler)()) {
        auto* l = new ClickableLabel(QStringLiteral("Email Me"), this);
        l->setObjectName(QLatin1String(name));
        l->setGeometry(r);
        l->setFont(tahoma);
        l->setCursor(Qt::PointingHandCursor);
        Look::setTextColor(l, Look::kDarkBlue);
        connect(l, &ClickableLabel::clicked, this, handler);
    };
    mailLabel("Label4", {32, 196, 120, 16}, &AboutWindow::Label4_Click);
    mailLabel("Label6", {176, 196, 120, 16}, &AboutWindow::Label6_Click);

    verdana.setBold(true);
    QLabel* heading = aboutLabel(this, "Label1", QStringLiteral("Thank you for using Velmora"), {8, 246, 200, 18}, verdana);
    heading->setAlignment(Qt::AlignCenter);

    auto* back = new QPushButton(QStringLiteral("Close"), this);
    back->setObjectName(QStringLiteral("cmdBack"));
    back->setGeometry(224, 240, 81, 25);
    back->setDefault(true);
    connect(back, &QPushButton::clicked, this, &AboutWindow::cmdBack_Click);
}

void AboutWindow::cmdBack_Click() { accept(); }
void AboutWindow::Image1_Click() { desktop.OpenLink(Links::kWebSite); }
void AboutWindow::Label4_Click() { desktop.OpenLink(Links::kFirstProgrammerMail); }
void AboutWindow::Label6_Click() { desktop.OpenLink(Links::kSecondProgrammerMail); }
