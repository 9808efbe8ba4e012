// SPDX-License-Identifier: GPL-3.0-or-later
// The contact store and its list columns: what loading, adding and saving do to the filled and
// counters, and what they leave in the file.

#include "contacts/ContactListModel.h"
#include "contacts/ContactStore.h"
#include "tests/support/ContactTestSupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

using Records = QList<ContactRecord>;
using namespace contacttest;

namespace {

Records fileRecords(const QString& path) {
    return parseContactRecords(readAll(path));
}

ContactRecord contact(int i) {
    return {QStringLiteral("Name %1").arg(i), QStringLiteral("c%1@example.com").arg(i)};
}

Records contacts(int from, int to) {
    Records r;
    for (int i = from; i <= to; ++i)
        r.append(contact(i));
    return r;
}

bool add(ContactStore& store, const ContactRecord& r) {
    return store.add(r.name, r.email);
}

} // namespace

class ContactStoreTest : public QObject {
    Q_OBJECT

private slots:
    void init() { store.clear(); }

    void loadFillsSlotsInFileOrder();
    void loadBeyondTheLastSlotReportsWhatWasLeftOut();
    void addRefusesWhenEverySlotIsTaken();
    void saveMarksWhatItWrote();
    void addedContactsOverwriteLoadedSlotsButSaveOnlyAdded();
    void failedSaveKeepsContactsForTheNextSave();
    void saveCutShortCountsOnlyWhatReachedTheFile();
    void listColumnAppendsRows();

private:
    ContactStore store;
};

void ContactStoreTest::loadFillsSlotsInFileOrder() {
    QTemporaryDir dir;
    const QString path = dir.filePath("database.dat");
    const Records records = contacts(1, 3) + Records{contact(1)};
    QVERIFY(appendContactRecords(path, records).ok);

    const LoadResult r = store.load(path);
    QCOMPARE(r.status, LoadStatus::Loaded);
    QCOMPARE(r.leftOut, 0);
    QCOMPARE(store.ContactCount(), 4);
    QCOMPARE(store.NewContactCount(), 0);
    for (qint32 slot = 1; slot <= 4; ++slot) {
        QCOMPARE(store.ContactName(slot), records[slot - 1].name);
        QCOMPARE(store.ContactEmail(slot), records[slot - 1].email);
    }
    QVERIFY(store.ContactName(5).isEmpty());
}

void ContactStoreTest::loadBeyondTheLastSlotReportsWhatWasLeftOut() {
    QTemporaryDir dir;
    const QString path = dir.filePath("database.dat");
    // A full store's worth of short records, then five more.
    QVERIFY(
        writeAll(path, encodeRecord(QStringLiteral("n"), QStringLiteral("e")).repeated(kContactSlots - 2)));
    QVERIFY(appendContactRecords(path, contacts(1, 5)).ok);
    const QByteArray before = readAll(path);

    const LoadResult r = store.load(path);
    QCOMPARE(r.status, LoadStatus::Loaded);
    QCOMPARE(r.stats.records, kContactSlots + 3);
    QCOMPARE(r.leftOut, 3);
    QCOMPARE(store.ContactCount(), kContactSlots);
    QCOMPARE(store.ContactName(kContactSlots - 1), contact(1).name);
    QCOMPARE(store.ContactEmail(kContactSlots), contact(2).email);
    QCOMPARE(readAll(path), before);
}

void ContactStoreTest::addRefusesWhenEverySlotIsTaken() {
    const ContactRecord filler = contact(0);
    for (qint32 k = 1; k < kContactSlots; ++k)
        QVERIFY(add(store, filler));
    QVERIFY(add(store, contact(1)));
    QCOMPARE(store.NewContactCount(), kContactSlots);
    QVERIFY(!add(store, contact(2)));
    QCOMPARE(store.NewContactCount(), kContactSlots);
    QCOMPARE(store.ContactName(kContactSlots), contact(1).name);
    QCOMPARE(store.ContactEmail(kContactSlots), contact(1).email);
}

void ContactStoreTest::saveMarksWhatItWrote() {
    QTemporaryDir dir;
    const QString path = dir.filePath("database.dat");

    QVERIFY(add(store, contact(1)));
    QVERIFY(add(store, contact(2)));
    SaveResult r = store.appendUnsaved(path);
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(r.recordsWritten, 2);
    QCOMPARE(store.SavedContactCount(), 2);

    // Saving again, as "Save" followed by leaving with Yes does, writes nothing twice.
    r = store.appendUnsaved(path);
    QVERIFY(r.ok);
    QCOMPARE(r.recordsWritten, 0);
    QCOMPARE(shown(fileRecords(path)), shown(contacts(1, 2)));

    QVERIFY(add(store, contact(3)));
    QVERIFY(store.appendUnsaved(path).ok);
    QCOMPARE(shown(fileRecords(path)), shown(contacts(1, 3)));
    QCOMPARE(store.NewContactCount(), 3);
    QCOMPARE(store.SavedContactCount(), 3);
}

void ContactStoreTest::addedContactsOverwriteLoadedSlotsButSaveOnlyAdded() {
    QTemporaryDir dir;
    const QString path = dir.filePath("database.dat");
    QVERIFY(appendContactRecords(path, contacts(1, 3)).ok);
    QVERIFY(store.load(path).status == LoadStatus::Loaded);

    QVERIFY(add(store, contact(9)));
    QCOMPARE(store.ContactName(1), contact(9).name);
    QCOMPARE(store.ContactCount(), 3);
    QVERIFY(store.appendUnsaved(path).ok);
    QCOMPARE(shown(fileRecords(path)), shown(contacts(1, 3) + Records{contact(9)}));
}

void ContactStoreTest::failedSaveKeepsContactsForTheNextSave() {
    QTemporaryDir dir;
    const QString missing = dir.filePath("data/database.dat");
    QVERIFY(add(store, contact(1)));
    QVERIFY(add(store, contact(2)));

    const SaveResult failed = store.appendUnsaved(missing);
    QVERIFY(!failed.ok);
    QVERIFY2(failed.error.contains(missing), qPrintable(failed.error));
    QCOMPARE(store.SavedContactCount(), 0);
    QCOMPARE(store.NewContactCount(), 2);

    QVERIFY(QDir(dir.path()).mkdir("data"));
    QVERIFY(store.appendUnsaved(missing).ok);
    QCOMPARE(shown(fileRecords(missing)), shown(contacts(1, 2)));
}

void ContactStoreTest::saveCutShortCountsOnlyWhatReachedTheFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath("database.dat");
    QVERIFY(add(store, contact(1)));
    QVERIFY(add(store, contact(2)));
    QVERIFY(add(store, contact(3)));
    const qsizetype roomForOneAndAHalf = encodeRecord(contact(1).name, contact(1).email).size() +
                                         encodeRecord(contact(2).name, contact(2).email).size() / 2;

    // In a child: the first save runs into a file size limit, the limit is lifted, the user saves again.
    rlimit original;
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &original), 0);
    const ChildSave r = saveInChild(
        [&]() -> QString {
            rlimit rl = original;
            rl.rlim_cur = rlim_t(roomForOneAndAHalf);
            return ::setrlimit(RLIMIT_FSIZE, &rl) == 0 ? QString() : QStringLiteral("setrlimit failed");
        },
        [&] {
            const SaveResult first = store.appendUnsaved(path);
            if (first.ok || store.SavedContactCount() != 1)
                return SaveResult{
                    false, QStringLiteral("first save: ok=%1 saved=%2").arg(first.ok).arg(store.SavedContactCount())};
            ::setrlimit(RLIMIT_FSIZE, &original);
            return store.appendUnsaved(path);
        });
    QVERIFY(!r.crashed);
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(r.recordsWritten, 2);

    ParseStats stats;
    QCOMPARE(shown(parseContactRecords(readAll(path), &stats)), shown(contacts(1, 3)));
    QCOMPARE(stats.damagedLines, 1); // the cut copy of contact 2, never read as a contact
}

void ContactStoreTest::listColumnAppendsRows() {
    QTemporaryDir dir;
    const QString path = dir.filePath("database.dat");
    QVERIFY(appendContactRecords(path, Records{contact(1)}).ok);

    ContactStore store;
    ContactListModel model(store, ContactField::Email, QStringLiteral("E-Mail:"));
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("E-Mail:"));
    QCOMPARE(model.rowCount(), 0);

    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QVERIFY(store.load(path).status == LoadStatus::Loaded);
    model.showNewRows();
    QVERIFY(store.add(QStringLiteral("B"), QStringLiteral("b@example.com")));
    QVERIFY(store.add(QStringLiteral("Empty"), QString()));
    QVERIFY(store.add(QStringLiteral("C"), contact(1).email));
    model.showNewRows();
    model.showNewRows();

    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(inserted.size(), 2);
    QCOMPARE(inserted[1][1].toInt(), 1);
    QCOMPARE(inserted[1][2].toInt(), 3);
    QCOMPARE(model.text(0), contact(1).email);
    QCOMPARE(model.text(1), QStringLiteral("b@example.com"));
    QCOMPARE(model.data(model.index(3, 0)).toString(), contact(1).email);
    QVERIFY(model.text(2).isEmpty());
    QCOMPARE(model.rowCount(model.index(0, 0)), 0); // a flat list: rows have no children
}

QTEST_GUILESS_MAIN(ContactStoreTest)
#include "test_contactstore.moc"
