// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Small pieces shared by the benchmarks: clocks, resource use, and waiting for a first paint.

#include <QCoreApplication>
#include <QFile>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include <sys/resource.h>

namespace bench {

inline double nowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

inline long long nowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// What the process holds just now, in kB.
inline long residentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

inline long peakRssKb() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

inline double cpuMs() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    auto ms = [](const timeval& t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
    return ms(u.ru_utime) + ms(u.ru_stime);
}

inline double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Done once every watched widget has had a paint event and the pass that delivered them has
// finished: a zero timer queued from the last paint runs only after the whole repaint (and its
// flush to the screen) is through.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(std::vector<QWidget*> widgets) : pending(std::move(widgets)) {
        for (QWidget* w : pending)
            w->installEventFilter(this);
    }

    // Runs the event loop until done; false on timeout.
    bool wait(int timeoutMs) {
        if (done)
            return true;
        QEventLoop loop;
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        guard.start(timeoutMs);
        waiting = &loop;
        loop.exec();
        waiting = nullptr;
        return done;
    }

    bool done = false;
    double doneAtMs = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !done) {
            auto it = std::find(pending.begin(), pending.end(), watched);
            if (it != pending.end()) {
                pending.erase(it);
                if (pending.empty())
                    QTimer::singleShot(0, this, [this] {
                        doneAtMs = nowMs();
                        done = true;
                        if (waiting)
                            waiting->quit();
                    });
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::vector<QWidget*> pending;
    QEventLoop* waiting = nullptr;
};

// Lets the event loop run for a while.
inline void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace bench
