// SPDX-License-Identifier: GPL-3.0-or-later
// The whole session as a sequence of events on its connections: server bytes in arbitrary reads,
// connects, hang-ups, time limits, checks started and cancelled, a peer that reads or stops
// reading. Whatever happens, every line sent is one well-formed command of the kind the session
// may send, nothing is written to a connection that is not open, and what waits unsent stays
// bounded; no contact goes on the allow list without a journal entry; every answer reaches the
// check it belongs to and every check ends once; and after the last event every contact added
// has been asked to come off the list again or is still in the journal.
#include "fuzz/WireChecks.h"
#include "session/Protocol.h"
#include "session/SessionCore.h"
#include "tests/support/MemoryJournal.h"

#include <QSet>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

namespace {

using Timer = SessionCore::Timer;

class Harness : public SessionCore::Io, public SessionCore::Events {
public:
    // VELMORA_FUZZ_TRACE=1 prints what a replayed input makes the session do.
    const bool trace = std::getenv("VELMORA_FUZZ_TRACE") != nullptr;
    enum class State { Closed, Connecting, Connected, Closing };
    struct Wire {
        State state = State::Closed;
        qint64 unsent = 0;
        QSet<QByteArray> answers; // what arrived on it that would end a check
    };
    static constexpr qint64 UnsentWeight = 64;

    MemoryJournal journal;
    QString account = QStringLiteral("me@example.com");
    std::map<int, Wire> wires;
    std::set<std::pair<Timer, int>> timers;
    std::map<int, int> endings;             // check → how often it ended
    std::map<QString, bool> offAgain;       // contact → asked off the list since its last add

    Wire& wire(int link) { return wires[link]; }

    void connectTo(int link, const QString& host, quint16 port) override {
        require(!host.isEmpty() && port != 0);
        // A socket is closed before it connects anew.
        require(wire(link).state == State::Closed);
        wires[link] = {State::Connecting, 0, {}};
    }
    qint64 write(int link, const QByteArray& bytes) override {
        Wire& w = wire(link);
        require(w.state == State::Connected);
        // Before a write the queue was within bounds, or the session would have left the connection.
        require(w.unsent <= SessionCore::MaxUnsentBytes);
        checkLine(bytes);
        checkCommand(link, bytes);
        if (trace)
            std::fprintf(stderr, "%d> %s", link, bytes.constData());
        // Each byte weighs as many, so a queue overflows after a few dozen lines instead of
        // thousands: the same path, at fuzzing speed.
        w.unsent += bytes.size() * UnsentWeight;
        return w.unsent;
    }
    void finish(int link) override {
        Wire& w = wire(link);
        if (w.state != State::Closed)
            w.state = State::Closing;
    }
    void abort(int link) override { wires[link] = {}; }
    void startTimer(Timer t, int id, int ms) override {
        require(ms >= 0 && ms <= 5 * 60 * 1000);
        timers.insert({t, id});
    }
    void stopTimer(Timer t, int id) override { timers.erase({t, id}); }
    void onSessionChanged(const SessionStatus& status) override {
        if (trace)
            std::fprintf(stderr, "state %d problem %d\n", int(status.state), int(status.problem));
    }
    void onCheckEnded(int check, const QString&, Outcome outcome) override {
        if (trace)
            std::fprintf(stderr, "check %d ended: %d\n", check, int(outcome));
        require(check > 0 && ++endings[check] == 1);
        // An answer about the contact came on the check's own switchboard.
        const QSet<QByteArray>& answers = wire(check).answers;
        if (outcome == Outcome::Online)
            require(answers.contains("RINGING"));
        if (outcome == Outcome::Offline)
            require(answers.contains("217"));
        // An unknown address shows in a refused allow-list add too: one server says 205, another 207.
        const QSet<QByteArray>& listAnswers = wire(SessionCore::NotificationLink).answers;
        if (outcome == Outcome::NoSuchUser)
            require(answers.contains("207") || listAnswers.contains("207") || listAnswers.contains("205"));
    }

    void checkCommand(int link, const QByteArray& line) {
        const QList<QByteArray> f = splitFields(line.chopped(2));
        const QByteArray& c = f.first();
        if (link != SessionCore::NotificationLink) {
            require((c == "USR" && f.size() == 4 && f[1] == "1") ||
                    (c == "CAL" && f.size() == 3 && (f[1] == "2" || f[1] == "3")) || line == "OUT\r\n");
            return;
        }
        require(c == "VER" || c == "INF" || c == "USR" || c == "CHG" || c == "SYN" || c == "XFR" || c == "ADD" ||
                c == "REM");
        require(isNumericField(f.value(1)));
        // Only the allow list, never a list that tells the contact.
        require((c != "ADD" && c != "REM") || f.value(2) == "AL");
        const QString contact = QString::fromUtf8(f.value(3));
        if (c == "ADD") {
            // Written down before it goes out.
            require(journal.entries(account).contains(contact, Qt::CaseInsensitive));
            offAgain[contact.toLower()] = false;
        } else if (c == "REM") {
            offAgain[contact.toLower()] = true;
        }
    }

    // Remembers what a read holds that could end a check.
    void delivered(int link, const QByteArray& bytes) {
        for (const QByteArray& line : bytes.split('\n')) {
            const QList<QByteArray> f = splitFields(line.trimmed());
            if (f.value(0) == "CAL" && f.value(2) == "RINGING")
                wire(link).answers.insert("RINGING");
            else if (isNumericField(f.value(0)))
                wire(link).answers.insert(f.value(0));
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const uint8_t shape = data[0];
    size_t at = 1;
    auto next = [&]() -> int { return at < size ? data[at++] : -1; };

    static const QString accounts[] = {QStringLiteral("me@example.com"), QStringLiteral("me@example.com\r\nOUT"),
                                       QStringLiteral("me @example.com"), QString()};
    static const QString contacts[] = {QStringLiteral("bob@example.com"), QStringLiteral("carol@example.com"),
                                       QStringLiteral("bob@example.com\r\nOUT"), QStringLiteral("Bob@Example.com")};

    Harness io;
    io.account = accounts[shape & 0x03];
    if (shape & 0x04)
        io.journal.record(io.account, QStringLiteral("carol@example.com")); // left by an earlier run
    SessionCore session(io, io, &io.journal);
    session.seedRandom(shape);
    session.setCredentials(io.account, QStringLiteral("password"));
    int lastCheck = 0;

    for (int op; (op = next()) >= 0;) {
        // Chat operations go to the switchboard of one of the last four checks.
        const int link = op & 0x10 ? std::max(0, lastCheck - ((op >> 5) & 0x03)) : SessionCore::NotificationLink;
        Harness::Wire& w = io.wire(link);
        switch (op & 0x0f) {
        case 0:
            session.start(QStringLiteral("127.0.0.1"), 1863);
            break;
        case 1: // the connect completes
            if (w.state == Harness::State::Connecting) {
                w.state = Harness::State::Connected;
                session.connected(link);
            }
            break;
        case 2: { // bytes arrive, one read
            const int n = next();
            if (n < 0 || w.state != Harness::State::Connected)
                break;
            const size_t length = std::min<size_t>(static_cast<size_t>(n) * 3, size - at);
            const QByteArray bytes(reinterpret_cast<const char*>(data + at), qsizetype(length));
            io.delivered(link, bytes);
            session.arrived(link, bytes);
            at += length;
            break;
        }
        case 3: // refused, reset, or hung up
            if (w.state != Harness::State::Closed) {
                w = {};
                session.lost(link);
            }
            break;
        case 4:
        case 5:
        case 6:
        case 7: {
            const Timer t = static_cast<Timer>((op & 0x0f) - 4);
            const int id = t == Timer::Check ? link : 0;
            if (io.timers.erase({t, id}))
                session.timedOut(t, id);
            break;
        }
        case 8:
            session.check(++lastCheck, contacts[(op >> 5) & 0x03]);
            break;
        case 9: // the peer reads some of what waits
            w.unsent = std::max<qint64>(0, w.unsent - (qint64(next() & 0xff) << 8) * Harness::UnsentWeight);
            break;
        case 10:
            if (op & 0x10)
                session.cancel(link);
            else
                session.stop();
            break;
        case 11: { // a burst: many lines in one read
            const int n = next();
            if (n < 0 || w.state != Harness::State::Connected)
                break;
            static const char* bursts[] = {"CHG 9 NLN\r\n", "VER 1 MSNP5\r\n", "USR 5 MD5 S zzz\r\n",
                                           "XFR 0 SB 127.0.0.1:1864 CKI t\r\n", "USR 1 OK me@example.com\r\n"};
            const QByteArray bytes = QByteArray(bursts[n % 5]).repeated(8 * (1 + (n >> 5)));
            io.delivered(link, bytes);
            session.arrived(link, bytes);
            break;
        }
        default: { // one line of the kind the session waits for, numbered by the next byte
            const int n = next();
            if (n < 0 || w.state != Harness::State::Connected)
                break;
            static const char* lines[] = {"VER # MSNP5",
                                          "INF # MD5",
                                          "USR # MD5 S 1013928519.693957190",
                                          "USR # OK me@example.com Me",
                                          "CHG # NLN 0",
                                          "XFR # SB 127.0.0.1:1865 CKI ticket",
                                          "XFR # NS 127.0.0.1:1866 0",
                                          "ADD # AL 9 bob@example.com bob@example.com",
                                          "REM # AL 9 bob@example.com",
                                          "LST # AL 9 1 1 carol@example.com Carol",
                                          "CAL # RINGING 11752013",
                                          "205 #",
                                          "207 #",
                                          "217 #",
                                          "ADD # AL 9 carol@example.com carol@example.com",
                                          "LST # FL 9 0 0\r\nLST # BL 9 0 0\r\nLST # RL 9 0 0"};
            const QByteArray bytes = QByteArray(lines[n & 0x0f]).replace("#", QByteArray::number(n >> 4)) + "\r\n";
            io.delivered(link, bytes);
            session.arrived(link, bytes);
            break;
        }
        }
        require(session.TrID() >= 0);
        for (const auto& [id, wire] : io.wires)
            require(wire.state == Harness::State::Closed || wire.unsent <= SessionCore::MaxUnsentBytes);
    }
    session.stop();
    // Every check ended, once.
    for (int id = 1; id <= lastCheck; ++id)
        require(io.endings[id] == 1);
    require(session.checksUnderWay() == 0);
    // Nothing of ours stays on the allow list unknown to the journal.
    for (const auto& [contact, off] : io.offAgain)
        require(off || io.journal.entries(io.account).contains(contact, Qt::CaseInsensitive));
    return 0;
}
