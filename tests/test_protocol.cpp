// The line protocol and the two reply tables, driven line by line without sockets.
#include "session/NotificationDispatcher.h"
#include "session/Protocol.h"
#include "session/ServiceSession.h"
#include "session/SwitchboardHandler.h"

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
        } else if (const auto* failure = std::get_if<D::Failure>(&action)) {
            static const char* names[] = {"bad account", "sign-in refused", "switchboard refused"};
            out << names[static_cast<int>(*failure)];
        }
    }
    return out;
}

QStringList describe(const SwitchboardHandler::Actions& actions) {
    using S = SwitchboardHandler;
    QStringList out;
    for (const S::Action& action : actions) {
        if (const auto* send = std::get_if<S::Send>(&action))
            out << "send " + shown(send->line);
        else if (const auto* result = std::get_if<S::Result>(&action))
            out << (*result == S::Result::Online ? "Online" : "Offline");
        else if (std::holds_alternative<S::Close>(action))
            out << "close";
        else if (std::holds_alternative<S::BadContact>(action))
            out << "bad contact";
    }
    return out;
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
        QTest::addColumn<int>("trIdBefore");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<int>("trIdAfter");
        const QString me = "me@example.com";
        const int max = std::numeric_limits<qint32>::max();

        QTest::newRow("VER") << me << 1 << QByteArray("VER 1 MSNP5 MSNP4 CVR0") << QStringList{"send INF 2"}
                             << 2;
        QTest::newRow("INF") << me << 2 << QByteArray("INF 2 MD5") << QStringList{"send USR 3 MD5 I " + me}
                             << 3;
        QTest::newRow("XFR NS") << me << 3 << QByteArray("XFR 3 NS 127.0.0.1:1864 0")
                                << QStringList{"reconnect 127.0.0.1:1864"} << 0;
        QTest::newRow("challenge") << me << 2 << QByteArray("USR 2 MD5 S 1013928519.693957190")
                                   << QStringList{"send USR 2 MD5 S 7f919fab309532df353c901430df36fa"} << 2;
        QTest::newRow("OK") << me << 2 << QByteArray("USR 2 OK me@example.com Me")
                            << QStringList{"signed in", "send CHG 3 NLN"} << 3;
        QTest::newRow("OK for another number is a challenge")
            << me << 2 << QByteArray("USR 5 OK me@example.com Me")
            << QStringList{"send USR 2 MD5 S a7a55ecd479ec8d52e1b42106f6f2162"} << 2;
        QTest::newRow("CHG with extra fields")
            << me << 3 << QByteArray("CHG 3 NLN 0") << QStringList{"send SYN 4 0"} << 4;
        QTest::newRow("XFR SB") << me << 4
                                << QByteArray("XFR 4 SB 127.0.0.1:1865 CKI 17262740.1050826919.32308")
                                << QStringList{"switchboard 127.0.0.1:1865 17262740.1050826919.32308"} << 4;
        QTest::newRow("non-ASCII account as UTF-8")
            << QString::fromUtf8("j\xc3\xb6@example.com") << 2 << QByteArray("INF 2 MD5")
            << QStringList{QString::fromUtf8("send USR 3 MD5 I j\xc3\xb6@example.com")} << 3;

        // Lines the table does not name, and error replies nobody waits for.
        for (const char* ignored :
             {"500 4", "LST 4 FL 1 1 1 bob@example.com Bob 0", "GTC 4 1 A", "BLP 4 1 AL",
              "ILN 3 NLN bob@example.com Bob", "NLN NLN bob@example.com Bob", "FLN bob@example.com",
              "SYN 4 1", "XFR 4 RL 127.0.0.1:1", "", "MSG Hotmail Hotmail 9", "ver 1 MSNP5"})
            QTest::newRow(tag(ignored)) << me << 4 << QByteArray(ignored) << QStringList{} << 4;

        // Replies lacking what the table reads.
        for (const char* malformed :
             {"XFR", "XFR 3", "XFR 3 NS", "XFR 3 NS 127.0.0.1", "XFR 3 NS 127.0.0.1:99999",
              "XFR 3 NS 127.0.0.1:abc", "XFR 3 NS :1864", "XFR 4 SB", "XFR 4 SB 127.0.0.1:1865",
              "XFR 4 SB 127.0.0.1:1865 CKI", "XFR 4 SB 127.0.0.1:1865 CKI ", "XFR 4 SB 127.0.0.1:x CKI auth",
              "XFR 4 SB 127.0.0.1:1865 CKI a\rb", "XFR 4 SB 127.0.0.1:1865 CKI a\nb", "USR 2 MD5 S",
              "USR 2 MD5 S ", "USR"})
            QTest::newRow(tag(malformed)) << me << 3 << QByteArray(malformed) << QStringList{} << 3;

        QTest::newRow("account with a space")
            << "me @example.com" << 2 << QByteArray("INF 2 MD5") << QStringList{"bad account"} << 2;
        QTest::newRow("account with CR LF")
            << "me@example.com\r\nOUT" << 2 << QByteArray("INF 2 MD5") << QStringList{"bad account"} << 2;
        QTest::newRow("empty account")
            << "" << 2 << QByteArray("INF 2 MD5") << QStringList{"bad account"} << 2;

        QTest::newRow("VER at the limit wraps")
            << me << max << QByteArray("VER 0") << QStringList{"send INF 0"} << 0;
        QTest::newRow("INF at the limit wraps")
            << me << max << QByteArray("INF 0 MD5") << QStringList{"send USR 0 MD5 I " + me} << 0;
        QTest::newRow("CHG at the limit wraps")
            << me << max << QByteArray("CHG 1 NLN") << QStringList{"send SYN 0 0"} << 0;
        QTest::newRow("OK at the limit wraps")
            << me << max << QByteArray("USR " + QByteArray::number(max) + " OK me@example.com Me")
            << QStringList{"signed in", "send CHG 0 NLN"} << 0;
    }
    void notificationTable() {
        QFETCH(QString, account);
        QFETCH(int, trIdBefore);
        QFETCH(QByteArray, line);
        QFETCH(QStringList, actions);
        QFETCH(int, trIdAfter);
        NotificationDispatcher dispatcher([&] { return account; }, [] { return QStringLiteral("password"); });
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

    void errorRepliesThatAnswerUs_data() {
        // "<XFR SB>" stands for a status probe's request.
        QTest::addColumn<Lines>("before");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("actions");
        const Lines signedIn{"VER 1", "INF 1 MD5", "USR 2 MD5 S 1013928519.693957190",
                             "USR 2 OK me@example.com Me", "CHG 3 NLN"};
        QTest::newRow("wrong password") << Lines{"VER 1", "INF 1 MD5", "USR 2 MD5 S 1013928519.693957190"}
                                        << QByteArray("911 2") << QStringList{"sign-in refused"};
        QTest::newRow("account refused")
            << Lines{"VER 1", "INF 1 MD5"} << QByteArray("911 2") << QStringList{"sign-in refused"};
        QTest::newRow("without number")
            << Lines{"VER 1", "INF 1 MD5"} << QByteArray("911") << QStringList{"sign-in refused"};
        QTest::newRow("other number") << Lines{"VER 1", "INF 1 MD5"} << QByteArray("911 7") << QStringList{};
        QTest::newRow("before sign-in") << Lines{"VER 1"} << QByteArray("500 1") << QStringList{};
        QTest::newRow("after sign-in") << signedIn << QByteArray("911 4") << QStringList{};
        QTest::newRow("switchboard request")
            << signedIn + Lines{"<XFR SB>"} << QByteArray("913 4") << QStringList{"switchboard refused"};
        QTest::newRow("switchboard request answered")
            << signedIn + Lines{"<XFR SB>", "XFR 4 SB 127.0.0.1:1 CKI a"} << QByteArray("913 4")
            << QStringList{};
    }
    void errorRepliesThatAnswerUs() {
        QFETCH(Lines, before);
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, actions);
        NotificationDispatcher dispatcher([] { return QStringLiteral("me@example.com"); },
                                          [] { return QStringLiteral("password"); });
        dispatcher.setTrID(0);
        for (const QByteArray& line : before) {
            if (line == "<XFR SB>")
                QCOMPARE(dispatcher.switchboardRequest(), QByteArray("XFR 4 SB\r\n"));
            else
                dispatcher.line(line);
        }
        const qint32 trId = dispatcher.TrID();
        QCOMPARE(describe(dispatcher.line(reply)), actions);
        QCOMPARE(dispatcher.TrID(), trId);
    }

    void switchboardTable_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<std::optional<QString>>("selected");
        QTest::addColumn<QStringList>("actions");
        const std::optional<QString> bob = QStringLiteral("bob@example.com");
        QTest::newRow("USR calls the selected contact")
            << QByteArray("USR 1 OK me@example.com Me") << bob << QStringList{"send CAL 2 bob@example.com"};
        QTest::newRow("any USR") << QByteArray("USR") << bob << QStringList{"send CAL 2 bob@example.com"};
        QTest::newRow("RINGING") << QByteArray("CAL 2 RINGING 11752013") << bob
                                 << QStringList{"Online", "send OUT", "close"};
        QTest::newRow("other CAL") << QByteArray("CAL 2 BUSY") << bob << QStringList{};
        QTest::newRow("CAL without field 2") << QByteArray("CAL 2") << bob << QStringList{};
        QTest::newRow("bare CAL") << QByteArray("CAL") << bob << QStringList{};
        QTest::newRow("error to the call") << QByteArray("217 2") << bob << QStringList{"Offline"};
        QTest::newRow("error to the sign-in") << QByteArray("911 1") << bob << QStringList{"Offline"};
        QTest::newRow("anything else")
            << QByteArray("JOI bob@example.com Bob") << bob << QStringList{"Offline"};
        QTest::newRow("empty line") << QByteArray() << bob << QStringList{"Offline"};
        QTest::newRow("nothing selected")
            << QByteArray("USR 1 OK") << std::optional<QString>() << QStringList{"bad contact"};
        QTest::newRow("line break in contact")
            << QByteArray("USR 1 OK") << std::optional<QString>("bob\r\nOUT") << QStringList{"bad contact"};
        QTest::newRow("space in contact")
            << QByteArray("USR 1 OK") << std::optional<QString>("bob x") << QStringList{"bad contact"};
    }
    void switchboardTable() {
        QFETCH(QByteArray, line);
        QFETCH(std::optional<QString>, selected);
        QFETCH(QStringList, actions);
        const SwitchboardHandler handler([&] { return selected; });
        QCOMPARE(describe(handler.line(line)), actions);
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
        QCOMPARE(SwitchboardHandler::signInLine(account, auth), line);
    }
};

QTEST_GUILESS_MAIN(ProtocolTest)
#include "test_protocol.moc"
