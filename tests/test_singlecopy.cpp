// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/MainWindow.h"
#include "services/SingleCopy.h"
#include "tests/support/ShellHarness.h"

#include <QLockFile>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QScopeGuard>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

// Starts of the real program against one settings folder: only one copy may run.
class SingleCopyTest : public QObject {
    Q_OBJECT

    QTemporaryDir runtime;

    // A start of the program as from the desktop menu, with its settings under configHome.
    std::unique_ptr<QProcess> start(const QString& configHome, const QString& activationToken = {}) {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                   QStringLiteral("unix:path=") + runtime.path() + QStringLiteral("/no-bus"));
        env.remove(QStringLiteral("XDG_ACTIVATION_TOKEN"));
        if (!activationToken.isEmpty())
            env.insert(QStringLiteral("XDG_ACTIVATION_TOKEN"), activationToken);
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(QStringLiteral(VELMORA_PROGRAM), QStringList());
        return p;
    }
    static bool ended(QProcess& p) { return p.state() == QProcess::NotRunning; }
    static qint64 lockHolder(const QString& lockPath) {
        qint64 pid = 0;
        QString host, app;
        QLockFile(lockPath).getLockInfo(&pid, &host, &app);
        return pid;
    }

private slots:
    void initTestCase() {
        QVERIFY(runtime.isValid());
        // Before anything asks where the runtime folder is: the answer is kept.
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    }

    void aSecondStartBringsTheRunningWindowForwardAndEnds() {
        ShellHarness h; // settings under h.dir.path() + "/config"
        h.messenger->setStatus(Messenger::MISTATUS_OFFLINE);
        h.tray = true;
        SingleCopy running(SingleCopy::defaultLockPath());
        QCOMPARE(running.claim(), SingleCopy::Claim::First);
        connect(&running, &SingleCopy::comeForward, this, [&h](const QString& t) { h.program().bringForward(t); });
        QStringList tokens; // what the desktop gave each later start to take the focus with
        connect(&running, &SingleCopy::comeForward, this, [&](const QString& t) { tokens << t; });
        MainWindow* main = h.mainWindow(Layout::Full);
        main->show();
        main->mnuSysTray_Click(); // in the tray
        QVERIFY(!main->isVisible());

        auto second = start(h.dir.path() + QStringLiteral("/config"), QStringLiteral("launch-4711"));
        QTRY_VERIFY_WITH_TIMEOUT(ended(*second), 30000);
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(main->isVisible(), 15000);

        auto third = start(h.dir.path() + QStringLiteral("/config")); // given none
        QTRY_VERIFY_WITH_TIMEOUT(ended(*third), 30000);
        QCOMPARE(third->exitCode(), 0);
        QCOMPARE(tokens, QStringList({"launch-4711", ""}));
    }

    // With no runtime folder of the user's own, no socket goes where another user could take its
    // name first: the copy runs unguarded.
    void withoutARuntimeFolderNoSocketIsShared() {
        QTemporaryDir tmp;
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR"), tmpdir = qgetenv("TMPDIR");
        auto restore = qScopeGuard([&] {
            qputenv("XDG_RUNTIME_DIR", runtime);
            qputenv("TMPDIR", tmpdir);
        });
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", tmp.path().toLocal8Bit());
        // Qt's own fallback folder made unusable: a file where it would be.
        QFile blocker(tmp.filePath(QStringLiteral("runtime-") + QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name)));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        SingleCopy copy(tmp.filePath(QStringLiteral("config/velmora.lock")));
        QCOMPARE(copy.claim(), SingleCopy::Claim::Unguarded);
        QCOMPARE(QDir(tmp.path()).entryList({QStringLiteral("velmora-*")}, QDir::AllEntries | QDir::System),
                 QStringList());
    }

    void aKilledCopyNeverBlocksTheNextStart() {
        QTemporaryDir home;
        const QString config = home.path() + QStringLiteral("/config");
        const QString lock = config + QStringLiteral("/Tavlo/velmora.lock");
        const QString socket = SingleCopy::socketPathFor(lock);

        auto killed = start(config);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket) && lockHolder(lock) == killed->processId(), 30000);
        killed->kill();
        QTRY_VERIFY_WITH_TIMEOUT(ended(*killed), 30000);
        QVERIFY(QFileInfo::exists(lock)); // left behind, naming a process that is gone

        auto next = start(config);
        QTRY_VERIFY_WITH_TIMEOUT(lockHolder(lock) == next->processId() || ended(*next), 30000);
        QVERIFY(!ended(*next));

        // And it is the copy that a further start reaches.
        auto further = start(config);
        QTRY_VERIFY_WITH_TIMEOUT(ended(*further), 30000);
        QCOMPARE(further->exitCode(), 0);
        QVERIFY(!ended(*next));
        next->terminate();
        QTRY_VERIFY_WITH_TIMEOUT(ended(*next), 30000);
    }
};

QTEST_MAIN(SingleCopyTest)
#include "test_singlecopy.moc"
