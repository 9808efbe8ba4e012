// SPDX-License-Identifier: GPL-3.0-or-later
#include "contacts/ContactFile.h"
#include "contacts/ContactLocation.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

// Where the contact list is kept when the program is installed where the user cannot write.
class ContactLocationTest : public QObject {
    Q_OBJECT

private slots:
    void withoutAWritableDataFolderBesideTheProgramTheListGoesToTheUsersDataFolder() {
        QTemporaryDir home;
        qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/share")).toLocal8Bit());
        // This test program's folder has no data/, as /usr/bin has none.
        QVERIFY(!QFileInfo::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/data")));

        const QString file = home.path() + QStringLiteral("/share/Velmora/data/database.dat");
        QCOMPARE(ContactLocation::placeForThisRun().file, file);
        QVERIFY(!QFileInfo::exists(file)); // until the first save
        QCOMPARE(QFileInfo(QFileInfo(file).path()).permissions() & (QFile::ReadOther | QFile::ReadGroup),
                 QFile::Permissions());

        const SaveResult saved =
            appendContactRecords(file, QList<ContactRecord>{{"Ann", "ann@x"}});
        QVERIFY2(saved.ok, qPrintable(saved.error));
        QByteArray bytes;
        QCOMPARE(readContactFileBytes(file, &bytes).status, LoadStatus::Loaded);
        QCOMPARE(bytes, QByteArray("\"Ann\",\"ann@x\"\r\n"));
    }

    void aDataFolderBesideTheProgramKeepsTheList() {
        QTemporaryDir program, home;
        QVERIFY(QDir(program.path()).mkdir(QStringLiteral("data")));
        QCOMPARE(ContactLocation::choose(program.path(), home.path() + "/share", home.path()),
                 program.path() + QStringLiteral("/data/database.dat"));

        // Unless it cannot be written: a system-wide install that the user does not own.
        if (::geteuid() == 0)
            QSKIP("root writes everywhere");
        QVERIFY(
            QFile::setPermissions(program.path() + QStringLiteral("/data"),
                                  QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
        QCOMPARE(ContactLocation::choose(program.path(), home.path() + "/share", home.path()),
                 home.path() + QStringLiteral("/share/Velmora/data/database.dat"));
        QCOMPARE(ContactLocation::choose(program.path(), QStringLiteral("relative/share"), home.path()),
                 home.path() + QStringLiteral("/.local/share/Velmora/data/database.dat"));
    }

    // A list beside the program that cannot be written there is not left behind looking lost: the
    // first start that finds it copies it into the user's folder, once; a list already there is
    // the user's, and both stay as they are.
    void aReadOnlyListBesideTheProgramIsCopiedOnce() {
        QTemporaryDir program, home;
        QVERIFY(QDir(program.path()).mkdir(QStringLiteral("data")));
        const QByteArray theirs = "\"Ann\",\"ann@x\"\r\n";
        QFile beside(program.path() + QStringLiteral("/data/database.dat"));
        QVERIFY(beside.open(QIODevice::WriteOnly) && beside.write(theirs) > 0);
        beside.close();
        QVERIFY(beside.setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        const auto readOnly = [](const QString&) { return false; };
        const QString share = home.path() + QStringLiteral("/share");
        const QString mine = share + QStringLiteral("/Velmora/data/database.dat");

        const auto first = ContactLocation::place(program.path(), share, home.path(), readOnly);
        QCOMPARE(first.file, mine);
        QCOMPARE(first.readOnlyFile, beside.fileName());
        QVERIFY(first.copied);
        QByteArray bytes;
        QCOMPARE(readContactFileBytes(mine, &bytes).status, LoadStatus::Loaded);
        QCOMPARE(bytes, theirs);
        QVERIFY(appendContactRecords(mine, QList<ContactRecord>{{"Bob", "bob@x"}}).ok); // the copy takes saves

        const auto next = ContactLocation::place(program.path(), share, home.path(), readOnly);
        QVERIFY(!next.copied);
        QCOMPARE(next.readOnlyFile, beside.fileName());
        QCOMPARE(readContactFileBytes(mine, &bytes).status, LoadStatus::Loaded);
        QCOMPARE(bytes, theirs + "\"Bob\",\"bob@x\"\r\n");
        QVERIFY(beside.open(QIODevice::ReadOnly));
        QCOMPARE(beside.readAll(), theirs);
    }

    // A data/ beside the program that others may write is theirs to plant files in: not used, not
    // copied from, and the user hears of it.
    void aDataFolderOthersMayWriteIsNotUsed() {
        QTemporaryDir program, home;
        const QString beside = program.path() + QStringLiteral("/data");
        QVERIFY(QDir(program.path()).mkdir(QStringLiteral("data")));
        QVERIFY(appendContactRecords(beside + QStringLiteral("/database.dat"), QList<ContactRecord>{{"Eve", "eve@x"}}).ok);
        QVERIFY(::chmod(QFile::encodeName(beside).constData(), 0777) == 0);
        const ContactLocation::Placement placed =
            ContactLocation::place(program.path(), home.path() + QStringLiteral("/share"), home.path());
        QCOMPARE(placed.file, home.path() + QStringLiteral("/share/Velmora/data/database.dat"));
        QCOMPARE(placed.sharedFolder, beside);
        QVERIFY(!QFileInfo::exists(placed.file));
        QCOMPARE(ContactLocation::choose(program.path(), home.path() + "/share", home.path()), placed.file);
    }
};

QTEST_MAIN(ContactLocationTest)
#include "test_contactlocation.moc"
