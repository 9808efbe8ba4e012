// The session against scripted servers of the service, over real loopback sockets.
#include "session/ServiceSession.h"
#include "tests/support/ScriptedMsnpServer.h"

#include <QSet>
#include <QTcpSocket>
#include <QtTest>
#include <memory>

using Lines = QList<QByteArray>;
using Mode = ScriptedMsnpServer::Mode;
using Reply = ScriptedMsnpServer::Reply;

namespace {

const QByteArray Challenge = "1013928519.693957190";
const QByteArray Digest = "7f919fab309532df353c901430df36fa"; // MD5 of Challenge + "password"
const QByteArray Auth = "17262740.1050826919.32308";
constexpr int Patience = 5000;
// The session's own time limits in these tests, and a wait that outlasts them.
constexpr int Limit = 1000;
constexpr int PastTheLimit = Limit + 300;

// What the main window holds and shows, seen from the session's side.
struct Window {
    QString account = "me@example.com";
    QString password = "password";
    std::optional<QString> selected = QStringLiteral("bob@example.com");
    QStringList label1;
    QString label2;
    int timer1Stops = 0;
    std::unique_ptr<ServiceSession> session;

    Window() {
        session = std::make_unique<ServiceSession>(ServiceSession::Host{
            [this] { return account; }, [this] { return password; }, [this] { return selected; }});
        QObject::connect(session.get(), &ServiceSession::label1Changed,
                         [this](const QString& t) { label1 << t; });
        QObject::connect(session.get(), &ServiceSession::label2Changed,
                         [this](const QString& t) { label2 = t; });
        QObject::connect(session.get(), &ServiceSession::timer1StopRequested, [this] { ++timer1Stops; });
        session->setSwitchboardTimeout(Limit);
        session->setConnectTimeout(Limit);
    }
    QString Label1() const { return label1.isEmpty() ? QString() : label1.last(); }
    void startAt(const ScriptedMsnpServer& dispatch) {
        qputenv("VELMORA_DISPATCH_SERVER", dispatch.address().toLatin1());
        session->start();
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

// A notification server that signs the account in with the password
// "password", chatting the way the real one does after the sign-in. Its
// welcome message carries a line that must not be taken for a command.
void scriptNotification(ScriptedMsnpServer& server, bool noise = false, const Reply& challengeReply = {}) {
    scriptOpening(server, noise);
    server.on("USR", [challengeReply, noise](const Lines& f) {
        if (f.value(3) == "I")
            return challengeReply.isEmpty()
                       ? noisy({"USR " + trid(f) + " MD5 S " + Challenge + "\r\n"}, noise)
                       : challengeReply;
        if (f.value(4) == Digest)
            return noisy({"USR " + trid(f) +
                          " OK me@example.com Me\r\n"
                          "MSG Hotmail Hotmail 45\r\nMIME-Version: 1.0\r\nXFR 3 NS 127.0.0.1:1 0\r\n\r\n"},
                         noise);
        return Reply{"911 " + trid(f) + "\r\n"};
    });
    server.on("CHG", [noise](const Lines& f) {
        return noisy({"CHG " + trid(f) + " NLN 0\r\nILN " + trid(f) + " NLN alice@example.com Alice\r\n"},
                     noise);
    });
    server.on("SYN", [](const Lines& f) {
        const QByteArray n = trid(f);
        return Reply{"SYN " + n + " 1\r\nGTC " + n + " 1 A\r\nBLP " + n + " 1 AL\r\nLST " + n +
                     " FL 1 1 1 bob@example.com Bob 0\r\nNLN NLN carol@example.com Carol\r\n"};
    });
}

// Hands out the switchboard for a probe, each answer with its own ticket.
void scriptSwitchboardRequests(ScriptedMsnpServer& server, const ScriptedMsnpServer& switchboard) {
    auto count = std::make_shared<int>(0);
    const QByteArray where = switchboard.address().toLatin1();
    server.on("XFR", [count, where](const Lines& f) {
        const QByteArray auth = ++*count == 1 ? Auth : Auth + "." + QByteArray::number(*count);
        return Reply{"XFR " + trid(f) + " SB " + where + " CKI " + auth + "\r\n"};
    });
}

// A switchboard that lets the account in and answers the call with callReply.
void scriptSwitchboard(ScriptedMsnpServer& switchboard, const QByteArray& callReply) {
    switchboard.on("USR", [](const Lines&) { return Reply{"USR 1 OK me@example.com Me\r\n"}; });
    switchboard.on("CAL", [callReply](const Lines&) { return Reply{callReply}; });
}

// The real service's list rule: a call rings only a contact that is on one of
// the caller's lists; others get 205, unknown addresses 207, listed contacts
// who are offline 217. The allow list changes by ADD and REM.
struct Directory {
    QSet<QByteArray> online{"bob@example.com", "carol@example.com"};
    QSet<QByteArray> offline{"dave@example.com", "erin@example.com"};
    QSet<QByteArray> listed{"bob@example.com", "dave@example.com"};

    bool exists(const QByteArray& who) const { return online.contains(who) || offline.contains(who); }
    void serve(ScriptedMsnpServer& notification, ScriptedMsnpServer& switchboard) {
        notification.on("ADD", [this](const Lines& f) {
            if (!exists(f.value(3)))
                return Reply{"207 " + trid(f) + "\r\n"};
            listed.insert(f.value(3));
            return Reply{"ADD " + trid(f) + " " + f.value(2) + " 12 " + f.value(3) + " " + f.value(3) +
                         "\r\n"};
        });
        notification.on("REM", [this](const Lines& f) {
            listed.remove(f.value(3));
            return Reply{"REM " + trid(f) + " " + f.value(2) + " 13 " + f.value(3) + "\r\n"};
        });
        switchboard.on("CAL", [this](const Lines& f) {
            const QByteArray who = f.value(2);
            const QByteArray code = !exists(who)            ? "207"
                                    : !listed.contains(who) ? "205"
                                    : offline.contains(who) ? "217"
                                                            : "";
            return Reply{code.isEmpty() ? "CAL " + trid(f) + " RINGING 11752013\r\n"
                                        : code + " " + trid(f) + "\r\n"};
        });
    }
};

Lines lines(std::initializer_list<const char*> texts) {
    Lines out;
    for (const char* t : texts)
        out << QByteArray(t);
    return out;
}

} // namespace

class SessionTest : public QObject {
    Q_OBJECT

    // A window signing in through a dispatch server, so TrID ends at 4, with
    // a switchboard that answers the call with callReply.
    struct Online {
        ScriptedMsnpServer dispatch;
        ScriptedMsnpServer notification;
        ScriptedMsnpServer switchboard;
        Window window;
    };
    static std::unique_ptr<Online> online(const QByteArray& callReply = "CAL 2 RINGING 11752013\r\n") {
        auto o = std::make_unique<Online>();
        scriptDispatch(o->dispatch, o->notification.address());
        scriptNotification(o->notification);
        scriptSwitchboardRequests(o->notification, o->switchboard);
        scriptSwitchboard(o->switchboard, callReply);
        o->window.startAt(o->dispatch);
        return o;
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
        Window window;
        window.startAt(dispatch);
        const Lines& last = redirect ? notificationLines : dispatchLines;
        ScriptedMsnpServer& finalServer = redirect ? notification : dispatch;
        QTRY_COMPARE_WITH_TIMEOUT(finalServer.lines().size(), last.size(), Patience);
        // Let the list burst that answers the SYN arrive as well.
        QTest::qWait(200);
        QCOMPARE(dispatch.lines(), dispatchLines);
        QCOMPARE(notification.lines(), notificationLines);
        QCOMPARE(window.session->TrID(), trId);
        QCOMPARE(window.label1, QStringList{"MSN (Online)"});
        QVERIFY(window.timer1Stops >= 1);
    }

    void challengeSplitAcrossReads_data() {
        QTest::addColumn<Reply>("chunks");
        const QByteArray whole = "USR 2 MD5 S " + Challenge + "\r\n";
        QTest::newRow("inside the challenge") << Reply{whole.left(17), whole.mid(17)};
        QTest::newRow("between CR and LF") << Reply{whole.chopped(1), "\n"};
        QTest::newRow("before the line end") << Reply{whole.chopped(2), "\r\n"};
        QTest::newRow("three pieces") << Reply{"USR 2 M", "D5 S 1013928", whole.mid(19)};
    }
    void challengeSplitAcrossReads() {
        QFETCH(Reply, chunks);
        ScriptedMsnpServer dispatch, notification;
        scriptDispatch(dispatch, notification.address());
        scriptNotification(notification, false, chunks);
        Window window;
        window.startAt(dispatch);
        QTRY_COMPARE_WITH_TIMEOUT(window.Label1(), QString("MSN (Online)"), Patience);
        QCOMPARE(notification.lines().value(3), "USR 2 MD5 S " + Digest);
    }

    void refusedPasswordIsShown() {
        ScriptedMsnpServer dispatch, notification;
        scriptDispatch(dispatch, notification.address());
        scriptNotification(notification);
        notification.dropAfter("USR 2 MD5 S"); // the service hangs up after refusing
        Window window;
        window.password = "wrong";
        window.startAt(dispatch);
        QTRY_COMPARE_WITH_TIMEOUT(window.Label1(), QString("Sign-in refused"), Patience);
        QTest::qWait(200); // the hang-up must not be told as a lost connection
        QCOMPARE(window.label1, QStringList{"Sign-in refused"});
        QVERIFY(window.timer1Stops >= 1);
        QCOMPARE(window.session->wsConnect()->state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!notification.lines().contains("CHG 3 NLN"));
    }

    void connectionFailuresAreShown_data() {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("text");
        QTest::newRow("dispatch server refuses") << "refuse dispatch"
                                                 << "Cannot connect";
        QTest::newRow("dispatch server never accepts") << "stall dispatch"
                                                       << "Cannot connect";
        QTest::newRow("notification server refuses") << "refuse notification"
                                                     << "Cannot connect";
        QTest::newRow("dropped during sign-in") << "drop at INF"
                                                << "Connection lost";
        QTest::newRow("dropped once online") << "drop online"
                                             << "Connection lost";
    }
    void connectionFailuresAreShown() {
        QFETCH(QString, failure);
        QFETCH(QString, text);
        const Mode dispatchMode = failure == "refuse dispatch"  ? Mode::Refuse
                                  : failure == "stall dispatch" ? Mode::Stall
                                                                : Mode::Answer;
        ScriptedMsnpServer dispatch(dispatchMode);
        ScriptedMsnpServer notification(failure == "refuse notification" ? Mode::Refuse : Mode::Answer);
        scriptDispatch(dispatch, notification.address());
        scriptNotification(notification);
        if (failure == "drop at INF")
            notification.dropAfter("INF");
        Window window;
        window.startAt(dispatch);
        if (failure == "drop online") {
            QTRY_COMPARE_WITH_TIMEOUT(window.Label1(), QString("MSN (Online)"), Patience);
            notification.drop();
        }
        QTRY_COMPARE_WITH_TIMEOUT(window.Label1(), text, Patience);
        QVERIFY(window.timer1Stops >= 1);
        QCOMPARE(window.session->wsConnect()->state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!window.session->signedIn());
        // A check now has no connection to ask on.
        window.session->startProbe("bob@example.com");
        QCOMPARE(window.Label1(), QString("Not connected"));
    }

    void probeShowsTheCallAnswer_data() {
        QTest::addColumn<QByteArray>("callReply");
        QTest::addColumn<QString>("text");
        QTest::addColumn<Lines>("switchboardLines");
        QTest::addColumn<bool>("leftOpen");
        const Lines call = lines({"USR 1 me@example.com 17262740.1050826919.32308", "CAL 2 bob@example.com"});
        QTest::newRow("ringing is online")
            << QByteArray("CAL 2 RINGING 11752013\r\n") << "Online" << call + lines({"OUT"}) << false;
        QTest::newRow("an error reply is offline") << QByteArray("217 2\r\n") << "Offline" << call << true;
        QTest::newRow("ringing, then more in the same read")
            << QByteArray("CAL 2 RINGING 11752013\r\nJOI bob@example.com Bob\r\n") << "Online"
            << call + lines({"OUT"}) << false;
        // The switchboard answered, so it is no silence: the status line keeps its text.
        QTest::newRow("a call that does not ring changes nothing")
            << QByteArray("CAL 2 BUSY 1\r\n") << "" << call << true;
    }
    void probeShowsTheCallAnswer() {
        QFETCH(QByteArray, callReply);
        QFETCH(QString, text);
        QFETCH(Lines, switchboardLines);
        QFETCH(bool, leftOpen);
        auto o = online(callReply);
        QTRY_COMPARE_WITH_TIMEOUT(o->notification.lines().value(5), QByteArray("SYN 4 0"), Patience);
        Window& window = o->window;
        const int stopsBefore = window.timer1Stops;
        window.session->startProbe("bob@example.com");
        QCOMPARE(window.label2, QString("bob@example.com's Status: "));
        QCOMPARE(window.Label1(), QString()); // no answer from before beside the new name
        QCOMPARE(window.timer1Stops, stopsBefore + 1);
        QTRY_COMPARE_WITH_TIMEOUT(window.Label1(), text, Patience);
        QTRY_COMPARE_WITH_TIMEOUT(o->notification.lines().last(), QByteArray("XFR 4 SB"), Patience);
        QTRY_COMPARE_WITH_TIMEOUT(o->switchboard.lines(), switchboardLines, Patience);
        const auto expected = leftOpen ? QAbstractSocket::ConnectedState : QAbstractSocket::UnconnectedState;
        QTRY_COMPARE_WITH_TIMEOUT(window.session->wsChat()->state(), expected, Patience);
        QTest::qWait(PastTheLimit);
        QCOMPARE(window.Label1(), text);
        QCOMPARE(o->switchboard.isOpen(0), leftOpen);
        QCOMPARE(window.session->TrID(), 4);
    }

    void nextProbeClosesAnOpenSwitchboard() {
        auto o = online("217 2\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(o->notification.lines().value(5), QByteArray("SYN 4 0"), Patience);
        Window& window = o->window;
        window.session->startProbe("bob@example.com");
        QTRY_COMPARE_WITH_TIMEOUT(window.Label1(), QString("Offline"), Patience);
        QVERIFY(o->switchboard.isOpen(0));
        scriptSwitchboard(o->switchboard, "CAL 2 RINGING 11752013\r\n");
        window.session->startProbe("carol@example.com");
        QTRY_COMPARE_WITH_TIMEOUT(window.Label1(), QString("Online"), Patience);
        QCOMPARE(o->switchboard.connectionCount(), 2);
        QVERIFY(!o->switchboard.isOpen(0));
        QCOMPARE(o->switchboard.linesOn(1).value(1), QByteArray("CAL 2 bob@example.com"));
        QCOMPARE(window.label2, QString("carol@example.com's Status: "));
    }

    void callGoesToTheContactSelectedWhenTheSwitchboardAnswers_data() {
        QTest::addColumn<std::optional<QString>>("selectedLater");
        QTest::addColumn<QByteArray>("call");
        QTest::newRow("selection moved")
            << std::optional<QString>("carol@example.com") << QByteArray("CAL 2 carol@example.com");
        QTest::newRow("selection cleared") << std::optional<QString>() << QByteArray("CAL 2 bob@example.com");
    }
    void callGoesToTheContactSelectedWhenTheSwitchboardAnswers() {
        QFETCH(std::optional<QString>, selectedLater);
        QFETCH(QByteArray, call);
        auto o = online();
        QTRY_COMPARE_WITH_TIMEOUT(o->notification.lines().value(5), QByteArray("SYN 4 0"), Patience);
        Window& window = o->window;
        window.session->startProbe("bob@example.com");
        window.selected = selectedLater;
        QTRY_COMPARE_WITH_TIMEOUT(window.Label1(), QString("Online"), Patience);
        QCOMPARE(o->switchboard.lines().value(1), call);
        QCOMPARE(window.label2, QString("bob@example.com's Status: "));
    }

    void twoProbesInARowShareTheNumberAndTheLaterSwitchboardWins() {
        auto o = online();
        QTRY_COMPARE_WITH_TIMEOUT(o->notification.lines().value(5), QByteArray("SYN 4 0"), Patience);
        // The first answer names a switchboard that never accepts; the second
        // one takes its place while it is still waiting.
        ScriptedMsnpServer stalled(Mode::Stall);
        auto count = std::make_shared<int>(0);
        o->notification.on("XFR", [&, count](const Lines& f) {
            const ScriptedMsnpServer& to = ++*count == 1 ? stalled : o->switchboard;
            return Reply{"XFR " + trid(f) + " SB " + to.address().toLatin1() + " CKI ticket" +
                         QByteArray::number(*count) + "\r\n"};
        });
        Window& window = o->window;
        window.session->startProbe("bob@example.com");
        window.session->startProbe("bob@example.com");
        QTRY_COMPARE_WITH_TIMEOUT(window.Label1(), QString("Online"), Patience);
        QCOMPARE(o->notification.lines().mid(6), lines({"XFR 4 SB", "XFR 4 SB"}));
        QCOMPARE(o->switchboard.lines().value(0), QByteArray("USR 1 me@example.com ticket2"));
        QTest::qWait(PastTheLimit);
        QCOMPARE(window.label1.mid(1), (QStringList{"", "", "Online"}));
    }

    void probeWithoutAnAnswerIsBounded_data() {
        QTest::addColumn<QString>("trouble");
        QTest::newRow("switchboard never accepts") << "stall";
        QTest::newRow("switchboard refuses") << "refuse";
        QTest::newRow("switchboard accepts and says nothing") << "silent";
        QTest::newRow("switchboard hangs up") << "hang up";
        QTest::newRow("no switchboard handed out") << "no XFR";
    }
    void probeWithoutAnAnswerIsBounded() {
        QFETCH(QString, trouble);
        auto o = online();
        QTRY_COMPARE_WITH_TIMEOUT(o->notification.lines().value(5), QByteArray("SYN 4 0"), Patience);
        const Mode mode = trouble == "stall"    ? Mode::Stall
                          : trouble == "refuse" ? Mode::Refuse
                                                : Mode::Answer;
        ScriptedMsnpServer troubled(mode);
        if (trouble == "hang up")
            troubled.dropAfter("USR");
        if (trouble == "hang up" || trouble == "silent")
            troubled.on("USR", [](const Lines&) { return Reply{}; });
        if (trouble == "no XFR")
            o->notification.on("XFR", [](const Lines&) { return Reply{}; });
        else
            scriptSwitchboardRequests(o->notification, troubled);
        Window& window = o->window;
        window.session->startProbe("bob@example.com");
        QTRY_COMPARE_WITH_TIMEOUT(window.Label1(), QString("No answer"), Patience);
        QCOMPARE(window.session->wsChat()->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(window.label1.count("No answer"), 1);
        QVERIFY(!window.label1.contains("Offline"));
    }

    void probeRefusalsAreShown_data() {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("text");
        QTest::newRow("never started") << "never started"
                                       << "Not connected";
        QTest::newRow("closed by the window") << "closed"
                                              << "Not connected";
        QTest::newRow("sign-in not finished") << "signing in"
                                              << "Not signed in";
        QTest::newRow("service refuses the request") << "913"
                                                     << "Check refused";
    }
    void probeRefusalsAreShown() {
        QFETCH(QString, situation);
        QFETCH(QString, text);
        ScriptedMsnpServer notification;
        scriptNotification(notification);
        notification.on("XFR", [](const Lines& f) { return Reply{"913 " + trid(f) + "\r\n"}; });
        if (situation == "signing in")
            notification.on("USR", [](const Lines&) { return Reply{}; });
        Window window;
        if (situation == "signing in") {
            window.startAt(notification);
            QTRY_VERIFY_WITH_TIMEOUT(notification.lines().size() >= 3, Patience);
        } else if (situation != "never started") {
            window.startAt(notification);
            QTRY_COMPARE_WITH_TIMEOUT(window.Label1(), QString("MSN (Online)"), Patience);
        }
        if (situation == "closed")
            window.session->closeConnection();
        const int stopsBefore = window.timer1Stops;
        window.session->startProbe("bob@example.com");
        QCOMPARE(window.label2, QString("bob@example.com's Status: "));
        QTRY_COMPARE_WITH_TIMEOUT(window.Label1(), text, Patience);
        QVERIFY(window.timer1Stops > stopsBefore);
        QTest::qWait(PastTheLimit);
        QCOMPARE(window.Label1(), text);
        QCOMPARE(notification.lines().count("XFR 5 SB"), situation == "913" ? 1 : 0);
    }

    void lineBreaksAndSpacesNeverReachTheWire_data() {
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("contact");
        QTest::addColumn<QString>("selectedLater");
        QTest::addColumn<QString>("accountLater");
        QTest::addColumn<QString>("text");
        const QString me = "me@example.com", bob = "bob@example.com";
        QTest::newRow("account with CR LF") << me + "\r\nOUT" << bob << bob << QString() << "Bad account";
        QTest::newRow("account with LF") << me + "\nOUT" << bob << bob << QString() << "Bad account";
        QTest::newRow("account with a space")
            << "me @example.com" << bob << bob << QString() << "Bad account";
        QTest::newRow("contact with CR LF") << me << bob + "\r\nOUT" << bob << QString() << "Bad contact";
        QTest::newRow("contact with a space")
            << me << "bob @example.com" << bob << QString() << "Bad contact";
        QTest::newRow("contact selected for the call with CR")
            << me << bob << bob + "\rOUT" << QString() << "Bad contact";
        QTest::newRow("account changed before the switchboard") << me << bob << bob << me + "\r\nOUT"
                                                                << "Bad account";
    }
    void lineBreaksAndSpacesNeverReachTheWire() {
        QFETCH(QString, account);
        QFETCH(QString, contact);
        QFETCH(QString, selectedLater);
        QFETCH(QString, accountLater);
        QFETCH(QString, text);
        auto o = std::make_unique<Online>();
        scriptDispatch(o->dispatch, o->notification.address());
        scriptNotification(o->notification);
        scriptSwitchboardRequests(o->notification, o->switchboard);
        scriptSwitchboard(o->switchboard, "CAL 2 RINGING 1\r\n");
        Window& window = o->window;
        window.account = account;
        window.startAt(o->dispatch);
        if (window.account == "me@example.com") {
            QTRY_COMPARE_WITH_TIMEOUT(window.Label1(), QString("MSN (Online)"), Patience);
            if (!accountLater.isNull())
                window.account = accountLater;
            window.session->startProbe(contact);
            window.selected = selectedLater;
        }
        QTRY_COMPARE_WITH_TIMEOUT(window.Label1(), text, Patience);
        QVERIFY(window.timer1Stops >= 1);
        QTest::qWait(PastTheLimit);
        QCOMPARE(window.Label1(), text);
        const Lines all = o->dispatch.lines() + o->notification.lines() + o->switchboard.lines();
        for (const QByteArray& line : all) {
            QVERIFY2(!line.contains('\r') && !line.contains('\n') && line != "OUT", line.constData());
            QVERIFY2(!line.startsWith("USR") || line.count(' ') <= 4, line.constData());
            QVERIFY2(!line.startsWith("CAL"), line.constData());
        }
        QCOMPARE(window.session->wsChat()->state(), QAbstractSocket::UnconnectedState);
    }

    void checksFollowTheServiceListRule_data() {
        QTest::addColumn<QString>("contact");
        QTest::addColumn<QString>("text");
        QTest::addColumn<Lines>("requests");
        QTest::addColumn<Lines>("calls");
        const auto sb = [](const char* who, bool again, bool out) {
            Lines l{"USR 1 me@example.com 17262740.1050826919.32308", QByteArray("CAL 2 ") + who};
            if (again)
                l << QByteArray("CAL 3 ") + who;
            if (out)
                l << "OUT";
            return l;
        };
        QTest::newRow("listed, online")
            << "bob@example.com"
            << "Online" << lines({"XFR 4 SB"}) << sb("bob@example.com", false, true);
        QTest::newRow("listed, offline")
            << "dave@example.com"
            << "Offline" << lines({"XFR 4 SB"}) << sb("dave@example.com", false, false);
        QTest::newRow("on no list, online")
            << "carol@example.com"
            << "Online"
            << lines(
                   {"XFR 4 SB", "ADD 5 AL carol@example.com carol@example.com", "REM 6 AL carol@example.com"})
            << sb("carol@example.com", true, true);
        QTest::newRow("on no list, offline")
            << "erin@example.com"
            << "Offline"
            << lines({"XFR 4 SB", "ADD 5 AL erin@example.com erin@example.com", "REM 6 AL erin@example.com"})
            << sb("erin@example.com", true, false);
        QTest::newRow("no such account")
            << "nobody@example.com"
            << "No such user" << lines({"XFR 4 SB"}) << sb("nobody@example.com", false, false);
    }
    void checksFollowTheServiceListRule() {
        QFETCH(QString, contact);
        QFETCH(QString, text);
        QFETCH(Lines, requests);
        QFETCH(Lines, calls);
        auto o = online();
        Directory directory;
        const QSet<QByteArray> listedBefore = directory.listed;
        directory.serve(o->notification, o->switchboard);
        QTRY_COMPARE_WITH_TIMEOUT(o->notification.lines().value(5), QByteArray("SYN 4 0"), Patience);
        o->window.selected = contact;
        o->window.session->startProbe(contact);
        QTRY_COMPARE_WITH_TIMEOUT(o->window.Label1(), text, Patience);
        QTRY_COMPARE_WITH_TIMEOUT(o->notification.lines().mid(6), requests, Patience);
        QTRY_COMPARE_WITH_TIMEOUT(o->switchboard.lines(), calls, Patience);
        // The account's lists are as they were, and nothing ever touched the
        // forward list, which would tell the contact.
        QTRY_COMPARE_WITH_TIMEOUT(directory.listed, listedBefore, Patience);
        for (const QByteArray& line : o->notification.lines())
            QVERIFY2(!line.contains(" FL "), line.constData());
        QCOMPARE(o->window.label1.count(text), 1);
        QVERIFY(!o->window.label1.contains("Offline") || text == "Offline");
    }

    void allowListStepThatGoesWrong_data() {
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("removed");
        QTest::newRow("add refused: no such account") << "207 to ADD"
                                                      << "No such user" << false;
        QTest::newRow("add refused otherwise") << "500 to ADD"
                                               << "Check refused" << false;
        QTest::newRow("still not rung once allowed") << "205 twice"
                                                     << "Check refused" << true;
        QTest::newRow("add never answered") << "silent ADD"
                                            << "No answer" << false;
    }
    void allowListStepThatGoesWrong() {
        QFETCH(QString, trouble);
        QFETCH(QString, text);
        QFETCH(bool, removed);
        auto o = online();
        Directory directory;
        directory.serve(o->notification, o->switchboard);
        if (trouble == "207 to ADD" || trouble == "500 to ADD")
            o->notification.on("ADD", [code = trouble.left(3).toLatin1()](const Lines& f) {
                return Reply{code + " " + trid(f) + "\r\n"};
            });
        if (trouble == "silent ADD")
            o->notification.on("ADD", [](const Lines&) { return Reply{}; });
        if (trouble == "205 twice")
            o->switchboard.on("CAL", [](const Lines& f) { return Reply{"205 " + trid(f) + "\r\n"}; });
        QTRY_COMPARE_WITH_TIMEOUT(o->notification.lines().value(5), QByteArray("SYN 4 0"), Patience);
        o->window.selected = QStringLiteral("carol@example.com");
        o->window.session->startProbe("carol@example.com");
        QTRY_COMPARE_WITH_TIMEOUT(o->window.Label1(), text, Patience);
        QTRY_COMPARE_WITH_TIMEOUT(o->notification.lines().contains("REM 6 AL carol@example.com"), removed,
                                  Patience);
        QVERIFY(!o->window.label1.contains("Offline") && !o->window.label1.contains("Online"));
    }

    void aServerThatStopsReadingIsLeft() {
        ScriptedMsnpServer server;
        scriptNotification(server);
        Window window;
        window.startAt(server);
        QTRY_COMPARE_WITH_TIMEOUT(server.lines().value(5), QByteArray("SYN 5 0"), Patience);
        // Each CHG is answered with a SYN; a server that never reads them
        // would have them piling up in our memory.
        server.floodWithoutReading("CHG 9 NLN\r\n", qint64(256) << 20);
        QTRY_COMPARE_WITH_TIMEOUT(window.Label1(), QString("Connection lost"), 60000);
        QVERIFY(window.session->wsConnect()->bytesToWrite() == 0);
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
        Window window;
        window.startAt(dispatch);
        QTRY_COMPARE_WITH_TIMEOUT(window.Label1(), QString("Cannot connect"), Patience);
        QVERIFY(dispatch.connectionCount() <= 1 + NotificationDispatcher::MaxRedirects);
        QCOMPARE(window.session->wsConnect()->state(), QAbstractSocket::UnconnectedState);
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
        Window window;
        window.session->setSignInTimeout(Limit);
        window.startAt(redirect ? dispatch : notification);
        QTRY_COMPARE_WITH_TIMEOUT(window.Label1(), QString("Sign-in stalled"), Patience);
        QCOMPARE(window.session->wsConnect()->state(), QAbstractSocket::UnconnectedState);
    }

    // Lines a server may send unasked once we are online; a CHG after them
    // shows when they have been read.
    void unaskedLinesOnceOnline_data() {
        QTest::addColumn<QByteArray>("unasked");
        QTest::newRow("a challenge, then a refusal") << QByteArray("USR 5 MD5 S zzz\r\n911 5\r\n");
        QTest::newRow("a switchboard nobody asked for")
            << QByteArray("XFR 0 SB <switchboard> CKI ticket\r\n");
    }
    void unaskedLinesOnceOnline() {
        QFETCH(QByteArray, unasked);
        auto o = online();
        QTRY_COMPARE_WITH_TIMEOUT(o->notification.lines().value(5), QByteArray("SYN 4 0"), Patience);
        o->notification.send(unasked.replace("<switchboard>", o->switchboard.address().toLatin1()) +
                             "CHG 7 NLN\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(o->notification.lines().value(6), QByteArray("SYN 5 0"), Patience);
        QCOMPARE(o->notification.lines().size(), 7);
        QCOMPARE(o->window.label1, QStringList{"MSN (Online)"});
        QVERIFY(o->window.session->signedIn());
        QCOMPARE(o->switchboard.connectionCount(), 0);
    }
};

QTEST_GUILESS_MAIN(SessionTest)
#include "test_session.moc"
