// SPDX-License-Identifier: GPL-3.0-or-later
// CPU used by an open main window that nobody touches: getrusage user+sys over a stretch of event
// loop, after the window is up and has settled.
//
//   velmora_bench_idle [--layout=full|compact] [--seconds=10] [--client=fake|polled|real]
//                      [--status=online|offline] [--file=FILE] [--what=window|bare|none]
//                      [--watched=N]
//
// --watched=N watches the first N contacts of the file (writing one of N contacts when none is
// given), hides the window in the tray and tells the heap the watches took, per contact; the
// CPU is then that between two rounds of the watch.
// --what=bare shows a plain widget with timers of the same intervals and empty handlers (the cost
// of the wake-ups alone); --what=none a plain widget with no timer (the floor of an idle Qt program).
// --client=real asks the installed messenger over D-Bus instead of a fake one. The fake says when
// its status changes, as the real client does; --client=polled is a fake that cannot, so the
// window has to keep asking it.

#include "bench/BenchSupport.h"
#include "contacts/ContactFile.h"
#include "messenger/PurpleMessenger.h"
#include "shell/Look.h"
#include "session/Watches.h"
#include "shell/MainWindow.h"
#include "tests/support/ShellHarness.h"

#include <QApplication>
#include <QSqlQuery>
#include <QTimer>

#include <cstring>
#include <malloc.h>
#include <map>
#include <memory>
#include <string>

namespace {

std::map<std::string, std::string> options(int argc, char** argv) {
    std::map<std::string, std::string> o{{"layout", "full"},    {"seconds", "10"}, {"client", "fake"},
                                         {"status", "offline"}, {"file", ""},      {"what", "window"},
                                         {"watched", "0"}};
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strncmp(a, "--", 2) != 0)
            continue;
        const char* eq = std::strchr(a, '=');
        if (eq)
            o[std::string(a + 2, eq)] = eq + 1;
    }
    return o;
}

// Counts timer ticks and paints while the clock runs.
class Counter : public QObject {
public:
    std::map<QObject*, long> ticks;
    long paints = 0;
    bool counting = false;

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (counting) {
            if (e->type() == QEvent::Timer)
                ++ticks[o];
            else if (e->type() == QEvent::Paint)
                ++paints;
        }
        return QObject::eventFilter(o, e);
    }
};

} // namespace

int main(int argc, char** argv) {
    const auto opt = options(argc, argv);
    const bool full = opt.at("layout") != "compact";
    const int seconds = std::max(1, std::stoi(opt.at("seconds")));

    qputenv("VELMORA_DISPATCH_SERVER", "127.0.0.1:9");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    Look::installFonts();
    QApplication::setFont(Look::tahoma());

    Counter counter;
    std::unique_ptr<ShellHarness> h;
    std::unique_ptr<QWidget> plain;
    QWidget* shown = nullptr;
    std::vector<std::pair<std::string, QTimer*>> timers;
    const int watched = std::stoi(opt.at("watched"));
    double heapPerWatch = 0;
    double heapPerWatchHeld = 0;

    if (opt.at("what") == "window") {
        h = std::make_unique<ShellHarness>();
        h->messenger->polled = opt.at("client") == "polled";
        h->messenger->setStatus(opt.at("status") == "offline" ? 1 : 2);
        if (opt.at("client") == "real") {
            h->client = std::make_unique<PurpleMessenger>(h->desktop);
            h->messenger = nullptr;
        }
        if (!opt.at("file").empty())
            h->otherContactFile = QString::fromStdString(opt.at("file"));
        else if (watched > 0) {
            QByteArray list;
            for (int i = 0; i < watched; ++i)
                list += encodeRecord(QStringLiteral("Contact %1").arg(i), QStringLiteral("contact%1@example.com").arg(i));
            h->writeContactFile(list);
        }
        h->tray = watched > 0;
        MainWindow* w = h->mainWindow(full ? Layout::Full : Layout::Compact);
        w->setHandOver(QStringLiteral("bench@example.com"), QStringLiteral("secret"));
        shown = w;
        for (const char* name : {"Timer1", "Timer3"})
            if (auto* t = w->findChild<QTimer*>(QLatin1String(name)))
                timers.emplace_back(name, t);
    } else {
        plain = std::make_unique<QWidget>();
        plain->resize(396, full ? 446 : 316);
        shown = plain.get();
        if (opt.at("what") == "bare") {
            auto add = [&](const char* name, int ms) {
                auto* t = new QTimer(plain.get());
                t->setInterval(ms);
                QObject::connect(t, &QTimer::timeout, plain.get(), [] {});
                t->start();
                timers.emplace_back(name, t);
            };
            add("Timer1", full ? 100 : 10);
            if (full)
                add("Timer3", 1);
        }
    }
    for (auto& [name, t] : timers)
        t->installEventFilter(&counter);

    bench::FirstPaint painted({shown});
    shown->show();
    painted.wait(30000);
    bench::runFor(1000); // let start-up work (connection attempt, first ticks) pass
    if (watched > 0) {
        auto* w = static_cast<MainWindow*>(shown);
        const ContactStore& store = h->program().contacts;
        const size_t before = mallinfo2().uordblks;
        for (qint32 row = 0; row < watched && row < store.rowCount(); ++row)
            h->program().watches.add(store.rowField(row, ContactField::Email), false);
        bench::runFor(500); // what the window does with the news
        heapPerWatch = (double(mallinfo2().uordblks) - double(before)) / watched;
        // Without the pages SQLite keeps cached (at most 2 MB, whatever they hold).
        QSqlQuery(h->program().database.connection()).exec(QStringLiteral("PRAGMA shrink_memory"));
        heapPerWatchHeld = (double(mallinfo2().uordblks) - double(before)) / watched;
        w->mnuSysTray_Click();
        bench::runFor(500);
    }
    for (QWidget* w : shown->findChildren<QWidget*>())
        w->installEventFilter(&counter);
    shown->installEventFilter(&counter);

    counter.counting = true;
    const double cpu0 = bench::cpuMs();
    const double t0 = bench::nowMs();
    bench::runFor(seconds * 1000);
    const double cpu1 = bench::cpuMs();
    const double t1 = bench::nowMs();
    counter.counting = false;

    const double wallS = (t1 - t0) / 1000.0;
    std::printf(
        "platform=%s what=%s layout=%s client=%s status=%s seconds=%.1f cpu_ms=%.1f cpu_pct=%.2f paints=%ld",
        qPrintable(QGuiApplication::platformName()), opt.at("what").c_str(), full ? "full" : "compact",
        opt.at("client").c_str(), opt.at("status").c_str(), wallS, cpu1 - cpu0,
        (cpu1 - cpu0) / (t1 - t0) * 100.0, counter.paints);
    for (auto& [name, t] : timers)
        std::printf(" %s_ticks_per_s=%.0f", name.c_str(), double(counter.ticks[t]) / wallS);
    if (watched > 0)
        std::printf(" watched=%d heap_bytes_per_watch=%.0f without_sqlite_cache=%.0f", watched, heapPerWatch,
                    heapPerWatchHeld);
    std::printf("\n");
    std::fflush(stdout);
    return 0;
}
