// SPDX-License-Identifier: GPL-3.0-or-later
// The contact file: what the writer lays down, how every kind of input reads back, and how saves
// behave when the disk or the folder says no.

#include "contacts/ContactFile.h"
#include "tests/support/ContactTestSupport.h"

#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using Records = QList<ContactRecord>;
using namespace contacttest;

namespace {

QByteArray encodeAll(const Records& records) {
    QByteArray bytes;
    for (const ContactRecord& r : records)
        bytes += encodeRecord(r.name, r.email);
    return bytes;
}

Records readBack(const QString& path, ParseStats* stats = nullptr) {
    Records records;
    const LoadResult r = readContactFile(path, [&](QString&& n, QString&& e) { records.append({n, e}); });
    if (stats)
        *stats = r.stats;
    return records;
}

// Sets or clears an inode flag such as immutable or append-only; false where the file system or
// the missing privilege does not allow it.
bool setInodeFlag(const QString& path, int flag, bool on) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = on ? (flags | flag) : (flags & ~flag);
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
}

const ContactRecord kAnn{QStringLiteral("Ann"), QStringLiteral("ann@example.com")};
const ContactRecord kBob{QStringLiteral("Bob, Jr."), QStringLiteral("bob@example.com")};
const ContactRecord kCy{QStringLiteral("Cy"), QStringLiteral("cy@example.com")};

} // namespace

class ContactFileTest : public QObject {
    Q_OBJECT

private slots:
    void aPlantedFileIsNeitherReadNorWritten();
    void recordLayout_data();
    void recordLayout();
    void roundTrip_data();
    void roundTrip();
    void legacyBytes_data();
    void legacyBytes();
    void unwrittenShapes_data();
    void unwrittenShapes();
    void cutShortWriteNeverBecomesAContact();
    void nextSaveStartsOnAFreshLine_data();
    void nextSaveStartsOnAFreshLine();
    void hostileBytes_data();
    void hostileBytes();
    void hundredThousandRecords();
    void loadOutcomes_data();
    void loadOutcomes();
    void saveWithoutRecordsOnlyCreatesTheFile();
    void appendOnlyFileAcceptsTheSave();
    void failedSaveTellsPathAndReason_data();
    void failedSaveTellsPathAndReason();
    void fullDiskKeepsEarlierRecords();
    void storableFields_data();
    void storableFields();
};

void ContactFileTest::recordLayout_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("email");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("plain") << "John Doe"
                           << "john@example.com" << QByteArray("\"John Doe\",\"john@example.com\"\r\n");
    QTest::newRow("empty name") << ""
                                << "x@y" << QByteArray("\"\",\"x@y\"\r\n");
    QTest::newRow("comma kept, no escaping") << "Doe, John"
                                             << "j@x" << QByteArray("\"Doe, John\",\"j@x\"\r\n");
    QTest::newRow("text is UTF-8") << QStringLiteral("Jos\u00e9") << "j@x"
                                   << QByteArray("\"Jos\xc3\xa9\",\"j@x\"\r\n");
}

void ContactFileTest::recordLayout() {
    QFETCH(QString, name);
    QFETCH(QString, email);
    QFETCH(QByteArray, bytes);
    QCOMPARE(encodeRecord(name, email), bytes);
}

void ContactFileTest::roundTrip_data() {
    QTest::addColumn<Records>("records");
    QTest::newRow("three records, file order") << Records{kAnn, kBob, kCy};
    QTest::newRow("comma in a name") << Records{{"Doe, John", "john@example.com"}, {",", ",@,"}};
    QTest::newRow("empty name") << Records{{"", "nobody@example.com"}};
    QTest::newRow("empty address") << Records{{"Ann", ""}, {"", ""}};
    QTest::newRow("duplicates") << Records{kAnn, kAnn, kAnn};
    QTest::newRow("non-ASCII") << Records{
        {QStringLiteral("Zo\u00eb \u00c5ngstr\u00f6m"), "zoe@example.com"},
        {QStringLiteral("\u65e5\u672c\u8a9e"), QStringLiteral("\u00fc@example.com")},
        {QStringLiteral("smile \U0001F642"), "s@example.com"}};
    QTest::newRow("blanks inside quotes kept") << Records{{"  padded  ", " a@b "}};
    QTest::newRow("tab, NUL and other controls")
        << Records{{QString::fromLatin1("tab\there\x01", 10), QString::fromLatin1("nul\0inside", 10)}};
    QTest::newRow("apostrophe and backslash") << Records{{"O'Brien \\", "o'brien@example.com"}};
}

void ContactFileTest::roundTrip() {
    QFETCH(Records, records);
    QTemporaryDir dir;
    const QString path = dir.filePath("database.dat");

    // Two saves, to read back across an append as well.
    const qsizetype half = records.size() / 2;
    QVERIFY(appendContactRecords(path, records.mid(0, half)).ok);
    const SaveResult second = appendContactRecords(path, records.mid(half));
    QVERIFY2(second.ok, qPrintable(second.error));
    QCOMPARE(second.recordsWritten, records.size() - half);

    QCOMPARE(readAll(path), encodeAll(records));
    ParseStats stats;
    QCOMPARE(shown(readBack(path, &stats)), shown(records));
    QCOMPARE(stats.damagedLines, 0);
}

void ContactFileTest::legacyBytes_data() {
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("text");
    QTest::newRow("Latin-1 letter") << QByteArray("Jos\xe9") << QStringLiteral("Jos\u00e9");
    QTest::newRow("1252 punctuation") << QByteArray("\x80 \x93q\x94 \x99 \x8a\x9f")
                                      << QStringLiteral("\u20ac \u201cq\u201d \u2122 \u0160\u0178");
    QTest::newRow("1252 holes keep C1 code points")
        << QByteArray("\x81\x8d\x8f\x90\x9d") << QStringLiteral("\u0081\u008d\u008f\u0090\u009d");
    QTest::newRow("overlong UTF-8 is not UTF-8")
        << QByteArray("a\xc0\xaf") << QStringLiteral("a\u00c0\u00af");
    QTest::newRow("encoded surrogate is not UTF-8")
        << QByteArray("\xed\xa0\x80") << QStringLiteral("\u00ed\u00a0\u20ac");
    QTest::newRow("UTF-8 cut off is not UTF-8") << QByteArray("caf\xc3") << QStringLiteral("caf\u00c3");
    QTest::newRow("beyond U+10FFFF is not UTF-8")
        << QByteArray("\xf4\x90\x80\x80") << QStringLiteral("\u00f4\u0090\u20ac\u20ac");
    QTest::newRow("two-byte UTF-8") << QByteArray("M\xc3\xbcller") << QStringLiteral("M\u00fcller");
    QTest::newRow("four-byte UTF-8") << QByteArray("\xf0\x9f\x99\x82") << QStringLiteral("\U0001F642");
    QTest::newRow("noncharacter is still UTF-8") << QByteArray("\xef\xbf\xbf") << QStringLiteral("\uffff");
}

void ContactFileTest::legacyBytes() {
    QFETCH(QByteArray, field);
    QFETCH(QString, text);
    QCOMPARE(decodeField(field), text);
    // Each field is judged on its own: a UTF-8 address does not decide how the name reads.
    const Records records = parseContactRecords("\"" + field + "\",\"\xc3\xa9@example.com\"\r\n");
    QCOMPARE(shown(records), shown({{text, QStringLiteral("\u00e9@example.com")}}));
}

void ContactFileTest::unwrittenShapes_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Records>("records");
    QTest::addColumn<int>("damaged");

    const QByteArray ann = "\"Ann\",\"ann@example.com\"";
    QTest::newRow("empty file") << QByteArray() << Records{} << 0;
    QTest::newRow("last record without line end") << ann << Records{kAnn} << 0;
    QTest::newRow("LF line ends") << ann + "\n" + ann + "\n" << Records{kAnn, kAnn} << 0;
    QTest::newRow("lone CR line ends") << ann + "\r" + ann + "\r" << Records{kAnn, kAnn} << 0;
    QTest::newRow("CR CR LF") << ann + "\r\r\n" + ann << Records{kAnn, kAnn} << 0;
    QTest::newRow("blank lines skipped") << "\r\n \t\r\n" + ann + "\r\n\r\n\n" << Records{kAnn} << 0;
    QTest::newRow("byte order mark at start") << "\xef\xbb\xbf" + ann << Records{kAnn} << 0;
    QTest::newRow("unquoted fields trimmed")
        << QByteArray(" Ann ,\tann@example.com \r\n") << Records{kAnn} << 0;
    QTest::newRow("blanks before quotes skipped")
        << QByteArray("  \"Ann\" ,  \"ann@example.com\"") << Records{kAnn} << 0;
    QTest::newRow("unquoted name, quoted address")
        << QByteArray("Ann,\"ann@example.com\"") << Records{kAnn} << 0;
    QTest::newRow("further fields ignored") << ann + ",\"x\",y,\"unclosed" << Records{kAnn} << 0;
    QTest::newRow("text after a closing quote ignored")
        << QByteArray("\"Ann\"xx,\"ann@example.com\"yy") << Records{kAnn} << 0;
    QTest::newRow("quote inside a name ends it")
        << QByteArray("\"O\"Brien\",\"o@example.com\"") << Records{{"O", "o@example.com"}} << 0;
    QTest::newRow("doubled quotes are an empty field")
        << QByteArray("\"\"\"\",\"a@b\"") << Records{{"", "a@b"}} << 0;
    QTest::newRow("empty name unquoted") << QByteArray(",a@b") << Records{{"", "a@b"}} << 0;
    QTest::newRow("only a name") << "\"Ann\"\r\n" + ann << Records{kAnn} << 1;
    QTest::newRow("only an unquoted name") << "Ann\r\n" + ann << Records{kAnn} << 1;
    QTest::newRow("name and comma only") << "\"Ann\",\r\n" + ann << Records{kAnn} << 1;
    QTest::newRow("commas only") << ",,,\r\n" + ann << Records{kAnn} << 1;
    QTest::newRow("unclosed quote in the name") << "\"Ann,ann@example.com\r\n" + ann << Records{kAnn} << 1;
    QTest::newRow("unclosed quote in the address") << "\"Ann\",\"ann@exa\r\n" + ann << Records{kAnn} << 1;
    QTest::newRow("damage is kept to its line")
        << ann + "\r\n\"\r\n\"\"\r\n,\r\n" + ann << Records{kAnn, kAnn} << 3;
    QTest::newRow("NUL and control bytes are text")
        << QByteArray("\"a\0b\x1b\",\"\x7f@\x01\"", 12)
        << Records{{QString::fromLatin1("a\0b\x1b", 4), QString::fromLatin1("\x7f@\x01", 3)}} << 0;
}

void ContactFileTest::unwrittenShapes() {
    QFETCH(QByteArray, bytes);
    QFETCH(Records, records);
    QFETCH(int, damaged);
    ParseStats stats;
    QCOMPARE(shown(parseContactRecords(bytes, &stats)), shown(records));
    QCOMPARE(stats.records, records.size());
    QCOMPARE(stats.damagedLines, damaged);
}

void ContactFileTest::cutShortWriteNeverBecomesAContact() {
    // A write can stop after any byte. Whatever is left must read as the records before it, plus
    // the cut record only if it is whole, and the next save must read back in full after it.
    const QByteArray before = encodeRecord(kAnn.name, kAnn.email);
    const QByteArray cut = encodeRecord(kBob.name, kBob.email);
    QTemporaryDir dir;
    for (qsizetype n = 0; n <= cut.size(); ++n) {
        const bool whole = n >= cut.size() - 2; // only the CR LF missing
        const QByteArray torn = before + cut.left(n);
        const Records expected = whole ? Records{kAnn, kBob} : Records{kAnn};
        ParseStats stats;
        QCOMPARE(shown(parseContactRecords(torn, &stats)), shown(expected));
        QCOMPARE(stats.damagedLines, (whole || n == 0) ? 0 : 1);

        const QString path = dir.filePath(QStringLiteral("cut%1.dat").arg(n));
        QVERIFY(writeAll(path, torn));
        QVERIFY(appendContactRecords(path, Records{kCy}).ok);
        const QByteArray after = readAll(path);
        QVERIFY(after.startsWith(torn));
        QCOMPARE(shown(readBack(path)), shown(expected + Records{kCy}));
    }
}

void ContactFileTest::nextSaveStartsOnAFreshLine_data() {
    QTest::addColumn<QByteArray>("existing");
    QTest::addColumn<QByteArray>("separator");
    const QByteArray ann = encodeRecord(kAnn.name, kAnn.email);
    QTest::newRow("empty file") << QByteArray() << QByteArray();
    QTest::newRow("ends in CR LF") << ann << QByteArray();
    QTest::newRow("ends in LF") << QByteArray("\"Ann\",\"ann@example.com\"\n") << QByteArray();
    QTest::newRow("ends in CR") << QByteArray("\"Ann\",\"ann@example.com\"\r") << QByteArray("\n");
    QTest::newRow("record without line end") << ann.chopped(2) << QByteArray("\r\n");
    QTest::newRow("cut inside a record") << ann + "\"Bob\",\"bo" << QByteArray("\r\n");
}

void ContactFileTest::nextSaveStartsOnAFreshLine() {
    QFETCH(QByteArray, existing);
    QFETCH(QByteArray, separator);
    QTemporaryDir dir;
    const QString path = dir.filePath("database.dat");
    QVERIFY(writeAll(path, existing));
    QVERIFY(appendContactRecords(path, Records{kCy}).ok);
    QCOMPARE(readAll(path), existing + separator + encodeRecord(kCy.name, kCy.email));
}

void ContactFileTest::hostileBytes_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("damaged");
    const int big = 1'000'000;
    QTest::newRow("10 MB line without an end") << QByteArray(10 * big, 'a') << 0 << 1;
    QTest::newRow("a million lone CRs") << QByteArray(big, '\r') << 0 << 0;
    QTest::newRow("lone CRs before a far LF") << QByteArray(big, '\r') + "a,b\n" << 1 << 0;
    QTest::newRow("a million quotes") << QByteArray(big, '"') << 0 << 1;
    QTest::newRow("a million commas") << QByteArray(big, ',') << 0 << 1;
    QTest::newRow("quote-comma run") << QByteArray("\",").repeated(big) << 1 << 0;
    QTest::newRow("a million damaged lines") << QByteArray("\"\n").repeated(big) << 0 << big;
    QTest::newRow("a million NULs") << QByteArray(big, '\0') << 0 << 1;
    QByteArray everyByte;
    for (int i = 0; i < 256; ++i)
        everyByte.append(char(i));
    // Each copy ends two lines: 0x0B-0x0C, a lone field, and 0x0E up to the next copy's 0x09, which
    // holds a comma and so two fields; only the file's first line, 0x00-0x09, stands alone.
    QTest::newRow("every byte value") << everyByte.repeated(4096) << 4096 << 4096 + 1;
}

void ContactFileTest::hostileBytes() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, records);
    QFETCH(int, damaged);
    const ParseStats stats = parseContactRecords(bytes, [](QString&&, QString&&) {});
    QCOMPARE(stats.records, records);
    QCOMPARE(stats.damagedLines, damaged);
}

void ContactFileTest::hundredThousandRecords() {
    QTemporaryDir dir;
    const QString path = dir.filePath("database.dat");
    Records records;
    for (int i = 1; i <= 100'000; ++i)
        records.append(
            {QStringLiteral("Contact %1 \u00e9").arg(i), QStringLiteral("c%1@example.com").arg(i)});
    QVERIFY(appendContactRecords(path, records).ok);

    qint64 count = 0;
    bool inOrder = true;
    const LoadResult r = readContactFile(path, [&](QString&& n, QString&& e) {
        const ContactRecord& want = records.at(count++);
        inOrder = inOrder && n == want.name && e == want.email;
    });
    QCOMPARE(r.status, LoadStatus::Loaded);
    QCOMPARE(r.stats.records, 100'000);
    QCOMPARE(count, 100'000);
    QVERIFY(inOrder);
}

void ContactFileTest::loadOutcomes_data() {
    QTest::addColumn<QString>("setup");
    QTest::addColumn<LoadStatus>("status");
    QTest::addColumn<QString>("reason");
    QTest::newRow("file missing: an empty list") << "no file" << LoadStatus::FileMissing << "";
    QTest::newRow("empty file") << "empty file" << LoadStatus::Loaded << "";
    QTest::newRow("data folder missing") << "no folder" << LoadStatus::FolderMissing << "does not exist";
    QTest::newRow("data is a file") << "folder is a file" << LoadStatus::FolderMissing << "does not exist";
    QTest::newRow("contact file is a folder") << "file is a folder" << LoadStatus::ReadError << "directory";
}

void ContactFileTest::loadOutcomes() {
    QFETCH(QString, setup);
    QFETCH(LoadStatus, status);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString folder = dir.filePath("data");
    const QString path = folder + "/database.dat";
    if (setup != "no folder")
        QVERIFY(setup == "folder is a file" ? writeAll(folder, "x") : QDir().mkdir(folder));
    if (setup == "empty file")
        QVERIFY(writeAll(path, {}));
    if (setup == "file is a folder")
        QVERIFY(QDir().mkdir(path));

    int delivered = 0;
    const LoadResult r = readContactFile(path, [&](QString&&, QString&&) { ++delivered; });
    QCOMPARE(r.status, status);
    QCOMPARE(delivered, 0);
    if (reason.isEmpty()) {
        QVERIFY(r.error.isEmpty());
    } else {
        QVERIFY2(r.error.contains(path) && r.error.contains(reason, Qt::CaseInsensitive),
                 qPrintable(r.error));
    }
}

void ContactFileTest::saveWithoutRecordsOnlyCreatesTheFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath("database.dat");
    QVERIFY(appendContactRecords(path, Records{}).ok);
    QVERIFY(QFileInfo::exists(path));
    QCOMPARE(readAll(path), QByteArray());
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0644 & ~mask);

    // An existing file, even one cut short, is left exactly as it is.
    const QByteArray torn = "\"Ann\",\"ann@exa";
    QVERIFY(writeAll(path, torn));
    QVERIFY(appendContactRecords(path, Records{}).ok);
    QCOMPARE(readAll(path), torn);
}

void ContactFileTest::appendOnlyFileAcceptsTheSave() {
    // An append-only file refuses every open that could rewrite it; saving must still work.
    QTemporaryDir dir;
    const QString path = dir.filePath("database.dat");
    const QByteArray ann = encodeRecord(kAnn.name, kAnn.email);
    QVERIFY(writeAll(path, ann));
    if (!setInodeFlag(path, FS_APPEND_FL, true))
        QSKIP("append-only files are not available here");
    const SaveResult r = appendContactRecords(path, Records{kCy});
    setInodeFlag(path, FS_APPEND_FL, false);
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(readAll(path), ann + encodeRecord(kCy.name, kCy.email));
}

void ContactFileTest::failedSaveTellsPathAndReason_data() {
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("reason");
    QTest::newRow("data folder missing") << "no folder"
                                         << "does not exist";
    QTest::newRow("contact file is a folder") << "file is a folder"
                                              << "directory";
    QTest::newRow("read-only file system") << "read-only mount"
                                           << "read-only file system";
    QTest::newRow("read-only folder") << "read-only folder"
                                      << "permission denied";
    QTest::newRow("immutable file") << "immutable"
                                    << "not permitted";
    QTest::newRow("a device, not a file") << "device full"
                                          << "not a regular file";
}

void ContactFileTest::failedSaveTellsPathAndReason() {
    QFETCH(QString, setup);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString folder = dir.filePath("data");
    QString path = folder + "/database.dat";
    const QByteArray earlier = encodeRecord(kAnn.name, kAnn.email);
    if (setup != "no folder") {
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(setup == "file is a folder" ? QDir().mkdir(path) : writeAll(path, earlier));
    }
    if (setup == "device full") {
        path = QStringLiteral("/dev/full");
        if (!QFileInfo::exists(path))
            QSKIP("no /dev/full here");
    }

    std::function<QString()> prepare;
    if (setup == "read-only mount") {
        // A private mount namespace, where a read-only bind over the folder stops even root.
        prepare = [folder]() -> QString {
            const QByteArray f = QFile::encodeName(folder);
            if (::unshare(CLONE_NEWNS) != 0)
                return QStringLiteral("no mount namespace");
            if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount(f.constData(), f.constData(), nullptr, MS_BIND, nullptr) != 0 ||
                ::mount(nullptr, f.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
                return QStringLiteral("cannot mount read-only");
            return {};
        };
    } else if (setup == "read-only folder") {
        if (::geteuid() == 0)
            QSKIP("root ignores permission bits; the read-only mount case stands in for it");
        QVERIFY(QFile::remove(path));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    } else if (setup == "immutable") {
        if (!setInodeFlag(path, FS_IMMUTABLE_FL, true))
            QSKIP("immutable files are not available here");
    }

    const ChildSave r = saveInChild(prepare, [&] { return appendContactRecords(path, Records{kCy}); });
    if (setup == "immutable")
        setInodeFlag(path, FS_IMMUTABLE_FL, false);
    if (setup == "read-only folder")
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!r.setupError.isEmpty())
        QSKIP(qPrintable(r.setupError));

    QVERIFY(!r.crashed);
    QVERIFY(!r.ok);
    QCOMPARE(r.recordsWritten, 0);
    QVERIFY2(r.error.contains(path) && r.error.contains(reason, Qt::CaseInsensitive), qPrintable(r.error));
    if (setup == "no folder")
        QVERIFY(!QFileInfo::exists(folder)); // the folder is never made behind the user's back
    if (setup == "read-only mount" || setup == "immutable")
        QCOMPARE(readAll(path), earlier);
}

void ContactFileTest::fullDiskKeepsEarlierRecords() {
    QTemporaryDir dir;
    const QString path = dir.filePath("database.dat");
    const Records earlier{kAnn, kBob};
    QVERIFY(appendContactRecords(path, earlier).ok);
    const QByteArray before = readAll(path);

    // Room for one new record and half of the next: the second write runs into the limit.
    const ContactRecord d{"Dee", "dee@example.com"};
    const ContactRecord e{"Eve", "eve@example.com"};
    const qsizetype limit = before.size() + encodeRecord(d.name, d.email).size() + 5;
    const ChildSave r = saveInChild(
        [limit]() -> QString {
            rlimit rl;
            ::getrlimit(RLIMIT_FSIZE, &rl);
            rl.rlim_cur = rlim_t(limit);
            return ::setrlimit(RLIMIT_FSIZE, &rl) == 0 ? QString() : QStringLiteral("setrlimit failed");
        },
        [&] {
            return appendContactRecords(path, Records{d, e});
        });
    QVERIFY(!r.crashed);
    QVERIFY(!r.ok);
    QVERIFY2(r.error.contains(path) && r.error.contains("too large", Qt::CaseInsensitive),
             qPrintable(r.error));
    QCOMPARE(r.recordsWritten, 1);

    const QByteArray after = readAll(path);
    QCOMPARE(after.size(), limit);
    QCOMPARE(after.left(before.size()), before);
    ParseStats stats;
    QCOMPARE(shown(readBack(path, &stats)), shown(earlier + Records{d}));
    QCOMPARE(stats.damagedLines, 1);

    // Once there is room again, the next save reads back whole after the cut record.
    QVERIFY(appendContactRecords(path, Records{e}).ok);
    QCOMPARE(shown(readBack(path)), shown(earlier + Records{d, e}));
}

void ContactFileTest::storableFields_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("storable");
    QTest::newRow("plain") << "john@example.com" << true;
    QTest::newRow("empty") << "" << true;
    QTest::newRow("comma") << "Doe, John" << true;
    QTest::newRow("tab and non-ASCII") << QStringLiteral("\t\u00e9\U0001F642") << true;
    QTest::newRow("double quote") << "Dwayne \"The Rock\"" << false;
    QTest::newRow("CR") << "a\rb" << false;
    QTest::newRow("LF") << "a\nb" << false;
}

void ContactFileTest::storableFields() {
    QFETCH(QString, field);
    QFETCH(bool, storable);
    QCOMPARE(isStorable(field), storable);
    if (storable) {
        const Records back = parseContactRecords(encodeRecord(field, field));
        QCOMPARE(shown(back), shown({{field, field}}));
    }
}

// Where the list is kept, a link or a file of someone else's is neither read nor written through:
// the file it points to stays as it was, and the user is told why.
void ContactFileTest::aPlantedFileIsNeitherReadNorWritten() {
    QTemporaryDir dir;
    const QString target = dir.filePath("elsewhere");
    const QString path = dir.filePath("database.dat");
    QVERIFY(writeAll(target, encodeRecord("Eve", "eve@x")));
    QVERIFY(QFile::link(target, path));
    QByteArray bytes;
    const LoadResult read = readContactFileBytes(path, &bytes);
    QCOMPARE(read.status, LoadStatus::ReadError);
    QVERIFY2(read.error.contains("symbolic link"), qPrintable(read.error));
    const SaveResult saved = appendContactRecords(path, QList<ContactRecord>{{"Ann", "ann@x"}});
    QVERIFY(!saved.ok);
    QCOMPARE(readAll(target), encodeRecord("Eve", "eve@x"));

    if (::getuid() != 0)
        QSKIP("giving a file to another user needs root");
    QVERIFY(QFile::remove(path));
    QVERIFY(writeAll(path, encodeRecord("Eve", "eve@x")));
    QVERIFY(::chown(QFile::encodeName(path).constData(), 65534, 65534) == 0);
    QCOMPARE(readContactFileBytes(path, &bytes).status, LoadStatus::ReadError);
    QVERIFY(!appendContactRecords(path, QList<ContactRecord>{{"Ann", "ann@x"}}).ok);
    QCOMPARE(readAll(path), encodeRecord("Eve", "eve@x"));
}

QTEST_GUILESS_MAIN(ContactFileTest)
#include "test_contactfile.moc"
