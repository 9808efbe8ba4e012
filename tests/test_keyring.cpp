// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/AccountStore.h"
#include "services/Keyring.h"
#include "shell/MainWindow.h"
#include "shell/SignInWindow.h"
#include "tests/support/ShellHarness.h"

#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

// The account's password against a real Secret Service: gnome-keyring-daemon on a private session
// bus (tests/support/keyring_fixture.sh), checked from outside with secret-tool.
// The desktop's keyring, as the program has it.
struct KeyringHarness : ShellHarness {
    KeyringHarness() { keyring = [] { return Keyring::makeSystem(); }; }
};

class KeyringTest : public QObject {
    Q_OBJECT

    QString script;
    QString fixtureDir;

    bool fixture(const QStringList& args, QString* out = nullptr) {
        QProcess p;
        p.start(QStringLiteral("bash"), QStringList{script} + args);
        if (!p.waitForFinished(60000))
            return false;
        if (out)
            *out = QString::fromUtf8(p.readAllStandardOutput());
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }
    // What the keyring holds for the account, as any other program on the desktop sees it.
    QString keyringHolds(const QString& account) {
        QString secret;
        fixture({QStringLiteral("lookup"), fixtureDir, QStringLiteral("server"), QStringLiteral("Velmora"),
                 QStringLiteral("user"), account},
                &secret);
        return secret;
    }
    static QString fileHolds(const QString& key) {
        QSettings ini(AccountStore::filePath(), QSettings::IniFormat);
        return ini.value(QStringLiteral("SignIn/") + key).toString();
    }
    static void writeFile(const QString& account, const QString& password) {
        AccountStore::save(QStringLiteral("Usrname"), account);
        if (!password.isEmpty())
            AccountStore::save(QStringLiteral("Psswrd"), password);
    }
    static QLineEdit* field(QWidget& w, const char* name) { return w.findChild<QLineEdit*>(name); }
    static QPushButton* signInButton(QWidget& w) { return w.findChild<QPushButton*>("Command1"); }

    // A start of the sign-in window: the password arrives from the keyring a little later.
    static std::unique_ptr<SignInWindow> startSignIn(ShellHarness& h) {
        auto w = std::make_unique<SignInWindow>(h.parts());
        w->show();
        return w;
    }
    static void signIn(ShellHarness& h, const QString& account, const QString& password) {
        auto* w = new SignInWindow(h.parts()); // unloads itself
        w->show();
        QTRY_VERIFY_WITH_TIMEOUT(signInButton(*w)->isEnabled(), 15000);
        field(*w, "Text1")->setText(account);
        field(*w, "Text2")->setText(password);
        QTest::mouseClick(signInButton(*w), Qt::LeftButton);
        QVERIFY(h.existingMainWindow() && h.existingMainWindow()->isVisible());
    }

private slots:
    void initTestCase() {
        for (const char* tool : {"gnome-keyring-daemon", "secret-tool", "dbus-daemon", "gdbus"})
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed (gnome-keyring libsecret-tools dbus "
                                                "libglib2.0-bin)")
                                     .arg(QLatin1String(tool))));
        script =
            qEnvironmentVariable("VELMORA_SOURCE_DIR") + QStringLiteral("/tests/support/keyring_fixture.sh");
        qputenv("KEYRING_FIXTURE_OWNER_PID", QByteArray::number(QCoreApplication::applicationPid()));
        QString exports;
        QVERIFY2(fixture({QStringLiteral("start")}, &exports), qPrintable(exports));
        // Before anything in this process opens the session bus: it is opened once per process.
        for (const QString& line : exports.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QString assignment = line.section(QLatin1Char(' '), 1);
            const QString name = assignment.section(QLatin1Char('='), 0, 0);
            const QString value = assignment.section(QLatin1Char('='), 1).remove(QLatin1Char('\''));
            if (name == QLatin1String("DBUS_SESSION_BUS_ADDRESS"))
                qputenv("DBUS_SESSION_BUS_ADDRESS", value.toLocal8Bit());
            else if (name == QLatin1String("KEYRING_FIXTURE_DIR"))
                fixtureDir = value;
        }
        QVERIFY(!fixtureDir.isEmpty());
    }
    void cleanupTestCase() {
        if (!fixtureDir.isEmpty())
            fixture({QStringLiteral("stop"), fixtureDir});
    }

    void thePasswordLivesInTheKeyringOneAccountAtATime() {
        KeyringHarness h;
        signIn(h, QStringLiteral("ann@example.com"), QStringLiteral("s3cret pw"));
        QTRY_COMPARE_WITH_TIMEOUT(keyringHolds(QStringLiteral("ann@example.com")), QString("s3cret pw"),
                                  10000);
        QCOMPARE(fileHolds(QStringLiteral("Usrname")), QString("ann@example.com"));
        QVERIFY(!QSettings(AccountStore::filePath(), QSettings::IniFormat).contains("SignIn/Psswrd"));
        QCOMPARE(h.dialogs.prompts(), QStringList());

        // The next start fills both fields in, and "Sign In" waits for the password.
        h.restart();
        auto again = startSignIn(h);
        QCOMPARE(field(*again, "Text1")->text(), QString("ann@example.com"));
        QTRY_COMPARE_WITH_TIMEOUT(field(*again, "Text2")->text(), QString("s3cret pw"), 15000);
        QVERIFY(signInButton(*again)->isEnabled());
        again.reset();

        // Another account takes the place of the first, in the keyring as in the file.
        signIn(h, QStringLiteral("bob@example.com"), QStringLiteral("hunter2"));
        QTRY_COMPARE_WITH_TIMEOUT(keyringHolds(QStringLiteral("bob@example.com")), QString("hunter2"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(keyringHolds(QStringLiteral("ann@example.com")), QString(), 10000);
    }

    void aPasswordFromAnEarlierVersionMovesIntoTheKeyring() {
        KeyringHarness h;
        writeFile(QStringLiteral("cy@example.com"), QStringLiteral("old pw"));
        {
            auto w = startSignIn(h);
            QCOMPARE(field(*w, "Text2")->text(), QString("old pw"));
            QVERIFY(signInButton(*w)->isEnabled());
        }
        signIn(h, QStringLiteral("cy@example.com"), QStringLiteral("old pw"));
        QTRY_COMPARE_WITH_TIMEOUT(keyringHolds(QStringLiteral("cy@example.com")), QString("old pw"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(fileHolds(QStringLiteral("Psswrd")), QString(), 10000);
        QCOMPARE(fileHolds(QStringLiteral("Usrname")), QString("cy@example.com"));
        QCOMPARE(h.dialogs.prompts(), QStringList());
    }

    void aKeyringThatDoesNotAnswerHoldsNothingUp() {
        KeyringHarness h;
        h.keyringWaitMs = 1500;
        writeFile(QStringLiteral("dee@example.com"), QString());
        QVERIFY(fixture({QStringLiteral("freeze"), fixtureDir}));
        auto thaw = qScopeGuard([&] { fixture({QStringLiteral("thaw"), fixtureDir}); });

        // "Sign In" waits for the keyring only so long; then the user types the password.
        auto w = startSignIn(h);
        QVERIFY(!signInButton(*w)->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(signInButton(*w)->isEnabled(), 10000);
        w.reset();
        signIn(h, QStringLiteral("dee@example.com"), QStringLiteral("typed pw"));

        // Not lost meanwhile: kept in the file, and the user hears of it.
        QTRY_COMPARE_WITH_TIMEOUT(fileHolds(QStringLiteral("Psswrd")), QString("typed pw"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(h.dialogs.shown.size(), size_t(1), 10000);
        QVERIFY2(h.dialogs.shown[0].prompt.contains(AccountStore::filePath()),
                 qPrintable(h.dialogs.shown[0].prompt));

        // Once the keyring answers after all, the password moves there and leaves the file.
        thaw.dismiss();
        QVERIFY(fixture({QStringLiteral("thaw"), fixtureDir}));
        QTRY_COMPARE_WITH_TIMEOUT(keyringHolds(QStringLiteral("dee@example.com")), QString("typed pw"),
                                  30000);
        QTRY_COMPARE_WITH_TIMEOUT(fileHolds(QStringLiteral("Psswrd")), QString(), 10000);
    }

    void withoutAKeyringServiceTheFileKeepsThePasswordAndSaysSoOnce() {
        KeyringHarness h;
        QVERIFY(fixture({QStringLiteral("stop-service"), fixtureDir}));
        signIn(h, QStringLiteral("eve@example.com"), QStringLiteral("pw one"));
        QTRY_COMPARE_WITH_TIMEOUT(h.dialogs.shown.size(), size_t(1), 10000);
        const Dialogs::Request told = h.dialogs.shown[0];
        QVERIFY2(told.prompt.contains(AccountStore::filePath()) && told.prompt.contains("plain text"),
                 qPrintable(told.prompt));
        QCOMPARE(told.icon, Dialogs::Icon::Information);
        QCOMPARE(fileHolds(QStringLiteral("Psswrd")), QString("pw one"));
        QFile ini(AccountStore::filePath());
        QCOMPARE(ini.permissions() &
                     (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
                 QFile::Permissions());

        // The next start finds it there, and a sign-in does not say it again.
        h.restart();
        auto again = startSignIn(h);
        QCOMPARE(field(*again, "Text2")->text(), QString("pw one"));
        again.reset();
        signIn(h, QStringLiteral("eve@example.com"), QStringLiteral("pw two"));
        QTRY_COMPARE_WITH_TIMEOUT(fileHolds(QStringLiteral("Psswrd")), QString("pw two"), 10000);
        QCoreApplication::sendPostedEvents(); // where a second notice would wait
        QCoreApplication::processEvents();
        QCOMPARE(h.dialogs.shown.size(), size_t(1));
        QVERIFY(fixture({QStringLiteral("start-service"), fixtureDir}));
    }
};

QTEST_MAIN(KeyringTest)
#include "test_keyring.moc"
