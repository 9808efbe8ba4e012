// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/SignInWindow.h"

#include "services/AccountStore.h"
#include "shell/ClickableLabel.h"
#include "shell/Dialogs.h"
#include "shell/Links.h"
#include "shell/Look.h"
#include "shell/MainWindow.h"
#include "shell/ServerQuestion.h"
#include "desktop/OpenLink.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace {
QLabel* signInLabel(QWidget* parent, const char* name, const QString& text, const QRect& r) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(r);
    l->setWordWrap(r.height() > 20);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

void signInPicture(QWidget* parent, const char* name, const QRect& r, const char* file) {
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(r);
    l->setPixmap(QPixmap(QLatin1String(file)));
}
} // namespace

SignInWindow::SignInWindow(const ProgramParts& parts, QWidget* parent) : QWidget(parent), parts(parts) {
    Look::ensureResources();
    setObjectName(QStringLiteral("frmSignIn"));
    setWindowTitle(QStringLiteral("Please Sign In"));
    setFixedSize(397, 316);
    setFont(Look::tahoma());
    buildTexts();
    buildFields();
    for (QWidget* w : findChildren<QWidget*>())
        if (w != Text1 && w != Text2 && w != Command1)
            w->setFocusPolicy(Qt::NoFocus);
    setTabOrder(Text1, Text2);
    setTabOrder(Text2, Command1);
    Form_Load();
}

void SignInWindow::buildTexts() {
    signInPicture(this, "Image1", {0, 0, 397, 318}, ":/bg_signin.png");
    signInLabel(this, "Label3", QStringLiteral("Sign In to Messenger With a different Account"),
                {88, 24, 233, 17});
    signInPicture(this, "Image2", {48, 56, 16, 16}, ":/info16.png");
    signInLabel(this, "Label4",
                // clang-format off
                QStringLiteral("To be able to use the Status view, you will need to make another account, and enter the email address, and password in this window."),
                // clang-format on
                {72, 56, 289, 41});
    signInLabel(this, "Label5",
                // clang-format off
                QStringLiteral("Once you click sign in, the email address and password will be saved, for quicker and easier use the next time you start up      Velmora"),
                // clang-format on
                {72, 104, 313, 49});
    signInPicture(this, "Image3", {104, 152, 16, 16}, ":/link16.png");

    auto* link = new ClickableLabel(QStringLiteral("Create a new Passport Click Here"), this);
    link->setObjectName(QStringLiteral("Label6"));
    link->setGeometry(128, 152, 169, 17);
    link->setCursor(Qt::PointingHandCursor);
    connect(link, &ClickableLabel::clicked, this, &SignInWindow::Label6_Click);
}

void SignInWindow::buildFields() {
    QLabel* label1 = signInLabel(this, "Label1", QStringLiteral("Email Addy:"), {72, 184, 57, 17});
    QLabel* label2 = signInLabel(this, "Label2", QStringLiteral("Password:"), {80, 208, 57, 17});
    Look::setTextColor(label1, Look::kDarkBlue);
    Look::setTextColor(label2, Look::kDarkBlue);

    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(136, 184, 233, 19);
    Text2 = new QLineEdit(this);
    Text2->setObjectName(QStringLiteral("Text2"));
    Text2->setGeometry(136, 208, 233, 19);
    Text2->setEchoMode(QLineEdit::Password);
    // Qt draws a bullet for a password by default; this window shows "*".
    Text2->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));

    Command1 = new QPushButton(QStringLiteral("Sign In"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(272, 232, 97, 25);
    Command1->setDefault(true);
    connect(Command1, &QPushButton::clicked, this, &SignInWindow::Command1_Click);
    connect(Text1, &QLineEdit::returnPressed, Command1, &QPushButton::click);
    connect(Text2, &QLineEdit::returnPressed, Command1, &QPushButton::click);
}

void SignInWindow::Form_Load() {
    Text1->setText(AccountStore::get(QStringLiteral("Usrname"), Text1->text()));
    Text2->setText(AccountStore::get(QStringLiteral("Psswrd"), Text2->text()));
    if (Text2->text().isEmpty() && !Text1->text().isEmpty() && parts.passwords.haveKeyring())
        fetchPassword(Text1->text());
}

// The keyring answers later. Until it does, or until the wait runs out, "Sign In" waits too, or it
// would complain of an empty password that is on its way.
void SignInWindow::fetchPassword(const QString& account) {
    Command1->setEnabled(false);
    QTimer::singleShot(parts.passwords.keyringWaitMs(), this, [this] { passwordSettled(); });
    parts.passwords.fetch(account, this, [this, account](const std::optional<QString>& password) {
        // Whatever the user typed meanwhile is theirs, and so is a password for another address.
        if (password && Text1->text() == account && Text2->text().isEmpty() && !Text2->isModified())
            Text2->setText(*password);
        passwordSettled();
    });
}

void SignInWindow::passwordSettled() {
    Command1->setEnabled(true);
    if (const auto then = std::exchange(afterPassword, nullptr))
        then();
}

void SignInWindow::startInTray() {
    afterPassword = [this] {
        if (Text1->text().isEmpty() || Text2->text().isEmpty()) {
            show();
            return;
        }
        toTray = true;
        Command1_Click();
    };
    if (Command1->isEnabled())
        passwordSettled();
}

void SignInWindow::Command1_Click() {
    const QString caption = QStringLiteral("Please Enter...");
    if (Text1->text().isEmpty()) {
        Dialogs::show(this, QStringLiteral("Please Enter an Email Address"), Dialogs::Buttons::Ok,
                      Dialogs::Icon::Information, caption);
        return;
    }
    if (Text2->text().isEmpty()) {
        Dialogs::show(this, QStringLiteral("Please Enter a Password"), Dialogs::Buttons::Ok,
                      Dialogs::Icon::Information, caption);
        return;
    }
    // Asked once, here: no server is guessed. Without one the session waits for File, Sign In Again.
    if (!parts.serverNamed())
        askForServer(this);
    const Layout layout = parts.screenTwips() <= 800 ? Layout::Compact : Layout::Full;

    MainWindow* main = parts.mainWindow(layout);
    main->setHandOver(Text1->text(), Text2->text());
    const QString previousAccount = AccountStore::get(QStringLiteral("Usrname"), QString());
    AccountStore::save(QStringLiteral("Usrname"), Text1->text());
    parts.passwords.save(Text1->text(), Text2->text(), previousAccount, [main = QPointer<MainWindow>(main)](const QString& notice) {
        // Told from the event loop, not from inside the keyring's own answer.
        QTimer::singleShot(0, main, [main, notice] {
            Dialogs::show(main, notice, Dialogs::Buttons::Ok, Dialogs::Icon::Information);
        });
    });
    handedOver = true;
    close();
    if (toTray)
        main->mnuSysTray_Click();
    else
        main->show();
}

void SignInWindow::Label6_Click() {
    parts.desktop.OpenLink(Links::kRegistration, QStringLiteral("Open"), QString(), QString(), 0);
}

void SignInWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    deleteLater();
    // Closed before signing in, it was the only window: the program ends.
    if (!handedOver)
        QCoreApplication::quit();
}
