// SPDX-License-Identifier: GPL-3.0-or-later
// One contact file, one process: how long the main window takes from its load step until both
// lists hold every row and have been painted, against the floor of merely reading the file and
// splitting its records; and the process's peak resident memory.
//
//   velmora_bench_load FILE [full|compact] [floor-repeats] [results]
//
// With "results", every address of the file has a check result stored before the window loads,
// as after a completed run over the whole list.
//
// Prints one line of key=value pairs. Run each size in its own process, so the peak memory is
// that size's alone.

#include "bench/BenchSupport.h"
#include "contacts/ContactFile.h"
#include "contacts/ContactStore.h"
#include "session/CheckDatabase.h"
#include "shell/Look.h"
#include "shell/MainWindow.h"
#include "tests/support/ShellHarness.h"

#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QApplication>
#include <QSqlQuery>
#include <QVariant>

#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Floor {
    double ms = 0;
    long long records = 0;
    long long fieldBytes = 0;
};

// Reading the bytes and finding each record's two fields: the least any loader has to do.
Floor rawFloor(const char* path) {
    Floor f;
    const double t0 = bench::nowMs();
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return f;
    struct stat st;
    ::fstat(fd, &st);
    const size_t size = size_t(st.st_size);
    char* buf = static_cast<char*>(std::malloc(size + 1));
    size_t got = 0;
    for (ssize_t r; got < size && (r = ::read(fd, buf + got, size - got)) > 0;)
        got += size_t(r);
    ::close(fd);

    const char* p = buf;
    const char* const end = buf + got;
    while (p < end) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        const char* e = nl ? nl : end;
        const char* next = nl ? nl + 1 : end;
        if (e > p && e[-1] == '\r')
            --e;
        const char* q = p;
        for (int field = 0; field < 2 && q < e; ++field) {
            const char* fb;
            const char* fe;
            const char* after;
            if (*q == '"') {
                fb = q + 1;
                fe = static_cast<const char*>(std::memchr(fb, '"', size_t(e - fb)));
                if (!fe)
                    break;
                after = fe + 1;
            } else {
                fb = q;
                fe = nullptr;
                after = q;
            }
            const char* comma = static_cast<const char*>(std::memchr(after, ',', size_t(e - after)));
            if (!fe)
                fe = comma ? comma : e;
            f.fieldBytes += fe - fb;
            if (field == 1)
                ++f.records;
            if (!comma)
                break;
            q = comma + 1;
        }
        p = next;
    }
    std::free(buf);
    f.ms = bench::nowMs() - t0;
    return f;
}

// A result for every address of the file, written straight into the database beside it.
void storeResults(const char* path) {
    QByteArray bytes;
    readContactFileBytes(QString::fromLocal8Bit(path), &bytes);
    CheckDatabase database(checkDatabasePath(QString::fromLocal8Bit(path)));
    QSqlDatabase db = database.connection();
    db.transaction();
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT OR REPLACE INTO results VALUES (?, ?, ?, ?)"));
    qint64 n = 0;
    scanContactRecords(bytes, [&](qsizetype lineStart) {
        insert.addBindValue(contactFieldAt(bytes, lineStart, ContactField::Email).toLower());
        insert.addBindValue(int(++n % 4));
        insert.addBindValue(qint64(1'700'000'000'000) + n);
        insert.addBindValue(n % 4 == 0 ? QVariant(qint64(1'700'000'000'000) + n) : QVariant());
        insert.exec();
    });
    db.commit();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [full|compact] [floor-repeats]\n", argv[0]);
        return 2;
    }
    const char* path = argv[1];
    const Layout layout = (argc > 2 && std::strcmp(argv[2], "compact") == 0) ? Layout::Compact : Layout::Full;
    const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    const bool withResults = argc > 4 && std::strcmp(argv[4], "results") == 0;

    // As the program starts: no connection attempt may leave this machine.
    qputenv("VELMORA_DISPATCH_SERVER", "127.0.0.1:9");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    Look::installFonts();
    QApplication::setFont(Look::tahoma());

    // The floor first: it also brings the file into the page cache for both.
    std::vector<double> floors;
    Floor floor;
    for (int i = 0; i < repeats; ++i) {
        floor = rawFloor(path);
        floors.push_back(floor.ms);
    }
    const double floorMs = bench::median(floors);
    if (withResults)
        storeResults(path);

    ShellHarness h;
    h.messenger->setStatus(1); // offline: the load step asks nothing of the network
    h.dialogs.upFor = {};    // its offline message is answered at once, not timed
    h.otherContactFile = QString::fromLocal8Bit(path);

    const double cpu0 = bench::cpuMs();
    const double t0 = bench::nowMs();
    MainWindow* w = h.mainWindow(layout);
    const double tLoaded = bench::nowMs();
    w->setHandOver(QStringLiteral("bench@example.com"), QStringLiteral("secret"));
    auto* lvName = w->findChild<QAbstractItemView*>(QStringLiteral("lvName"));
    auto* lvEmail = w->findChild<QAbstractItemView*>(QStringLiteral("lvEmail"));
    bench::FirstPaint painted({lvName->viewport(), lvEmail->viewport()});
    w->show();
    const bool ok = painted.wait(120000);
    const double total = painted.doneAtMs - t0;
    const double cpu = bench::cpuMs() - cpu0;

    const long long rowsName = lvName->model()->rowCount();
    const long long rowsEmail = lvEmail->model()->rowCount();
    const bool complete = ok && rowsName == floor.records && rowsEmail == floor.records;

    std::printf("platform=%s records=%lld rows=%lld load_step_ms=%.1f paint_ms=%.1f total_ms=%.1f "
                "cpu_ms=%.1f floor_ms=%.2f "
                "ratio=%.2f peak_rss_mb=%.1f complete=%s\n",
                qPrintable(QGuiApplication::platformName()), floor.records, rowsEmail, tLoaded - t0,
                painted.doneAtMs - tLoaded, total, cpu, floorMs, floorMs > 0 ? total / floorMs : 0.0,
                double(bench::peakRssKb()) / 1024.0, complete ? "yes" : "NO");
    std::fflush(stdout);
    // Tearing a million rows down is not what is measured here; leave without it.
    h.dir.remove();
    std::_Exit(complete ? 0 : 1);
}
