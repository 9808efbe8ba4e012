// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/AccountStore.h"
#include "shell/MainWindow.h"
#include "shell/SignInWindow.h"
#include "tests/support/ShellHarness.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QScopeGuard>
#include <QTcpServer>
#include <QLineEdit>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QtTest>

class SignInTest : public QObject {
    Q_OBJECT

    static QLineEdit* field(SignInWindow& w, const char* name) { return w.findChild<QLineEdit*>(name); }
    static void fill(SignInWindow& w, const QString& mail, const QString& password)
    {
        field(w, "Text1")->setText(mail);
        field(w, "Text2")->setText(password);
    }

private slots:
    void firstStartHasEmptyFields()
    {
        ShellHarness h;
        SignInWindow w(h.parts());
        QCOMPARE(w.windowTitle(), QString("Please Sign In"));
        QVERIFY(field(w, "Text1")->text().isEmpty());
        QVERIFY(field(w, "Text2")->text().isEmpty());
        QCOMPARE(field(w, "Text2")->echoMode(), QLineEdit::Password);
    }

    void refusesEmptyFieldsEmailFirst_data()
    {
        QTest::addColumn<QString>("mail");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("message");
        QTest::newRow("both empty") << "" << "" << "Please Enter an Email Address";
        QTest::newRow("no mail") << "" << "pw" << "Please Enter an Email Address";
        QTest::newRow("no password") << "a@b" << "" << "Please Enter a Password";
    }
    void refusesEmptyFieldsEmailFirst()
    {
        QFETCH(QString, mail);
        QFETCH(QString, password);
        QFETCH(QString, message);
        ShellHarness h;
        SignInWindow w(h.parts());
        w.show();
        fill(w, mail, password);
        w.Command1_Click();

        QCOMPARE(h.dialogs.prompts(), QStringList{message});
        QCOMPARE(h.dialogs.shown[0].caption, QString("Please Enter..."));
        QCOMPARE(h.dialogs.shown[0].icon, Dialogs::Icon::Information);
        QVERIFY(!h.existingMainWindow());
        QVERIFY(w.isVisible());
        QCOMPARE(field(w, "Text1")->text(), mail); // typed values stay in the fields only
        QVERIFY(!QFileInfo::exists(AccountStore::filePath()));
    }

    void accountIsRememberedForTheNextStartOwnerOnly()
    {
        ShellHarness h;
        {
            auto* w = new SignInWindow(h.parts());
            fill(*w, "  ", "s3cret pw"); // blanks are an address too
            w->Command1_Click();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        MainWindow* main = h.existingMainWindow();
        QVERIFY(main);
        QVERIFY(main->isVisible());
        QCOMPARE(main->findChild<QLineEdit*>("txtsigninn")->text(), QString("  "));
        QCOMPARE(main->findChild<QLineEdit*>("txtsigninp")->text(), QString("s3cret pw"));

        QFile ini(AccountStore::filePath());
        QCOMPARE(ini.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
                 QFile::Permissions());
        QVERIFY(ini.open(QIODevice::ReadOnly));
        const QByteArray text = ini.readAll();
        QVERIFY2(text.contains("[SignIn]") && text.contains("Psswrd=s3cret pw"), text.constData());

        SignInWindow again(h.parts());
        QCOMPARE(field(again, "Text1")->text(), QString("  "));
        QCOMPARE(field(again, "Text2")->text(), QString("s3cret pw"));
    }

    void layoutFollowsScreenWidthInTwips_data()
    {
        QTest::addColumn<double>("twips");
        QTest::addColumn<QString>("form");
        QTest::newRow("800") << 800.0 << "frmMain2";
        QTest::newRow("801") << 801.0 << "frmMain";
        QTest::newRow("800 px at 96 dpi") << 12000.0 << "frmMain";
    }
    void layoutFollowsScreenWidthInTwips()
    {
        QFETCH(double, twips);
        QFETCH(QString, form);
        ShellHarness h;
        h.screenTwips = twips;
        auto* w = new SignInWindow(h.parts());
        fill(*w, "a@b", "pw");
        w->Command1_Click();
        QVERIFY(h.existingMainWindow());
        QCOMPARE(h.existingMainWindow()->objectName(), form);
        QCOMPARE(h.existingMainWindow()->windowTitle(), QString("Velmora"));
    }

    void loadStepRunsBeforeTheHandOver()
    {
        ShellHarness h;
        h.messenger->setStatus(Messenger::MISTATUS_OFFLINE);
        auto* w = new SignInWindow(h.parts());
        fill(*w, "a@b", "pw");
        QString handOverSeen = "unset";
        bool signInVisible = false, mainVisible = true, stored = true;
        h.dialogs.onShow = [&](const Dialogs::Request& r) {
            if (!r.prompt.startsWith("MSN Is currently not connected."))
                return;
            handOverSeen = h.existingMainWindow()->findChild<QLineEdit*>("txtsigninn")->text();
            signInVisible = w->isVisible();
            mainVisible = h.existingMainWindow()->isVisible();
            stored = QFileInfo::exists(AccountStore::filePath());
        };
        w->show();
        w->Command1_Click();
        QCOMPARE(h.dialogs.prompts(), QStringList{"MSN Is currently not connected.\r\nPlease connect to MSN"});
        QCOMPARE(h.dialogs.shown[0].caption, QString("Tavlo"));
        QCOMPARE(handOverSeen, QString());
        QVERIFY(signInVisible);
        QVERIFY(!mainVisible);
        QVERIFY(!stored);
        QVERIFY(h.existingMainWindow()->isVisible());
    }

    // With no server named the sign-in asks for one, and no address is guessed: cancelled, the
    // session stays stopped until File, Sign In Again asks again.
    void theServerIsAskedForNotGuessed()
    {
        ShellHarness h;
        qunsetenv("VELMORA_DISPATCH_SERVER");
        QTcpServer service;
        QVERIFY(service.listen(QHostAddress::LocalHost));
        QStringList asked;
        QList<std::optional<QString>> answers{std::nullopt, QStringLiteral("127.0.0.1:http"),
                                              QStringLiteral("127.0.0.1:%1").arg(service.serverPort())};
        Dialogs::setPasswordResponder([&](const Dialogs::Request& r) {
            asked << r.prompt;
            return answers.takeFirst();
        });
        auto cleanup = qScopeGuard([] { Dialogs::setPasswordResponder({}); });
        auto* w = new SignInWindow(h.parts());
        fill(*w, "a@b", "pw");
        w->Command1_Click();
        MainWindow* main = h.existingMainWindow();
        QCOMPARE(asked.size(), 1);
        QVERIFY(asked[0].contains("host[:port]"));
        QTRY_COMPARE(main->findChild<QLabel*>("Label1")->text(), QString("No server set"));

        auto* again = main->findChild<QAction*>("mnuSignInAgain");
        QVERIFY(again->isEnabled());
        again->trigger();
        QCOMPARE(asked.size(), 3); // the port that is not one is asked again
        QVERIFY(service.waitForNewConnection(5000));
        QCOMPARE(AccountStore::get("Server", {}), QStringLiteral("127.0.0.1:%1").arg(service.serverPort()));
    }

    // An older version left the file, which may hold the password, readable to others.
    void aSettingsFileReadableToOthersBecomesTheUsersAlone()
    {
        ShellHarness h;
        AccountStore::save("Usrname", "a@b");
        QVERIFY(QFile::setPermissions(AccountStore::filePath(), QFile::ReadOwner | QFile::WriteOwner |
                                                                   QFile::ReadGroup | QFile::ReadOther));
        h.program();
        QCOMPARE(QFile::permissions(AccountStore::filePath()) & (QFile::ReadGroup | QFile::ReadOther),
                 QFile::Permissions());
    }

    void registrationLinkOpensThroughTheDesktop()
    {
        ShellHarness h;
        SignInWindow w(h.parts());
        w.Label6_Click();
        w.Label6_Click();
        QCOMPARE(h.openedLinks.size(), 2);
        QVERIFY(h.openedLinks[0].startsWith("https://"));
        QVERIFY(w.findChild<QPushButton*>("Command1"));
    }

    void keyboardOrderIsMailPasswordButton()
    {
        ShellHarness h;
        SignInWindow w(h.parts());
        QCOMPARE(field(w, "Text1")->nextInFocusChain(), field(w, "Text2"));
        QWidget* afterPassword = field(w, "Text2")->nextInFocusChain();
        QCOMPARE(afterPassword->objectName(), QString("Command1"));
    }

    // --tray: signed in with what is stored, the window in the tray; with no password stored,
    // the sign-in window as usual.
    void startingInTheTray()
    {
        for (const bool stored : {true, false}) {
            ShellHarness h;
            h.tray = true;
            AccountStore::save("Usrname", "a@b");
            if (stored)
                AccountStore::save("Psswrd", "pw");
            h.program().start(true);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            bool signInShown = false;
            for (QWidget* w : QApplication::topLevelWidgets())
                signInShown |= w->objectName() == "frmSignIn" && w->isVisible();
            QCOMPARE(signInShown, !stored);
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->objectName() == "frmSignIn")
                    w->deleteLater();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            MainWindow* main = h.existingMainWindow();
            QCOMPARE(main != nullptr, stored);
            if (!stored)
                continue;
            QVERIFY(!main->isVisible());
            QVERIFY(main->findChild<QSystemTrayIcon*>("cSysTray2")->isVisible());
            QCOMPARE(main->findChild<QLineEdit*>("txtsigninn")->text(), QString("a@b"));
        }
    }
};

QTEST_MAIN(SignInTest)
#include "test_signin.moc"
