// The line protocol and the two reply tables, driven line by line without sockets.
#include "session/NotificationDispatcher.h"
#include "session/Protocol.h"
#include "session/ServiceSession.h"
#include "session/StatusProbe.h"

#include <QtTest>
#include <limits>

using Fields = QList<QByteArray>;
using Lines = QList<QByteArray>;
Q_DECLARE_METATYPE(std::optional<QByteArray>)

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
        } else if (const auto* sb = std::get_if<D::SwitchboardStep>(&action)) {
            out << QStringLiteral("switchboard %1:%2 %3")
                       .arg(sb->host)
                       .arg(sb->port)
                       .arg(QString::fromUtf8(sb->auth));
        } else if (const auto* list = std::get_if<D::ListAnswer>(&action)) {
            out << describe(list->change, list->contact) +
                       (list->error ? " refused " + QString::number(list->error) : QStringLiteral(" done"));
        } else if (const auto* failure = std::get_if<D::Failure>(&action)) {
            static const char* names[] = {"bad account", "sign-in refused", "switchboard refused",
                                          "bad redirect", "too many redirects"};
            out << names[static_cast<int>(*failure)];
        }
    }
    return out;
}

QStringList describe(const StatusProbe::Actions& actions) {
    using P = StatusProbe;
    QStringList out;
    for (const P::Action& action : actions) {
        if (const auto* send = std::get_if<P::SendChat>(&action))
            out << "send " + shown(send->line);
        else if (const auto* to = std::get_if<P::ConnectChat>(&action))
            out << QStringLiteral("connect %1:%2").arg(to->host).arg(to->port);
        else if (std::holds_alternative<P::CloseChat>(action))
            out << "close";
        else if (std::holds_alternative<P::DropChat>(action))
            out << "drop";
        else if (const auto* list = std::get_if<P::ChangeList>(&action))
            out << describe(list->change, list->contact);
        else if (const auto* show = std::get_if<P::Show>(&action))
            out << QString::fromLatin1(show->text);
    }
    return out;
}

// A dispatcher brought to a point of the sign-in by the service's own lines.
// Lines in angle brackets are our requests: "<XFR SB>", "<ADD bob>", "<REM bob>".
void drive(NotificationDispatcher& dispatcher, const QString& phase, const Lines& more = {}) {
    dispatcher.start();
    dispatcher.connected();
    const Lines toAuthenticating{"VER 1 MSNP5", "INF 2 MD5"};
    const Lines toOnline = toAuthenticating + Lines{"USR 3 OK me@example.com Me"};
    for (const QByteArray& line : phase == "greeting"         ? Lines{}
                                  : phase == "authenticating" ? toAuthenticating
                                                              : toOnline)
        dispatcher.line(line);
    for (const QByteArray& line : more) {
        if (line == "<XFR SB>")
            dispatcher.switchboardRequest();
        else if (line.startsWith("<ADD ") || line.startsWith("<REM "))
            QVERIFY(
                dispatcher.allowListRequest(line.startsWith("<ADD") ? ListChange::Add : ListChange::Remove,
                                            QString::fromUtf8(line.mid(5).chopped(1))));
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

    void dispatchServerFromEnvironment_data() {
        QTest::addColumn<QByteArray>("setting"); // null: unset
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("unset") << QByteArray() << "127.0.0.1" << 1863;
        QTest::newRow("empty") << QByteArray("") << "127.0.0.1" << 1863;
        QTest::newRow("host only") << QByteArray("msn.example.net") << "msn.example.net" << 1863;
        QTest::newRow("host and port") << QByteArray("127.0.0.1:7001") << "127.0.0.1" << 7001;
        QTest::newRow("IPv6") << QByteArray("[::1]:7002") << "::1" << 7002;
        QTest::newRow("bad port keeps default") << QByteArray("127.0.0.1:http") << "127.0.0.1" << 1863;
        QTest::newRow("port too big keeps default") << QByteArray("127.0.0.1:65536") << "127.0.0.1" << 1863;
        QTest::newRow("second colon keeps default") << QByteArray("127.0.0.1:7004:1") << "127.0.0.1" << 1863;
        QTest::newRow("no host keeps default") << QByteArray(":7003") << "127.0.0.1" << 1863;
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
        const auto server = ServiceSession::dispatchServer();
        qputenv("VELMORA_DISPATCH_SERVER", saved);
        QCOMPARE(server.first, host);
        QCOMPARE(int(server.second), port);
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
        QTest::newRow("challenge") << me << "authenticating" << 2
                                   << QByteArray("USR 2 MD5 S 1013928519.693957190")
                                   << QStringList{"send USR 2 MD5 S 7f919fab309532df353c901430df36fa"} << 2;
        // Hashed as the bytes that came, not as their U+FFFD replacements.
        QTest::newRow("challenge that is not UTF-8")
            << me << "authenticating" << 2 << QByteArray("USR 2 MD5 S \xff\xfe\x80z")
            << QStringList{"send USR 2 MD5 S 67cbbe20fe1c33a07a08115c456e6c0f"} << 2;
        QTest::newRow("OK") << me << "authenticating" << 2 << QByteArray("USR 2 OK me@example.com Me")
                            << QStringList{"signed in", "send CHG 3 NLN"} << 3;
        QTest::newRow("OK for another number is a challenge")
            << me << "authenticating" << 2 << QByteArray("USR 5 OK me@example.com Me")
            << QStringList{"send USR 2 MD5 S a7a55ecd479ec8d52e1b42106f6f2162"} << 2;
        QTest::newRow("CHG with extra fields")
            << me << "online" << 3 << QByteArray("CHG 3 NLN 0") << QStringList{"send SYN 4 0"} << 4;
        QTest::newRow("non-ASCII account as UTF-8")
            << QString::fromUtf8("j\xc3\xb6@example.com") << "greeting" << 2 << QByteArray("INF 2 MD5")
            << QStringList{QString::fromUtf8("send USR 3 MD5 I j\xc3\xb6@example.com")} << 3;

        // Lines the table does not name, and error replies nobody waits for.
        for (const char* ignored :
             {"500 4", "LST 4 FL 1 1 1 bob@example.com Bob 0", "GTC 4 1 A", "BLP 4 1 AL",
              "ILN 3 NLN bob@example.com Bob", "NLN NLN bob@example.com Bob", "FLN bob@example.com",
              "SYN 4 1", "XFR 4 RL 127.0.0.1:1", "", "MSG Hotmail Hotmail 9", "ver 1 MSNP5",
              "ADD 0 RL 5 bob@example.com Bob", "ADD 4 AL 5 bob@example.com bob@example.com",
              "REM 4 AL 6 bob@example.com"})
            QTest::newRow(tag(ignored)) << me << "online" << 4 << QByteArray(ignored) << QStringList{} << 4;
        // The sign-in's lines once it is over, and a switchboard nobody asked for.
        for (const char* stray : {"USR 5 MD5 S zzz", "USR 4 OK me@example.com Me", "VER 4 MSNP5", "INF 4 MD5",
                                  "XFR 0 SB 127.0.0.1:1865 CKI ticket"})
            QTest::newRow(tag(stray)) << me << "online" << 4 << QByteArray(stray) << QStringList{} << 4;
        QTest::newRow("CHG before the sign-in")
            << me << "authenticating" << 3 << QByteArray("CHG 3 NLN") << QStringList{} << 3;

        // Replies lacking what the table reads.
        for (const char* malformed : {"XFR", "XFR 3", "USR 2 MD5 S", "USR 2 MD5 S ", "USR"})
            QTest::newRow(tag(malformed))
                << me << "authenticating" << 3 << QByteArray(malformed) << QStringList{} << 3;
        for (const char* nowhere : {"XFR 3 NS", "XFR 3 NS 127.0.0.1", "XFR 3 NS 127.0.0.1:0",
                                    "XFR 3 NS 127.0.0.1:99999", "XFR 3 NS 127.0.0.1:abc", "XFR 3 NS :1864"})
            QTest::newRow(tag(nowhere))
                << me << "authenticating" << 3 << QByteArray(nowhere) << QStringList{"bad redirect"} << 3;

        QTest::newRow("account with a space")
            << "me @example.com"
            << "greeting" << 2 << QByteArray("INF 2 MD5") << QStringList{"bad account"} << 2;
        QTest::newRow("account with CR LF")
            << "me@example.com\r\nOUT"
            << "greeting" << 2 << QByteArray("INF 2 MD5") << QStringList{"bad account"} << 2;
        QTest::newRow("empty account")
            << ""
            << "greeting" << 2 << QByteArray("INF 2 MD5") << QStringList{"bad account"} << 2;

        QTest::newRow("VER at the limit wraps")
            << me << "greeting" << max << QByteArray("VER 0") << QStringList{"send INF 0"} << 0;
        QTest::newRow("INF at the limit wraps") << me << "greeting" << max << QByteArray("INF 0 MD5")
                                                << QStringList{"send USR 0 MD5 I " + me} << 0;
        QTest::newRow("CHG at the limit wraps")
            << me << "online" << max << QByteArray("CHG 1 NLN") << QStringList{"send SYN 0 0"} << 0;
        QTest::newRow("OK at the limit wraps")
            << me << "authenticating" << max
            << QByteArray("USR " + QByteArray::number(max) + " OK me@example.com Me")
            << QStringList{"signed in", "send CHG 0 NLN"} << 0;
    }
    void notificationTable() {
        QFETCH(QString, account);
        QFETCH(QString, phase);
        QFETCH(int, trIdBefore);
        QFETCH(QByteArray, line);
        QFETCH(QStringList, actions);
        QFETCH(int, trIdAfter);
        NotificationDispatcher dispatcher([&] { return account; }, [] { return QStringLiteral("password"); });
        drive(dispatcher, phase);
        dispatcher.setTrID(trIdBefore);
        QCOMPARE(describe(dispatcher.line(line)), actions);
        QCOMPARE(dispatcher.TrID(), trIdAfter);
    }

    void connectedSendsVersionWithCurrentNumber() {
        NotificationDispatcher dispatcher([] { return QString(); }, [] { return QString(); });
        dispatcher.start();
        QCOMPARE(describe(dispatcher.connected()), QStringList{"send VER 1 MSNP5 MSNP4 CVRO"});
        QCOMPARE(describe(dispatcher.line("XFR 3 NS 127.0.0.1:1864 0")),
                 QStringList{"reconnect 127.0.0.1:1864"});
        QCOMPARE(describe(dispatcher.connected()), QStringList{"send VER 0 MSNP5 MSNP4 CVRO"});
    }

    void redirectsAreLimited() {
        NotificationDispatcher dispatcher([] { return QString(); }, [] { return QString(); });
        dispatcher.start();
        for (int i = 0; i < NotificationDispatcher::MaxRedirects; ++i) {
            dispatcher.connected();
            QCOMPARE(describe(dispatcher.line("XFR 3 NS 127.0.0.1:1864 0")),
                     QStringList{"reconnect 127.0.0.1:1864"});
        }
        dispatcher.connected();
        QCOMPARE(describe(dispatcher.line("XFR 3 NS 127.0.0.1:1864 0")), QStringList{"too many redirects"});
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
        QTest::newRow("other number") << "authenticating" << Lines{} << QByteArray("911 7") << QStringList{};
        QTest::newRow("before sign-in") << "greeting" << Lines{} << QByteArray("500 1") << QStringList{};
        QTest::newRow("after sign-in") << "online" << Lines{} << QByteArray("911 4") << QStringList{};
        QTest::newRow("stray challenge, then a refusal")
            << "online" << Lines{"USR 4 MD5 S zzz"} << QByteArray("911 4") << QStringList{};
        QTest::newRow("switchboard request")
            << "online" << Lines{"<XFR SB>"} << QByteArray("913 4") << QStringList{"switchboard refused"};
        QTest::newRow("switchboard request answered")
            << "online" << Lines{"<XFR SB>"}
            << QByteArray("XFR 4 SB 127.0.0.1:1865 CKI 17262740.1050826919.32308")
            << QStringList{"switchboard 127.0.0.1:1865 17262740.1050826919.32308"};
        QTest::newRow("switchboard answered once")
            << "online" << Lines{"<XFR SB>", "XFR 4 SB 127.0.0.1:1 CKI a"} << QByteArray("913 4")
            << QStringList{};
        QTest::newRow("switchboard answer without a ticket")
            << "online" << Lines{"<XFR SB>"} << QByteArray("XFR 4 SB 127.0.0.1:1865 CKI")
            << QStringList{"switchboard refused"};
        QTest::newRow("allow-list add")
            << "online" << Lines{"<ADD bob@example.com>"} << QByteArray("ADD 5 AL 12 " + bob + " " + bob)
            << QStringList{"add bob@example.com done"};
        QTest::newRow("allow-list add of no such account")
            << "online" << Lines{"<ADD bob@example.com>"} << QByteArray("207 5")
            << QStringList{"add bob@example.com refused 207"};
        QTest::newRow("allow-list add answered for the forward list")
            << "online" << Lines{"<ADD bob@example.com>"} << QByteArray("ADD 5 FL 12 " + bob + " " + bob)
            << QStringList{};
        QTest::newRow("allow-list removal")
            << "online" << Lines{"<ADD bob@example.com>", "<REM bob@example.com>"}
            << QByteArray("REM 6 AL 13 " + bob) << QStringList{"remove bob@example.com done"};
        // The request and the add it follows share a number: the service
        // answers in order, so the error is the older request's.
        QTest::newRow("switchboard request after an add")
            << "online" << Lines{"<ADD bob@example.com>", "<XFR SB>"} << QByteArray("500 5")
            << QStringList{"add bob@example.com refused 500"};
    }
    void repliesToOurRequests() {
        QFETCH(QString, phase);
        QFETCH(Lines, before);
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, actions);
        NotificationDispatcher dispatcher([] { return QStringLiteral("me@example.com"); },
                                          [] { return QStringLiteral("password"); });
        drive(dispatcher, phase, before);
        const qint32 trId = dispatcher.TrID();
        QCOMPARE(describe(dispatcher.line(reply)), actions);
        QCOMPARE(dispatcher.TrID(), trId);
    }

    void allowListRequestsTakeNewNumbers() {
        NotificationDispatcher dispatcher([] { return QStringLiteral("me@example.com"); },
                                          [] { return QStringLiteral("password"); });
        drive(dispatcher, "online");
        QCOMPARE(dispatcher.switchboardRequest(), QByteArray("XFR 4 SB\r\n"));
        QCOMPARE(dispatcher.allowListRequest(ListChange::Add, "bob@example.com"),
                 QByteArray("ADD 5 AL bob@example.com bob@example.com\r\n"));
        QCOMPARE(dispatcher.allowListRequest(ListChange::Remove, "bob@example.com"),
                 QByteArray("REM 6 AL bob@example.com\r\n"));
        QCOMPARE(dispatcher.allowListRequest(ListChange::Add, "bob\r\nOUT"), std::optional<QByteArray>());
        QCOMPARE(dispatcher.TrID(), 6);
    }

    void probeTable_data() {
        // The step the probe has reached, with bob@example.com asked for.
        QTest::addColumn<QString>("step");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<std::optional<QString>>("selected");
        QTest::addColumn<QStringList>("actions");
        const std::optional<QString> bob = QStringLiteral("bob@example.com");
        QTest::newRow("USR calls the selected contact")
            << "signing on" << QByteArray("USR 1 OK me@example.com Me")
            << std::optional<QString>("carol@example.com") << QStringList{"send CAL 2 carol@example.com"};
        QTest::newRow("any USR") << "signing on" << QByteArray("USR") << bob
                                 << QStringList{"send CAL 2 bob@example.com"};
        QTest::newRow("nothing selected calls the contact asked for")
            << "signing on" << QByteArray("USR 1 OK") << std::optional<QString>()
            << QStringList{"send CAL 2 bob@example.com"};
        QTest::newRow("line break in contact")
            << "signing on" << QByteArray("USR 1 OK") << std::optional<QString>("bob\r\nOUT")
            << QStringList{"drop", "Bad contact"};
        QTest::newRow("space in contact")
            << "signing on" << QByteArray("USR 1 OK") << std::optional<QString>("bob x")
            << QStringList{"drop", "Bad contact"};
        // Nobody was asked about the contact.
        QTest::newRow("error to the sign-in")
            << "signing on" << QByteArray("911 1") << bob << QStringList{"drop", "Check refused"};
        QTest::newRow("RINGING") << "calling" << QByteArray("CAL 2 RINGING 11752013") << bob
                                 << QStringList{"Online", "send OUT", "close"};
        QTest::newRow("other CAL") << "calling" << QByteArray("CAL 2 BUSY") << bob << QStringList{};
        QTest::newRow("CAL without field 2") << "calling" << QByteArray("CAL 2") << bob << QStringList{};
        QTest::newRow("listed but offline")
            << "calling" << QByteArray("217 2") << bob << QStringList{"Offline"};
        QTest::newRow("on none of our lists")
            << "calling" << QByteArray("205 2") << bob << QStringList{"add bob@example.com"};
        QTest::newRow("no such account")
            << "calling" << QByteArray("207 2") << bob << QStringList{"No such user"};
        QTest::newRow("anything else")
            << "calling" << QByteArray("JOI bob@example.com Bob") << bob << QStringList{"Offline"};
        QTest::newRow("empty line") << "calling" << QByteArray() << bob << QStringList{"Offline"};
        QTest::newRow("chatter while listing")
            << "listing" << QByteArray("JOI bob@example.com Bob") << bob << QStringList{};
        QTest::newRow("RINGING on the second call")
            << "recalling" << QByteArray("CAL 3 RINGING 11752013") << bob
            << QStringList{"Online", "send OUT", "close", "remove bob@example.com"};
        QTest::newRow("offline on the second call")
            << "recalling" << QByteArray("217 3") << bob << QStringList{"Offline", "remove bob@example.com"};
        QTest::newRow("still on none of our lists") << "recalling" << QByteArray("205 3") << bob
                                                    << QStringList{"Check refused", "remove bob@example.com"};
        QTest::newRow("after the answer") << "answered" << QByteArray("217 2") << bob << QStringList{};
    }
    void probeTable() {
        QFETCH(QString, step);
        QFETCH(QByteArray, line);
        QFETCH(std::optional<QString>, selected);
        QFETCH(QStringList, actions);
        std::optional<QString> now = QStringLiteral("bob@example.com");
        StatusProbe probe([] { return QStringLiteral("me@example.com"); }, [&] { return now; });
        probe.requested("bob@example.com");
        QCOMPARE(describe(probe.switchboardOffered("127.0.0.1", 1865, "ticket")),
                 (QStringList{"drop", "connect 127.0.0.1:1865"}));
        QCOMPARE(describe(probe.chatConnected()), QStringList{"send USR 1 me@example.com ticket"});
        if (step != "signing on")
            QCOMPARE(describe(probe.chatLine("USR 1 OK me@example.com Me")),
                     QStringList{"send CAL 2 bob@example.com"});
        if (step == "listing" || step == "recalling")
            QCOMPARE(describe(probe.chatLine("205 2")), QStringList{"add bob@example.com"});
        if (step == "recalling")
            QCOMPARE(describe(probe.listAnswer(ListChange::Add, "bob@example.com", 0)),
                     QStringList{"send CAL 3 bob@example.com"});
        if (step == "answered")
            QCOMPARE(describe(probe.chatLine("217 2")), QStringList{"Offline"});
        now = selected;
        QCOMPARE(describe(probe.chatLine(line)), actions);
    }

    void allowListAnswersToTheProbe_data() {
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("exchangeOver");
        QTest::addColumn<QStringList>("actions");
        QTest::newRow("added") << 0 << false << QStringList{"send CAL 3 bob@example.com"};
        QTest::newRow("no such account") << 207 << false << QStringList{"No such user"};
        QTest::newRow("refused") << 500 << false << QStringList{"Check refused"};
        QTest::newRow("not asked") << StatusProbe::NotAsked << false << QStringList{"Check refused"};
        // The contact must not stay on the list for a check that was given up.
        QTest::newRow("added after the check gave up") << 0 << true << QStringList{"remove bob@example.com"};
        QTest::newRow("refused after the check gave up") << 207 << true << QStringList{};
    }
    void allowListAnswersToTheProbe() {
        QFETCH(int, error);
        QFETCH(bool, exchangeOver);
        QFETCH(QStringList, actions);
        StatusProbe probe([] { return QStringLiteral("me@example.com"); },
                          [] { return std::optional<QString>("bob@example.com"); });
        probe.requested("bob@example.com");
        probe.switchboardOffered("127.0.0.1", 1865, "ticket");
        probe.chatConnected();
        probe.chatLine("USR 1 OK me@example.com Me");
        QCOMPARE(describe(probe.chatLine("205 2")), QStringList{"add bob@example.com"});
        if (exchangeOver)
            QCOMPARE(describe(probe.timedOut()), (QStringList{"drop", "No answer"}));
        QCOMPARE(describe(probe.listAnswer(ListChange::Add, "bob@example.com", error)), actions);
        QCOMPARE(probe.waiting(), error == 0 && !exchangeOver); // the second call
    }

    void switchboardSignInLine_data() {
        QTest::addColumn<QString>("account");
        QTest::addColumn<QByteArray>("auth");
        QTest::addColumn<std::optional<QByteArray>>("line");
        QTest::newRow("ordinary") << "me@example.com" << QByteArray("17262740.1050826919.32308")
                                  << std::optional<QByteArray>(
                                         "USR 1 me@example.com 17262740.1050826919.32308\r\n");
        QTest::newRow("account with LF")
            << "me@example.com\nOUT" << QByteArray("a") << std::optional<QByteArray>();
        QTest::newRow("account with space")
            << "me @example.com" << QByteArray("a") << std::optional<QByteArray>();
        QTest::newRow("no auth") << "me@example.com" << QByteArray() << std::optional<QByteArray>();
    }
    void switchboardSignInLine() {
        QFETCH(QString, account);
        QFETCH(QByteArray, auth);
        QFETCH(std::optional<QByteArray>, line);
        QCOMPARE(StatusProbe::signInLine(account, auth), line);
    }
};

QTEST_GUILESS_MAIN(ProtocolTest)
#include "test_protocol.moc"
