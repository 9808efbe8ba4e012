// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/OpenLink.h"
#include "messenger/PurpleMessenger.h"
#include "tests/support/ClientAnswer.h"

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
        PurpleMessenger messenger;
        QCOMPARE(messenger.MyStatus(), Messenger::MISTATUS_OFFLINE);
        QVERIFY(!messenger.statusPending());
        QCOMPARE(messenger.MySigninName(), std::nullopt);
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
        const ClientResult result = action == 0   ? answerOf(messenger, &Messenger::InstantMessage, contact)
                                    : action == 1 ? answerOf(messenger, &Messenger::StartVoice, contact)
                                                  : answerOf(messenger, &Messenger::ViewProfile, contact);
        QVERIFY(!result.ok);
        QVERIFY2(result.error.contains(QLatin1String("session bus")), qPrintable(result.error));
    }

    void mailNeedsNoClient_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("link");
        QTest::addColumn<bool>("desktopOpens");
        QTest::newRow("plain address")
            << "someone@example.com" << QByteArray("mailto:someone@example.com") << true;
        // Written into the link as it stood, "?" and "&" would add a subject and a copy.
        QTest::newRow("address that would add headers")
            << "a?subject=hi&cc=b@example.com" << QByteArray("mailto:a%3Fsubject%3Dhi%26cc%3Db@example.com")
            << true;
        QTest::newRow("no mail program on the desktop")
            << "someone@example.com" << QByteArray("mailto:someone@example.com") << false;
    }
    void mailNeedsNoClient() {
        QFETCH(QString, address);
        QFETCH(QByteArray, link);
        QFETCH(bool, desktopOpens);
        QList<QUrl> opened;
        PurpleMessenger messenger(Desktop([&](const QUrl& target) {
            opened << target;
            return desktopOpens;
        }));
        const ClientResult result = answerOf(messenger, &Messenger::SendMail, address);
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened.first().toEncoded(), link);
        QVERIFY(!opened.first().hasQuery());
        QCOMPARE(result.ok, desktopOpens);
        QVERIFY(result.ok || result.error.contains(address));
    }
};

QTEST_GUILESS_MAIN(PurpleNoBusTest)
#include "test_purple_nobus.moc"
