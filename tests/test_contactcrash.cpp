// SPDX-License-Identifier: GPL-3.0-or-later
// A save killed at a random moment: the file must hold the earlier records byte for byte, then
// whole records of the batch only, and the next save must read back in full after whatever the
// killed one left. A run's results killed at a random moment: the database opens, and holds whole
// and true results only, all but at most the last second's.
//
// VELMORA_CRASH_ROUNDS sets how many kills (default 20, a quarter of it for the results),
// VELMORA_CRASH_SEED replays a run.

#include "contacts/ContactFile.h"
#include "contacts/ContactStore.h"
#include "session/CheckDatabase.h"
#include "tests/support/ResultsCrashBatch.h"
#include "tests/support/ContactCrashBatch.h"
#include "tests/support/ContactTestSupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

#include <time.h>

using Records = QList<ContactRecord>;
using namespace contacttest;

namespace {

int envInt(const char* name, int fallback) {
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok ? v : fallback;
}

void sleepMicroseconds(qint64 us) {
    timespec ts{time_t(us / 1'000'000), long(us % 1'000'000) * 1000};
    while (::nanosleep(&ts, &ts) != 0) {
    }
}

bool startAppender(QProcess& p, const QString& path, const QString& mode = QString()) {
    p.setProgram(QStringLiteral(CONTACT_CRASH_APPENDER));
    p.setArguments({path, QString::number(kCrashBatchSize), mode});
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start();
    if (!p.waitForStarted(10'000))
        return false;
    while (!p.canReadLine()) {
        if (!p.waitForReadyRead(10'000))
            return false;
    }
    return p.readLine() == "ready\n";
}

} // namespace

class ContactCrashTest : public QObject {
    Q_OBJECT

private slots:
    void killedSaveLeavesOnlyWholeRecords();
    void killedRewriteLeavesTheOldFileOrTheNew();
    void killedRunKeepsWholeTrueResults();
};

// A rewrite killed at any moment: the file is the old one or the new one, whole, never a mix and
// never less; a backup, when there is one, is the old file.
void ContactCrashTest::killedRewriteLeavesTheOldFileOrTheNew() {
    const int rounds = envInt("VELMORA_CRASH_ROUNDS", 20);
    const quint32 seed =
        quint32(envInt("VELMORA_CRASH_SEED", int(QRandomGenerator::global()->generate() >> 1)));
    qInfo("rounds %d, seed %u (VELMORA_CRASH_SEED replays it)", rounds, seed);
    QRandomGenerator rng(seed);
    QTemporaryDir dir;
    EncodedRecords encoded;
    for (const ContactRecord& r : crashBatch(kCrashBatchSize))
        encoded.add(r.name, r.email);
    const QByteArray before = encoded.bytes();

    QByteArray after;
    qint64 saveUs = 0;
    {
        const QString path = dir.filePath("whole.dat");
        QVERIFY(writeAll(path, before));
        QProcess p;
        QVERIFY(startAppender(p, path, "rewrite"));
        QElapsedTimer t;
        t.start();
        QVERIFY(p.waitForFinished(60'000));
        saveUs = qMax<qint64>(t.nsecsElapsed() / 1000, 100);
        QCOMPARE(p.exitCode(), 0);
        after = readAll(path);
        QCOMPARE(parseContactRecords(after).size(), kCrashBatchSize / 2 + 1);
    }

    int old = 0, renewed = 0;
    for (int round = 0; round < rounds; ++round) {
        QTemporaryDir roundDir(dir.filePath("roundXXXXXX"));
        const QString path = roundDir.filePath("database.dat");
        QVERIFY(writeAll(path, before));
        QProcess p;
        QVERIFY(startAppender(p, path, "rewrite"));
        // Spread evenly: the writes fill most of the span.
        sleepMicroseconds(qint64(double(saveUs) * 1.2 * rng.generateDouble()));
        p.kill();
        QVERIFY(p.waitForFinished(10'000));

        const QByteArray now = readAll(path);
        QVERIFY2(now == before || now == after, qPrintable(QStringLiteral("round %1: %2 bytes, neither file")
                                                               .arg(round)
                                                               .arg(now.size())));
        if (QFile::exists(path + ".bak"))
            QVERIFY(readAll(path + ".bak") == before);
        old += now == before;
        renewed += now == after;
    }
    qInfo("rewrite takes ~%lld us; of %d kills: %d left the old file, %d the new one", saveUs, rounds, old, renewed);
}

void ContactCrashTest::killedSaveLeavesOnlyWholeRecords() {
    const int rounds = envInt("VELMORA_CRASH_ROUNDS", 20);
    const quint32 seed =
        quint32(envInt("VELMORA_CRASH_SEED", int(QRandomGenerator::global()->generate() >> 1)));
    qInfo("rounds %d, seed %u (VELMORA_CRASH_SEED replays it)", rounds, seed);
    QRandomGenerator rng(seed);

    const Records batch = crashBatch(kCrashBatchSize);
    const Records earlier{{"Ann", "ann@example.com"}, {"Bob, Jr.", "bob@example.com"}};
    const ContactRecord later{"Cy", "cy@example.com"};
    QTemporaryDir dir;

    // One save left to finish tells how long a save takes here; kills are spread over that span,
    // denser early on, where the writes are.
    qint64 saveUs = 0;
    {
        const QString path = dir.filePath("whole.dat");
        QProcess p;
        QVERIFY(startAppender(p, path));
        QElapsedTimer t;
        t.start();
        QVERIFY(p.waitForFinished(60'000));
        saveUs = qMax<qint64>(t.nsecsElapsed() / 1000, 100);
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(parseContactRecords(readAll(path)).size(), kCrashBatchSize);
    }

    int untouched = 0, partial = 0, torn = 0, complete = 0;
    for (int round = 0; round < rounds; ++round) {
        const QString path = dir.filePath(QStringLiteral("round%1.dat").arg(round));
        QVERIFY(appendContactRecords(path, earlier).ok);
        const QByteArray before = readAll(path);

        QProcess p;
        QVERIFY(startAppender(p, path));
        const double lo = std::log(20.0), hi = std::log(double(saveUs) * 1.2);
        sleepMicroseconds(qint64(std::exp(lo + (hi - lo) * rng.generateDouble())));
        p.kill();
        QVERIFY(p.waitForFinished(10'000));

        const QByteArray after = readAll(path);
        QVERIFY2(after.startsWith(before), qPrintable(QStringLiteral("round %1").arg(round)));
        ParseStats stats;
        const Records got = parseContactRecords(after, &stats);
        QVERIFY(got.size() >= earlier.size());
        const qsizetype saved = got.size() - earlier.size();
        QVERIFY(saved <= batch.size());
        QCOMPARE(got.mid(0, earlier.size()), earlier);
        QVERIFY2(got.mid(earlier.size()) == batch.mid(0, saved),
                 qPrintable(QStringLiteral("round %1: the batch did not survive as a prefix").arg(round)));
        QVERIFY(stats.damagedLines <= 1);

        untouched += after == before;
        complete += saved == batch.size();
        partial += saved > 0 && saved < batch.size();
        torn += stats.damagedLines;

        const SaveResult next = appendContactRecords(path, Records{later});
        QVERIFY2(next.ok, qPrintable(next.error));
        QVERIFY(readAll(path).startsWith(after));
        ParseStats nextStats;
        const Records all = parseContactRecords(readAll(path), &nextStats);
        QVERIFY(all == earlier + batch.mid(0, saved) + Records{later});
        QCOMPARE(nextStats.damagedLines, stats.damagedLines);
        QFile::remove(path);
    }
    qInfo("save takes ~%lld us; of %d kills: %d before any write, %d part-way (%d cut inside a record), "
          "%d after the last record",
          saveUs, rounds, untouched, partial, torn, complete);
}

void ContactCrashTest::killedRunKeepsWholeTrueResults() {
    const int rounds = std::max(1, envInt("VELMORA_CRASH_ROUNDS", 20) / 4);
    const quint32 seed =
        quint32(envInt("VELMORA_CRASH_SEED", int(QRandomGenerator::global()->generate() >> 1)));
    QRandomGenerator rng(seed);
    QTemporaryDir dir;
    for (int round = 0; round < rounds; ++round) {
        const QString path = dir.filePath(QStringLiteral("round%1.db").arg(round));
        QProcess p;
        p.setProgram(QStringLiteral(RESULTS_CRASH_RECORDER));
        p.setArguments({path});
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start();
        QVERIFY(p.waitForReadyRead(10'000) && p.readLine() == "ready\n");
        // What it said it had recorded, by when: all of it a second and a bit before the kill
        // must be in the database.
        QElapsedTimer clock;
        clock.start();
        const qint64 killAt = 300 + qint64(rng.generateDouble() * 2500);
        QList<std::pair<qint64, qint64>> said;
        while (clock.elapsed() < killAt) {
            p.waitForReadyRead(int(std::max<qint64>(1, killAt - clock.elapsed())));
            while (p.canReadLine())
                said.append({clock.elapsed(), p.readLine().trimmed().toLongLong()});
        }
        p.kill();
        QVERIFY(p.waitForFinished(10'000));
        qint64 surely = 0;
        for (const auto& [at, count] : said)
            if (at < killAt - 1300)
                surely = count;

        CheckDatabase database(path);
        QCOMPARE(database.state(), CheckDatabase::State::Open);
        QSqlQuery check(database.connection());
        QVERIFY(check.exec("PRAGMA integrity_check") && check.next());
        QCOMPARE(check.value(0).toString(), QString("ok"));
        QSqlQuery rows(database.connection());
        QVERIFY(rows.exec("SELECT address, kind, checked_at, seen_online_at FROM results"));
        qint64 stored = 0, highest = 0;
        while (rows.next()) {
            const qint64 n = rows.value(0).toString().mid(1).section(QLatin1Char('@'), 0, 0).toLongLong();
            QCOMPARE(rows.value(0).toString(), resultstest::address(n));
            QCOMPARE(rows.value(1).toInt(), int(resultstest::kind(n)));
            QCOMPARE(rows.value(2).toLongLong(), resultstest::when(n));
            QCOMPARE(rows.value(3).toLongLong(), resultstest::kind(n) == ResultKind::Online ? resultstest::when(n) : 0);
            ++stored;
            highest = std::max(highest, n);
        }
        // Written a second's worth at a time: every result up to the last one kept.
        QCOMPARE(stored, highest);
        QVERIFY2(stored >= surely, qPrintable(QStringLiteral("round %1: %2 kept, %3 recorded more than a second "
                                                             "before the kill")
                                                  .arg(round)
                                                  .arg(stored)
                                                  .arg(surely)));
    }
}

QTEST_GUILESS_MAIN(ContactCrashTest)
#include "test_contactcrash.moc"
