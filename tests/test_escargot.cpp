// The session against a real server of the service: Escargot on loopback, started by
// support/escargot_fixture.py from a copy of its source named by ESCARGOT_DIR.
#include "session/ServiceSession.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>
#include <cstdio>

namespace {
constexpr int Patience = 15000;

const char* Config = R"({
  "accounts": {"me@example.com": "second", "bob@example.com": "b", "carol@example.com": "c",
               "dave@example.com": "d", "erin@example.com": "e"},
  "lists": {"me@example.com": ["bob@example.com", "dave@example.com"]},
  "online": ["bob@example.com", "carol@example.com"]
})";
} // namespace

class EscargotTest : public QObject {
    Q_OBJECT

    QProcess fixture;
    std::unique_ptr<ServiceSession> session;
    QString selected;
    QStringList label1;

    QByteArray readLine(int timeoutMs) {
        QDeadlineTimer deadline(timeoutMs);
        while (!fixture.canReadLine() && !deadline.hasExpired())
            fixture.waitForReadyRead(int(deadline.remainingTime()));
        return fixture.readLine().trimmed();
    }
    QJsonDocument ask(const QByteArray& command) {
        fixture.write(command + "\n");
        return QJsonDocument::fromJson(readLine(Patience));
    }

private slots:
    void initTestCase() {
        fixture.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        fixture.start(QStringLiteral("/usr/bin/python3"),
                      {qEnvironmentVariable("VELMORA_SOURCE_DIR") +
                           QStringLiteral("/tests/support/escargot_fixture.py"),
                       QString::fromLatin1(Config)});
        const QByteArray ready = readLine(90000);
        QVERIFY2(ready == "READY", ready.constData());

        session = std::make_unique<ServiceSession>(ServiceSession::Host{
            [] { return QStringLiteral("me@example.com"); }, [] { return QStringLiteral("second"); },
            [this] { return std::optional<QString>(selected); }});
        connect(session.get(), &ServiceSession::label1Changed, this,
                [this](const QString& t) { label1 << t; });
        qputenv("VELMORA_DISPATCH_SERVER", "127.0.0.1:1863");
        session->start();
        QTRY_COMPARE_WITH_TIMEOUT(label1.value(label1.size() - 1), QString("MSN (Online)"), Patience);
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
        QTest::addColumn<QString>("text");
        QTest::newRow("listed, online") << "bob@example.com"
                                        << "Online";
        QTest::newRow("listed, offline") << "dave@example.com"
                                         << "Offline";
        QTest::newRow("on no list, online") << "carol@example.com"
                                            << "Online";
        QTest::newRow("on no list, offline") << "erin@example.com"
                                             << "Offline";
        QTest::newRow("no such account") << "nobody@example.com"
                                         << "No such user";
    }
    void statusChecks() {
        QFETCH(QString, contact);
        QFETCH(QString, text);
        selected = contact;
        label1.clear();
        session->startProbe(contact);
        QTRY_VERIFY_WITH_TIMEOUT(!label1.value(label1.size() - 1).isEmpty(), Patience);
        QCOMPARE(label1.last(), text);
    }

    // The check rang them and told them nothing else: no list of theirs changed.
    void contactsGotOnlyTheRing() {
        for (const char* contact : {"bob@example.com", "carol@example.com"}) {
            const QJsonDocument received = ask(QByteArray("RECEIVED ") + contact);
            QVERIFY2(received.isArray(), contact);
            QStringList lines;
            for (const QJsonValue& line : received.array())
                lines << line.toString();
            QVERIFY2(!lines.isEmpty(), contact);
            for (const QString& line : lines)
                QVERIFY2(line.startsWith(QLatin1String("RNG ")),
                         qPrintable(contact + QStringLiteral(": ") + line));
        }
    }

    void theAccountsListsAreAsTheyWere() {
        const QJsonObject lists = ask("LISTS me@example.com").object();
        for (auto it = lists.begin(); it != lists.end(); ++it)
            QVERIFY2(it.value().toInt() == 0 || it.key() == "bob@example.com" ||
                         it.key() == "dave@example.com",
                     qPrintable(it.key() + QStringLiteral(" stays listed")));
        QCOMPARE(lists.value("bob@example.com").toInt(), 1);
        QCOMPARE(lists.value("dave@example.com").toInt(), 1);
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
