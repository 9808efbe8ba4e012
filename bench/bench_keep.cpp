// SPDX-License-Identifier: GPL-3.0-or-later
// Keeping a large list, against a write floor of its own (the contact file's bytes written once
// beside it and flushed): removing 1,000 scattered rows and saving, which rewrites the file; an
// export of the whole list as CSV; and an import of 100,000 CSV rows.
//
//   velmora_bench_keep FILE [runs]

#include "bench/BenchSupport.h"
#include "contacts/ContactExchange.h"
#include "contacts/ContactStore.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

double writeFloor(const QString& path, const QByteArray& bytes) {
    const double t0 = bench::nowMs();
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size() || ::fsync(fd) != 0)
        std::abort();
    ::close(fd);
    return bench::nowMs() - t0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [runs]\n", argv[0]);
        return 2;
    }
    const QString source = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const QByteArray bytes = readAll(source);
    QTemporaryDir dir(QFileInfo(source).absolutePath() + "/keepXXXXXX");
    const QString path = dir.filePath("database.dat");

    std::vector<double> floors, removes, exports;
    qint32 records = 0;
    for (int run = 0; run < runs; ++run) {
        floors.push_back(writeFloor(dir.filePath("floor.dat"), bytes));

        writeFloor(path, bytes);
        ContactStore store;
        store.load(path);
        records = store.rowCount();
        std::vector<qint32> rows;
        for (qint32 k = 0; k < 1000; ++k)
            rows.push_back(qint32(qint64(k) * records / 1000 + k % 7));
        double t0 = bench::nowMs();
        store.remove(rows);
        if (!store.save(path).ok)
            std::abort();
        removes.push_back(bench::nowMs() - t0);

        t0 = bench::nowMs();
        QSaveFile out(dir.filePath("export.csv"));
        const bool written = out.open(QIODevice::WriteOnly) && exchange::writeCsv(&out, store.rowCount(), [&](qint64 i) {
            exchange::ExportRow r;
            if (!store.rowBytes(qint32(i), &r.nameBytes, &r.addressBytes)) {
                r.name = store.rowField(qint32(i), ContactField::Name);
                r.address = store.rowField(qint32(i), ContactField::Email);
            }
            return r;
        });
        if (!written || !out.commit())
            std::abort();
        exports.push_back(bench::nowMs() - t0);
    }

    // 100,000 rows as a mail program exports them.
    QByteArray book("First Name,Last Name,Display Name,Nickname,Primary Email,Secondary Email,Notes\r\n");
    for (int i = 0; i < 100'000; ++i)
        book += QStringLiteral("Given%1,Family%1,\"Family%1, Given%1\",,person%1@example.com,,\r\n").arg(i).toUtf8();
    const QString bookPath = dir.filePath("book.csv");
    writeFloor(bookPath, book);
    std::vector<double> imports;
    for (int run = 0; run < runs; ++run) {
        ContactStore store;
        const double t0 = bench::nowMs();
        const exchange::Imported in = exchange::importFile(bookPath);
        for (const ContactRecord& c : in.contacts)
            store.add(c.name, c.email);
        imports.push_back(bench::nowMs() - t0);
        if (in.contacts.size() != 100'000)
            std::abort();
    }

    const double floor = bench::median(floors);
    std::printf("records=%d floor_ms=%.1f remove_save_ms=%.1f remove_ratio=%.2f export_ms=%.1f export_ratio=%.2f "
                "import100k_ms=%.1f\n",
                records, floor, bench::median(removes), bench::median(removes) / floor, bench::median(exports),
                bench::median(exports) / floor, bench::median(imports));
    return 0;
}
