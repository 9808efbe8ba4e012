// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The contact file data/database.dat: record codec, reader and appender. No widgets, no store.
//
// The writer produces exactly one shape of line:  "name","address" CR LF  (UTF-8, no escaping).
// Everything else was written by hand, by the old Windows program, or is the remains of a write
// that was cut short. The reader takes all of it line by line, by these rules:
//
//  - LF, CR LF and a lone CR end a line; a line never continues past its end, so damage stays
//    on its own line and nothing after it is lost. Blank lines (spaces and tabs only) are skipped.
//  - A UTF-8 byte order mark at the very start of the file is ignored (the writer never starts a
//    file with one, so this loses nothing that it wrote).
//  - A field ends at a comma or at the line end. Blanks before a field are skipped. A field that
//    starts with a double quote runs to the next double quote, commas included; whatever follows
//    the closing quote up to the next comma is ignored. Any other field is taken up to the next
//    comma with surrounding blanks trimmed. Quotes are never escaped: "" is an empty field.
//  - The first two fields are the name and the address; any further fields are ignored.
//  - A line is damaged, skipped and counted when a double quote opens and never closes on that
//    line, when it has only one field, or when its address is empty without being written as "".
//    Every cut-short prefix of a written record falls under one of these, so a torn write never
//    reads back as a contact, be it the last line or, after a later save, in the middle.
//  - A field that is valid UTF-8 is UTF-8; any other is Windows-1252, the code page of the files
//    that the old Windows program wrote.
//
// Bytes are scanned once, line ends found with memchr; no byte sequence makes the reader slower
// than linear. Finding the records and decoding their text are separate steps, so that the file's
// bytes can be kept as they are and a field decoded only when it is shown.


#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <concepts>
#include <memory>
#include <type_traits>
#include <utility>

struct ContactRecord {
    QString name;
    QString email;
    friend bool operator==(const ContactRecord&, const ContactRecord&) = default;
};

// One record as the writer lays it out, CR LF included.
QByteArray encodeRecord(const QString& name, const QString& email);

// False when the field holds a double quote, CR or LF: the file has no escaping, so such a field
// would not read back as it was written.
bool isStorable(const QString& field);

// The text of one field's bytes: UTF-8 when they are valid UTF-8, Windows-1252 otherwise.
QString decodeField(QByteArrayView bytes);

struct ParseStats {
    qint64 records = 0;
    qint64 damagedLines = 0;
};

namespace contactfile_detail {
using LineFn = void (*)(void* sink, qsizetype lineStart);
ParseStats scan(QByteArrayView bytes, LineFn fn, void* sink);
} // namespace contactfile_detail

// Finds every record without decoding it: calls sink(lineStart) with the offset in bytes where the
// record's line starts, in file order. Damaged lines are only counted.
template <std::invocable<qsizetype> Sink> ParseStats scanContactRecords(QByteArrayView bytes, Sink&& sink) {
    using S = std::remove_reference_t<Sink>;
    return contactfile_detail::scan(
        bytes, [](void* s, qsizetype lineStart) { (*static_cast<S*>(s))(lineStart); },
        const_cast<void*>(static_cast<const void*>(std::addressof(sink))));
}

enum class ContactField { Name, Email };

// One field of the record whose line starts at lineStart, as scanContactRecords reported it.
// Costs the length of that line, whatever the size of bytes.
QString contactFieldAt(QByteArrayView bytes, qsizetype lineStart, ContactField field);
ContactRecord contactRecordAt(QByteArrayView bytes, qsizetype lineStart);

// Where that record's two fields lie in bytes, as the reader takes them (quotes and trimmed
// blanks left out), and where its line ends. False when no record starts at lineStart.
struct RecordSpans {
    qsizetype nameBegin = 0;
    qsizetype nameEnd = 0;
    qsizetype emailBegin = 0;
    qsizetype emailEnd = 0;
    qsizetype lineEnd = 0;
};
bool contactRecordSpansAt(QByteArrayView bytes, qsizetype lineStart, RecordSpans* spans);

// Calls sink(QString&& name, QString&& email) for every record, in file order.
template <std::invocable<QString&&, QString&&> Sink>
ParseStats parseContactRecords(QByteArrayView bytes, Sink&& sink) {
    return scanContactRecords(bytes, [&](qsizetype lineStart) {
        ContactRecord record = contactRecordAt(bytes, lineStart);
        sink(std::move(record.name), std::move(record.email));
    });
}

QList<ContactRecord> parseContactRecords(QByteArrayView bytes, ParseStats* stats = nullptr);

enum class LoadStatus {
    Loaded,
    FileMissing,   // nothing saved yet: an empty list
    FolderMissing, // the data folder beside the program is gone; the user should hear of it
    ReadError,
};

struct LoadResult {
    LoadStatus status = LoadStatus::Loaded;
    ParseStats stats;
    qint64 leftOut = 0; // records the store had no slot for; they stay in the file
    QString error;      // path and reason, for ReadError and FolderMissing
};

// Reads the whole file in one go. On a read error no record is delivered.
LoadResult readContactFileBytes(const QString& path, QByteArray* bytes);

template <class Sink> LoadResult readContactFile(const QString& path, Sink&& sink) {
    QByteArray bytes;
    LoadResult result = readContactFileBytes(path, &bytes);
    if (result.status == LoadStatus::Loaded)
        result.stats = parseContactRecords(bytes, std::forward<Sink>(sink));
    return result;
}

struct SaveResult {
    bool ok = false;
    QString error;             // path and reason when !ok
    qint64 recordsWritten = 0; // whole records that reached the disk, also when the save failed
    bool fileChanged = false;  // someone else had changed the file since it was read
};

// Records laid out for one append, remembering where each ends so that a save cut short can say
// how many whole records it left behind.
class EncodedRecords {
public:
    void add(const QString& name, const QString& email);
    qsizetype count() const { return m_ends.size(); }
    const QByteArray& bytes() const { return m_bytes; }
    qsizetype recordsWithin(qsizetype byteCount) const;
    qsizetype endOf(qsizetype record) const { return m_ends[record]; }

private:
    QByteArray m_bytes;
    QList<qsizetype> m_ends;
};

// Appends to the file, never rewriting it: O_APPEND, a missing file is created (0644 less the
// umask), a missing folder is not. After a write that was cut short earlier the new records start
// on a fresh line. Success is reported only once the data is on the disk. With no records the file
// is only opened and closed.
SaveResult appendContactRecords(const QString& path, const EncodedRecords& records);
SaveResult appendContactRecords(const QString& path, const QList<ContactRecord>& records);

// Puts bytes in the file's place so that the path names a whole file at every moment: the new
// file is written beside it (the old one's mode kept) and flushed, the old one becomes
// "<path>.bak" by a hard link (one generation; skipped where the disk has no hard links), and the
// new one is renamed over it. Like the appender it follows no link and writes no file that is not
// the user's own.
SaveResult replaceContactFile(const QString& path, const QList<QByteArrayView>& pieces);
