// SPDX-License-Identifier: GPL-3.0-or-later
#include "contacts/ContactStore.h"

#include <QFile>

#include <algorithm>
#include <cstring>

#include <sys/stat.h>

namespace {

bool isLineEnd(char c) {
    return c == '\n' || c == '\r';
}

// Where the line from start ends, and past its line end (LF, CR LF or a lone CR).
std::pair<qsizetype, qsizetype> lineSpan(QByteArrayView bytes, qsizetype start) {
    const char* const b = bytes.data();
    qsizetype e = start;
    while (e < bytes.size() && !isLineEnd(b[e]))
        ++e;
    qsizetype next = e;
    if (next < bytes.size())
        next += (b[next] == '\r' && next + 1 < bytes.size() && b[next + 1] == '\n') ? 2 : 1;
    return {e, next};
}

// Every line, its start and the bytes before its line end; a byte order mark is not a line's.
template <class Fn> void forEachLine(QByteArrayView bytes, Fn&& fn) {
    qsizetype p = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (p < bytes.size()) {
        const auto [contentEnd, next] = lineSpan(bytes, p);
        fn(p, bytes.sliced(p, contentEnd - p));
        p = next;
    }
}

const char* freshLine(QByteArrayView bytes) {
    return bytes.isEmpty() || bytes.back() == '\n' ? "" : bytes.back() == '\r' ? "\n" : "\r\n";
}

} // namespace

LoadResult ContactStore::load(const QString& path) {
    QByteArray bytes;
    LoadResult result = readContactFileBytes(path, &bytes);
    if (result.status != LoadStatus::Loaded)
        return result;

    qsizetype base = 0;
    if (m_bytes.isEmpty()) {
        m_bytes = std::move(bytes);
    } else {
        // Without a line end between them, the earlier file's last line would run on into this one.
        m_bytes.append('\n');
        base = m_bytes.size();
        m_bytes.append(bytes);
    }
    m_fileEnd = m_bytes.size();
    m_stamp = base == 0 ? stampOf(path) : Stamp{};
    result.stats = indexRecords(base, &result.leftOut);
    ++m_generation;
    return result;
}

// The rows of the records from base on, as many as there are slots for.
ParseStats ContactStore::indexRecords(qsizetype base, qint64* leftOut) {
    // A record line takes at least four bytes with its line end. Room reserved beyond what the
    // records need is never touched, so it costs address space, not memory.
    const qsizetype room =
        std::min<qsizetype>(kContactSlots - m_lineStarts.size(), (m_fileEnd - base) / 4 + 1);
    m_lineStarts.reserve(m_lineStarts.size() + std::max<qsizetype>(room, 0));
    *leftOut = 0;
    return
        scanContactRecords(QByteArrayView(m_bytes).sliced(base, m_fileEnd - base), [&](qsizetype lineStart) {
            if (m_lineStarts.size() >= kContactSlots) {
                ++*leftOut;
                return;
            }
            m_lineStarts.append(base + lineStart);
        });
}

ContactStore::Stamp ContactStore::stampOf(const QString& path) {
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
            qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
            qint64(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec};
}

bool ContactStore::add(const QString& name, const QString& email) {
    if (m_runAdded.size() >= kContactSlots)
        return false;
    m_added.append({name, email});
    m_runAdded.append({name, email});
    return true;
}

bool ContactStore::edit(qint32 row, const QString& name, const QString& email) {
    const qint32 loaded = ContactCount();
    if (row < 0 || row >= rowCount())
        return false;
    if (row >= loaded) {
        m_added[row - loaded] = {name, email};
    } else {
        const qsizetype start = m_lineStarts[row];
        const qsizetype origin = originOf(start);
        m_editedFrom.remove(start);
        m_lineStarts[row] = m_bytes.size();
        m_editedFrom.insert(m_bytes.size(), origin);
        m_bytes.append(encodeRecord(name, email));
    }
    ++m_generation;
    return true;
}

void ContactStore::remove(std::vector<qint32> rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    std::erase_if(rows, [&](qint32 row) { return row < 0 || row >= rowCount(); });
    if (rows.empty())
        return;
    Removal removal;
    removal.saves = m_saves;
    removal.rows.reserve(rows.size());
    const qint32 loaded = ContactCount();
    auto next = rows.begin();
    qsizetype kept = 0;
    for (qint32 row = 0; row < loaded; ++row) {
        const qsizetype start = m_lineStarts[row];
        if (next != rows.end() && *next == row) {
            ++next;
            const qsizetype origin = originOf(start);
            m_editedFrom.remove(start);
            m_removed.insert(origin);
            removal.rows.push_back({row, start, origin, {}});
        } else {
            m_lineStarts[kept++] = start;
        }
    }
    m_lineStarts.resize(kept);
    for (auto it = next; it != rows.end(); ++it)
        removal.rows.push_back({*it, -1, -1, m_added[*it - loaded]});
    for (auto it = rows.rbegin(); it != std::make_reverse_iterator(next); ++it)
        m_added.removeAt(*it - loaded);
    m_undo.push_back(std::move(removal));
    ++m_generation;
}

std::vector<qint32> ContactStore::undoRemove() {
    std::vector<qint32> back;
    if (m_undo.empty())
        return back;
    Removal removal = std::move(m_undo.back());
    m_undo.pop_back();
    ++m_generation;
    if (removal.saves != m_saves) {
        for (RemovedRow& r : removal.rows) {
            back.push_back(rowCount());
            m_added.append(r.start >= 0 ? contactRecordAt(m_bytes, r.start) : std::move(r.text));
        }
        return back;
    }
    QList<qsizetype> starts;
    starts.reserve(m_lineStarts.size() + qsizetype(removal.rows.size()));
    qsizetype from = 0;
    auto r = removal.rows.begin();
    for (; r != removal.rows.end() && r->start >= 0; ++r) {
        while (starts.size() < r->row && from < m_lineStarts.size())
            starts.append(m_lineStarts[from++]);
        starts.append(r->start);
        if (r->start >= m_fileEnd)
            m_editedFrom.insert(r->start, r->origin);
        m_removed.remove(r->origin);
        back.push_back(r->row);
    }
    while (from < m_lineStarts.size())
        starts.append(m_lineStarts[from++]);
    m_lineStarts = std::move(starts);
    for (; r != removal.rows.end(); ++r) {
        m_added.insert(std::min<qsizetype>(r->row - ContactCount(), m_added.size()), std::move(r->text));
        back.push_back(r->row);
    }
    return back;
}

SaveResult ContactStore::save(const QString& path) {
    return m_removed.isEmpty() && m_editedFrom.isEmpty() ? appendAdded(path) : rewrite(path);
}

SaveResult ContactStore::appendAdded(const QString& path) {
    m_bytes.truncate(m_fileEnd); // no row is edited, so nothing after the file is read
    const bool stamped = stampOf(path) == m_stamp;
    EncodedRecords records;
    for (const ContactRecord& c : std::as_const(m_added))
        records.add(c.name, c.email);
    const char* lineBreak = freshLine(m_bytes);
    const SaveResult result = appendContactRecords(path, records);
    const qsizetype written = qsizetype(result.recordsWritten);
    if (written > 0) {
        // What the file now holds, as far as this run knows: a later rewrite compares it with the disk.
        m_bytes.append(lineBreak);
        const qsizetype base = m_bytes.size();
        m_bytes.append(records.bytes().constData(), records.endOf(written - 1));
        for (qsizetype k = 0; k < written; ++k)
            m_lineStarts.append(base + (k == 0 ? 0 : records.endOf(k - 1)));
        m_fileEnd = m_bytes.size();
        ++m_saves; // the rows of a removal before it are no longer where they were
        // Stamped again only when the file was as read and the append whole: else the next
        // rewrite compares the bytes.
        m_stamp = stamped && result.ok ? stampOf(path) : Stamp{};
        m_added.remove(0, written);
        m_runSaved = std::min<qint32>(m_runSaved + qint32(written), NewContactCount());
        ++m_generation;
    }
    return result;
}

std::vector<ContactStore::Change> ContactStore::changesByPlace() const {
    std::vector<Change> changes;
    changes.reserve(size_t(m_removed.size() + m_editedFrom.size()));
    auto change = [&](qsizetype origin, qsizetype arena) {
        const auto [contentEnd, end] = lineSpan(QByteArrayView(m_bytes).first(m_fileEnd), origin);
        changes.push_back({origin, end, arena, contentEnd});
    };
    for (const qsizetype origin : m_removed)
        change(origin, -1);
    for (auto it = m_editedFrom.cbegin(); it != m_editedFrom.cend(); ++it)
        change(it.value(), it.key());
    std::sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) { return a.at < b.at; });
    return changes;
}

// The same changes, for a file that someone else changed: a line is known by its bytes and by how
// many lines just like it come before it, so a removed duplicate is the same one of its kind.
std::vector<ContactStore::Change> ContactStore::changesByContent(QByteArrayView disk) const {
    const std::vector<Change> mine = changesByPlace();
    const QByteArrayView file = QByteArrayView(m_bytes).first(m_fileEnd);
    QHash<QByteArrayView, qsizetype> seen;
    for (const Change& c : mine)
        seen.insert(file.sliced(c.at, c.contentEnd - c.at), 0);
    QHash<std::pair<QByteArrayView, qsizetype>, qsizetype> wanted; // -> arena
    auto next = mine.begin();
    forEachLine(file, [&](qsizetype start, QByteArrayView content) {
        const auto it = seen.find(content);
        if (it == seen.end())
            return;
        const qsizetype ordinal = it.value()++;
        while (next != mine.end() && next->at < start)
            ++next;
        if (next != mine.end() && next->at == start)
            wanted.insert({content, ordinal}, next->arena);
    });
    for (auto it = seen.begin(); it != seen.end(); ++it)
        it.value() = 0;
    std::vector<Change> changes;
    forEachLine(disk, [&](qsizetype start, QByteArrayView content) {
        const auto it = seen.find(content);
        if (it == seen.end())
            return;
        const auto w = wanted.constFind({content, it.value()++});
        if (w == wanted.cend())
            return;
        const auto [contentEnd, end] = lineSpan(disk, start);
        changes.push_back({start, end, w.value(), contentEnd});
    });
    return changes;
}

SaveResult ContactStore::rewrite(const QString& path) {
    QByteArray disk;
    const bool stamped = m_stamp.size >= 0 && stampOf(path) == m_stamp;
    if (stamped) {
        disk = QByteArray::fromRawData(m_bytes.constData(), m_fileEnd);
    } else {
        const LoadResult read = readContactFileBytes(path, &disk);
        if (read.status == LoadStatus::ReadError || read.status == LoadStatus::FolderMissing) {
            SaveResult failed;
            failed.error = QString(read.error).replace(QStringLiteral("Cannot read the contacts from"),
                                                       QStringLiteral("Cannot save the contacts to"));
            return failed;
        }
    }
    const bool same = stamped || QByteArrayView(disk) == QByteArrayView(m_bytes).first(m_fileEnd);
    const std::vector<Change> changes = same ? changesByPlace() : changesByContent(disk);

    auto arenaContent = [&](qsizetype arena) {
        return QByteArrayView(m_bytes).sliced(arena, lineSpan(m_bytes, arena).first - arena);
    };
    // The new file as pieces of what is held already; when it is the file as read, of m_bytes
    // itself, which can then become the new file in place.
    const QByteArrayView source = same ? QByteArrayView(m_bytes).first(m_fileEnd) : QByteArrayView(disk);
    QList<QByteArrayView> pieces;
    pieces.reserve(qsizetype(changes.size()) * 3 + 2);
    std::vector<qsizetype> shiftAt, shift; // for the rows: how far a line after each change moved
    qsizetype from = 0, moved = 0, size = 0;
    bool inPlace = same; // every piece lands at or before where it is now
    auto piece = [&](QByteArrayView bytes, qsizetype at) {
        if (bytes.isEmpty())
            return;
        inPlace = inPlace && size <= at;
        pieces.append(bytes);
        size += bytes.size();
    };
    for (const Change& c : changes) {
        piece(source.sliced(from, c.at - from), from);
        if (c.arena >= 0) {
            const QByteArrayView record = arenaContent(c.arena);
            piece(record, c.arena);
            piece(source.sliced(c.contentEnd, c.end - c.contentEnd), c.contentEnd);
            moved += record.size() - (c.contentEnd - c.at);
        } else {
            moved -= c.end - c.at;
        }
        from = c.end;
        shiftAt.push_back(c.at);
        shift.push_back(moved);
    }
    piece(source.sliced(from), from);
    QByteArray tail(freshLine(pieces.isEmpty() ? QByteArrayView() : pieces.back()));
    std::vector<qsizetype> addedAt;
    addedAt.reserve(size_t(m_added.size()));
    for (const ContactRecord& c : std::as_const(m_added)) {
        addedAt.push_back(size + tail.size());
        tail.append(encodeRecord(c.name, c.email));
    }
    const qsizetype body = size;
    pieces.append(tail);

    SaveResult result = replaceContactFile(path, pieces);
    if (!result.ok)
        return result;
    const Stamp written = stampOf(path);
    result.recordsWritten = m_added.size();
    result.fileChanged = !same;

    // What the undo keeps of rows that are no longer in the file is their text.
    for (Removal& removal : m_undo)
        for (RemovedRow& r : removal.rows)
            if (r.start >= 0)
                r.text = contactRecordAt(m_bytes, std::exchange(r.start, -1));
    if (same) {
        for (qsizetype& start : m_lineStarts) {
            const qsizetype origin = originOf(start);
            const auto after = std::upper_bound(shiftAt.begin(), shiftAt.end(), origin - 1);
            start = origin + (after == shiftAt.begin() ? 0 : shift[size_t(after - shiftAt.begin()) - 1]);
        }
        for (const qsizetype at : addedAt)
            m_lineStarts.append(at);
    }
    // A large fresh buffer costs a page fault per page written; moving the bytes down within
    // the one already touched does not.
    if (inPlace) {
        char* d = m_bytes.data();
        qsizetype at = 0;
        for (qsizetype i = 0; i + 1 < pieces.size(); ++i) {
            std::memmove(d + at, pieces[i].data(), size_t(pieces[i].size()));
            at += pieces[i].size();
        }
        m_bytes.truncate(body);
        m_bytes.append(tail);
    } else {
        QByteArray out;
        out.reserve(body + tail.size());
        for (const QByteArrayView p : std::as_const(pieces))
            out.append(p.data(), p.size());
        m_bytes = std::move(out);
    }
    m_fileEnd = m_bytes.size();
    if (!same) {
        // Someone else's file: its records are the rows now.
        m_lineStarts.clear();
        qint64 leftOut = 0;
        indexRecords(0, &leftOut);
    }
    m_stamp = written;
    m_removed.clear();
    m_editedFrom.clear();
    m_added.clear();
    m_runSaved = NewContactCount();
    ++m_saves;
    ++m_generation;
    return result;
}

void ContactStore::clear() {
    *this = ContactStore();
}

QString ContactStore::loadedField(qint32 index, ContactField field) const {
    return contactFieldAt(m_bytes, m_lineStarts[index], field);
}

QString ContactStore::rowField(qint32 row, ContactField field) const {
    const qint32 loaded = ContactCount();
    if (row >= 0 && row < loaded)
        return loadedField(row, field);
    const qint32 k = row - loaded;
    if (k >= 0 && k < m_added.size())
        return field == ContactField::Name ? m_added[k].name : m_added[k].email;
    return {};
}

bool ContactStore::rowBytes(qint32 row, QByteArrayView* name, QByteArrayView* email) const {
    RecordSpans spans;
    if (row < 0 || row >= ContactCount() || !contactRecordSpansAt(m_bytes, m_lineStarts[row], &spans))
        return false;
    const QByteArrayView bytes(m_bytes);
    *name = bytes.sliced(spans.nameBegin, spans.nameEnd - spans.nameBegin);
    *email = bytes.sliced(spans.emailBegin, spans.emailEnd - spans.emailBegin);
    return true;
}

QString ContactStore::slotField(qint32 slot, ContactField field) const {
    if (slot >= 1 && slot <= m_runAdded.size())
        return field == ContactField::Name ? m_runAdded[slot - 1].name : m_runAdded[slot - 1].email;
    if (slot >= 1 && slot <= ContactCount())
        return loadedField(slot - 1, field);
    return {};
}
