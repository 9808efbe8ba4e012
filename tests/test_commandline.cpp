// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/ServiceSession.h"
#include "services/AccountStore.h"
#include "services/CommandLine.h"

#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QtTest>

// The program's command line, run for real where it matters that no window comes up.
class CommandLineTest : public QObject {
    Q_OBJECT

    QTemporaryDir home;

    // The program, copied into a folder of its own, so that the folder beside it is the test's.
    QString installedCopy() {
        const QString dir = home.path() + QStringLiteral("/bin");
        const QString copy = dir + QStringLiteral("/velmora");
        if (!QFileInfo::exists(copy)) {
            QDir().mkpath(dir);
            QFile::copy(QStringLiteral(VELMORA_PROGRAM), copy);
        }
        return copy;
    }
    struct Run {
        int exitCode = -1;
        QString out, err;
    };
    // From a terminal with no display at all: a window would end the run with an error.
    Run run(const QString& program, const QStringList& args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "VELMORA_DISPATCH_SERVER"})
            env.remove(QLatin1String(name));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.path() + QStringLiteral("/share"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
        p.setProcessEnvironment(env);
        p.start(program, args);
        Run r;
        if (!p.waitForFinished(30000)) {
            p.kill();
            p.waitForFinished();
            r.err = QStringLiteral("still running after 30 s");
            return r;
        }
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
        r.err += QString::fromLocal8Bit(p.readAllStandardError());
        return r;
    }

    // Which of the servers the session connects to.
    static QTcpServer* reached(const QList<QTcpServer*>& servers, const QString& commandLine) {
        ServiceSession session(nullptr, [commandLine] { return CommandLine::currentServer(commandLine).setting; });
        session.start();
        QTcpServer* hit = nullptr;
        (void)QTest::qWaitFor(
            [&] {
                for (QTcpServer* s : servers)
                    if (s->hasPendingConnections())
                        hit = s;
                return hit != nullptr;
            },
            10000);
        for (QTcpServer* s : servers)
            while (QTcpSocket* c = s->nextPendingConnection())
                c->deleteLater();
        return hit;
    }

private slots:
    void helpAndVersionNameTheContactFileInUseWithoutAWindow() {
        const QString program = installedCopy();
        const Run version = run(program, {QStringLiteral("--version")});
        QCOMPARE(version.exitCode, 0);
        QVERIFY2(version.out.startsWith("velmora 2.6\nLicense GPL-3.0-or-later"), qPrintable(version.out + version.err));
        // No data/ beside the program, as in a packaged install: the user's data folder.
        QVERIFY2(version.out.contains(home.path() + "/share/Velmora/data/database.dat"),
                 qPrintable(version.out));

        QVERIFY(QDir().mkpath(home.path() + QStringLiteral("/bin/data")));
        const Run help = run(program, {QStringLiteral("--help")});
        QCOMPARE(help.exitCode, 0);
        QVERIFY2(help.out.contains("--server <host[:port]>"), qPrintable(help.out + help.err));
        QVERIFY2(help.out.contains(home.path() + "/bin/data/database.dat"), qPrintable(help.out));
        QVERIFY(QDir(home.path() + QStringLiteral("/bin/data")).removeRecursively());
    }

    void aCommandLineItCannotUseIsRefused_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("said");
        QTest::newRow("no host") << QStringList{"--server", ":1863"} << "--server wants host[:port]";
        QTest::newRow("port out of range")
            << QStringList{"--server", "msn.example.net:70000"} << "--server wants host[:port]";
        QTest::newRow("unknown option") << QStringList{"--sever", "x"} << "Unknown option 'sever'";
        QTest::newRow("a stray word") << QStringList{"database.dat"} << "unexpected argument 'database.dat'";
    }
    void aCommandLineItCannotUseIsRefused() {
        QFETCH(QStringList, args);
        QFETCH(QString, said);
        const CommandLine::Options options = CommandLine::parse(QStringList{"velmora"} + args);
        QVERIFY2(options.error.contains(said), qPrintable(options.error));

        // The program says so and ends, before any window.
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(VELMORA_PROGRAM), args);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(QString::fromLocal8Bit(p.readAllStandardError()).contains(said));
    }

    void theServerComesFromTheCommandLineThenTheEnvironmentThenTheSettings() {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                           home.path() + QStringLiteral("/config"));
        QTcpServer fromCommandLine, fromEnvironment, fromSettings;
        const QList<QTcpServer*> all{&fromCommandLine, &fromEnvironment, &fromSettings};
        for (QTcpServer* s : all)
            QVERIFY(s->listen(QHostAddress::LocalHost));
        auto address = [](const QTcpServer& s) { return QStringLiteral("127.0.0.1:%1").arg(s.serverPort()); };
        AccountStore::save(QStringLiteral("Server"), address(fromSettings));
        qputenv("VELMORA_DISPATCH_SERVER", address(fromEnvironment).toLatin1());

        const CommandLine::Options options = CommandLine::parse(
            {QStringLiteral("velmora"), QStringLiteral("--server"), address(fromCommandLine)});
        QVERIFY(options.error.isEmpty());
        QCOMPARE(reached(all, options.server), &fromCommandLine);

        const QString none = CommandLine::parse({QStringLiteral("velmora")}).server;
        QCOMPARE(reached(all, none), &fromEnvironment);

        qunsetenv("VELMORA_DISPATCH_SERVER");
        QCOMPARE(reached(all, none), &fromSettings); // what a start from the desktop menu reaches
    }
};

QTEST_MAIN(CommandLineTest)
#include "test_commandline.moc"
