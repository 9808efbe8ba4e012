// SPDX-License-Identifier: GPL-3.0-or-later
// How fast Velmora checks a whole list against a real server of the service, beside a minimal
// client that speaks the protocol straight over its sockets and does the same for every contact:
// a switchboard of its own, the call, and for a contact on none of the account's lists the
// allow-list add, the second call and the removal (on a server that answers "not online" for an
// unlisted address, the add that tells an offline account from none, and the removal). Both with
// the same number of switchboards at once; each against the server started afresh. Also checks
// that Velmora's results are right and that the account's lists are as they were. Either version
// of the server: the fixture tells them apart.
//
//   ESCARGOT_DIR=... ESCARGOT_SHIM=... velmora_bench_checkrate [contacts=1000] [at-once=4]
//
// Prints one line of key=value pairs.

#include "bench/BenchSupport.h"
#include "session/CheckDatabase.h"
#include "session/CheckResults.h"
#include "session/CheckService.h"
#include "session/Protocol.h"
#include "session/ServiceSession.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <deque>
#include <functional>
#include <map>

namespace {

// ReverseOnly: has the account on its own forward list; AllowOnly: on the account's allow list.
enum class Kind { OnlineUnlisted, OfflineUnlisted, OnlineListed, OfflineListed, ReverseOnly, AllowOnly, Unknown };

struct Contact {
    QString address;
    Kind kind;
};

// Some online on no list, some offline, some listed, some on another list only (online), the rest
// unknown addresses.
std::vector<Contact> contacts(int count) {
    std::vector<Contact> out;
    const std::pair<Kind, int> kinds[] = {{Kind::OnlineUnlisted, 40}, {Kind::OfflineUnlisted, 30},
                                          {Kind::OnlineListed, 15},   {Kind::OfflineListed, 15},
                                          {Kind::ReverseOnly, 10},    {Kind::AllowOnly, 10}};
    int n = 0;
    for (const auto& [kind, many] : kinds)
        for (int i = 0; i < many; ++i)
            out.push_back({QStringLiteral("a%1@example.com").arg(++n), kind});
    while (int(out.size()) < count)
        out.push_back({QStringLiteral("nobody%1@example.com").arg(++n), Kind::Unknown});
    return out;
}

QByteArray fixtureConfig(const std::vector<Contact>& list) {
    QJsonObject accounts{{"me@example.com", "second"}};
    QJsonObject lists;
    QJsonArray listed, allowed, online;
    for (const Contact& c : list) {
        if (c.kind == Kind::Unknown)
            continue;
        accounts.insert(c.address, "p");
        if (c.kind == Kind::OnlineListed || c.kind == Kind::OfflineListed)
            listed.append(c.address);
        if (c.kind == Kind::ReverseOnly)
            lists.insert(c.address, QJsonArray{"me@example.com"});
        if (c.kind == Kind::AllowOnly)
            allowed.append(c.address);
        if (c.kind != Kind::OfflineListed && c.kind != Kind::OfflineUnlisted)
            online.append(c.address);
    }
    lists.insert("me@example.com", listed);
    return QJsonDocument(QJsonObject{{"accounts", accounts},
                                     {"lists", lists},
                                     {"allow", QJsonObject{{"me@example.com", allowed}}},
                                     {"online", online}})
        .toJson(QJsonDocument::Compact);
}

// ---- the minimal client -------------------------------------------------------------------

// One notification connection; each check on a switchboard of its own, atOnce at a time.
class RawClient : public QObject {
public:
    RawClient(std::vector<QString> addresses, int atOnce) : m_todo(addresses.begin(), addresses.end()), m_atOnce(atOnce) {}

    // Signs in, checks every address, returns the seconds the checks took.
    double run() {
        connect(&m_ns, &QTcpSocket::readyRead, this, [this] { readNs(); });
        m_ns.connectToHost(QStringLiteral("127.0.0.1"), 1863);
        m_ns.waitForConnected(5000);
        send("VER %1 MSNP5 MSNP4 CVR0");
        QEventLoop loop;
        m_done = [&] { loop.quit(); };
        loop.exec();
        return (bench::nowMs() - m_started) / 1000.0;
    }

private:
    struct Check {
        QString address;
        QTcpSocket* sb = nullptr;
        QByteArray ticket;
        QByteArray lines;
        int call = 2;
        bool confirming = false; // the add asks whether there is such an account
    };

    void send(const char* format, const QByteArray& more = {}) {
        const QByteArray line = QByteArray(format).replace("%1", QByteArray::number(++m_trid)) + more + "\r\n";
        m_ns.write(line);
    }

    void readNs() {
        m_nsLines += m_ns.readAll();
        for (qsizetype end; (end = m_nsLines.indexOf("\r\n")) >= 0;) {
            const QList<QByteArray> f = m_nsLines.left(end).split(' ');
            m_nsLines.remove(0, end + 2);
            if (f[0] == "MSG") { // the welcome message's body
                m_nsLines.remove(0, f.last().toInt());
                continue;
            }
            nsLine(f);
        }
    }

    void nsLine(const QList<QByteArray>& f) {
        if (f[0] == "VER")
            send("INF %1");
        else if (f[0] == "INF")
            send("USR %1 MD5 I ", "me@example.com");
        else if (f[0] == "USR" && f.value(2) == "MD5")
            m_ns.write("USR " + f[1] + " MD5 S " + MD5HexOfBytes(f[4] + "second").toLatin1() + "\r\n");
        else if (f[0] == "USR" && f.value(2) == "OK")
            send("CHG %1 NLN");
        else if (f[0] == "CHG")
            send("SYN %1 0");
        else if (f[0] == "LST" || f[0] == "BLP")
            syncLine(f);
        else if (f[0] == "XFR")
            switchboard(f[1].toInt(), f[3], f[5]);
        else if (f[0] == "ADD")
            recall(f[1].toInt());
        else if ((f[0] == "207" || f[0] == "205") && m_adding.count(f[1].toInt())) // no such user, to the add
            finish(m_adding.at(f[1].toInt()));
    }

    // The lists, and the settings, in either server's order; the checks start once all are in.
    void syncLine(const QList<QByteArray>& f) {
        if (f[0] == "BLP")
            m_synced.insert("BLP");
        else if (f.size() > 5 && f[4] == f[5])
            m_synced.insert(f[2]);
        if (f[0] == "LST" && f.size() > 6)
            m_listed.insert(QString::fromUtf8(f[6]));
        if (m_synced.size() == 5 && m_started == 0) {
            m_started = bench::nowMs();
            startMore();
        }
    }

    void startMore() {
        while (int(m_checks.size()) < m_atOnce && !m_todo.empty()) {
            send("XFR %1 SB");
            m_checks[m_trid].address = m_todo.front();
            m_todo.pop_front();
        }
        if (m_checks.empty() && m_todo.empty())
            m_done();
    }

    void switchboard(int trid, const QByteArray& at, const QByteArray& ticket) {
        Check& c = m_checks[trid];
        c.ticket = ticket;
        c.sb = new QTcpSocket(this);
        connect(c.sb, &QTcpSocket::connected, this, [this, trid] {
            m_checks[trid].sb->write("USR 1 me@example.com " + m_checks[trid].ticket + "\r\n");
        });
        connect(c.sb, &QTcpSocket::readyRead, this, [this, trid] { sbLines(trid); });
        c.sb->connectToHost(QString::fromLatin1(at.split(':')[0]), at.split(':')[1].toUShort());
    }

    void sbLines(int trid) {
        Check& c = m_checks[trid];
        c.lines += c.sb->readAll();
        for (qsizetype end; (end = c.lines.indexOf("\r\n")) >= 0;) {
            const QList<QByteArray> f = c.lines.left(end).split(' ');
            c.lines.remove(0, end + 2);
            if (f[0] == "USR") {
                c.sb->write("CAL 2 " + c.address.toUtf8() + "\r\n");
            } else if ((f[0] == "205" || (f[0] == "217" && !m_listed.contains(c.address))) && c.call == 2) {
                send("ADD %1 AL ", c.address.toUtf8() + " " + c.address.toUtf8());
                m_adding[m_trid] = trid;
                c.confirming = f[0] == "217";
            } else if (f[0] == "CAL" || f[0] == "217" || f[0] == "207" || f[0] == "205") {
                if (c.call == 3)
                    send("REM %1 AL ", c.address.toUtf8());
                finish(trid);
                return;
            }
        }
    }

    void recall(int addTrid) {
        const auto it = m_adding.find(addTrid);
        if (it == m_adding.end())
            return;
        Check& c = m_checks[it->second];
        const int trid = it->second;
        m_adding.erase(it);
        if (c.confirming) { // there is such an account, and it is not online
            send("REM %1 AL ", c.address.toUtf8());
            finish(trid);
            return;
        }
        c.call = 3;
        c.sb->write("CAL 3 " + c.address.toUtf8() + "\r\n");
    }

    void finish(int trid) {
        Check c = m_checks[trid];
        m_checks.erase(trid);
        if (c.sb) {
            c.sb->write("OUT\r\n");
            c.sb->disconnectFromHost();
            c.sb->deleteLater();
        }
        startMore();
    }

    QTcpSocket m_ns;
    QByteArray m_nsLines;
    int m_trid = 0;
    std::deque<QString> m_todo;
    int m_atOnce;
    std::map<int, Check> m_checks;  // by the number of their switchboard request
    std::map<int, int> m_adding;    // add's number → its check
    QSet<QByteArray> m_synced;      // the lists given in full, and the settings
    QSet<QString> m_listed;         // on any of the account's lists
    double m_started = 0;
    std::function<void()> m_done;
};

// ---- Velmora --------------------------------------------------------------------------------

struct List : RunList {
    std::vector<Contact> contacts;
    qint32 rows() const override { return qint32(contacts.size()); }
    QString address(qint32 row) const override { return contacts[size_t(row)].address; }
    bool firstOfItsAddress(qint32) const override { return true; }
    qint64 addresses() const override { return qint64(contacts.size()); }
};

// What may stand for the contact: on another list only, a server may hold a stale status, so
// Velmora may not know; it may never say "offline".
bool right(Kind kind, ResultKind result) {
    switch (kind) {
    case Kind::OnlineUnlisted:
    case Kind::OnlineListed: return result == ResultKind::Online;
    case Kind::OfflineUnlisted:
    case Kind::OfflineListed: return result == ResultKind::Offline;
    case Kind::ReverseOnly:
    case Kind::AllowOnly: return result == ResultKind::Online || result == ResultKind::Uncertain;
    case Kind::Unknown: return result == ResultKind::NoSuchUser;
    }
    return false;
}

struct RunOutcome {
    double seconds;
    int wrong;
    int unknown; // "status unknown": right, but not known
};

// Signs in, runs the list unpaced; the seconds the run took and how many results were wrong.
RunOutcome velmora(const List& list, int atOnce) {
    QTemporaryDir dir;
    CheckDatabase database(dir.filePath(QStringLiteral("velmora.db")));
    ServiceSession session(&database);
    CheckResults results(&database);
    CheckService service(session);
    service.setResults(&results);
    service.setPace({0, atOnce});
    qputenv("VELMORA_DISPATCH_SERVER", "127.0.0.1:1863");
    session.setCredentials(QStringLiteral("me@example.com"), QStringLiteral("second"));
    QEventLoop loop;
    QObject::connect(&session, &CheckEngine::statusChanged, &loop, [&](const SessionStatus& s) {
        if (s.state == SessionState::SignedIn)
            loop.quit();
    });
    session.start();
    loop.exec();
    QEventLoop waitForSync;
    QTimer::singleShot(500, &waitForSync, &QEventLoop::quit); // the list sync after the sign-in
    waitForSync.exec();
    const double t0 = bench::nowMs();
    List copy = list;
    service.checkEveryone(copy);
    QObject::connect(&service, &CheckService::runChanged, &loop, [&](const RunProgress& p) {
        if (!p.going)
            loop.quit();
    });
    loop.exec();
    const double seconds = (bench::nowMs() - t0) / 1000.0;
    int wrong = 0;
    int unknown = 0;
    for (const Contact& c : list.contacts) {
        const auto r = results.find(c.address);
        wrong += !r || !right(c.kind, r->kind);
        unknown += r && r->kind == ResultKind::Uncertain;
    }
    return {seconds, wrong, unknown};
}

QByteArray readLine(QProcess& p, int ms) {
    QDeadlineTimer deadline(ms);
    while (!p.canReadLine() && !deadline.hasExpired())
        p.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
    return p.readLine().trimmed();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int atOnce = argc > 2 ? std::atoi(argv[2]) : 4;
    List list;
    list.contacts = contacts(count);

    QProcess fixture;
    fixture.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    fixture.start(QStringLiteral("/usr/bin/python3"),
                  {QStringLiteral(VELMORA_SOURCE_DIR "/tests/support/escargot_fixture.py"),
                   QString::fromUtf8(fixtureConfig(list.contacts))});
    const QByteArray ready = readLine(fixture, 300000);
    if (!ready.startsWith("READY ")) {
        std::fprintf(stderr, "the server did not start (ESCARGOT_DIR, ESCARGOT_SHIM?)\n");
        return 1;
    }
    std::vector<QString> addresses;
    for (const Contact& c : list.contacts)
        addresses.push_back(c.address);
    RawClient raw(addresses, atOnce);
    const double rawSeconds = raw.run();

    fixture.write("RESTART 0\n"); // afresh: the server keeps no trace of the first run's calls
    if (!readLine(fixture, 300000).startsWith("READY"))
        return 1;
    const auto [seconds, wrong, unknown] = velmora(list, atOnce);
    fixture.write("LISTS me@example.com\n");
    const QJsonObject lists = QJsonDocument::fromJson(readLine(fixture, 60000)).object();
    int changed = 0;
    for (const Contact& c : list.contacts) {
        const int bits = lists.value(c.address).toInt();
        const bool listed = c.kind == Kind::OnlineListed || c.kind == Kind::OfflineListed;
        changed += bits != (listed ? 1 : c.kind == Kind::ReverseOnly ? 8 : c.kind == Kind::AllowOnly ? 2 : 0);
    }
    std::printf("server=%s contacts=%d unknown=%d at_once=%d raw_per_s=%.1f velmora_per_s=%.1f ratio=%.2f wrong=%d lists_changed=%d\n",
                ready.mid(6).constData(), count, unknown, atOnce, count / rawSeconds, count / seconds, rawSeconds / seconds, wrong, changed);
    fixture.write("STOP\n");
    fixture.waitForFinished(30000);
    return wrong || changed ? 1 : 0;
}
