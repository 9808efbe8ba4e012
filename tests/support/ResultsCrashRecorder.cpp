// SPDX-License-Identifier: GPL-3.0-or-later
// Records check results into the database named on the command line as fast as a run without
// pacing would, the way the program does (kept, then written once a second), and says every tenth
// of a second how many it has recorded, so the crash test can kill it at any moment.

#include "session/CheckDatabase.h"
#include "session/CheckResults.h"
#include "tests/support/ResultsCrashBatch.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DATABASE\n", argv[0]);
        return 2;
    }
    CheckDatabase database(QString::fromLocal8Bit(argv[1]));
    CheckResults results(&database);
    qint64 recorded = 0;
    QTimer record;
    QObject::connect(&record, &QTimer::timeout, [&] {
        for (int i = 0; i < 20; ++i) {
            ++recorded;
            results.record(resultstest::address(recorded), resultstest::kind(recorded),
                           resultstest::when(recorded));
        }
    });
    record.start(1);
    QTimer tell;
    QObject::connect(&tell, &QTimer::timeout, [&] {
        std::printf("%lld\n", recorded);
        std::fflush(stdout);
    });
    tell.start(100);
    std::puts("ready");
    std::fflush(stdout);
    return QCoreApplication::exec();
}
