// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own database beside the contact file: whatever state the file is in, Velmora
// never stops on it and never loses what another program or a newer Velmora keeps there.
#include "session/CheckDatabase.h"
#include "session/CheckResults.h"

#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

class CheckDatabaseTest : public QObject {
    Q_OBJECT

private slots:
    void whateverTheFileHoldsVelmoraGoesOn_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<CheckDatabase::State>("state");
        QTest::newRow("none yet") << "none" << CheckDatabase::State::Open;
        QTest::newRow("damaged") << "garbage" << CheckDatabase::State::Renewed;
        QTest::newRow("laid out by a newer Velmora") << "newer" << CheckDatabase::State::Newer;
        QTest::newRow("held by another program") << "locked" << CheckDatabase::State::Locked;
    }
    void whateverTheFileHoldsVelmoraGoesOn() {
        QFETCH(QString, file);
        QFETCH(CheckDatabase::State, state);
        QTemporaryDir dir;
        const QString path = dir.filePath("velmora.db");
        const QByteArray garbage = QByteArray("not a database at all ").repeated(300);
        if (file == "garbage") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(garbage);
        }
        if (file == "newer") {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "newer");
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QSqlQuery(db).exec("PRAGMA user_version=99");
            db.close();
        }
        QSqlDatabase::removeDatabase("newer");
        QProcess holder; // another program in the middle of writing
        if (file == "locked") {
            { CheckDatabase made(path); }
            holder.start("python3", {"-c", "import sqlite3,sys,time\n"
                                           "c=sqlite3.connect(sys.argv[1],isolation_level=None)\n"
                                           "c.execute('BEGIN EXCLUSIVE');print('held',flush=True);time.sleep(30)",
                                     path});
            QVERIFY(holder.waitForReadyRead(10000));
        }

        CheckDatabase db(path);
        QCOMPARE(db.state(), state);
        QCOMPARE(db.usable(), state == CheckDatabase::State::Open || state == CheckDatabase::State::Renewed);
        QCOMPARE(db.record("me@example.com", "bob@example.com"),
                 db.usable() ? AllowListJournal::Recorded::New : AllowListJournal::Recorded::Failed);
        if (file == "garbage") {
            // Set aside as it was, not deleted.
            QFile aside(db.setAsidePath());
            QVERIFY(aside.open(QIODevice::ReadOnly));
            QCOMPARE(aside.readAll(), garbage);
        }
        if (db.usable()) {
            struct stat st;
            QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
            QCOMPARE(st.st_mode & 0777, 0600u);
        }
        holder.kill();
        holder.waitForFinished();
    }

    // The service matches addresses without regard to case, and so does the journal, from one
    // start of the program to the next.
    void theJournalMatchesAsTheServiceDoes() {
        QTemporaryDir dir;
        const QString path = dir.filePath("velmora.db");
        {
            CheckDatabase db(path);
            QCOMPARE(db.record("Me@Example.com", "Bob@Example.com"), AllowListJournal::Recorded::New);
            QCOMPARE(db.record("me@example.com", "bob@example.com"), AllowListJournal::Recorded::Already);
        }
        CheckDatabase again(path);
        QCOMPARE(again.entries("ME@example.com"), QStringList{"Bob@Example.com"});
        again.erase("me@example.com", "BOB@example.com");
        QCOMPARE(again.entries("me@example.com"), QStringList{});
    }

    // A damaged file goes aside whole, with the log that may hold the journal's last entries, and
    // two in one second do not meet.
    void aDamagedFileGoesAsideWithItsLog() {
        QTemporaryDir live, dir;
        const QString path = dir.filePath("velmora.db");
        QByteArray log;
        {
            CheckDatabase db(live.filePath("velmora.db"));
            QVERIFY(QSqlQuery(db.connection()).exec("PRAGMA wal_checkpoint(TRUNCATE)"));
            QCOMPARE(db.record("me@example.com", "bob@example.com"), AllowListJournal::Recorded::New);
            // As a crash leaves it: the entry in the log, not yet in the file.
            QVERIFY(QFile::copy(live.filePath("velmora.db"), path));
            QFile wal(live.filePath("velmora.db-wal"));
            QVERIFY(wal.open(QIODevice::ReadOnly));
            log = wal.readAll();
            QVERIFY(!log.isEmpty());
        }
        QStringList asides;
        for (int i = 0; i < 2; ++i) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            file.write(QByteArray(100, 'x')); // no longer an SQLite file
            file.close();
            QFile wal(path + "-wal");
            QVERIFY(wal.open(QIODevice::WriteOnly));
            wal.write(log);
            wal.close();
            CheckDatabase db(path);
            QCOMPARE(db.state(), CheckDatabase::State::Renewed);
            asides << db.setAsidePath();
            QFile moved(db.setAsidePath() + "-wal");
            QVERIFY(moved.open(QIODevice::ReadOnly));
            QCOMPARE(moved.readAll(), log);
        }
        QVERIFY(asides[0] != asides[1]);
        QVERIFY(QFile::exists(asides[0]) && QFile::exists(asides[1]));
    }

    // A link where the database is kept is not followed: the file it points to stays as it was.
    void aPlantedLinkIsNotFollowed() {
        QTemporaryDir dir;
        const QString target = dir.filePath("someone-elses.db");
        {
            QFile other(target);
            QVERIFY(other.open(QIODevice::WriteOnly));
            other.write("not Velmora's");
        }
        QVERIFY(QFile::link(target, dir.filePath("velmora.db")));
        CheckDatabase db(dir.filePath("velmora.db"));
        QCOMPARE(db.state(), CheckDatabase::State::Unusable);
        QVERIFY2(db.problem().contains("symbolic link"), qPrintable(db.problem()));
        QFile other(target);
        QVERIFY(other.open(QIODevice::ReadOnly));
        QCOMPARE(other.readAll(), QByteArray("not Velmora's"));
        QCOMPARE(QFileInfo(target).permissions() & QFile::ReadOther, QFile::ReadOther);
    }

    // A write that fails is neither lost nor silent, and a clear that fails does not bring the
    // forgotten back: while another program holds the lock, and while the file takes no writes.
    void resultsOutlastAWriteThatFails() {
        QTemporaryDir dir;
        const QString path = dir.filePath("velmora.db");
        CheckDatabase db(path);
        auto results = std::make_unique<CheckResults>(&db);
        QSignalSpy told(results.get(), &CheckResults::notSaved);
        {
            QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
            other.setDatabaseName(path);
            QVERIFY(other.open());
            QVERIFY(QSqlQuery(other).exec(QStringLiteral("BEGIN IMMEDIATE")));
            results->record("Ann@x", ResultKind::Online, 1000);
            results->record("bob@x", ResultKind::Offline, 1000);
            QVERIFY(!results->flush());
            QVERIFY(!results->flush());
            QCOMPARE(told.size(), 1);
            QCOMPARE(results->online(), QStringList{"ann@x"});
            QCOMPARE(results->answeredSince(0), 2);
            QVERIFY(QSqlQuery(other).exec(QStringLiteral("ROLLBACK")));
            other.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        QVERIFY(results->flush());
        results = std::make_unique<CheckResults>(&db);
        QCOMPARE(results->online(), QStringList{"ann@x"});

        QVERIFY(QSqlQuery(db.connection()).exec(QStringLiteral("PRAGMA query_only = 1")));
        results->clear();
        QVERIFY(!results->any());
        QVERIFY(!results->find("ann@x"));
        QVERIFY(results->online().isEmpty());
        QVERIFY(QSqlQuery(db.connection()).exec(QStringLiteral("PRAGMA query_only = 0")));
        QVERIFY(results->flush());
        results = std::make_unique<CheckResults>(&db);
        QVERIFY(!results->any());
    }
};

QTEST_GUILESS_MAIN(CheckDatabaseTest)
#include "test_checkdatabase.moc"
