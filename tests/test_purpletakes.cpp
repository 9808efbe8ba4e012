// SPDX-License-Identifier: GPL-3.0-or-later
// Which contacts a libpurple client takes, against a stand-in of the client on a bus of the
// test's own: the third-party MSN plugin's accounts cannot be made with Debian's packages.
#include "messenger/PurpleMessenger.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

namespace {
// One account, signed in or not, of the protocol given, with one buddy.
class StandInClient : public QDBusVirtualObject {
public:
    QString protocol;
    bool connected = true;

    bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
        const QString method = m.member();
        QVariant answer;
        if (method == "PurpleAccountsGetAllActive")
            answer = QVariant::fromValue(QList<int>{7});
        else if (method == "PurpleAccountIsConnected")
            answer = int(connected);
        else if (method == "PurpleAccountGetProtocolId")
            answer = protocol;
        else if (method == "PurpleFindBuddy")
            answer = int(m.arguments().value(1).toString() == "buddy@example.com" ? 3 : 0);
        else if (method == "PurpleSavedstatusGetCurrent")
            answer = 0;
        else if (method == "PurpleAccountGetUsername")
            answer = QStringLiteral("me@example.com");
        else
            return false;
        return bus.send(m.createReply(answer));
    }
    QString introspect(const QString&) const override { return {}; }
};
} // namespace

class PurpleTakesTest : public QObject {
    Q_OBJECT

    QProcess bus;
    StandInClient client;

    bool takes(const QString& contact) {
        PurpleMessenger messenger;
        std::optional<bool> answer;
        messenger.takesContact(contact, [&](bool t) { answer = t; });
        (void)QTest::qWaitFor([&] { return answer.has_value(); }, 5000);
        return answer.value_or(false);
    }

private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable("dbus-daemon").isEmpty())
            QSKIP("dbus-daemon is not installed");
        bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        QVERIFY(bus.waitForStarted(5000) && bus.waitForReadyRead(5000));
        const QByteArray address = bus.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address); // before anything opens the session bus
        QDBusConnection own = QDBusConnection::connectToBus(QString::fromLatin1(address), "stand-in");
        QVERIFY(own.registerVirtualObject("/im/pidgin/purple/PurpleObject", &client));
        QVERIFY(own.registerService("im.pidgin.purple.PurpleService"));
    }
    void cleanupTestCase() {
        QDBusConnection::disconnectFromBus("stand-in");
        bus.terminate();
        bus.waitForFinished(5000);
    }

    // Any contact with a signed-in account of an MSN protocol; otherwise only a buddy, and
    // nobody while the account is signed out.
    void anMsnAccountOrABuddy() {
        for (const char* msn : {"prpl-msn", "prpl-msn-pecan"}) {
            client.protocol = msn;
            QVERIFY2(takes("anyone@example.com"), msn);
        }
        client.protocol = "prpl-jabber";
        QVERIFY(!takes("anyone@example.com"));
        QVERIFY(takes("buddy@example.com"));
        client.connected = false;
        client.protocol = "prpl-msn-pecan";
        QVERIFY(!takes("buddy@example.com"));
        QVERIFY(!takes("anyone@example.com"));
    }
};

QTEST_GUILESS_MAIN(PurpleTakesTest)
#include "test_purpletakes.moc"
