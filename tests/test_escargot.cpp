// SPDX-License-Identifier: GPL-3.0-or-later
// The session against a real server of the service: Escargot on loopback, started by
// support/escargot_fixture.py from a copy of its source named by ESCARGOT_DIR. Velmora reaches it
// through a small proxy in this test, which can cut the connection at a chosen moment.
#include "session/CheckDatabase.h"
#include "session/CheckResults.h"
#include "session/CheckService.h"
#include "session/ServiceSession.h"
#include "session/Watcher.h"
#include "session/Watches.h"
#include "tests/support/SessionTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>

namespace {
constexpr int Patience = 15000;

// ray has the account on his forward list, so he is on its reverse list only; al is on its allow
// list only, as an entry the user made; fay appears offline.
const char* Config = R"({
  "accounts": {"me@example.com": "second", "bob@example.com": "b", "carol@example.com": "c",
               "dave@example.com": "d", "erin@example.com": "e", "fred@example.com": "f",
               "gus@example.com": "g", "hal@example.com": "h", "ray@example.com": "r",
               "al@example.com": "a", "fay@example.com": "f"},
  "lists": {"me@example.com": ["bob@example.com", "dave@example.com", "fay@example.com"],
            "ray@example.com": ["me@example.com"]},
  "allow": {"me@example.com": ["al@example.com"]},
  "online": ["bob@example.com", "carol@example.com", "gus@example.com", "ray@example.com", "al@example.com"],
  "hidden": ["fay@example.com"]
})";

// Passes the notification connection through to the server on 127.0.0.1:1863, and once asked,
// hangs up on both sides right after the server has confirmed an allow-list add.
class Proxy : public QObject {
public:
    bool cutAfterAllowListAdd = false;

    Proxy() {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* client = server.nextPendingConnection())
                pass(client);
        });
    }
    quint16 port() const { return server.serverPort(); }

private:
    void pass(QTcpSocket* client) {
        auto* upstream = new QTcpSocket(client);
        auto partial = std::make_shared<QByteArray>(); // the start of a line still to come
        connect(client, &QTcpSocket::readyRead, upstream, [=] { upstream->write(client->readAll()); });
        connect(upstream, &QTcpSocket::readyRead, client, [=, this] {
            const QByteArray data = upstream->readAll();
            client->write(data);
            QList<QByteArray> lines = (*partial + data).split('\n');
            *partial = lines.takeLast().right(256);
            static const QRegularExpression allowListAdd(QStringLiteral("^ADD \\d+ AL "));
            const bool added = std::any_of(lines.begin(), lines.end(), [](const QByteArray& line) {
                return allowListAdd.match(QString::fromLatin1(line)).hasMatch();
            });
            if (cutAfterAllowListAdd && added) {
                cutAfterAllowListAdd = false;
                client->flush();
                upstream->abort();
                client->disconnectFromHost();
            }
        });
        for (QTcpSocket* s : {client, upstream})
            connect(s, &QTcpSocket::disconnected, client, [client, upstream] {
                upstream->abort();
                client->disconnectFromHost();
                client->deleteLater();
            });
        connect(upstream, &QTcpSocket::errorOccurred, client, [client] { client->disconnectFromHost(); });
        upstream->connectToHost(QHostAddress::LocalHost, 1863);
    }

    QTcpServer server;
};
} // namespace

class EscargotTest : public QObject {
    Q_OBJECT

    QProcess fixture;
    QTemporaryDir data;
    std::unique_ptr<CheckDatabase> database;
    std::unique_ptr<ServiceSession> session;
    Proxy proxy;
    QStringList states;
    std::map<int, QString> outcomes;
    int lastCheck = 1 << 20; // clear of the numbers the check service gives its checks
    QByteArray version;      // of the server's tree: "old" or "new"
    QJsonObject listsBefore; // the account's lists before any check

    QByteArray readLine(int timeoutMs) {
        QDeadlineTimer deadline(timeoutMs);
        while (!fixture.canReadLine() && !deadline.hasExpired())
            fixture.waitForReadyRead(int(deadline.remainingTime()));
        return fixture.readLine().trimmed();
    }
    QJsonDocument ask(const QByteArray& command) {
        return QJsonDocument::fromJson(say(command));
    }
    QByteArray say(const QByteArray& command) {
        fixture.write(command + "\n");
        return readLine(Patience);
    }
    QString check(const QString& contact) {
        const int id = ++lastCheck;
        session->check(id, contact);
        (void)QTest::qWaitFor([&] { return outcomes.count(id) > 0; }, Patience);
        return outcomes.count(id) ? outcomes[id] : QStringLiteral("(none)");
    }
    // The account's lists are what they were before the checks (an entry left with no list
    // counts as none, as one server keeps them).
    static QJsonObject listed(const QJsonObject& lists) {
        QJsonObject out;
        for (auto it = lists.begin(); it != lists.end(); ++it)
            if (it.value().toInt() != 0)
                out.insert(it.key(), it.value());
        return out;
    }
    void listsAreAsTheyWere() {
        QCOMPARE(listed(ask("LISTS me@example.com").object()), listed(listsBefore));
    }
    // What the server established: where its "not online" cannot be trusted for a contact, the
    // result may be unknown, never "offline".
    static bool matches(const QString& outcome, const QString& expected) {
        return expected.split('|').contains(outcome);
    }

private slots:
    void initTestCase() {
        fixture.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        fixture.start(QStringLiteral("/usr/bin/python3"),
                      {qEnvironmentVariable("VELMORA_SOURCE_DIR") + QStringLiteral("/tests/support/escargot_fixture.py"),
                       QString::fromLatin1(Config)});
        const QByteArray ready = readLine(90000);
        QVERIFY2(ready.startsWith("READY "), ready.constData());
        version = ready.mid(6);
        std::printf("against the %s server\n", version.constData());
        listsBefore = ask("LISTS me@example.com").object();
        QVERIFY(listsBefore.contains("ray@example.com"));

        database = std::make_unique<CheckDatabase>(data.filePath("velmora.db"));
        QVERIFY(database->usable());
        session = std::make_unique<ServiceSession>(database.get());
        connect(session.get(), &ServiceSession::statusChanged, this,
                [this](const SessionStatus& s) { states << describe(s); });
        connect(session.get(), &ServiceSession::checkEnded, this,
                [this](int id, const QString&, Outcome o) { outcomes[id] = describe(o); });
        qputenv("VELMORA_DISPATCH_SERVER", "127.0.0.1:" + QByteArray::number(proxy.port()));
        session->setCredentials("me@example.com", "second");
        session->start();
        QTRY_COMPARE_WITH_TIMEOUT(states.value(states.size() - 1), QString("signed in"), Patience);
    }

    void cleanupTestCase() {
        session.reset();
        if (fixture.state() == QProcess::Running) {
            fixture.write("STOP\n");
            fixture.closeWriteChannel();
            if (!fixture.waitForFinished(20000))
                fixture.kill();
        }
    }

    void statusChecks_data() {
        QTest::addColumn<QString>("contact");
        QTest::addColumn<QString>("onOld");
        QTest::addColumn<QString>("onNew");
        QTest::newRow("listed, online") << "bob@example.com" << "online" << "online";
        QTest::newRow("listed, offline") << "dave@example.com" << "offline" << "offline";
        QTest::newRow("listed, appearing offline") << "fay@example.com" << "offline" << "offline";
        QTest::newRow("on no list, online") << "carol@example.com" << "online" << "online";
        QTest::newRow("on no list, offline") << "erin@example.com" << "offline" << "offline";
        QTest::newRow("no such account") << "nobody@example.com" << "no such user" << "no such user";
        // The newer server holds a status for these that it does not refresh.
        QTest::newRow("reverse list only, online") << "ray@example.com" << "online|status unknown"
                                                   << "online|status unknown";
        QTest::newRow("allow list only, online") << "al@example.com" << "online|status unknown"
                                                 << "online|status unknown";
    }
    void statusChecks() {
        QFETCH(QString, contact);
        QFETCH(QString, onOld);
        QFETCH(QString, onNew);
        const QString outcome = check(contact);
        std::printf("%s: %s\n", qPrintable(contact), qPrintable(outcome));
        QVERIFY2(matches(outcome, version == "old" ? onOld : onNew), qPrintable(outcome));
    }

    // The check rang them and told them nothing else: no list of theirs changed. (One server
    // tells everyone with the account on a list that it came online: that is the sign-in's.)
    void contactsGotOnlyTheRing() {
        for (const char* contact : {"bob@example.com", "carol@example.com"}) {
            const QJsonDocument received = ask(QByteArray("RECEIVED ") + contact);
            QVERIFY2(received.isArray(), contact);
            QStringList lines;
            for (const QJsonValue& line : received.array())
                lines << line.toString();
            QVERIFY2(!lines.filter(QRegularExpression(QStringLiteral("^RNG "))).isEmpty(), contact);
            for (const QString& line : lines)
                QVERIFY2(line.startsWith(QLatin1String("RNG ")) || line == "NLN NLN me@example.com me@example.com",
                         qPrintable(contact + QStringLiteral(": ") + line));
        }
    }

    void theAccountsListsAreAsTheyWere() { listsAreAsTheyWere(); }

    // The whole list at once, unpaced and four at a time: every result right, each address asked
    // once, and the account's lists as they were.
    void aRunOverTheList() {
        CheckResults results(database.get());
        CheckService service(*session);
        service.setResults(&results);
        service.setPace({0, 4});
        Rows list;
        list.list = {"bob@example.com", "dave@example.com", "gus@example.com", "Gus@Example.com",
                     "hal@example.com", "nobody@example.com", "carol@example.com", "ray@example.com",
                     "al@example.com", "fay@example.com"};
        service.checkEveryone(list);
        QTRY_VERIFY_WITH_TIMEOUT(!service.runGoing(), Patience);
        const QList<ResultKind> unsure{ResultKind::Online, ResultKind::Uncertain};
        const std::map<QString, QList<ResultKind>> expected{
            {"bob@example.com", {ResultKind::Online}},   {"dave@example.com", {ResultKind::Offline}},
            {"gus@example.com", {ResultKind::Online}},   {"hal@example.com", {ResultKind::Offline}},
            {"nobody@example.com", {ResultKind::NoSuchUser}}, {"carol@example.com", {ResultKind::Online}},
            {"ray@example.com", unsure}, {"al@example.com", unsure}, {"fay@example.com", {ResultKind::Offline}}};
        for (const auto& [address, kinds] : expected) {
            const auto result = results.find(address);
            QVERIFY2(result && kinds.contains(result->kind), qPrintable(address));
        }
        QVERIFY(results.run().completed);
        QCOMPARE(ask("RECEIVED gus@example.com").array().size(), 1); // rung once
        QTRY_COMPARE_WITH_TIMEOUT(database->entries("me@example.com"), QStringList{}, Patience);
        listsAreAsTheyWere();
    }

    // Cut off right after the server put the contact on the allow list: Velmora signs in again by
    // itself and takes the contact off.
    void aCutAfterTheAllowListAddIsPutRight() {
        proxy.cutAfterAllowListAdd = true;
        const int signIns = int(states.count("signed in"));
        // Checked for the first time: the server has kept earlier ones callable.
        const QString outcome = check("fred@example.com");
        QVERIFY2(outcome == "interrupted" || outcome == "offline", qPrintable(outcome));
        QVERIFY(!proxy.cutAfterAllowListAdd);
        QCOMPARE(database->entries("me@example.com"), QStringList{"fred@example.com"});
        QTRY_COMPARE_WITH_TIMEOUT(int(states.count("signed in")), signIns + 1, Patience);
        QTRY_COMPARE_WITH_TIMEOUT(database->entries("me@example.com"), QStringList{}, Patience);
        listsAreAsTheyWere();
    }

    // A watched contact signs in from a client of its own: one notification follows; it signs
    // out and in again: a second.
    void aWatchedContactSigningInIsToldOnce() {
        CheckResults results(nullptr);
        CheckService service(*session);
        service.setResults(&results);
        service.setPace({0, 2});
        Watches watches(nullptr);
        watches.add("hal@example.com", false);
        ManualClock clock;
        Watcher watcher(service, results, watches, &clock);
        int told = 0;
        connect(&watcher, &Watcher::cameOnline, this, [&](const QStringList& a) { told += int(a.count("hal@example.com")); });
        QSignalSpy ended(&service, &CheckService::watchRoundEnded);
        auto round = [&] {
            const qsizetype before = ended.size();
            if (before > 0)
                clock.fire();
            QTRY_COMPARE_WITH_TIMEOUT(ended.size(), before + 1, Patience);
        };
        watcher.start(1); // signed in already: the first round goes at once
        round();
        QCOMPARE(told, 0);
        QCOMPARE(say("SIGNIN hal@example.com"), QByteArray("OK"));
        round();
        QCOMPARE(told, 1);
        round();
        QCOMPARE(told, 1);
        QCOMPARE(say("SIGNOUT hal@example.com"), QByteArray("OK"));
        // Rounds until the server has taken in that he left.
        for (int i = 0; i < 20 && results.find("hal@example.com")->kind != ResultKind::Offline; ++i)
            round();
        QCOMPARE(results.find("hal@example.com")->kind, ResultKind::Offline);
        QCOMPARE(told, 1);
        QCOMPARE(say("SIGNIN hal@example.com"), QByteArray("OK"));
        round();
        QCOMPARE(told, 2);
        QCOMPARE(say("SIGNOUT hal@example.com"), QByteArray("OK"));
    }

    // The server goes away for 10 s; the next check after Velmora's own sign-in answers, with
    // nobody touching anything.
    void theSessionOutlivesAServerRestart() {
        const int signIns = int(states.count("signed in"));
        fixture.write("RESTART 10\n");
        QTRY_VERIFY_WITH_TIMEOUT(states.value(states.size() - 1).startsWith("waiting: "), Patience);
        const QByteArray ready = readLine(60000);
        QVERIFY2(ready.startsWith("READY"), ready.constData());
        QTRY_COMPARE_WITH_TIMEOUT(int(states.count("signed in")), signIns + 1, 60000);
        QCOMPARE(check("bob@example.com"), QString("online"));
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("ESCARGOT_DIR") || qEnvironmentVariableIsEmpty("ESCARGOT_SHIM")) {
        std::puts("skipped: set ESCARGOT_DIR (a copy of the Escargot server's source) and ESCARGOT_SHIM "
                  "to test against a real server (see the README)");
        return 77;
    }
    QCoreApplication app(argc, argv);
    EscargotTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_escargot.moc"
