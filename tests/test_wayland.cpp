// SPDX-License-Identifier: GPL-3.0-or-later
// The program under a real Wayland compositor: a headless weston of its own, on a private socket
// in a private runtime folder, which goes when the test does. Skipped where weston or Qt's Wayland
// plugin is missing. Weston's debug stream shows what it has on screen.
#include "shell/MainWindow.h"
#include "shell/SignInWindow.h"
#include "shell/Startup.h"
#include "tests/support/ShellHarness.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>

namespace {
constexpr int Patience = 20000; // the sanitizer build starts a copy of the program in seconds

// A weston that ends with this process, however it ends.
class Weston {
public:
    bool start(const QString& program, QString* why) {
        if (!dir.isValid()) {
            *why = QStringLiteral("no temporary folder");
            return false;
        }
        socket = QStringLiteral("velmora-test-%1").arg(QCoreApplication::applicationPid());
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardOutputFile(log());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("DISPLAY"));
        process.setProcessEnvironment(env);
        process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        // --debug lets weston-debug read the scene graph; --no-config keeps a user's weston.ini out.
        process.start(program, {QStringLiteral("--backend=headless-backend.so"),
                                QStringLiteral("--socket=") + socket, QStringLiteral("--no-config"),
                                QStringLiteral("--idle-time=0"), QStringLiteral("--debug")});
        if (!process.waitForStarted(Patience)) {
            *why = process.errorString();
            return false;
        }
        QDeadlineTimer deadline(Patience);
        while (!QFileInfo::exists(dir.filePath(socket))) {
            if (deadline.hasExpired() || process.waitForFinished(50)) {
                *why = QStringLiteral("weston did not come up");
                return false;
            }
        }
        return true;
    }
    ~Weston() {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(10000))
            process.kill();
        process.waitForFinished(5000);
    }
    QString log() const { return dir.filePath(QStringLiteral("weston.log")); }

    QTemporaryDir dir; // made readable by its owner only, as Wayland wants its runtime folder
    QString socket;
    QProcess process;
};

struct Mapped {
    qint64 pid;
    QString title;
    bool operator==(const Mapped&) const = default;
};

// The top-level windows weston has on screen, by process and title.
QList<Mapped> mappedWindows() {
    QProcess debug;
    debug.start(QStringLiteral("weston-debug"), {QStringLiteral("scene-graph")});
    if (!debug.waitForFinished(Patience))
        debug.kill();
    static const QRegularExpression view(
        QStringLiteral("role xdg_toplevel, PID (\\d+),.* top-level window '([^']*)'"));
    QList<Mapped> out;
    for (const QString& line : QString::fromUtf8(debug.readAllStandardOutput()).split(QLatin1Char('\n')))
        if (const QRegularExpressionMatch m = view.match(line); m.hasMatch())
            out << Mapped{m.captured(1).toLongLong(), m.captured(2)};
    return out;
}

bool onScreen(qint64 pid, const QString& title) {
    return mappedWindows().contains(Mapped{pid, title});
}
bool onScreen(const QString& title) {
    return onScreen(QCoreApplication::applicationPid(), title);
}

} // namespace

class WaylandTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(QGuiApplication::platformName(), QString("wayland")); }

    void signingInShowsTheMainWindow_data() {
        QTest::addColumn<double>("screenTwips");
        QTest::addColumn<QString>("form");
        QTest::newRow("full layout") << 15360.0 << "frmMain";
        QTest::newRow("compact layout") << 800.0 << "frmMain2";
    }
    void signingInShowsTheMainWindow() {
        QFETCH(double, screenTwips);
        QFETCH(QString, form);
        ShellHarness h;
        h.screenTwips = screenTwips;
        h.messenger->setStatus(Messenger::MISTATUS_OFFLINE);
        QPointer<SignInWindow> signIn = new SignInWindow(h.parts());
        signIn->show();
        QVERIFY(QTest::qWaitForWindowExposed(signIn));
        QTRY_VERIFY_WITH_TIMEOUT(onScreen("Please Sign In"), Patience);

        signIn->findChild<QLineEdit*>("Text1")->setText("second@example.com");
        signIn->findChild<QLineEdit*>("Text2")->setText("secret");
        QTest::mouseClick(signIn->findChild<QPushButton*>("Command1"), Qt::LeftButton);
        MainWindow* main = h.existingMainWindow();
        QVERIFY(main);
        QCOMPARE(main->objectName(), form);
        QVERIFY(QTest::qWaitForWindowExposed(main));
        QTRY_VERIFY(!signIn); // closed and gone
        QTRY_VERIFY_WITH_TIMEOUT(onScreen("Velmora") && !onScreen("Please Sign In"), Patience);
    }

    void menusOpenAndTheContactMenuOpensAtTheClick() {
        ShellHarness h;
        h.messenger->setStatus(Messenger::MISTATUS_OFFLINE);
        MainWindow* w = h.mainWindow(Layout::Full);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));

        auto* file = w->findChild<QMenu*>("mnuFile");
        QMenuBar* bar = w->menuBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(file->menuAction()).center());
        QTRY_VERIFY(file->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(file));
        file->hide();

        auto* contact = w->findChild<QMenu*>(QLatin1String(mainLayout(Layout::Full).contactMenuName));
        QWidget* list = w->findChild<QAbstractItemView*>("lvEmail")->viewport();
        QTest::mouseClick(list, Qt::LeftButton, {}, QPoint(20, 40));
        QTRY_VERIFY_WITH_TIMEOUT(contact->isVisible(), 3000);
        QVERIFY(QTest::qWaitForWindowExposed(contact));
        QCOMPARE(contact->pos(), list->mapToGlobal(QPoint(20, 40)));
        contact->hide();
    }

    void aMessageBoxShowsOnScreenAndCloses() {
        ShellHarness h;
        Dialogs::setResponder({}); // a real box, not an answer from the harness
        SignInWindow signIn(h.parts());
        signIn.show();
        QVERIFY(QTest::qWaitForWindowExposed(&signIn));

        QString text;
        bool exposed = false, shown = false;
        QTimer user;
        connect(&user, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            user.stop();
            text = box->text();
            exposed = QTest::qWaitForWindowExposed(box);
            QDeadlineTimer deadline(Patience);
            while (!(shown = onScreen(box->windowTitle())) && !deadline.hasExpired())
                QTest::qWait(50);
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        });
        user.start(20);
        QTimer giveUp; // never hang on a box that nobody could click
        giveUp.setSingleShot(true);
        connect(&giveUp, &QTimer::timeout, this, [] {
            if (QWidget* box = QApplication::activeModalWidget())
                box->close();
        });
        giveUp.start(Patience * 2);
        signIn.Command1_Click(); // with no address: asks for one, and returns once the box is closed
        QCOMPARE(text, QString("Please Enter an Email Address"));
        QVERIFY(exposed);
        QVERIFY(shown);
        QVERIFY(!QApplication::activeModalWidget());
        QTRY_VERIFY_WITH_TIMEOUT(!onScreen("Please Enter..."), Patience);
    }

    // Two starts of the real program: the later one hands over to the running one and ends.
    void aSecondStartHandsOverToTheFirst() {
        QTemporaryDir home;
        auto start = [&](const QString& activationToken) {
            auto p = std::make_unique<QProcess>();
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
            env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=") + home.filePath(QStringLiteral("no-bus")));
            env.remove(QStringLiteral("XDG_ACTIVATION_TOKEN"));
            if (!activationToken.isEmpty())
                env.insert(QStringLiteral("XDG_ACTIVATION_TOKEN"), activationToken);
            p->setProcessEnvironment(env);
            p->setProcessChannelMode(QProcess::ForwardedChannels);
            p->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
            p->start(QStringLiteral(VELMORA_PROGRAM), QStringList());
            return p;
        };
        auto first = start({});
        QVERIFY(first->waitForStarted(Patience));
        QTRY_VERIFY_WITH_TIMEOUT(onScreen(first->processId(), "Please Sign In"), Patience);

        auto second = start(QStringLiteral("from-the-launcher"));
        QVERIFY(second->waitForFinished(Patience));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(first->state(), QProcess::Running);
        QVERIFY(onScreen(first->processId(), "Please Sign In"));

        first->terminate();
        QVERIFY(first->waitForFinished(Patience));
    }
};

int main(int argc, char** argv) {
    const QString weston = QStandardPaths::findExecutable(QStringLiteral("weston"));
    const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
    QString missing;
    if (weston.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("weston-debug")).isEmpty())
        missing = QStringLiteral("weston is not installed (apt-get install weston)");
    else if (platforms.entryList({QStringLiteral("libqwayland-*.so")}).isEmpty())
        missing = QStringLiteral("Qt's Wayland plugin is not installed (apt-get install qt6-wayland)");
    if (!missing.isEmpty()) {
        std::printf("skipped: %s\n", qPrintable(missing));
        return 77;
    }

    int code = 1;
    {
        Weston compositor;
        QString why;
        if (!compositor.start(weston, &why)) {
            std::fprintf(stderr, "weston did not start: %s; its log:\n", qPrintable(why));
            QFile log(compositor.log());
            if (log.open(QIODevice::ReadOnly))
                std::fprintf(stderr, "%s\n", log.readAll().constData());
            return 1;
        }
        qputenv("XDG_RUNTIME_DIR", compositor.dir.path().toLocal8Bit());
        qputenv("WAYLAND_DISPLAY", compositor.socket.toLocal8Bit());
        qputenv("QT_QPA_PLATFORM", "wayland");
        QApplication app(argc, argv);
        prepareApplication();
        WaylandTest test;
        code = QTest::qExec(&test, argc, argv);
    }
    return code;
}

#include "test_wayland.moc"
