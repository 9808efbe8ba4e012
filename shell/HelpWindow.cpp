// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/HelpWindow.h"

#include "shell/ClickableLabel.h"
#include "shell/Links.h"
#include "shell/Look.h"
#include "desktop/OpenLink.h"

#include <QFrame>
#include <QHBoxLayout>

HelpWindow::HelpWindow(const Desktop& desktop, QWidget* parent) : QDialog(parent), desktop(desktop)
{
    Look::ensureResources();
    setObjectName(QStringLiteral("frmHelp"));
    setWindowTitle(QStringLiteral("Help for Velmora"));
    setModal(true);
    setFixedSize(255, 146);

    auto* image1 = ClickableLabel::picture(this, "Image1", {10, 2, 234, 50}, QStringLiteral(":/help_banner.png"),
                                           QStringLiteral("Click to Visit Website"));
    connect(image1, &ClickableLabel::clicked, this, &HelpWindow::Image1_Click);

    auto* text = new QLabel(
        QStringLiteral("All you gotta do is hit \"Add a Contact\" then type in your desired nickname for them, and "
                       "their E-Mail, after you have done that, double click on their email that you wish to have a "
                       "chat convo with."),
        this);
    text->setObjectName(QStringLiteral("Label1"));
    text->setWordWrap(true);
    text->setFont(Look::tahoma());
    text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    text->setGeometry(6, 54, 243, 70);

    auto* bar = new QFrame(this);
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setGeometry(0, 126, 255, 20);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(1, 1, 1, 1);
    row->setSpacing(2);
    int index = 0;
    for (const QString& caption : {QStringLiteral("Help"), QStringLiteral("Click Me To Go Back")}) {
        auto* panel = new ClickableLabel(caption, bar);
        panel->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(index + 1));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setFont(Look::tahoma());
        panel->setCursor(Qt::PointingHandCursor);
        row->addWidget(panel, index == 0 ? 1 : 2);
        connect(panel, &ClickableLabel::clicked, this, [this, index] { StatusBar1_PanelClick(index + 1); });
        ++index;
    }
}

void HelpWindow::Image1_Click() { desktop.OpenLink(Links::kWebSite); }

void HelpWindow::StatusBar1_PanelClick(int) { accept(); }
