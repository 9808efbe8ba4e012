// SPDX-License-Identifier: GPL-3.0-or-later
// The session against scripted servers of the service, over real loopback sockets.
#include "session/CheckDatabase.h"
#include "session/CheckService.h"
#include "session/ServiceSession.h"
#include "tests/support/MemoryJournal.h"
#include "tests/support/ScriptedMsnpServer.h"
#include "tests/support/SessionTestSupport.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTemporaryDir>
#include <QTcpSocket>
#include <QtTest>
#include <deque>
#include <memory>

using Lines = QList<QByteArray>;
using Mode = ScriptedMsnpServer::Mode;
using Reply = ScriptedMsnpServer::Reply;

namespace {

const QByteArray Challenge = "1013928519.693957190";
const QByteArray Digest = "7f919fab309532df353c901430df36fa"; // MD5 of Challenge + "password"
const QByteArray Ticket = "17262740.1050826919.32308";
constexpr int Patience = 5000;
// The session's own time limits in these tests, and a wait that outlasts them.
constexpr int Limit = 1000;
constexpr int PastTheLimit = Limit + 300;

SessionCore::Limits testLimits() {
    SessionCore::Limits limits;
    limits.connectMs = Limit;
    limits.checkMs = Limit;
    limits.firstRetryMs = 200;
    limits.maxRetryMs = 400;
    limits.firstRemoveRetryMs = 200;
    limits.maxRemoveRetryMs = 400;
    return limits;
}

// What the program sees of its session: the states it goes through and how each check ended.
struct Client {
    MemoryJournal journal;
    std::unique_ptr<ServiceSession> session;
    QStringList states;
    std::map<int, QString> outcomes;
    int lastCheck = 0;

    explicit Client(const QString& password = "password") {
        session = std::make_unique<ServiceSession>(&journal);
        session->setLimits(testLimits());
        QObject::connect(session.get(), &ServiceSession::statusChanged,
                         [this](const SessionStatus& s) { states << describe(s); });
        QObject::connect(session.get(), &ServiceSession::checkEnded,
                         [this](int id, const QString&, Outcome o) { outcomes[id] = describe(o); });
        session->setCredentials("me@example.com", password);
    }
    QString state() const { return states.value(states.size() - 1); }
    void startAt(const ScriptedMsnpServer& dispatch) {
        qputenv("VELMORA_DISPATCH_SERVER", dispatch.address().toLatin1());
        session->start();
    }
    int check(const QString& contact) {
        const int id = ++lastCheck;
        session->check(id, contact);
        return id;
    }
    QString outcome(int id) const {
        const auto it = outcomes.find(id);
        return it == outcomes.end() ? QString() : it->second;
    }
};

QByteArray trid(const QList<QByteArray>& fields) {
    return fields.size() > 1 ? fields.at(1) : QByteArray("0");
}

// Error replies that answer nothing of ours, around the real answer in one read.
Reply noisy(Reply reply, bool noise) {
    if (noise && !reply.isEmpty()) {
        reply.first().prepend("500 99\r\n");
        reply.last().append("911 98\r\n");
    }
    return reply;
}

// The opening every server of the service shares: version, then the policy.
void scriptOpening(ScriptedMsnpServer& server, bool noise) {
    server.on("VER",
              [noise](const Lines& f) { return noisy({"VER " + trid(f) + " MSNP5 MSNP4 CVR0\r\n"}, noise); });
    server.on("INF", [noise](const Lines& f) { return noisy({"INF " + trid(f) + " MD5\r\n"}, noise); });
}

// A dispatch server that sends every client on to the notification server.
void scriptDispatch(ScriptedMsnpServer& server, const QString& notification, bool noise = false) {
    scriptOpening(server, noise);
    server.on("USR", [notification, noise](const Lines& f) {
        return noisy({"XFR " + trid(f) + " NS " + notification.toLatin1() + " 0\r\n"}, noise);
    });
}

// The real service's list rules, in two versions. The older one rings only a contact on one of
// the caller's lists; others get 205, unknown addresses 207, listed contacts who are offline 217.
// The newer one answers from the status it holds in the caller's entry for the contact, which is
// kept up to date for forward-list entries only, and from the contact's own status when there is
// no entry: so 217 for an unknown address, and for an online contact on another list only. The
// allow list changes by ADD and REM, and the list sync after the sign-in reports every list.
struct Directory {
    bool newer = false;
    QSet<QByteArray> online{"bob@example.com", "carol@example.com"};
    QSet<QByteArray> offline{"dave@example.com", "erin@example.com"};
    QSet<QByteArray> forward{"bob@example.com", "dave@example.com"};
    QSet<QByteArray> allow;
    QSet<QByteArray> reverse;

    bool exists(const QByteArray& who) const { return online.contains(who) || offline.contains(who); }
    bool listed(const QByteArray& who) const {
        return forward.contains(who) || allow.contains(who) || reverse.contains(who);
    }

    // The older server: the lists, the length before the entry's number, then the settings. The
    // newer one: the settings first, then the lists, the entry's number first.
    Reply sync(const QByteArray& n) const {
        const QByteArray settings = "GTC " + n + " 9 A\r\nBLP " + n + " 9 AL\r\n";
        QByteArray out = "SYN " + n + " 9\r\n" + (newer ? settings : QByteArray());
        for (const auto& [name, list] : {std::pair{"FL", forward}, std::pair{"AL", allow},
                                         std::pair{"BL", QSet<QByteArray>{}}, std::pair{"RL", reverse}}) {
            int i = 0;
            const QByteArray length = QByteArray::number(list.size());
            for (const QByteArray& who : list) {
                const QByteArray number = QByteArray::number(++i);
                out += "LST " + n + " " + name + " 9 " + (newer ? number + " " + length : length + " " + number) +
                       " " + who + " " + who + "\r\n";
            }
            if (list.isEmpty())
                out += "LST " + n + " " + name + " 9 0 0\r\n";
        }
        return {out + (newer ? QByteArray() : settings)};
    }
    QByteArray callAnswer(const QByteArray& who) const {
        if (newer) {
            const bool stale = listed(who) && !forward.contains(who);
            return online.contains(who) && !stale ? "" : "217";
        }
        return !exists(who) ? "207" : !listed(who) ? "205" : offline.contains(who) ? "217" : "";
    }
    void serve(ScriptedMsnpServer& notification, ScriptedMsnpServer& switchboard) {
        notification.on("SYN", [this](const Lines& f) { return sync(trid(f)); });
        notification.on("ADD", [this](const Lines& f) {
            if (!exists(f.value(3)))
                return Reply{(newer ? "205 " : "207 ") + trid(f) + "\r\n"};
            if (allow.contains(f.value(3)))
                return Reply{"215 " + trid(f) + "\r\n"};
            allow.insert(f.value(3));
            return Reply{"ADD " + trid(f) + " AL 12 " + f.value(3) + " " + f.value(3) + "\r\n"};
        });
        notification.on("REM", [this](const Lines& f) {
            if (!allow.remove(f.value(3)))
                return Reply{(newer && !listed(f.value(3)) ? "205 " : "216 ") + trid(f) + "\r\n"};
            return Reply{"REM " + trid(f) + " AL 13 " + f.value(3) + "\r\n"};
        });
        switchboard.on("CAL", [this](const Lines& f) {
            const QByteArray code = callAnswer(f.value(2));
            return Reply{code.isEmpty() ? "CAL " + trid(f) + " RINGING 11752013\r\n" : code + " " + trid(f) + "\r\n"};
        });
    }
};

// A notification server that signs the account in with the password "password", chatting the
// way the real one does after the sign-in. Its welcome message carries a line that must not be
// taken for a command.
void scriptNotification(ScriptedMsnpServer& server, bool noise = false, const Reply& challengeReply = {}) {
    scriptOpening(server, noise);
    server.on("USR", [challengeReply, noise](const Lines& f) {
        if (f.value(3) == "I")
            return challengeReply.isEmpty() ? noisy({"USR " + trid(f) + " MD5 S " + Challenge + "\r\n"}, noise)
                                            : challengeReply;
        if (f.value(4) == Digest)
            return noisy({"USR " + trid(f) +
                          " OK me@example.com Me\r\n"
                          "MSG Hotmail Hotmail 45\r\nMIME-Version: 1.0\r\nXFR 3 NS 127.0.0.1:1 0\r\n\r\n"},
                         noise);
        return Reply{"911 " + trid(f) + "\r\n"};
    });
    server.on("CHG", [noise](const Lines& f) {
        return noisy({"CHG " + trid(f) + " NLN 0\r\nILN " + trid(f) + " NLN alice@example.com Alice\r\n"}, noise);
    });
    server.on("SYN", [](const Lines& f) {
        const QByteArray n = trid(f);
        return Reply{"SYN " + n + " 1\r\nLST " + n + " FL 1 1 1 bob@example.com Bob 0\r\nLST " + n +
                     " AL 1 0 0\r\nLST " + n + " BL 1 0 0\r\nLST " + n + " RL 1 0 0\r\nGTC " + n + " 1 A\r\nBLP " +
                     n + " 1 AL\r\nNLN NLN carol@example.com Carol\r\n"};
    });
}

// Hands out the switchboard for a check, each answer with its own ticket.
void scriptSwitchboardRequests(ScriptedMsnpServer& server, const ScriptedMsnpServer& switchboard) {
    auto count = std::make_shared<int>(0);
    const QByteArray where = switchboard.address().toLatin1();
    server.on("XFR", [count, where](const Lines& f) {
        const QByteArray ticket = ++*count == 1 ? Ticket : Ticket + "." + QByteArray::number(*count);
        return Reply{"XFR " + trid(f) + " SB " + where + " CKI " + ticket + "\r\n"};
    });
}

// A switchboard that lets the account in and answers the call with callReply.
void scriptSwitchboard(ScriptedMsnpServer& switchboard, const QByteArray& callReply) {
    switchboard.on("USR", [](const Lines&) { return Reply{"USR 1 OK me@example.com Me\r\n"}; });
    switchboard.on("CAL", [callReply](const Lines&) { return Reply{callReply}; });
}

Lines lines(std::initializer_list<const char*> texts) {
    Lines out;
    for (const char* t : texts)
        out << QByteArray(t);
    return out;
}

Lines calls(const Lines& lines) {
    Lines out;
    for (const QByteArray& line : lines)
        if (line.startsWith("CAL 2 "))
            out << line;
    return out;
}

// A socket-free run of the core: the waits it asks for, and nothing else.
struct Recorder : SessionCore::Io, SessionCore::Events {
    QList<int> retryWaits;
    QStringList states;
    void connectTo(int, const QString&, quint16) override {}
    qint64 write(int, const QByteArray&) override { return 0; }
    void finish(int) override {}
    void abort(int) override {}
    void startTimer(SessionCore::Timer timer, int, int ms) override {
        if (timer == SessionCore::Timer::Retry)
            retryWaits << ms;
    }
    void stopTimer(SessionCore::Timer, int) override {}
    void onSessionChanged(const SessionStatus& status) override { states << describe(status); }
    void onCheckEnded(int, const QString&, Outcome) override {}
};

// A notification server played through the core's Io, no sockets: it answers the sign-in, then
// sends whatever the test feeds it.
struct PlayedServer : SessionCore::Io, SessionCore::Events {
    std::unique_ptr<SessionCore> core;
    QList<QByteArray> written;
    QStringList states;
    bool dropped = false;

    PlayedServer() { core = std::make_unique<SessionCore>(*this, *this, nullptr); }
    void connectTo(int, const QString&, quint16) override {}
    qint64 write(int, const QByteArray& data) override {
        written << data;
        return data.size();
    }
    void finish(int) override { dropped = true; }
    void abort(int) override { dropped = true; }
    void startTimer(SessionCore::Timer, int, int) override {}
    void stopTimer(SessionCore::Timer, int) override {}
    void onSessionChanged(const SessionStatus& status) override { states << describe(status); }
    void onCheckEnded(int, const QString&, Outcome) override {}

    // Answers what the core wrote last, as the server would, until it asks for the lists.
    void signIn() {
        core->setCredentials("me@example.com", "password");
        core->start("ns.example.com", 1863);
        core->connected(SessionCore::NotificationLink);
        for (int step = 0; step < 10 && !written.isEmpty(); ++step) {
            const QList<QByteArray> f = written.takeLast().trimmed().split(' ');
            if (f.value(0) == "VER")
                core->arrived(SessionCore::NotificationLink, "VER " + f.value(1) + " MSNP5 MSNP4 CVR0\r\n");
            else if (f.value(0) == "INF")
                core->arrived(SessionCore::NotificationLink, "INF " + f.value(1) + " MD5\r\n");
            else if (f.value(0) == "USR" && f.value(3) == "I")
                core->arrived(SessionCore::NotificationLink, "USR " + f.value(1) + " MD5 S " + Challenge + "\r\n");
            else if (f.value(0) == "USR")
                core->arrived(SessionCore::NotificationLink, "USR " + f.value(1) + " OK me@example.com Me\r\n");
            else if (f.value(0) == "CHG")
                core->arrived(SessionCore::NotificationLink, "CHG " + f.value(1) + " NLN\r\n");
            else if (f.value(0) == "SYN")
                syncTrId = f.value(1);
        }
        dropped = false; // a start first leaves whatever connection there was
    }
    QByteArray syncTrId;
};

} // namespace

class SessionTest : public QObject {
    Q_OBJECT

    // A client signing in through a dispatch server, so the list sync is SYN 4, with a
    // switchboard that answers the call with callReply.
    struct Online {
        ScriptedMsnpServer dispatch;
        ScriptedMsnpServer notification;
        ScriptedMsnpServer switchboard;
        Client client;
    };
    static std::unique_ptr<Online> online(const QByteArray& callReply = "CAL 2 RINGING 11752013\r\n",
                                          Directory* directory = nullptr) {
        auto o = std::make_unique<Online>();
        scriptDispatch(o->dispatch, o->notification.address());
        scriptNotification(o->notification);
        scriptSwitchboardRequests(o->notification, o->switchboard);
        scriptSwitchboard(o->switchboard, callReply);
        if (directory)
            directory->serve(o->notification, o->switchboard);
        o->client.startAt(o->dispatch);
        return o;
    }
    static bool signedIn(const Online& o) {
        return QTest::qWaitFor([&] { return o.notification.lines().contains("SYN 4 0"); }, Patience) &&
               QTest::qWaitFor([&] { return o.client.state() == "signed in"; }, Patience);
    }
    static QString outcomeOf(Client& client, int id) {
        (void)QTest::qWaitFor([&] { return !client.outcome(id).isEmpty(); }, Patience);
        return client.outcome(id);
    }

private slots:
    void cleanup() { qunsetenv("VELMORA_DISPATCH_SERVER"); }

    void signInHandshake_data() {
        QTest::addColumn<bool>("redirect");
        QTest::addColumn<bool>("noise");
        QTest::addColumn<Lines>("dispatchLines");
        QTest::addColumn<Lines>("notificationLines");
        QTest::addColumn<int>("trId");
        const Lines redirected = lines({"VER 1 MSNP5 MSNP4 CVRO", "INF 2", "USR 3 MD5 I me@example.com"});
        const Lines signIn = lines({"VER 0 MSNP5 MSNP4 CVRO", "INF 1", "USR 2 MD5 I me@example.com",
                                    "USR 2 MD5 S 7f919fab309532df353c901430df36fa", "CHG 3 NLN", "SYN 4 0"});
        const Lines direct = lines({"VER 1 MSNP5 MSNP4 CVRO", "INF 2", "USR 3 MD5 I me@example.com",
                                    "USR 3 MD5 S 7f919fab309532df353c901430df36fa", "CHG 4 NLN", "SYN 5 0"});
        QTest::newRow("redirected by the dispatch server") << true << false << redirected << signIn << 4;
        QTest::newRow("signed in without a redirect") << false << false << direct << Lines{} << 5;
        QTest::newRow("error replies for other numbers around every answer")
            << true << true << redirected << signIn << 4;
    }
    void signInHandshake() {
        QFETCH(bool, redirect);
        QFETCH(bool, noise);
        QFETCH(Lines, dispatchLines);
        QFETCH(Lines, notificationLines);
        QFETCH(int, trId);
        ScriptedMsnpServer dispatch, notification;
        scriptNotification(notification, noise);
        if (redirect)
            scriptDispatch(dispatch, notification.address(), noise);
        else
            scriptNotification(dispatch, noise);
        Client client;
        client.startAt(dispatch);
        const Lines& last = redirect ? notificationLines : dispatchLines;
        ScriptedMsnpServer& finalServer = redirect ? notification : dispatch;
        QTRY_COMPARE_WITH_TIMEOUT(finalServer.lines().size(), last.size(), Patience);
        // Let the list burst that answers the SYN arrive as well.
        QTest::qWait(200);
        QCOMPARE(dispatch.lines(), dispatchLines);
        QCOMPARE(notification.lines(), notificationLines);
        QCOMPARE(client.session->TrID(), trId);
        QCOMPARE(client.states, (QStringList{"connecting", "signed in"}));
    }

    void challengeSplitAcrossReads_data() {
        QTest::addColumn<Reply>("chunks");
        const QByteArray whole = "USR 2 MD5 S " + Challenge + "\r\n";
        QTest::newRow("inside the challenge") << Reply{whole.left(17), whole.mid(17)};
        QTest::newRow("between CR and LF") << Reply{whole.chopped(1), "\n"};
        QTest::newRow("three pieces") << Reply{"USR 2 M", "D5 S 1013928", whole.mid(19)};
    }
    void challengeSplitAcrossReads() {
        QFETCH(Reply, chunks);
        ScriptedMsnpServer dispatch, notification;
        scriptDispatch(dispatch, notification.address());
        scriptNotification(notification, false, chunks);
        Client client;
        client.startAt(dispatch);
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QString("signed in"), Patience);
        QCOMPARE(notification.lines().value(3), "USR 2 MD5 S " + Digest);
    }

    // Trying a refused password again and again could lock the account.
    void aRefusedSignInIsNotTriedAgain() {
        ScriptedMsnpServer dispatch, notification;
        scriptDispatch(dispatch, notification.address());
        scriptNotification(notification);
        notification.dropAfter("USR 2 MD5 S"); // the service hangs up after refusing
        Client client("wrong");
        client.startAt(dispatch);
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QString("gave up: sign-in refused"), Patience);
        QTest::qWait(3 * testLimits().maxRetryMs); // the hang-up is no loss to recover from
        QCOMPARE(client.states, (QStringList{"connecting", "gave up: sign-in refused"}));
        QCOMPARE(dispatch.connectionCount(), 1);
        QVERIFY(!notification.lines().contains("CHG 3 NLN"));
        QCOMPARE(outcomeOf(client, client.check("bob@example.com")), QString("not connected"));
    }

    void connectionFailuresAreShown_data() {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("state");
        QTest::newRow("dispatch server refuses") << "refuse dispatch" << "waiting: cannot connect";
        QTest::newRow("dispatch server never accepts") << "stall dispatch" << "waiting: cannot connect";
        QTest::newRow("notification server refuses") << "refuse notification" << "waiting: cannot connect";
        QTest::newRow("dropped during sign-in") << "drop at INF" << "waiting: connection lost";
        QTest::newRow("dropped once online") << "drop online" << "waiting: connection lost";
        // A body that long would hide every line after it: each check would end without an answer.
        QTest::newRow("a message body without end") << "huge body" << "waiting: connection lost";
    }
    void connectionFailuresAreShown() {
        QFETCH(QString, failure);
        QFETCH(QString, state);
        const Mode dispatchMode = failure == "refuse dispatch"  ? Mode::Refuse
                                  : failure == "stall dispatch" ? Mode::Stall
                                                                : Mode::Answer;
        ScriptedMsnpServer dispatch(dispatchMode);
        ScriptedMsnpServer notification(failure == "refuse notification" ? Mode::Refuse : Mode::Answer);
        scriptDispatch(dispatch, notification.address());
        scriptNotification(notification);
        if (failure == "drop at INF")
            notification.dropAfter("INF");
        Client client;
        client.startAt(dispatch);
        if (failure == "drop online" || failure == "huge body") {
            QTRY_COMPARE_WITH_TIMEOUT(client.state(), QString("signed in"), Patience);
            if (failure == "drop online")
                notification.drop();
            else
                notification.send("MSG Hotmail Hotmail 999999999\r\nCHG 5 NLN 0\r\n");
        }
        QTRY_VERIFY_WITH_TIMEOUT(client.states.contains(state), Patience);
        QVERIFY(!client.session->signedIn());
        if (client.state() == state)
            QCOMPARE(outcomeOf(client, client.check("bob@example.com")), QString("not connected"));
    }

    // A dropped connection or a restarted server costs a while, not the rest of the run.
    void theSessionComesBackByItself() {
        Directory directory;
        auto o = online("", &directory);
        QVERIFY(signedIn(*o));
        o->notification.drop();
        QTRY_COMPARE_WITH_TIMEOUT(o->client.states.count("signed in"), 2, Patience);
        QCOMPARE(o->client.states.mid(2), (QStringList{"waiting: connection lost", "reconnecting", "signed in"}));
        QCOMPARE(o->dispatch.connectionCount(), 2); // the way in, as the first time
        QCOMPARE(outcomeOf(o->client, o->client.check("bob@example.com")), QString("online"));
    }

    void retriesWaitLongerEachTime() {
        Recorder io;
        SessionCore core(io, io, nullptr);
        core.seedRandom(7);
        core.start("127.0.0.1", 1);
        for (int i = 0; i < 12; ++i) {
            core.lost(SessionCore::NotificationLink);
            core.timedOut(SessionCore::Timer::Retry, 0);
        }
        const QList<int> nominal{2000, 4000, 8000, 16000, 32000, 64000, 128000, 256000, 300000, 300000, 300000, 300000};
        QCOMPARE(io.retryWaits.size(), nominal.size());
        bool jittered = false;
        for (int i = 0; i < nominal.size(); ++i) {
            QVERIFY2(io.retryWaits[i] >= nominal[i] * 0.8 && io.retryWaits[i] <= std::min(nominal[i] * 1.2, 300000.0),
                     qPrintable(QStringLiteral("wait %1 was %2 ms").arg(i).arg(io.retryWaits[i])));
            jittered = jittered || io.retryWaits[i] != nominal[i];
        }
        QVERIFY(jittered);
        QCOMPARE(io.states.mid(0, 3), (QStringList{"connecting", "waiting: cannot connect", "reconnecting"}));
    }

    void checkShowsTheCallAnswer_data() {
        QTest::addColumn<QByteArray>("callReply");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<Lines>("switchboardLines");
        const Lines call = lines({"USR 1 me@example.com 17262740.1050826919.32308", "CAL 2 bob@example.com"});
        QTest::newRow("ringing is online") << QByteArray("CAL 2 RINGING 11752013\r\n") << "online" << call + lines({"OUT"});
        QTest::newRow("not online is offline") << QByteArray("217 2\r\n") << "offline" << call + lines({"OUT"});
        QTest::newRow("ringing, then more in the same read")
            << QByteArray("CAL 2 RINGING 11752013\r\nJOI bob@example.com Bob\r\n") << "online" << call + lines({"OUT"});
        // The switchboard answered, but not with anything that tells about the contact.
        QTest::newRow("a call that does not ring") << QByteArray("CAL 2 BUSY 1\r\n") << "refused" << call;
        QTest::newRow("a server error") << QByteArray("500 2\r\n") << "refused" << call;
        QTest::newRow("offline for another call") << QByteArray("217 9\r\n") << "refused" << call;
    }
    void checkShowsTheCallAnswer() {
        QFETCH(QByteArray, callReply);
        QFETCH(QString, outcome);
        QFETCH(Lines, switchboardLines);
        auto o = online(callReply);
        QVERIFY(signedIn(*o));
        const int id = o->client.check("bob@example.com");
        QCOMPARE(outcomeOf(o->client, id), outcome);
        QCOMPARE(o->notification.lines().mid(6), lines({"XFR 5 SB"}));
        QTRY_COMPARE_WITH_TIMEOUT(o->switchboard.lines(), switchboardLines, Patience);
        // Each check leaves its switchboard when it is done with it.
        QTRY_VERIFY_WITH_TIMEOUT(!o->switchboard.isOpen(0), Patience);
        QTest::qWait(PastTheLimit);
        QCOMPARE(o->client.outcomes.size(), size_t(1));
        QCOMPARE(o->client.session->checksUnderWay(), 0);
    }

    // Every answer goes to the check it belongs to, whatever order they come in.
    void checksSideBySide() {
        Directory directory;
        auto o = online("", &directory);
        QVERIFY(signedIn(*o));
        // The first request is answered last.
        auto held = std::make_shared<QByteArray>();
        const QByteArray where = o->switchboard.address().toLatin1();
        o->notification.on("XFR", [&, held, where](const Lines& f) {
            const QByteArray answer = "XFR " + trid(f) + " SB " + where + " CKI t" + trid(f) + "\r\n";
            if (held->isEmpty()) {
                *held = answer;
                return Reply{};
            }
            return Reply{answer, *held};
        });
        const int bob = o->client.check("bob@example.com");
        const int dave = o->client.check("dave@example.com");
        QCOMPARE(outcomeOf(o->client, bob), QString("online"));
        QCOMPARE(outcomeOf(o->client, dave), QString("offline"));
        QCOMPARE(o->notification.lines().mid(6), lines({"XFR 5 SB", "XFR 6 SB"}));
        QCOMPARE(o->switchboard.linesOn(0), lines({"USR 1 me@example.com t6", "CAL 2 dave@example.com", "OUT"}));
        QCOMPARE(o->switchboard.linesOn(1).value(1), QByteArray("CAL 2 bob@example.com"));
    }

    void checkWithoutAnAnswerIsBounded_data() {
        QTest::addColumn<QString>("trouble");
        QTest::newRow("switchboard never accepts") << "stall";
        QTest::newRow("switchboard refuses") << "refuse";
        QTest::newRow("switchboard accepts and says nothing") << "silent";
        QTest::newRow("switchboard hangs up") << "hang up";
        QTest::newRow("no switchboard handed out") << "no XFR";
    }
    void checkWithoutAnAnswerIsBounded() {
        QFETCH(QString, trouble);
        auto o = online();
        QVERIFY(signedIn(*o));
        const Mode mode = trouble == "stall" ? Mode::Stall : trouble == "refuse" ? Mode::Refuse : Mode::Answer;
        ScriptedMsnpServer troubled(mode);
        if (trouble == "hang up")
            troubled.dropAfter("USR");
        if (trouble == "hang up" || trouble == "silent")
            troubled.on("USR", [](const Lines&) { return Reply{}; });
        if (trouble == "no XFR")
            o->notification.on("XFR", [](const Lines&) { return Reply{}; });
        else
            scriptSwitchboardRequests(o->notification, troubled);
        const int id = o->client.check("bob@example.com");
        QCOMPARE(outcomeOf(o->client, id), QString("no answer"));
        QCOMPARE(o->client.session->checksUnderWay(), 0);
        QCOMPARE(o->client.state(), QString("signed in"));
    }

    void checkRefusals_data() {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("never started") << "never started" << "not connected";
        QTest::newRow("stopped by the program") << "stopped" << "not connected";
        QTest::newRow("sign-in not finished") << "signing in" << "not signed in";
        QTest::newRow("service refuses the request") << "502" << "refused";
    }
    void checkRefusals() {
        QFETCH(QString, situation);
        QFETCH(QString, outcome);
        ScriptedMsnpServer notification;
        scriptNotification(notification);
        notification.on("XFR", [](const Lines& f) { return Reply{"502 " + trid(f) + "\r\n"}; });
        if (situation == "signing in")
            notification.on("USR", [](const Lines&) { return Reply{}; });
        Client client;
        if (situation == "signing in") {
            client.startAt(notification);
            QTRY_VERIFY_WITH_TIMEOUT(notification.lines().size() >= 3, Patience);
        } else if (situation != "never started") {
            client.startAt(notification);
            QTRY_COMPARE_WITH_TIMEOUT(client.state(), QString("signed in"), Patience);
        }
        if (situation == "stopped")
            client.session->stop();
        const int id = client.check("bob@example.com");
        QCOMPARE(outcomeOf(client, id), outcome);
        QCOMPARE(notification.lines().count("XFR 6 SB"), situation == "502" ? 1 : 0);
    }

    void controlCharactersNeverReachTheWire_data() {
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("contact");
        QTest::addColumn<QString>("expected");
        const QString me = "me@example.com", bob = "bob@example.com";
        const std::pair<const char*, QString> bad[] = {{"CR LF", "\r\nOUT"}, {"LF", "\nOUT"}, {"space", " x"},
                                                       {"TAB", "\t"},       {"NUL", QString(QChar(0))},
                                                       {"DEL", "\x7f"},     {"ESC", "\x1b"}};
        for (const auto& [name, suffix] : bad) {
            QTest::newRow(qPrintable(QStringLiteral("account with ") + name)) << me + suffix << bob
                                                                              << "gave up: bad account";
            QTest::newRow(qPrintable(QStringLiteral("contact with ") + name)) << me << bob + suffix << "bad contact";
        }
    }
    void controlCharactersNeverReachTheWire() {
        QFETCH(QString, account);
        QFETCH(QString, contact);
        QFETCH(QString, expected);
        auto o = online();
        o->client.session->setCredentials(account, "password");
        if (account == "me@example.com") {
            QVERIFY(signedIn(*o));
            QCOMPARE(outcomeOf(o->client, o->client.check(contact)), expected);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(o->client.state(), expected, Patience);
        }
        const Lines all = o->dispatch.lines() + o->notification.lines() + o->switchboard.lines();
        for (const QByteArray& line : all) {
            QVERIFY2(std::none_of(line.begin(), line.end(), [](char c) { return uchar(c) < ' ' || c == 0x7f; }),
                     line.toPercentEncoding().constData());
            QVERIFY2(!line.startsWith("XFR") && line != "OUT", line.constData());
            QVERIFY2(!line.startsWith("USR") || line.count(' ') <= 4, line.constData());
        }
    }

    void checksFollowTheServiceListRule_data() {
        QTest::addColumn<QString>("contact");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<Lines>("requests");
        QTest::addColumn<Lines>("calls");
        QTest::addColumn<bool>("newer");
        const auto sb = [](const char* who, bool again, bool out) {
            Lines l{"USR 1 me@example.com 17262740.1050826919.32308", QByteArray("CAL 2 ") + who};
            if (again)
                l << QByteArray("CAL 3 ") + who;
            if (out)
                l << "OUT";
            return l;
        };
        QTest::newRow("listed, online") << "bob@example.com" << "online" << lines({"XFR 5 SB"})
                                        << sb("bob@example.com", false, true) << false;
        QTest::newRow("listed, offline") << "dave@example.com" << "offline" << lines({"XFR 5 SB"})
                                         << sb("dave@example.com", false, true) << false;
        QTest::newRow("on no list, online")
            << "carol@example.com" << "online"
            << lines({"XFR 5 SB", "ADD 6 AL carol@example.com carol@example.com", "REM 7 AL carol@example.com"})
            << sb("carol@example.com", true, true) << false;
        QTest::newRow("on no list, offline")
            << "erin@example.com" << "offline"
            << lines({"XFR 5 SB", "ADD 6 AL erin@example.com erin@example.com", "REM 7 AL erin@example.com"})
            << sb("erin@example.com", true, true) << false;
        QTest::newRow("no such account") << "nobody@example.com" << "no such user" << lines({"XFR 5 SB"})
                                         << sb("nobody@example.com", false, true) << false;
        QTest::newRow("newer server, listed, offline") << "dave@example.com" << "offline" << lines({"XFR 5 SB"})
                                                       << sb("dave@example.com", false, true) << true;
        QTest::newRow("newer server, on no list, online") << "carol@example.com" << "online" << lines({"XFR 5 SB"})
                                                          << sb("carol@example.com", false, true) << true;
        // "Not online" for an unlisted address: an allow-list add tells an offline account from none.
        QTest::newRow("newer server, on no list, offline")
            << "erin@example.com" << "offline"
            << lines({"XFR 5 SB", "ADD 6 AL erin@example.com erin@example.com", "REM 7 AL erin@example.com"})
            << sb("erin@example.com", false, true) << true;
        QTest::newRow("newer server, no such account")
            << "nobody@example.com" << "no such user"
            << lines({"XFR 5 SB", "ADD 6 AL nobody@example.com nobody@example.com"})
            << sb("nobody@example.com", false, false) << true;
        // An entry on the reverse or allow list only holds a status the server does not refresh.
        QTest::newRow("newer server, online, reverse list only")
            << "ray@example.com" << "status unknown" << lines({"XFR 5 SB"}) << sb("ray@example.com", false, true)
            << true;
        QTest::newRow("newer server, online, allow list only")
            << "al@example.com" << "status unknown" << lines({"XFR 5 SB"}) << sb("al@example.com", false, true)
            << true;
    }
    void checksFollowTheServiceListRule() {
        QFETCH(QString, contact);
        QFETCH(QString, outcome);
        QFETCH(Lines, requests);
        QFETCH(Lines, calls);
        QFETCH(bool, newer);
        Directory directory;
        directory.newer = newer;
        directory.online.unite({"ray@example.com", "al@example.com"});
        directory.reverse = {"ray@example.com"};
        directory.allow = {"al@example.com"};
        const Directory before = directory;
        auto o = online("", &directory);
        QVERIFY(signedIn(*o));
        QCOMPARE(outcomeOf(o->client, o->client.check(contact)), outcome);
        QTRY_COMPARE_WITH_TIMEOUT(o->notification.lines().mid(6), requests, Patience);
        QTRY_COMPARE_WITH_TIMEOUT(o->switchboard.lines(), calls, Patience);
        // The account's lists are as they were, and nothing ever touched the forward list, which
        // would tell the contact.
        QTRY_COMPARE_WITH_TIMEOUT(directory.allow, before.allow, Patience);
        QCOMPARE(directory.forward, before.forward);
        for (const QByteArray& line : o->notification.lines())
            QVERIFY2(!line.contains(" FL "), line.constData());
        QTRY_COMPARE_WITH_TIMEOUT(o->client.journal.entries("me@example.com"), QStringList{}, Patience);
    }

    void allowListStepThatGoesWrong_data() {
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("add refused: no such account") << "207 to ADD" << "no such user";
        QTest::newRow("add refused otherwise") << "500 to ADD" << "refused";
        QTest::newRow("still not rung once allowed") << "205 twice" << "refused";
        QTest::newRow("add answered after the check gave up") << "late ADD" << "no answer";
        // The user had put the contact there meanwhile: it is theirs, and stays.
        QTest::newRow("already on the list") << "215 to ADD" << "refused";
    }
    void allowListStepThatGoesWrong() {
        QFETCH(QString, trouble);
        QFETCH(QString, outcome);
        Directory directory;
        auto o = online("", &directory);
        if (trouble == "207 to ADD" || trouble == "500 to ADD")
            o->notification.on("ADD", [code = trouble.left(3).toLatin1()](const Lines& f) {
                return Reply{code + " " + trid(f) + "\r\n"};
            });
        if (trouble == "late ADD") {
            o->notification.setChunkDelay(PastTheLimit);
            o->notification.on("ADD", [&](const Lines& f) {
                directory.allow.insert(f.value(3));
                return Reply{"", "ADD " + trid(f) + " AL 12 " + f.value(3) + " " + f.value(3) + "\r\n"};
            });
        }
        if (trouble == "215 to ADD")
            o->notification.on("ADD", [&](const Lines& f) {
                directory.allow.insert(f.value(3));
                return Reply{"215 " + trid(f) + "\r\n"};
            });
        if (trouble == "205 twice")
            o->switchboard.on("CAL", [](const Lines& f) { return Reply{"205 " + trid(f) + "\r\n"}; });
        QVERIFY(signedIn(*o));
        QCOMPARE(outcomeOf(o->client, o->client.check("carol@example.com")), outcome);
        QTest::qWait(trouble == "late ADD" ? 2 * PastTheLimit : 300);
        const bool usersOwn = trouble == "215 to ADD";
        QCOMPARE(directory.allow.contains("carol@example.com"), usersOwn);
        QCOMPARE(o->notification.lines().contains("REM 7 AL carol@example.com"), trouble == "205 twice" || trouble == "late ADD");
        if (usersOwn || trouble == "205 twice" || trouble == "late ADD")
            QCOMPARE(o->client.journal.entries("me@example.com"), QStringList{});
    }

    // The account's allow list keeps nothing of ours for good, whatever happens between the add
    // and the removal: the next sign-in takes it off.
    void allowListIsPutRightAtTheNextSignIn_data() {
        QTest::addColumn<QString>("trouble");
        QTest::newRow("cut right after the add") << "cut";
        QTest::newRow("removal refused once") << "REM refused";
    }
    void allowListIsPutRightAtTheNextSignIn() {
        QFETCH(QString, trouble);
        Directory directory;
        auto o = online("", &directory);
        if (trouble == "cut")
            o->notification.dropAfter("ADD");
        auto refusals = std::make_shared<int>(trouble == "REM refused" ? 1 : 0);
        o->notification.on("REM", [&, refusals](const Lines& f) {
            if ((*refusals)-- > 0)
                return Reply{"500 " + trid(f) + "\r\n"};
            directory.allow.remove(f.value(3));
            return Reply{"REM " + trid(f) + " AL 13 " + f.value(3) + "\r\n"};
        });
        QVERIFY(signedIn(*o));
        const int id = o->client.check("carol@example.com");
        // Cut off, the second call may still ring on its own switchboard before the loss is seen.
        const QString outcome = outcomeOf(o->client, id);
        QVERIFY2(outcome == "online" || (trouble == "cut" && outcome == "interrupted"), qPrintable(outcome));
        QTRY_VERIFY_WITH_TIMEOUT(directory.allow.contains("carol@example.com") || trouble != "cut", Patience);
        if (trouble != "cut") {
            QTRY_VERIFY_WITH_TIMEOUT(o->notification.lines().contains("REM 7 AL carol@example.com"), Patience);
            QTest::qWait(200); // its refusal
            o->notification.drop();
        }
        QCOMPARE(o->client.journal.entries("me@example.com"), QStringList{"carol@example.com"});
        QTRY_COMPARE_WITH_TIMEOUT(o->client.states.count("signed in"), 2, Patience);
        QTRY_COMPARE_WITH_TIMEOUT(directory.allow, QSet<QByteArray>{}, Patience);
        QTRY_COMPARE_WITH_TIMEOUT(o->client.journal.entries("me@example.com"), QStringList{}, Patience);
    }

    // A busy server's "no" to taking a contact off the allow list is asked again a while later, on
    // the same connection, while the journal keeps the entry.
    void aBusyRemovalIsAskedAgain() {
        Directory directory;
        auto o = online("", &directory);
        auto refusals = std::make_shared<int>(2);
        o->notification.on("REM", [&, refusals](const Lines& f) {
            if ((*refusals)-- > 0)
                return Reply{"800 " + trid(f) + "\r\n"};
            directory.allow.remove(f.value(3));
            return Reply{"REM " + trid(f) + " AL 13 " + f.value(3) + "\r\n"};
        });
        QVERIFY(signedIn(*o));
        QCOMPARE(outcomeOf(o->client, o->client.check("carol@example.com")), QString("online"));
        const auto removals = [&] {
            const Lines sent = o->notification.lines();
            return std::count_if(sent.begin(), sent.end(), [](const QByteArray& line) { return line.startsWith("REM "); });
        };
        QTRY_COMPARE_WITH_TIMEOUT(removals(), 2, Patience);
        QCOMPARE(o->client.journal.entries("me@example.com"), QStringList{"carol@example.com"});
        QTRY_COMPARE_WITH_TIMEOUT(directory.allow, QSet<QByteArray>{}, Patience);
        QTRY_COMPARE_WITH_TIMEOUT(o->client.journal.entries("me@example.com"), QStringList{}, Patience);
        QCOMPARE(removals(), 3);
        QCOMPARE(o->notification.connectionCount(), 1);
    }

    // What the journal holds but the list does not is dropped without a word to the server; what
    // the user put on the allow list is not the journal's and is never touched.
    void theJournalTouchesOnlyWhatItHolds() {
        Directory directory;
        directory.allow = {"frank@example.com"};
        ScriptedMsnpServer dispatch, notification, switchboard;
        scriptDispatch(dispatch, notification.address());
        scriptNotification(notification);
        directory.serve(notification, switchboard);
        Client client;
        client.journal.record("ME@example.com", "erin@example.com");
        client.journal.record("someone.else@example.com", "frank@example.com");
        client.startAt(dispatch);
        QTRY_COMPARE_WITH_TIMEOUT(client.journal.entries("me@example.com"), QStringList{}, Patience);
        QTest::qWait(300);
        QCOMPARE(notification.lines().mid(6), Lines{});
        QCOMPARE(directory.allow, QSet<QByteArray>{"frank@example.com"});
        QCOMPARE(client.journal.entries("someone.else@example.com"), QStringList{"frank@example.com"});
    }

    void aServerThatStopsReadingIsLeft() {
        ScriptedMsnpServer server;
        scriptNotification(server);
        Client client;
        client.startAt(server);
        QTRY_COMPARE_WITH_TIMEOUT(server.lines().value(5), QByteArray("SYN 5 0"), Patience);
        // Each CHG is answered with a SYN; a server that never reads them would have them piling
        // up in our memory.
        server.floodWithoutReading("CHG 9 NLN\r\n", qint64(256) << 20);
        QTRY_VERIFY_WITH_TIMEOUT(client.states.contains("waiting: connection lost"), 60000);
    }

    void redirectsThatLeadNowhere_data() {
        QTest::addColumn<QByteArray>("to"); // empty: back to the same server
        QTest::newRow("in circles") << QByteArray();
        QTest::newRow("no port") << QByteArray("127.0.0.1");
        QTest::newRow("port 0") << QByteArray("127.0.0.1:0");
    }
    void redirectsThatLeadNowhere() {
        QFETCH(QByteArray, to);
        ScriptedMsnpServer dispatch;
        scriptDispatch(dispatch, to.isEmpty() ? dispatch.address() : QString::fromLatin1(to));
        Client client;
        client.startAt(dispatch);
        QTRY_COMPARE_WITH_TIMEOUT(client.states.value(1), QString("waiting: cannot connect"), Patience);
        QVERIFY(dispatch.connectionCount() <= 1 + NotificationDispatcher::MaxRedirects);
    }

    void signInThatStalls_data() {
        QTest::addColumn<bool>("redirect");
        QTest::newRow("at the dispatch server") << false;
        QTest::newRow("after the redirect") << true;
    }
    void signInThatStalls() {
        QFETCH(bool, redirect);
        ScriptedMsnpServer dispatch, notification;
        scriptDispatch(dispatch, notification.address()); // the notification server answers nothing
        Client client;
        SessionCore::Limits limits = testLimits();
        limits.signInMs = Limit;
        client.session->setLimits(limits);
        client.startAt(redirect ? dispatch : notification);
        QTRY_COMPARE_WITH_TIMEOUT(client.states.value(1), QString("waiting: sign-in stalled"), Patience);
    }

    // A server that sends list entries without end is left, long before memory runs out.
    void aListSyncWithoutEndIsLeft() {
        PlayedServer server;
        server.signIn();
        QVERIFY(!server.syncTrId.isEmpty());
        const int total = NotificationDispatcher::MaxListEntries + 1;
        int sent = 0;
        while (sent < total && !server.dropped) {
            QByteArray piece;
            for (int i = 0; i < 500 && sent < total; ++i, ++sent) {
                const QByteArray who = "c" + QByteArray::number(sent) + "@example.com";
                piece += "LST " + server.syncTrId + " AL 9 " + QByteArray::number(sent + 1) + " 99999 " + who + " " +
                         who + "\r\n";
            }
            server.core->arrived(SessionCore::NotificationLink, piece);
        }
        QVERIFY(server.dropped);
        QVERIFY(sent <= total);
        QCOMPARE(server.states.value(server.states.size() - 1), QString("waiting: connection lost"));
    }

    // Lines a server may send unasked once we are online; a CHG after them shows when they have
    // been read.
    void unaskedLinesOnceOnline_data() {
        QTest::addColumn<QByteArray>("unasked");
        QTest::newRow("a challenge, then a refusal") << QByteArray("USR 5 MD5 S zzz\r\n911 5\r\n");
        QTest::newRow("an OK for another number") << QByteArray("USR 5 OK me@example.com Me\r\n");
        QTest::newRow("a switchboard nobody asked for") << QByteArray("XFR 0 SB <switchboard> CKI ticket\r\n");
        QTest::newRow("a redirect nobody asked for") << QByteArray("XFR 5 NS <switchboard> 0\r\n");
    }
    void unaskedLinesOnceOnline() {
        QFETCH(QByteArray, unasked);
        auto o = online();
        QVERIFY(signedIn(*o));
        o->notification.send(unasked.replace("<switchboard>", o->switchboard.address().toLatin1()) + "CHG 7 NLN\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(o->notification.lines().value(6), QByteArray("SYN 5 0"), Patience);
        QCOMPARE(o->notification.lines().size(), 7);
        QCOMPARE(o->client.states, (QStringList{"connecting", "signed in"}));
        QCOMPARE(o->switchboard.connectionCount(), 0);
        QCOMPARE(o->notification.connectionCount(), 1);
    }

    // A run over a small list with every kind of answer: stopped and taken up again, and cut off
    // in the middle by a dropped connection. Each address is called once a run (a call lost to the
    // drop may be made again), duplicates share one result, and the account's lists stay as they
    // were.
    void aRunOverTheWholeList() {
        Directory directory;
        directory.offline.insert("weird@example.com"); // its call is answered with an error
        auto o = online("", &directory);
        auto directoryCal = [&](const Lines& f) {
            if (f.value(2) == "weird@example.com")
                return Reply{"500 " + trid(f) + "\r\n"};
            const QByteArray who = f.value(2);
            const QByteArray code = !directory.exists(who)          ? "207"
                                    : !directory.listed(who)        ? "205"
                                    : directory.offline.contains(who) ? "217"
                                                                    : "";
            return Reply{code.isEmpty() ? "CAL " + trid(f) + " RINGING 1\r\n" : code + " " + trid(f) + "\r\n"};
        };
        o->switchboard.on("CAL", directoryCal);
        QVERIFY(signedIn(*o));
        QTemporaryDir dir;
        CheckDatabase database(dir.filePath("velmora.db"));
        CheckResults results(&database);
        CheckService service(*o->client.session);
        service.setResults(&results);
        service.setPace({0, 2});
        Rows list;
        list.list = {"bob@example.com", "dave@example.com", "carol@example.com", "Bob@Example.com",
                          "erin@example.com", "nobody@example.com", "weird@example.com"};
        int recorded = 0;
        connect(&results, &CheckResults::recorded, this, [&] {
            if (++recorded == 2)
                service.stopChecking();
            if (recorded == 4)
                o->notification.drop();
        });
        const QSet<QByteArray> allowBefore = directory.allow;
        service.checkEveryone(list);
        QTRY_VERIFY_WITH_TIMEOUT(!service.runGoing(), Patience);
        QCOMPARE(results.answeredSince(0), 2);
        qint64 onlineSoFar = 0;
        for (const QString& address : QSet<QString>{"bob@example.com", "dave@example.com", "carol@example.com"})
            onlineSoFar += results.find(address) && results.find(address)->kind == ResultKind::Online;
        service.checkEveryone(list); // goes on where it stopped, with what it had counted
        QCOMPARE(service.progress().checked, 2);
        QCOMPARE(service.progress().online, onlineSoFar);
        QTRY_VERIFY_WITH_TIMEOUT(!service.runGoing(), 4 * Patience);
        QVERIFY(o->client.states.contains("waiting: connection lost"));
        const std::map<QString, ResultKind> expected{
            {"bob@example.com", ResultKind::Online},    {"dave@example.com", ResultKind::Offline},
            {"carol@example.com", ResultKind::Online},  {"erin@example.com", ResultKind::Offline},
            {"nobody@example.com", ResultKind::NoSuchUser}, {"weird@example.com", ResultKind::Unknown}};
        for (const auto& [address, kind] : expected) {
            const auto result = results.find(address);
            QVERIFY2(result && result->kind == kind, qPrintable(address));
        }
        QCOMPARE(results.run().completed, true);
        QCOMPARE(results.answeredSince(results.run().startedAt), qint64(expected.size()));
        // One call an address, but one that the drop cut off; the duplicate shares bob's.
        const Lines made = calls(o->switchboard.lines());
        QVERIFY2(made.size() >= 6 && made.size() <= 7, qPrintable(QString::number(made.size())));
        QVERIFY(!made.contains("CAL 2 Bob@Example.com"));
        QTRY_COMPARE_WITH_TIMEOUT(directory.allow, allowBefore, Patience);
        // A run that was completed starts over.
        service.checkEveryone(list);
        QTRY_VERIFY_WITH_TIMEOUT(!service.runGoing(), Patience);
        QCOMPARE(calls(o->switchboard.lines()).size(), made.size() + 6);
    }

    // A journal entry still on the allow list is taken off at the sign-in, also where the server
    // sends its settings before the lists.
    void theJournalIsReplayedOnEitherServer_data() {
        QTest::addColumn<bool>("newer");
        QTest::newRow("older server") << false;
        QTest::newRow("newer server: settings first") << true;
    }
    void theJournalIsReplayedOnEitherServer() {
        QFETCH(bool, newer);
        Directory directory;
        directory.newer = newer;
        directory.allow = {"erin@example.com"};
        ScriptedMsnpServer dispatch, notification, switchboard;
        scriptDispatch(dispatch, notification.address());
        scriptNotification(notification);
        directory.serve(notification, switchboard);
        Client client;
        client.journal.record("me@example.com", "erin@example.com");
        client.startAt(dispatch);
        QTRY_COMPARE_WITH_TIMEOUT(directory.allow, QSet<QByteArray>{}, Patience);
        QTRY_COMPARE_WITH_TIMEOUT(client.journal.entries("me@example.com"), QStringList{}, Patience);
        QCOMPARE(notification.lines().mid(6), Lines{"REM 5 AL erin@example.com"});
    }

    // Signed in elsewhere, the session stops for good: signing in again would send the other one
    // away in turn. Only the program's own start signs in again. One server keeps the connection
    // open after saying so, another closes it.
    void signedInElsewhereIsNoLoss_data() {
        QTest::addColumn<bool>("closes");
        QTest::newRow("the connection stays open") << false;
        QTest::newRow("the server closes") << true;
    }
    void signedInElsewhereIsNoLoss() {
        QFETCH(bool, closes);
        auto o = online();
        QVERIFY(signedIn(*o));
        const int id = o->client.check("bob@example.com");
        QTRY_VERIFY_WITH_TIMEOUT(o->switchboard.connectionCount() == 1, Patience);
        o->notification.send("OUT OTH\r\n");
        if (closes)
            o->notification.drop();
        QTRY_COMPARE_WITH_TIMEOUT(o->client.state(), QString("gave up: signed in elsewhere"), Patience);
        QVERIFY(!o->client.outcome(id).isEmpty());
        QTest::qWait(3 * testLimits().maxRetryMs);
        QCOMPARE(o->dispatch.connectionCount(), 1);
        QCOMPARE(o->client.states, (QStringList{"connecting", "signed in", "gave up: signed in elsewhere"}));
        o->client.session->start();
        QTRY_COMPARE_WITH_TIMEOUT(o->client.state(), QString("signed in"), Patience);
        QCOMPARE(o->dispatch.connectionCount(), 2);
    }

    // A server that hands out no more than a few switchboards in a while answers the rest "800":
    // the run slows down and asks those contacts again, and every result is still right. The
    // limits are scaled down so that the test runs in seconds.
    void aBusyServerSlowsTheRunDown() {
        Directory directory;
        auto o = online("", &directory);
        const QByteArray where = o->switchboard.address().toLatin1();
        auto handedOut = std::make_shared<std::deque<qint64>>();
        auto busy = std::make_shared<int>(0);
        auto clock = std::make_shared<QElapsedTimer>();
        clock->start();
        o->notification.on("XFR", [=](const Lines& f) {
            while (!handedOut->empty() && clock->elapsed() - handedOut->front() > 400)
                handedOut->pop_front();
            if (handedOut->size() >= 3) {
                ++*busy;
                return Reply{"800 " + trid(f) + "\r\n"};
            }
            handedOut->push_back(clock->elapsed());
            return Reply{"XFR " + trid(f) + " SB " + where + " CKI t" + QByteArray::number(*busy) + "\r\n"};
        });
        QVERIFY(signedIn(*o));
        QTemporaryDir dir;
        CheckDatabase database(dir.filePath("velmora.db"));
        CheckResults results(&database);
        BusyBackoff backoff;
        backoff.noLimitGapMs = 50;
        backoff.maxGapMs = 400;
        backoff.firstWaitMs = 100;
        backoff.calmMs = 1000;
        CheckService service(*o->client.session, nullptr, nullptr, backoff);
        service.setResults(&results);
        service.setPace({0, 2});
        Rows list;
        list.list = {"bob@example.com", "dave@example.com", "ann@example.com", "carol@example.com",
                     "erin@example.com", "nobody@example.com", "ray@example.com", "sue@example.com"};
        directory.online.unite({"ann@example.com", "sue@example.com"});
        directory.forward.unite({"ann@example.com", "ray@example.com", "sue@example.com"});
        directory.offline.insert("ray@example.com");
        bool slowed = false;
        connect(&service, &CheckService::runChanged, this, [&](const RunProgress& p) { slowed |= p.slowed; });
        QList<ResultKind> kinds;
        connect(&results, &CheckResults::recorded, this,
                [&](const QString&, const CheckResults::Result& r) { kinds << r.kind; });
        service.checkEveryone(list);
        QTRY_VERIFY_WITH_TIMEOUT(!service.runGoing(), 6 * Patience);
        QVERIFY(*busy > 0);
        QVERIFY(slowed);
        QCOMPARE(kinds.size(), list.list.size()); // each once, none for a busy answer
        const std::map<QString, ResultKind> expected{
            {"bob@example.com", ResultKind::Online},        {"dave@example.com", ResultKind::Offline},
            {"ann@example.com", ResultKind::Online},        {"carol@example.com", ResultKind::Online},
            {"erin@example.com", ResultKind::Offline},      {"nobody@example.com", ResultKind::NoSuchUser},
            {"ray@example.com", ResultKind::Offline},       {"sue@example.com", ResultKind::Online}};
        for (const auto& [address, kind] : expected) {
            const auto result = results.find(address);
            QVERIFY2(result && result->kind == kind, qPrintable(address));
        }
    }

    // A redirect after the sign-in, in the middle of a check, neither drops the check nor the
    // session.
    void aRedirectDuringACheckIsIgnored() {
        auto o = online();
        QVERIFY(signedIn(*o));
        const QByteArray where = o->switchboard.address().toLatin1();
        o->notification.on("XFR", [where](const Lines& f) {
            return Reply{"XFR " + trid(f) + " NS 127.0.0.1:1 0\r\n", "XFR " + trid(f) + " SB " + where + " CKI t\r\n"};
        });
        QCOMPARE(outcomeOf(o->client, o->client.check("bob@example.com")), QString("online"));
        QCOMPARE(o->notification.connectionCount(), 1);
        QCOMPARE(o->client.states, (QStringList{"connecting", "signed in"}));
    }
};

QTEST_GUILESS_MAIN(SessionTest)
#include "test_session.moc"
