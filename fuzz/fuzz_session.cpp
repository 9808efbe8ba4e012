// The whole session as a sequence of events on both connections: server bytes
// in arbitrary reads, connects, hang-ups, time limits, checks started and
// stopped, a peer that reads or stops reading. Whatever happens, every line
// sent is one well-formed command of the kind the session may send, nothing
// is written to a connection that is not open, and what waits unsent stays
// bounded.
#include "fuzz/WireChecks.h"
#include "session/Protocol.h"
#include "session/SessionCore.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using Link = SessionCore::Link;
using Timer = SessionCore::Timer;

// What a socket and a timer do, as far as the session can tell.
class FakeIo : public SessionCore::Io {
public:
    // VELMORA_FUZZ_TRACE=1 prints what a replayed input makes the session do.
    const bool trace = std::getenv("VELMORA_FUZZ_TRACE") != nullptr;
    enum class State { Closed, Connecting, Connected, Closing };
    struct Wire {
        State state = State::Closed;
        qint64 unsent = 0;
    };
    static constexpr qint64 UnsentWeight = 64;
    std::array<Wire, 2> wires;
    std::array<bool, 3> timers{};
    qsizetype lines = 0;

    Wire& wire(Link link) { return wires[link == Link::Notification ? 0 : 1]; }

    void connectTo(Link link, const QString& host, quint16 port) override {
        require(!host.isEmpty() && port != 0);
        // A socket is closed before it connects anew.
        require(wire(link).state == State::Closed);
        wire(link) = {State::Connecting, 0};
    }
    qint64 write(Link link, const QByteArray& bytes) override {
        Wire& w = wire(link);
        require(w.state == State::Connected);
        // Before a write the queue was within bounds, or the session would
        // have left the connection.
        require(w.unsent <= SessionCore::MaxUnsentBytes);
        checkLine(bytes);
        checkCommand(link, bytes);
        if (trace)
            std::fprintf(stderr, "%s> %s", link == Link::Chat ? "chat" : "ns", bytes.constData());
        ++lines;
        // Each byte weighs as many, so a queue overflows after a few dozen
        // lines instead of thousands: the same path, at fuzzing speed.
        w.unsent += bytes.size() * UnsentWeight;
        return w.unsent;
    }
    void finish(Link link) override {
        Wire& w = wire(link);
        if (w.state != State::Closed)
            w.state = State::Closing;
    }
    void abort(Link link) override { wire(link) = {}; }
    void startTimer(Timer t) override { timers[static_cast<int>(t)] = true; }
    void stopTimer(Timer t) override { timers[static_cast<int>(t)] = false; }
    void showStatus(const QString& text) override {
        require(text.size() < 40);
        if (trace)
            std::fprintf(stderr, "status: %s\n", qPrintable(text));
    }
    void showProbed(const QString& text) override { require(text.endsWith(QLatin1String("'s Status: "))); }
    void stopTimer1() override {}

    static void checkCommand(Link link, const QByteArray& line) {
        const QList<QByteArray> f = splitFields(line.chopped(2));
        const QByteArray& c = f.first();
        if (link == Link::Chat) {
            require((c == "USR" && f.size() == 4 && f[1] == "1") || (c == "CAL" && f.size() == 3) ||
                    line == "OUT\r\n");
            require(c != "CAL" || f[1] == "2" || f[1] == "3");
            return;
        }
        require(c == "VER" || c == "INF" || c == "USR" || c == "CHG" || c == "SYN" || c == "XFR" ||
                c == "ADD" || c == "REM");
        require(isNumericField(f.value(1)));
        // Only the allow list, never a list that tells the contact.
        require((c != "ADD" && c != "REM") || f.value(2) == "AL");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const uint8_t shape = data[0];
    size_t at = 1;
    auto next = [&]() -> int { return at < size ? data[at++] : -1; };

    // Who we are and who is selected: proper addresses, ones that would
    // inject a command or shift the fields, or nobody.
    static const QString accounts[] = {QStringLiteral("me@example.com"),
                                       QStringLiteral("me@example.com\r\nOUT"),
                                       QStringLiteral("me @example.com"), QString()};
    static const std::optional<QString> contacts[] = {QStringLiteral("bob@example.com"),
                                                      QStringLiteral("carol@example.com"),
                                                      QStringLiteral("bob@example.com\r\nOUT"), std::nullopt};
    const QString account = accounts[shape & 0x03];
    std::optional<QString> selected = contacts[(shape >> 2) & 0x03];

    FakeIo io;
    SessionCore session(
        {[&] { return account; }, [] { return QStringLiteral("password"); }, [&] { return selected; }}, io);

    for (int op; (op = next()) >= 0;) {
        const Link link = op & 0x10 ? Link::Chat : Link::Notification;
        FakeIo::Wire& w = io.wire(link);
        switch (op & 0x0f) {
        case 0:
            session.start(QStringLiteral("127.0.0.1"), 1863);
            break;
        case 1: // the connect completes
            if (w.state == FakeIo::State::Connecting) {
                w.state = FakeIo::State::Connected;
                session.connected(link);
            }
            break;
        case 2: { // bytes arrive, one read
            const int n = next();
            if (n < 0 || w.state != FakeIo::State::Connected)
                break;
            const size_t length = std::min<size_t>(static_cast<size_t>(n) * 3, size - at);
            session.arrived(link, QByteArray(reinterpret_cast<const char*>(data + at), qsizetype(length)));
            at += length;
            break;
        }
        case 3: // refused, reset, or hung up
            if (w.state != FakeIo::State::Closed) {
                w = {};
                session.lost(link);
            }
            break;
        case 4:
        case 5:
        case 6: {
            const Timer t = static_cast<Timer>((op & 0x0f) - 4);
            if (io.timers[static_cast<int>(t)]) {
                io.timers[static_cast<int>(t)] = false;
                session.timedOut(t);
            }
            break;
        }
        case 7: {
            const std::optional<QString> asked = contacts[(op >> 5) & 0x03];
            session.startProbe(asked.value_or(QString()));
            break;
        }
        case 8:
            selected = contacts[(op >> 5) & 0x03];
            break;
        case 9: // the peer reads some of what waits
            w.unsent = std::max<qint64>(0, w.unsent - (qint64(next() & 0xff) << 8) * FakeIo::UnsentWeight);
            break;
        case 10:
            session.closeConnection();
            break;
        case 11: { // a burst: many lines in one read
            const int n = next();
            if (n < 0 || w.state != FakeIo::State::Connected)
                break;
            static const char* bursts[] = {"CHG 9 NLN\r\n", "VER 1 MSNP5\r\n", "USR 5 MD5 S zzz\r\n",
                                           "XFR 0 SB 127.0.0.1:1864 CKI t\r\n",
                                           "USR 1 OK me@example.com\r\n"};
            session.arrived(link, QByteArray(bursts[n % 5]).repeated(8 * (1 + (n >> 5))));
            break;
        }
        default: { // one line of the kind the session waits for, numbered by the next byte
            const int n = next();
            if (n < 0 || w.state != FakeIo::State::Connected)
                break;
            static const char* lines[] = {"VER %d MSNP5",
                                          "INF %d MD5",
                                          "USR %d MD5 S 1013928519.693957190",
                                          "USR %d OK me@example.com Me",
                                          "CHG %d NLN 0",
                                          "XFR %d SB 127.0.0.1:1865 CKI ticket",
                                          "XFR %d NS 127.0.0.1:1866 0",
                                          "ADD %d AL 9 bob@example.com bob@example.com",
                                          "REM %d AL 9 bob@example.com",
                                          "USR %d OK me@example.com Me",
                                          "CAL %d RINGING 11752013",
                                          "205 %d",
                                          "207 %d",
                                          "217 %d",
                                          "911 %d",
                                          "913 %d"};
            session.arrived(link, QString::asprintf(lines[n & 0x0f], n >> 4).toLatin1() + "\r\n");
            break;
        }
        }
        require(session.TrID() >= 0);
        for (const FakeIo::Wire& wire : io.wires)
            require(wire.state == FakeIo::State::Closed || wire.unsent <= SessionCore::MaxUnsentBytes);
    }
    return 0;
}
