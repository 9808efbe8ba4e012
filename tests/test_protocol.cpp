// SPDX-License-Identifier: GPL-3.0-or-later
// The line protocol and the two reply tables, driven line by line without sockets.
#include "session/NotificationDispatcher.h"
#include "session/Protocol.h"
#include "session/ServiceSession.h"
#include "session/CheckExchange.h"

#include <QtTest>
#include <limits>

using Fields = QList<QByteArray>;
using Lines = QList<QByteArray>;
Q_DECLARE_METATYPE(std::optional<QByteArray>)
Q_DECLARE_METATYPE(CheckExchange::Standing)

namespace {

QString shown(const QByteArray& line) {
    QByteArray text = line;
    text.replace("\r\n", "");
    return QString::fromUtf8(text);
}

QString describe(ListChange change, const QString& contact) {
    return (change == ListChange::Add ? "add " : "remove ") + contact;
}

QStringList describe(const NotificationDispatcher::Actions& actions) {
    using D = NotificationDispatcher;
    QStringList out;
    for (const D::Action& action : actions) {
        if (const auto* send = std::get_if<D::Send>(&action)) {
            const bool wellFormed = send->line.endsWith("\r\n") && send->line.count('\n') == 1;
            out << (wellFormed ? "send " : "malformed ") + shown(send->line);
        } else if (const auto* to = std::get_if<D::Reconnect>(&action)) {
            out << QStringLiteral("reconnect %1:%2").arg(to->host).arg(to->port);
        } else if (std::holds_alternative<D::SignedIn>(action)) {
            out << "signed in";
        } else if (const auto* known = std::get_if<D::AllowListKnown>(&action)) {
            QStringList contacts = known->contacts.values();
            contacts.sort();
            out << "allow list: " + contacts.join(' ');
        } else if (const auto* sb = std::get_if<D::SwitchboardOffered>(&action)) {
            out << QStringLiteral("switchboard for %1 at %2:%3 %4")
                       .arg(sb->check)
                       .arg(sb->host)
                       .arg(sb->port)
                       .arg(QString::fromUtf8(sb->ticket));
        } else if (const auto* refusal = std::get_if<D::SwitchboardRefused>(&action)) {
            out << QStringLiteral("switchboard refused for %1").arg(refusal->check) + (refusal->busy ? " (busy)" : "");
        } else if (const auto* list = std::get_if<D::ListAnswer>(&action)) {
            out << describe(list->change, list->contact) + QStringLiteral(" for %1").arg(list->check) +
                       (list->error ? " refused " + QString::number(list->error) : QStringLiteral(" done"));
        } else if (const auto* failure = std::get_if<D::Failure>(&action)) {
            static const char* names[] = {"bad account", "sign-in refused",     "bad redirect", "too many redirects",
                                          "signed in elsewhere", "sent away"};
            out << names[static_cast<int>(*failure)];
        }
    }
    return out;
}

QStringList describe(const CheckExchange::Reply& reply) {
    static const char* outcomes[] = {"online",        "offline",       "no such user", "refused",
                                     "no answer",     "bad contact",   "not connected", "not signed in",
                                     "interrupted",   "cancelled",     "busy",         "status unknown"};
    QStringList out;
    if (reply.send)
        out << "send " + shown(*reply.send);
    if (reply.addToAllowList)
        out << "add to the allow list";
    if (reply.end)
        out << QString::fromLatin1(outcomes[static_cast<int>(*reply.end)]);
    return out;
}

// A dispatcher brought to a point of the sign-in by the service's own lines: "greeting" after
// the connect, "authenticating" after USR 3 MD5 I, "online" once the allow list is known (TrID 5).
// Lines in angle brackets are our requests: "<XFR SB 7>" for check 7, "<ADD bob>", "<REM bob>".
void drive(NotificationDispatcher& dispatcher, const QString& phase, const Lines& more = {}) {
    dispatcher.start();
    dispatcher.connected();
    const Lines toAuthenticating{"VER 1 MSNP5", "INF 2 MD5"};
    const Lines toOnline =
        toAuthenticating + Lines{"USR 3 OK me@example.com Me", "CHG 4 NLN 0", "SYN 5 1", "LST 5 FL 1 0 0",
                                 "LST 5 AL 1 0 0", "LST 5 BL 1 0 0", "LST 5 RL 1 0 0"};
    for (const QByteArray& line : phase == "greeting"         ? Lines{}
                                  : phase == "authenticating" ? toAuthenticating
                                                              : toOnline)
        dispatcher.line(line);
    for (const QByteArray& line : more) {
        if (line.startsWith("<XFR SB "))
            dispatcher.switchboardRequest(line.mid(8).chopped(1).toInt());
        else if (line.startsWith("<ADD ") || line.startsWith("<REM "))
            QVERIFY(
                dispatcher.allowListRequest(line.startsWith("<ADD") ? ListChange::Add : ListChange::Remove,
                                            QString::fromUtf8(line.mid(5).chopped(1)), 1));
        else if (line.startsWith("<release "))
            dispatcher.release(line.mid(9).chopped(1).toInt());
        else
            dispatcher.line(line);
    }
}

// Runs a transcript through the framer in the given pieces, skipping message
// bodies the way the session does.
Lines frame(const QList<QByteArray>& pieces) {
    LineFramer framer;
    Lines lines;
    for (const QByteArray& piece : pieces) {
        framer.append(piece);
        while (const auto line = framer.takeLine()) {
            if (const auto body = payloadLength(splitFields(*line)))
                framer.skipPayload(*body);
            lines << *line;
        }
    }
    return lines;
}

// Row names with line breaks spelled out, so the log stays one line a row.
const char* tag(const char* text) {
    static QByteArray spelled;
    spelled = QByteArray(text).replace("\r", "\\r").replace("\n", "\\n");
    if (spelled.isEmpty())
        spelled = "(empty)";
    return spelled.constData();
}

QList<QByteArray> pieces(const QByteArray& text, int size) {
    QList<QByteArray> out;
    for (qsizetype i = 0; i < text.size(); i += size)
        out << text.mid(i, size);
    return out;
}

} // namespace

class ProtocolTest : public QObject {
    Q_OBJECT

private slots:
    void fieldsAreCutAtEverySpace_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<Fields>("fields");
        QTest::newRow("plain") << QByteArray("XFR 4 SB") << Fields{"XFR", "4", "SB"};
        QTest::newRow("double space") << QByteArray("CAL  2") << Fields{"CAL", "", "2"};
        QTest::newRow("leading and trailing") << QByteArray(" USR ") << Fields{"", "USR", ""};
        QTest::newRow("empty") << QByteArray() << Fields{""};
        QTest::newRow("line end stays in its field")
            << QByteArray("INF 2 MD5\r\nCHG") << Fields{"INF", "2", "MD5\r\nCHG"};
    }
    void fieldsAreCutAtEverySpace() {
        QFETCH(QByteArray, text);
        QFETCH(Fields, fields);
        QCOMPARE(splitFields(text), fields);
    }

    void fieldUpToItsLineEnd_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("n");
        QTest::addColumn<std::optional<QByteArray>>("field");
        QTest::newRow("next line cut off")
            << QByteArray("USR 2 MD5 S 1013.69\r\nCHG 3") << 4 << std::optional<QByteArray>("1013.69");
        QTest::newRow("no line end") << QByteArray("XFR 4 SB h:1 CKI auth") << 5
                                     << std::optional<QByteArray>("auth");
        QTest::newRow("missing") << QByteArray("USR 2 MD5 S") << 4 << std::optional<QByteArray>();
    }
    void fieldUpToItsLineEnd() {
        QFETCH(QByteArray, text);
        QFETCH(int, n);
        QFETCH(std::optional<QByteArray>, field);
        QCOMPARE(fieldToLineEnd(splitFields(text), n), field);
    }

    void outgoingLinesRefuseFieldsThatWouldBreakThem_data() {
        QTest::addColumn<Fields>("fields");
        QTest::addColumn<std::optional<QByteArray>>("line");
        QTest::newRow("ordinary") << Fields{"USR", "3", "MD5", "I", "me@example.com"}
                                  << std::optional<QByteArray>("USR 3 MD5 I me@example.com\r\n");
        QTest::newRow("CR LF inside")
            << Fields{"CAL", "2", "bob@example.com\r\nOUT"} << std::optional<QByteArray>();
        QTest::newRow("bare LF") << Fields{"CAL", "2", "bob\n"} << std::optional<QByteArray>();
        QTest::newRow("bare CR") << Fields{"CAL", "2", "\rbob"} << std::optional<QByteArray>();
        QTest::newRow("space shifts fields")
            << Fields{"USR", "1", "me @x", "auth"} << std::optional<QByteArray>();
        QTest::newRow("empty field") << Fields{"USR", "1", "", "auth"} << std::optional<QByteArray>();
        // A server may cut at a TAB or stop at a NUL: no control character goes out.
        for (const char* control : {"bob\t@x", "bob\x01", "bob\x1f", "bob\x7f"})
            QTest::newRow(tag(control)) << Fields{"CAL", "2", control} << std::optional<QByteArray>();
        QTest::newRow("NUL") << Fields{"CAL", "2", QByteArray("bob\0x", 5)} << std::optional<QByteArray>();
        QTest::newRow("UTF-8 passes") << Fields{"CAL", "2", "j\xc3\xb6@x"}
                                      << std::optional<QByteArray>("CAL 2 j\xc3\xb6@x\r\n");
    }
    void outgoingLinesRefuseFieldsThatWouldBreakThem() {
        QFETCH(Fields, fields);
        QFETCH(std::optional<QByteArray>, line);
        QCOMPARE(buildLine(fields), line);
    }

    void md5HexGivesLowerCaseDigest_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("digest");
        // RFC 1321, appendix A.5
        QTest::newRow("empty") << ""
                               << "d41d8cd98f00b204e9800998ecf8427e";
        QTest::newRow("a") << "a"
                           << "0cc175b9c0f1b6a831c399e269772661";
        QTest::newRow("abc") << "abc"
                             << "900150983cd24fb0d6963f7d28e17f72";
        QTest::newRow("message digest") << "message digest"
                                        << "f96b697d7cb7938d525a2f31aaf161d0";
        QTest::newRow("alphabet") << "abcdefghijklmnopqrstuvwxyz"
                                  << "c3fcd3d76192e4007dfb496cca67e13b";
        QTest::newRow("alphanumeric") << "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                                      << "d174ab98d277d9f5a5611c2c9f419d9f";
        QTest::newRow("digits") << QString("1234567890").repeated(8) << "57edf4a22be3c955ac49da2e2107b67a";
        QTest::newRow("challenge and password") << "1013928519.693957190password"
                                                << "7f919fab309532df353c901430df36fa";
        QTest::newRow("non-ASCII as UTF-8")
            << QString::fromUtf8("1013928519.693957190P\xc3\xa5ss") << "4df2f447c76828fd8154f57e5c920955";
    }
    void md5HexGivesLowerCaseDigest() {
        QFETCH(QString, text);
        QFETCH(QString, digest);
        const QString before = text;
        QCOMPARE(MD5Hex(text), digest);
        QCOMPARE(text, before);
    }

    void framerYieldsEveryCompleteLineInOrder_data() {
        QTest::addColumn<QList<QByteArray>>("arrivals");
        QTest::addColumn<Lines>("lines");
        const QByteArray burst = "SYN 4 1\r\nGTC 4 1 A\r\nBLP 4 1 AL\r\nNLN NLN bob@example.com Bob\r\n";
        const Lines burstLines{"SYN 4 1", "GTC 4 1 A", "BLP 4 1 AL", "NLN NLN bob@example.com Bob"};
        QTest::newRow("one read") << QList<QByteArray>{burst} << burstLines;
        QTest::newRow("byte by byte") << pieces(burst, 1) << burstLines;
        QTest::newRow("seven at a time") << pieces(burst, 7) << burstLines;
        QTest::newRow("CR and LF apart") << QList<QByteArray>{"USR 2 MD5 S 1013.6\r", "\nCHG 3 NLN\r\n"}
                                         << Lines{"USR 2 MD5 S 1013.6", "CHG 3 NLN"};
        QTest::newRow("last line waits")
            << QList<QByteArray>{"VER 1 MSNP5\r\nINF 2 M", "D5"} << Lines{"VER 1 MSNP5"};
        QTest::newRow("lone CR and LF stay inside") << QList<QByteArray>{"a\rb\nc\r\n"} << Lines{"a\rb\nc"};
        QTest::newRow("empty line") << QList<QByteArray>{"\r\n\r\nX\r\n"} << Lines{"", "", "X"};
        const QByteArray message = "MSG Hotmail Hotmail 24\r\nXFR 9 NS 127.0.0.1:1 0\r\nCHG 3 NLN\r\n";
        QTest::newRow("message body skipped")
            << QList<QByteArray>{message} << Lines{"MSG Hotmail Hotmail 24", "CHG 3 NLN"};
        QTest::newRow("message body skipped across reads")
            << pieces(message, 3) << Lines{"MSG Hotmail Hotmail 24", "CHG 3 NLN"};
    }
    void framerYieldsEveryCompleteLineInOrder() {
        QFETCH(QList<QByteArray>, arrivals);
        QFETCH(Lines, lines);
        QCOMPARE(frame(arrivals), lines);
    }

    void framerDropsAnOverlongLineWhole() {
        QByteArray flood(LineFramer::MaxLineLength + 10, 'x');
        const Lines lines = frame({flood, flood, "tail\r\nCHG 3 NLN\r\n"});
        QCOMPARE(lines, Lines{"CHG 3 NLN"});

        LineFramer framer;
        framer.append(flood);
        QVERIFY(!framer.takeLine());
        QVERIFY(framer.pendingBytes() <= 1);
    }

    // No server is guessed: whatever listens where one was guessed would get the sign-in.
    void dispatchServerFromEnvironment_data() {
        QTest::addColumn<QByteArray>("setting"); // null: unset
        QTest::addColumn<QString>("host");       // empty: none
        QTest::addColumn<int>("port");
        QTest::newRow("unset") << QByteArray() << "" << 0;
        QTest::newRow("empty") << QByteArray("") << "" << 0;
        QTest::newRow("host only") << QByteArray("msn.example.net") << "msn.example.net" << 1863;
        QTest::newRow("host and port") << QByteArray("127.0.0.1:7001") << "127.0.0.1" << 7001;
        QTest::newRow("IPv6") << QByteArray("[::1]:7002") << "::1" << 7002;
        QTest::newRow("bad port") << QByteArray("127.0.0.1:http") << "" << 0;
        QTest::newRow("port too big") << QByteArray("127.0.0.1:65536") << "" << 0;
        QTest::newRow("second colon") << QByteArray("127.0.0.1:7004:1") << "" << 0;
        QTest::newRow("no host") << QByteArray(":7003") << "" << 0;
    }
    void dispatchServerFromEnvironment() {
        QFETCH(QByteArray, setting);
        QFETCH(QString, host);
        QFETCH(int, port);
        const QByteArray saved = qgetenv("VELMORA_DISPATCH_SERVER");
        if (setting.isNull())
            qunsetenv("VELMORA_DISPATCH_SERVER");
        else
            qputenv("VELMORA_DISPATCH_SERVER", setting);
        const auto server = ServiceSession(nullptr).dispatchServer();
        qputenv("VELMORA_DISPATCH_SERVER", saved);
        QCOMPARE(server.value_or(QPair<QString, quint16>()).first, host);
        QCOMPARE(int(server.value_or(QPair<QString, quint16>()).second), port);
    }

    void notificationTable_data() {
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("phase");
        QTest::addColumn<int>("trIdBefore");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<int>("trIdAfter");
        const QString me = "me@example.com";
        const int max = std::numeric_limits<qint32>::max();

        QTest::newRow("VER") << me << "greeting" << 1 << QByteArray("VER 1 MSNP5 MSNP4 CVR0")
                             << QStringList{"send INF 2"} << 2;
        QTest::newRow("INF") << me << "greeting" << 2 << QByteArray("INF 2 MD5")
                             << QStringList{"send USR 3 MD5 I " + me} << 3;
        QTest::newRow("XFR NS") << me << "authenticating" << 3 << QByteArray("XFR 3 NS 127.0.0.1:1864 0")
                                << QStringList{"reconnect 127.0.0.1:1864"} << 0;
        QTest::newRow("challenge") << me << "authenticating" << 3
                                   << QByteArray("USR 3 MD5 S 1013928519.693957190")
                                   << QStringList{"send USR 3 MD5 S 7f919fab309532df353c901430df36fa"} << 3;
        // Hashed as the bytes that came, not as their U+FFFD replacements.
        QTest::newRow("challenge that is not UTF-8")
            << me << "authenticating" << 3 << QByteArray("USR 3 MD5 S \xff\xfe\x80z")
            << QStringList{"send USR 3 MD5 S 67cbbe20fe1c33a07a08115c456e6c0f"} << 3;
        QTest::newRow("OK") << me << "authenticating" << 3 << QByteArray("USR 3 OK me@example.com Me")
                            << QStringList{"signed in", "send CHG 4 NLN"} << 4;
        // Read by field and number: neither is ours, so neither is hashed or taken.
        QTest::newRow("OK for another number") << me << "authenticating" << 3
                                               << QByteArray("USR 5 OK me@example.com Me") << QStringList{} << 3;
        QTest::newRow("OK as a later field")
            << me << "authenticating" << 3 << QByteArray("USR 3 MD5 S x USR 3 OK")
            << QStringList{"send USR 3 MD5 S 12735683dee9c7d59a54d30251bb29d0"} << 3;
        QTest::newRow("CHG with extra fields")
            << me << "online" << 5 << QByteArray("CHG 5 NLN 0") << QStringList{"send SYN 6 0"} << 6;
        QTest::newRow("non-ASCII account as UTF-8")
            << QString::fromUtf8("j\xc3\xb6@example.com") << "greeting" << 2 << QByteArray("INF 2 MD5")
            << QStringList{QString::fromUtf8("send USR 3 MD5 I j\xc3\xb6@example.com")} << 3;

        // Lines the table does not name, and error replies nobody waits for.
        for (const char* ignored :
             {"500 5", "LST 5 FL 1 1 1 bob@example.com Bob 0", "GTC 5 1 A", "BLP 5 1 AL",
              "ILN 3 NLN bob@example.com Bob", "NLN NLN bob@example.com Bob", "FLN bob@example.com",
              "SYN 5 1", "XFR 5 RL 127.0.0.1:1", "", "MSG Hotmail Hotmail 9", "ver 1 MSNP5",
              "ADD 0 RL 5 bob@example.com Bob", "ADD 5 AL 5 bob@example.com bob@example.com",
              "REM 5 AL 6 bob@example.com"})
            QTest::newRow(tag(ignored)) << me << "online" << 5 << QByteArray(ignored) << QStringList{} << 5;
        // The sign-in's lines once it is over, a switchboard nobody asked for, and a redirect
        // that no sign-in of ours asked for, which would throw a working session away.
        for (const char* stray : {"USR 5 MD5 S zzz", "USR 3 OK me@example.com Me", "VER 5 MSNP5", "INF 5 MD5",
                                  "XFR 0 SB 127.0.0.1:1865 CKI ticket", "XFR 3 NS 127.0.0.1:1864 0",
                                  "XFR 6 NS 127.0.0.1:1864 0"})
            QTest::newRow(tag(stray)) << me << "online" << 5 << QByteArray(stray) << QStringList{} << 5;
        QTest::newRow("CHG before the sign-in")
            << me << "authenticating" << 3 << QByteArray("CHG 3 NLN") << QStringList{} << 3;
        QTest::newRow("redirect for another number")
            << me << "authenticating" << 3 << QByteArray("XFR 2 NS 127.0.0.1:1864 0") << QStringList{} << 3;

        // Replies lacking what the table reads.
        for (const char* malformed : {"XFR", "XFR 3", "USR 3 MD5 S", "USR 3 MD5 S ", "USR", "USR 3"})
            QTest::newRow(tag(malformed))
                << me << "authenticating" << 3 << QByteArray(malformed) << QStringList{} << 3;
        for (const char* nowhere : {"XFR 3 NS", "XFR 3 NS 127.0.0.1", "XFR 3 NS 127.0.0.1:0",
                                    "XFR 3 NS 127.0.0.1:99999", "XFR 3 NS 127.0.0.1:abc", "XFR 3 NS :1864"})
            QTest::newRow(tag(nowhere))
                << me << "authenticating" << 3 << QByteArray(nowhere) << QStringList{"bad redirect"} << 3;

        for (const char* bad : {"me @example.com", "me@example.com\r\nOUT", "", "me@example.com\t",
                                "me\x7f@example.com"})
            QTest::newRow(qPrintable("account " + QString::fromLatin1(tag(bad))))
                << QString::fromLatin1(bad) << "greeting" << 2 << QByteArray("INF 2 MD5")
                << QStringList{"bad account"} << 2;

        QTest::newRow("VER at the limit wraps")
            << me << "greeting" << max << QByteArray("VER 0") << QStringList{"send INF 0"} << 0;
        QTest::newRow("INF at the limit wraps") << me << "greeting" << max << QByteArray("INF 0 MD5")
                                                << QStringList{"send USR 0 MD5 I " + me} << 0;
        QTest::newRow("CHG at the limit wraps")
            << me << "online" << max << QByteArray("CHG 1 NLN") << QStringList{"send SYN 0 0"} << 0;
    }
    void notificationTable() {
        QFETCH(QString, account);
        QFETCH(QString, phase);
        QFETCH(int, trIdBefore);
        QFETCH(QByteArray, line);
        QFETCH(QStringList, actions);
        QFETCH(int, trIdAfter);
        NotificationDispatcher dispatcher;
        dispatcher.setCredentials(account, QStringLiteral("password"));
        drive(dispatcher, phase);
        dispatcher.setTrID(trIdBefore);
        QCOMPARE(describe(dispatcher.line(line)), actions);
        QCOMPARE(dispatcher.TrID(), trIdAfter);
    }

    void connectedSendsVersionWithCurrentNumber() {
        NotificationDispatcher dispatcher;
        dispatcher.setCredentials("me@example.com", "password");
        dispatcher.start();
        QCOMPARE(describe(dispatcher.connected()), QStringList{"send VER 1 MSNP5 MSNP4 CVRO"});
        dispatcher.line("VER 1 MSNP5");
        dispatcher.line("INF 2 MD5");
        QCOMPARE(describe(dispatcher.line("XFR 3 NS 127.0.0.1:1864 0")),
                 QStringList{"reconnect 127.0.0.1:1864"});
        QCOMPARE(describe(dispatcher.connected()), QStringList{"send VER 0 MSNP5 MSNP4 CVRO"});
    }

    // Set before the hand-over, the sign-in waits after the greeting for the account.
    void signInWaitsForTheAccount() {
        NotificationDispatcher dispatcher;
        dispatcher.start();
        dispatcher.connected();
        dispatcher.line("VER 1 MSNP5");
        QCOMPARE(describe(dispatcher.line("INF 2 MD5")), QStringList{});
        QCOMPARE(describe(dispatcher.setCredentials("me@example.com", "password")),
                 QStringList{"send USR 3 MD5 I me@example.com"});
    }

    void redirectsAreLimited() {
        NotificationDispatcher dispatcher;
        dispatcher.setCredentials("me@example.com", "password");
        dispatcher.start();
        for (int i = 0; i <= NotificationDispatcher::MaxRedirects; ++i) {
            dispatcher.connected();
            dispatcher.line("VER 0 MSNP5");
            const QByteArray usr = describe(dispatcher.line("INF 1 MD5")).value(0).toLatin1();
            const QByteArray redirect = "XFR " + usr.split(' ').value(2) + " NS 127.0.0.1:1864 0";
            QCOMPARE(describe(dispatcher.line(redirect)),
                     QStringList{i < NotificationDispatcher::MaxRedirects ? "reconnect 127.0.0.1:1864"
                                                                          : "too many redirects"});
        }
    }

    void allowListFromTheSync_data() {
        QTest::addColumn<Lines>("sync");
        QTest::addColumn<QStringList>("actions");
        // The numbers come in either order (one server writes the length first, another the
        // entry's number), and the privacy setting before or after the lists.
        QTest::newRow("two entries, length first")
            << Lines{"SYN 5 3", "LST 5 FL 3 0 0", "LST 5 AL 3 2 1 Bob@Example.com Bob",
                     "LST 5 AL 3 2 2 carol@example.com Carol", "LST 5 BL 3 0 0", "LST 5 RL 3 0 0", "GTC 5 3 A",
                     "BLP 5 3 AL"}
            << QStringList{"allow list: Bob@Example.com carol@example.com"};
        QTest::newRow("two entries, number first, settings first")
            << Lines{"SYN 5 3", "GTC 5 3 A", "BLP 5 3 AL", "LST 5 FL 3 0 0", "LST 5 AL 3 1 2 bob@example.com Bob",
                     "LST 5 AL 3 2 2 carol@example.com Carol", "LST 5 BL 3 0 0",
                     "LST 5 RL 3 1 1 dave@example.com Dave"}
            << QStringList{"allow list: bob@example.com carol@example.com"};
        QTest::newRow("a list not finished")
            << Lines{"SYN 5 3", "GTC 5 3 A", "BLP 5 3 AL", "LST 5 FL 3 0 0", "LST 5 AL 3 1 2 bob@example.com Bob",
                     "LST 5 BL 3 0 0", "LST 5 RL 3 0 0"}
            << QStringList{};
        QTest::newRow("another number's list") << Lines{"SYN 5 3", "LST 5 FL 3 0 0", "LST 4 AL 3 0 0",
                                                        "LST 5 BL 3 0 0", "LST 5 RL 3 0 0"}
                                               << QStringList{};
    }
    void allowListFromTheSync() {
        QFETCH(Lines, sync);
        QFETCH(QStringList, actions);
        NotificationDispatcher dispatcher;
        dispatcher.setCredentials("me@example.com", "password");
        drive(dispatcher, "authenticating", {"USR 3 OK me@example.com Me", "CHG 4 NLN 0"});
        QStringList seen;
        for (const QByteArray& line : sync)
            seen += describe(dispatcher.line(line));
        QCOMPARE(seen, actions);
        QCOMPARE(dispatcher.ready(), !actions.isEmpty());
    }

    // What a "not online" is worth follows the lists as the sync gave them and as they change.
    void standingFollowsTheLists() {
        using S = NotificationDispatcher::Standing;
        NotificationDispatcher dispatcher;
        dispatcher.setCredentials("me@example.com", "password");
        drive(dispatcher, "authenticating",
              {"USR 3 OK me@example.com Me", "CHG 4 NLN", "SYN 5 1", "GTC 5 1 A", "BLP 5 1 AL",
               "LST 5 FL 1 1 2 bob@example.com Bob", "LST 5 FL 1 2 2 Ann@example.com Ann",
               "LST 5 AL 1 1 2 carol@example.com Carol", "LST 5 AL 1 2 2 ann@example.com Ann",
               "LST 5 BL 1 0 0", "LST 5 RL 1 1 1 dave@example.com Dave"});
        QVERIFY(dispatcher.ready());
        QCOMPARE(dispatcher.standing("BOB@example.com"), S::Forward);
        QCOMPARE(dispatcher.standing("ann@example.com"), S::Forward);
        QCOMPARE(dispatcher.standing("carol@example.com"), S::OtherList);
        QCOMPARE(dispatcher.standing("dave@example.com"), S::OtherList);
        QCOMPARE(dispatcher.standing("erin@example.com"), S::Unlisted);
        for (const char* line : {"ADD 0 RL 2 erin@example.com Erin", "REM 0 RL 3 dave@example.com",
                                 "REM 0 FL 4 bob@example.com", "ADD 0 FL 5 carol@example.com Carol"})
            dispatcher.line(line);
        QCOMPARE(dispatcher.standing("erin@example.com"), S::OtherList);
        QCOMPARE(dispatcher.standing("dave@example.com"), S::Unlisted);
        QCOMPARE(dispatcher.standing("bob@example.com"), S::Unlisted);
        QCOMPARE(dispatcher.standing("carol@example.com"), S::Forward);
        // Sent away: by a sign-in elsewhere, or for another reason.
        QCOMPARE(describe(dispatcher.line("OUT OTH")), QStringList{"signed in elsewhere"});
        drive(dispatcher, "online");
        QCOMPARE(describe(dispatcher.line("OUT SSD")), QStringList{"sent away"});
    }

    void repliesToOurRequests_data() {
        QTest::addColumn<QString>("phase");
        QTest::addColumn<Lines>("before");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("actions");
        const QByteArray bob = "bob@example.com";
        QTest::newRow("wrong password") << "authenticating" << Lines{"USR 3 MD5 S 1013928519.693957190"}
                                        << QByteArray("911 3") << QStringList{"sign-in refused"};
        QTest::newRow("account refused")
            << "authenticating" << Lines{} << QByteArray("911 3") << QStringList{"sign-in refused"};
        QTest::newRow("without number")
            << "authenticating" << Lines{} << QByteArray("911") << QStringList{"sign-in refused"};
        QTest::newRow("empty number") << "authenticating" << Lines{} << QByteArray("500 ")
                                      << QStringList{"sign-in refused"};
        QTest::newRow("other number") << "authenticating" << Lines{} << QByteArray("911 7") << QStringList{};
        QTest::newRow("no number there") << "authenticating" << Lines{} << QByteArray("911 x") << QStringList{};
        QTest::newRow("before sign-in") << "greeting" << Lines{} << QByteArray("500 1") << QStringList{};
        QTest::newRow("after sign-in") << "online" << Lines{} << QByteArray("911 3") << QStringList{};
        QTest::newRow("switchboard request")
            << "online" << Lines{"<XFR SB 7>"} << QByteArray("500 6") << QStringList{"switchboard refused for 7"};
        QTest::newRow("switchboard request, busy")
            << "online" << Lines{"<XFR SB 7>"} << QByteArray("800 6") << QStringList{"switchboard refused for 7 (busy)"};
        QTest::newRow("switchboard request answered")
            << "online" << Lines{"<XFR SB 7>"} << QByteArray("XFR 6 SB 127.0.0.1:1865 CKI 17262740.1050826919.32308")
            << QStringList{"switchboard for 7 at 127.0.0.1:1865 17262740.1050826919.32308"};
        QTest::newRow("two requests answered out of order")
            << "online" << Lines{"<XFR SB 7>", "<XFR SB 8>"} << QByteArray("XFR 7 SB 127.0.0.1:1865 CKI b")
            << QStringList{"switchboard for 8 at 127.0.0.1:1865 b"};
        QTest::newRow("switchboard answered once")
            << "online" << Lines{"<XFR SB 7>", "XFR 6 SB 127.0.0.1:1 CKI a"} << QByteArray("913 6") << QStringList{};
        QTest::newRow("switchboard answer without a ticket")
            << "online" << Lines{"<XFR SB 7>"} << QByteArray("XFR 6 SB 127.0.0.1:1865 CKI")
            << QStringList{"switchboard refused for 7"};
        QTest::newRow("switchboard of an ended check")
            << "online" << Lines{"<XFR SB 7>", "<release 7>"} << QByteArray("XFR 6 SB 127.0.0.1:1865 CKI a")
            << QStringList{};
        QTest::newRow("allow-list add")
            << "online" << Lines{"<ADD bob@example.com>"} << QByteArray("ADD 6 AL 12 " + bob + " " + bob)
            << QStringList{"add bob@example.com for 1 done"};
        QTest::newRow("allow-list add of no such account")
            << "online" << Lines{"<ADD bob@example.com>"} << QByteArray("207 6")
            << QStringList{"add bob@example.com for 1 refused 207"};
        QTest::newRow("allow-list add answered for the forward list")
            << "online" << Lines{"<ADD bob@example.com>"} << QByteArray("ADD 6 FL 12 " + bob + " " + bob)
            << QStringList{};
        QTest::newRow("allow-list add of an ended check")
            << "online" << Lines{"<ADD bob@example.com>", "<release 1>"} << QByteArray("ADD 6 AL 12 " + bob + " " + bob)
            << QStringList{"add bob@example.com for 0 done"};
        QTest::newRow("allow-list removal")
            << "online" << Lines{"<ADD bob@example.com>", "<REM bob@example.com>"}
            << QByteArray("REM 7 AL 13 " + bob) << QStringList{"remove bob@example.com for 1 done"};
        // An error without a number answers the oldest request still wanted: not the switchboard
        // request of a check that has ended.
        QTest::newRow("numberless error after a check ended")
            << "online" << Lines{"<XFR SB 7>", "<release 7>", "<ADD bob@example.com>"} << QByteArray("500 ")
            << QStringList{"add bob@example.com for 1 refused 500"};
    }
    void repliesToOurRequests() {
        QFETCH(QString, phase);
        QFETCH(Lines, before);
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, actions);
        NotificationDispatcher dispatcher;
        dispatcher.setCredentials("me@example.com", "password");
        drive(dispatcher, phase, before);
        const qint32 trId = dispatcher.TrID();
        QCOMPARE(describe(dispatcher.line(reply)), actions);
        QCOMPARE(dispatcher.TrID(), trId);
    }

    void everyRequestTakesANumberOfItsOwn() {
        NotificationDispatcher dispatcher;
        dispatcher.setCredentials("me@example.com", "password");
        drive(dispatcher, "online");
        QCOMPARE(dispatcher.switchboardRequest(1), QByteArray("XFR 6 SB\r\n"));
        QCOMPARE(dispatcher.allowListRequest(ListChange::Add, "bob@example.com", 1),
                 QByteArray("ADD 7 AL bob@example.com bob@example.com\r\n"));
        QCOMPARE(dispatcher.switchboardRequest(2), QByteArray("XFR 8 SB\r\n"));
        QCOMPARE(dispatcher.allowListRequest(ListChange::Remove, "bob@example.com", 0),
                 QByteArray("REM 9 AL bob@example.com\r\n"));
        QCOMPARE(dispatcher.allowListRequest(ListChange::Add, "bob\r\nOUT", 3), std::optional<QByteArray>());
        QCOMPARE(dispatcher.TrID(), 9);
    }

    void checkTable_data() {
        // The step the check of bob@example.com has reached.
        QTest::addColumn<QString>("step");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QStringList>("reply");
        QTest::newRow("signed on") << "signing on" << QByteArray("USR 1 OK me@example.com Me")
                                   << QStringList{"send CAL 2 bob@example.com"};
        // Nobody was asked about the contact.
        for (const char* notOk : {"911 1", "USR", "USR 2 OK me@example.com Me", "OUT", "500 1"})
            QTest::newRow(qPrintable(QStringLiteral("signing on, ") + tag(notOk)))
                << "signing on" << QByteArray(notOk) << QStringList{"refused"};
        QTest::newRow("RINGING") << "calling" << QByteArray("CAL 2 RINGING 11752013")
                                 << QStringList{"send OUT", "online"};
        QTest::newRow("listed but offline") << "calling" << QByteArray("217 2") << QStringList{"send OUT", "offline"};
        QTest::newRow("on none of our lists") << "calling" << QByteArray("205 2")
                                              << QStringList{"add to the allow list"};
        QTest::newRow("no such account") << "calling" << QByteArray("207 2")
                                         << QStringList{"send OUT", "no such user"};
        // Only a real answer to our call is an answer: anything else knows nothing of the contact.
        for (const char* other : {"CAL 2 BUSY 1", "CAL 2", "217 3", "217", "217 2 x", "500 2", "280 2",
                                  "OUT", "USR 1 OK me@example.com Me", "MSG bob Bob 2",
                                  "JOI bob@example.com Bob", "CAL 3 RINGING 1", ""})
            QTest::newRow(qPrintable(QStringLiteral("calling, ") + tag(other)))
                << "calling" << QByteArray(other) << QStringList{"refused"};
        // A busy server knows the contact as well as ever: ask again later, not "refused".
        for (const char* busy : {"713 2", "800 2", "911 2", "600 2"})
            QTest::newRow(qPrintable(QStringLiteral("calling, ") + tag(busy)))
                << "calling" << QByteArray(busy) << QStringList{"busy"};
        QTest::newRow("chatter while listing") << "listing" << QByteArray("JOI bob@example.com Bob")
                                               << QStringList{"refused"};
        QTest::newRow("RINGING on the second call")
            << "recalling" << QByteArray("CAL 3 RINGING 11752013") << QStringList{"send OUT", "online"};
        QTest::newRow("offline on the second call") << "recalling" << QByteArray("217 3")
                                                    << QStringList{"send OUT", "offline"};
        QTest::newRow("still on none of our lists") << "recalling" << QByteArray("205 3") << QStringList{"refused"};
        QTest::newRow("the first call's number") << "recalling" << QByteArray("CAL 2 RINGING 1")
                                                 << QStringList{"refused"};
    }
    void checkTable() {
        QFETCH(QString, step);
        QFETCH(QByteArray, line);
        QFETCH(QStringList, reply);
        constexpr auto Forward = CheckExchange::Standing::Forward;
        CheckExchange check("bob@example.com", "USR 1 me@example.com ticket\r\n");
        if (step != "signing on")
            QCOMPARE(describe(check.line("USR 1 OK me@example.com Me", Forward)),
                     QStringList{"send CAL 2 bob@example.com"});
        if (step == "listing" || step == "recalling")
            QCOMPARE(describe(check.line("205 2", Forward)), QStringList{"add to the allow list"});
        if (step == "recalling")
            QCOMPARE(describe(check.allowListAnswer(0)), QStringList{"send CAL 3 bob@example.com"});
        QCOMPARE(describe(check.line(line, Forward)), reply);
    }

    // "Not online" is worth what the server's entry for the contact is worth: one that follows
    // the contact, none at all (then the address may have no account), or a stale one.
    void notOnlineByStanding_data() {
        QTest::addColumn<CheckExchange::Standing>("standing");
        QTest::addColumn<int>("addAnswer"); // -1: no add asked
        QTest::addColumn<QStringList>("reply");
        using S = CheckExchange::Standing;
        QTest::newRow("forward list") << S::Forward << -1 << QStringList{"send OUT", "offline"};
        QTest::newRow("another list only") << S::OtherList << -1 << QStringList{"send OUT", "status unknown"};
        QTest::newRow("unlisted, the account exists") << S::Unlisted << 0 << QStringList{"send OUT", "offline"};
        QTest::newRow("unlisted, no account (205)") << S::Unlisted << 205 << QStringList{"no such user"};
        QTest::newRow("unlisted, no account (207)") << S::Unlisted << 207 << QStringList{"no such user"};
        QTest::newRow("unlisted, busy") << S::Unlisted << 800 << QStringList{"busy"};
        QTest::newRow("unlisted, on the list after all") << S::Unlisted << 215 << QStringList{"status unknown"};
    }
    void notOnlineByStanding() {
        QFETCH(CheckExchange::Standing, standing);
        QFETCH(int, addAnswer);
        QFETCH(QStringList, reply);
        CheckExchange check("bob@example.com", "USR 1 me@example.com ticket\r\n");
        check.line("USR 1 OK me@example.com Me", standing);
        const CheckExchange::Reply first = check.line("217 2", standing);
        if (addAnswer < 0) {
            QCOMPARE(describe(first), reply);
            return;
        }
        QCOMPARE(describe(first), QStringList{"add to the allow list"});
        QCOMPARE(describe(check.allowListAnswer(addAnswer)), reply);
    }

    void allowListAnswersToTheCheck_data() {
        QTest::addColumn<int>("error");
        QTest::addColumn<QStringList>("reply");
        QTest::newRow("added") << 0 << QStringList{"send CAL 3 bob@example.com"};
        QTest::newRow("no such account") << 207 << QStringList{"no such user"};
        QTest::newRow("refused") << 500 << QStringList{"refused"};
        QTest::newRow("busy") << 800 << QStringList{"busy"};
    }
    void allowListAnswersToTheCheck() {
        QFETCH(int, error);
        QFETCH(QStringList, reply);
        constexpr auto Forward = CheckExchange::Standing::Forward;
        CheckExchange check("bob@example.com", "USR 1 me@example.com ticket\r\n");
        check.line("USR 1 OK me@example.com Me", Forward);
        QCOMPARE(describe(check.line("205 2", Forward)), QStringList{"add to the allow list"});
        QCOMPARE(describe(check.allowListAnswer(error)), reply);
    }

    void switchboardSignOnLine_data() {
        QTest::addColumn<QString>("account");
        QTest::addColumn<QByteArray>("ticket");
        QTest::addColumn<std::optional<QByteArray>>("line");
        QTest::newRow("ordinary") << "me@example.com" << QByteArray("17262740.1050826919.32308")
                                  << std::optional<QByteArray>("USR 1 me@example.com 17262740.1050826919.32308\r\n");
        QTest::newRow("account with LF") << "me@example.com\nOUT" << QByteArray("a") << std::optional<QByteArray>();
        QTest::newRow("account with space") << "me @example.com" << QByteArray("a") << std::optional<QByteArray>();
        QTest::newRow("ticket with a TAB") << "me@example.com" << QByteArray("a\tb") << std::optional<QByteArray>();
        QTest::newRow("no ticket") << "me@example.com" << QByteArray() << std::optional<QByteArray>();
    }
    void switchboardSignOnLine() {
        QFETCH(QString, account);
        QFETCH(QByteArray, ticket);
        QFETCH(std::optional<QByteArray>, line);
        QCOMPARE(CheckExchange::signOnLine(account, ticket), line);
    }
};

QTEST_GUILESS_MAIN(ProtocolTest)
#include "test_protocol.moc"
