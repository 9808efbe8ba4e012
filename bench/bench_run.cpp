// SPDX-License-Identifier: GPL-3.0-or-later
// A run over the whole list, as the user sees it: how late a 10 ms timer in the window gets while
// the run goes, how often the marks and the line under the lists change, how fast it checks and
// what memory it costs beyond the loaded window. Against a server in its own process that answers
// at once (bench/fast_server.py).
//
//   velmora_bench_run FILE [seconds=120] [per-second=0] [at-once=4]
//
// Prints one line of key=value pairs.

#include "bench/BenchSupport.h"
#include "contacts/ContactFile.h"
#include "session/CheckDatabase.h"
#include "shell/Look.h"
#include "shell/MainWindow.h"
#include "tests/support/ShellHarness.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QSettings>

#include <cstdlib>

namespace {


double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

// Counts the paints of a widget.
class Paints : public QObject {
public:
    long count = 0;

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            ++count;
        return QObject::eventFilter(o, e);
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [seconds] [per-second] [at-once]\n", argv[0]);
        return 2;
    }
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 120;
    const int perSecond = argc > 3 ? std::atoi(argv[3]) : 0;
    const int atOnce = argc > 4 ? std::atoi(argv[4]) : 4;

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    Look::installFonts();
    QApplication::setFont(Look::tahoma());

    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral("python3"), {QStringLiteral(VELMORA_SOURCE_DIR "/bench/fast_server.py")});
    if (!server.waitForReadyRead(10000))
        return 1;
    qputenv("VELMORA_DISPATCH_SERVER", "127.0.0.1:" + server.readLine().trimmed());

    ShellHarness h;
    h.dialogs.upFor = {};
    h.dialogs.answers = {Dialogs::Answer::Yes}; // "Check Everyone" asks before a long run
    h.otherContactFile = QString::fromLocal8Bit(argv[1]);
    const QString database = checkDatabasePath(QString::fromLocal8Bit(argv[1]));
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(database + QLatin1String(suffix)); // a run of its own, from the first contact
    {
        QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tavlo"), QStringLiteral("Tavlo"));
        settings.setValue(QStringLiteral("Checks/PerSecond"), perSecond);
        settings.setValue(QStringLiteral("Checks/AtOnce"), atOnce);
    }
    MainWindow* w = h.mainWindow(Layout::Full);
    w->setHandOver(QStringLiteral("me@example.com"), QStringLiteral("secret"));
    w->show();
    auto* label1 = w->findChild<QLabel*>(QStringLiteral("Label1"));
    QElapsedTimer wait;
    wait.start();
    while (label1->text() != QLatin1String("MSN (Online)") && wait.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::processEvents();
    const long before = bench::residentKb();

    auto* info = w->findChild<QLabel*>(QStringLiteral("lblListInfo"));
    auto* emails = w->findChild<QAbstractItemView*>(QStringLiteral("lvEmail"));
    long marks = 0;
    QObject::connect(emails->model(), &QAbstractItemModel::dataChanged, [&] { ++marks; });
    Paints lines;
    info->installEventFilter(&lines);

    const double startAt = bench::nowMs();
    w->mnuCheckAll_Click();
    const double started = bench::nowMs() - startAt;

    std::vector<double> late;
    double last = bench::nowMs();
    long peak = before;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double now = bench::nowMs();
        late.push_back(std::max(0.0, now - last - 10));
        last = now;
        if (late.size() % 50 == 0)
            peak = std::max(peak, bench::residentKb());
    });
    tick.start(10);
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    QApplication::exec();

    const QString progress = info->text().section(QLatin1Char('\n'), 0, 0);
    const long checked = progress.section(QLatin1Char(' '), 0, 0).remove(QLatin1Char(',')).toLong();
    const double rows = double(emails->model()->rowCount());
    std::printf("platform=%s rows=%.0f seconds=%d per_second=%d at_once=%d start_ms=%.1f checked=%ld rate=%.1f "
                "late_p50_ms=%.2f late_p99_ms=%.2f late_max_ms=%.1f mark_updates_per_s=%.2f line_paints_per_s=%.2f "
                "extra_bytes_per_contact=%.1f line=\"%s\"\n",
                qPrintable(QGuiApplication::platformName()), rows, seconds, perSecond, atOnce, started, checked,
                double(checked) / seconds, percentile(late, 0.5), percentile(late, 0.99),
                late.empty() ? 0.0 : *std::max_element(late.begin(), late.end()), double(marks) / seconds,
                double(lines.count) / seconds, double(peak - before) * 1024.0 / rows, qPrintable(progress));
    std::fflush(stdout);
    server.kill();
    server.waitForFinished();
    std::_Exit(0);
}
