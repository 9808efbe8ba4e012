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
#include <sys/stat.h>

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
    void rewriteKeepsEveryLineItDidNotChange();
    void rewriteOfAFileChangedElsewhereKeepsTheirChanges();
    void undoPutsRowsBackBeforeAndAfterASave();
    void aRewriteThatFailsChangesNothing();

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

namespace {

QStringList named(const Records& records) {
    QStringList out;
    for (const ContactRecord& r : records)
        out << r.name + " <" + r.email + ">";
    return out;
}

QStringList rows(const ContactStore& s) {
    QStringList out;
    for (qint32 row = 0; row < s.rowCount(); ++row)
        out << s.rowField(row, ContactField::Name) + " <" + s.rowField(row, ContactField::Email) + ">";
    return out;
}

} // namespace

// The lines it keeps are the file's own: their encoding, their line ends, the ones the reader
// skips, a byte order mark, a last line without an end.
void ContactStoreTest::rewriteKeepsEveryLineItDidNotChange() {
    QTemporaryDir dir;
    const QString path = dir.filePath("database.dat");
    const QByteArray before = "\xEF\xBB\xBF\"Ann\",\"ann@x\"\n"
                              "\"Bob\",\"bob@x\"\r\n"
                              "broken \"line\r"
                              "\"Jos\xE9\", \"jose@x\" ,extra\r\n"
                              "\n"
                              "\"Bob\",\"bob@x\"\r\n"
                              "\"Cy\",\"cy@x\"";
    QVERIFY(writeAll(path, before));
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0604) == 0);
    QCOMPARE(store.load(path).status, LoadStatus::Loaded);
    QCOMPARE(rows(store), (QStringList{"Ann <ann@x>", "Bob <bob@x>", "Jos\u00e9 <jose@x>", "Bob <bob@x>", "Cy <cy@x>"}));

    store.remove({3});                      // the second Bob
    QVERIFY(store.edit(0, "Ann B", "annb@x")); // keeps its LF
    QVERIFY(store.edit(3, "Cyd", "cyd@x"));    // the last line, without an end
    QVERIFY(store.add("Dee", "dee@x"));
    const SaveResult saved = store.save(path);
    QVERIFY2(saved.ok, qPrintable(saved.error));
    QVERIFY(!saved.fileChanged);
    QCOMPARE(readAll(path), QByteArray("\xEF\xBB\xBF\"Ann B\",\"annb@x\"\n"
                                       "\"Bob\",\"bob@x\"\r\n"
                                       "broken \"line\r"
                                       "\"Jos\xE9\", \"jose@x\" ,extra\r\n"
                                       "\n"
                                       "\"Cyd\",\"cyd@x\"\r\n"
                                       "\"Dee\",\"dee@x\"\r\n"));
    QCOMPARE(readAll(path + ".bak"), before);
    struct stat st;
    QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0604));
    const QStringList after{"Ann B <annb@x>", "Bob <bob@x>", "Jos\u00e9 <jose@x>", "Cyd <cyd@x>", "Dee <dee@x>"};
    QCOMPARE(rows(store), after);
    QVERIFY(!store.hasUnsavedChanges());

    // The rows now point into the saved file: a second rewrite works from them.
    store.remove({1});
    QVERIFY(store.save(path).ok);
    ContactStore again;
    again.load(path);
    QCOMPARE(rows(again), (QStringList{"Ann B <annb@x>", "Jos\u00e9 <jose@x>", "Cyd <cyd@x>", "Dee <dee@x>"}));
    QCOMPARE(rows(store), rows(again));
}

void ContactStoreTest::rewriteOfAFileChangedElsewhereKeepsTheirChanges() {
    QTemporaryDir dir;
    const QString path = dir.filePath("database.dat");
    QVERIFY(writeAll(path, "\"A\",\"a@x\"\r\n\"B\",\"b@x\"\r\n\"B\",\"b@x\"\r\n\"C\",\"c@x\"\r\n"));
    store.load(path);
    store.remove({2}); // the second B: the first must stay
    QVERIFY(store.edit(2, "C2", "c2@x"));
    QVERIFY(store.add("D", "d@x"));
    // Someone else puts a line first, another B last, and takes A out.
    QVERIFY(writeAll(path, "\"Z\",\"z@x\"\r\n\"B\",\"b@x\"\r\n\"B\",\"b@x\"\r\n\"C\",\"c@x\"\r\n"
                           "\"B\",\"b@x\"\r\n"));
    const SaveResult saved = store.save(path);
    QVERIFY2(saved.ok, qPrintable(saved.error));
    QVERIFY(saved.fileChanged);
    QCOMPARE(readAll(path), QByteArray("\"Z\",\"z@x\"\r\n\"B\",\"b@x\"\r\n\"C2\",\"c2@x\"\r\n\"B\",\"b@x\"\r\n"
                                       "\"D\",\"d@x\"\r\n"));
    QCOMPARE(rows(store), (QStringList{"Z <z@x>", "B <b@x>", "C2 <c2@x>", "B <b@x>", "D <d@x>"}));
}

void ContactStoreTest::undoPutsRowsBackBeforeAndAfterASave() {
    QTemporaryDir dir;
    const QString path = dir.filePath("database.dat");
    QVERIFY(appendContactRecords(path, contacts(1, 6)).ok);
    store.load(path);
    QVERIFY(add(store, contact(7)));
    QVERIFY(store.edit(4, "Edited", "e@x"));
    const QStringList all = rows(store);
    store.remove({6, 1, 4});
    store.remove({0});
    QCOMPARE(rows(store), (QStringList{all[2], all[3], all[5]}));
    QCOMPARE(store.undoRemove(), (std::vector<qint32>{0}));
    QCOMPARE(store.undoRemove(), (std::vector<qint32>{1, 4, 6}));
    QCOMPARE(rows(store), all);
    QVERIFY(!store.canUndoRemove());
    QVERIFY(store.save(path).ok);
    QCOMPARE(named(fileRecords(path)), all);

    // An added contact removed before a save that appends the others comes back after them.
    QVERIFY(store.add("New 1", "n1@x"));
    QVERIFY(store.add("New 2", "n2@x"));
    store.remove({qint32(all.size())});
    QVERIFY(store.save(path).ok);
    QCOMPARE(store.undoRemove(), std::vector<qint32>{qint32(all.size()) + 1});
    QCOMPARE(rows(store).mid(all.size()), (QStringList{"New 2 <n2@x>", "New 1 <n1@x>"}));
    store.remove({qint32(all.size()), qint32(all.size()) + 1});
    QVERIFY(store.save(path).ok);

    // Once saved without them, they come back as contacts added in this run.
    store.remove({1, 2});
    QVERIFY(store.save(path).ok);
    store.undoRemove();
    QVERIFY(store.hasUnsavedChanges());
    QVERIFY(store.save(path).ok);
    QCOMPARE(named(fileRecords(path)), (QStringList{all[0], all[3], all[4], all[5], all[6], all[1], all[2]}));
}

// A disk that fills up part-way: the file stays as it was, nothing is left beside it, and the
// changes wait for the next save.
void ContactStoreTest::aRewriteThatFailsChangesNothing() {
    QTemporaryDir dir;
    const QString path = dir.filePath("database.dat");
    QVERIFY(appendContactRecords(path, contacts(1, 300)).ok);
    const QByteArray before = readAll(path);
    store.load(path);
    store.remove({1});
    rlimit original;
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &original), 0);
    const ChildSave r = saveInChild(
        [&]() -> QString {
            rlimit rl = original;
            rl.rlim_cur = rlim_t(before.size() / 2);
            return ::setrlimit(RLIMIT_FSIZE, &rl) == 0 ? QString() : QStringLiteral("setrlimit failed");
        },
        [&] {
            const SaveResult first = store.save(path);
            if (first.ok || !first.error.contains(path) || !store.hasUnsavedChanges())
                return SaveResult{false, QStringLiteral("first save: ok=%1 %2").arg(first.ok).arg(first.error)};
            if (readAll(path) != before || QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size() != 1)
                return SaveResult{false, QStringLiteral("the file or its folder changed")};
            ::setrlimit(RLIMIT_FSIZE, &original);
            return store.save(path);
        });
    if (!r.setupError.isEmpty())
        QSKIP(qPrintable(r.setupError));
    QVERIFY(!r.crashed);
    QVERIFY2(r.ok, qPrintable(r.error));
    Records expected = contacts(1, 300);
    expected.removeAt(1);
    QCOMPARE(shown(fileRecords(path)), shown(expected));
}

QTEST_GUILESS_MAIN(ContactStoreTest)
#include "test_contactstore.moc"
