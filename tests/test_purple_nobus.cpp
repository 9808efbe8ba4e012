#include "messenger/PurpleMessenger.h"
#include "shell/OpenLink.h"

#include <QTemporaryDir>
#include <QtTest>

// A desktop without a session bus: no client can be reached, and nothing may hang or crash.
// A program of its own, since QtDBus keeps the first session bus it finds for good.
class PurpleNoBusTest : public QObject {
    Q_OBJECT

    QTemporaryDir runtimeDir; // empty, so libdbus finds no $XDG_RUNTIME_DIR/bus there either

private slots:
    void initTestCase() {
        QVERIFY(runtimeDir.isValid());
        for (const char* name :
             {"DBUS_SESSION_BUS_ADDRESS", "DBUS_STARTER_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY"})
            qunsetenv(name);
        qputenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit());
    }

    void readsAsOffline() {
        QCOMPARE(programMessenger().MyStatus(), Messenger::MISTATUS_OFFLINE);
        QCOMPARE(programMessenger().MySigninName(), std::nullopt);
    }

    void actionsFailWithAMessage_data() {
        QTest::addColumn<int>("action");
        QTest::newRow("InstantMessage") << 0;
        QTest::newRow("StartVoice") << 1;
        QTest::newRow("ViewProfile") << 2;
    }
    void actionsFailWithAMessage() {
        QFETCH(int, action);
        PurpleMessenger messenger;
        const QString contact = QStringLiteral("someone@example.com");
        const ClientResult result = action == 0   ? messenger.InstantMessage(contact)
                                    : action == 1 ? messenger.StartVoice(contact)
                                                  : messenger.ViewProfile(contact);
        QVERIFY(!result.ok);
        QVERIFY2(result.error.contains(QLatin1String("session bus")), qPrintable(result.error));
    }

    void mailNeedsNoClient() {
        QStringList opened;
        setLinkOpener([&](const QString& target) { opened << target; });
        const ClientResult result = PurpleMessenger().SendMail(QStringLiteral("someone@example.com"));
        setLinkOpener({});
        QVERIFY(result.ok);
        QCOMPARE(opened, QStringList{QStringLiteral("mailto:someone@example.com")});
    }
};

QTEST_GUILESS_MAIN(PurpleNoBusTest)
#include "test_purple_nobus.moc"
