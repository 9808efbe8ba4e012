// SPDX-License-Identifier: GPL-3.0-or-later
#include "contacts/ContactFile.h"


#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <climits>
#include <vector>

#include <fcntl.h>
#include <sys/uio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// 0x80-0x9F of Windows-1252. The five holes keep their C1 code points, as Windows itself maps them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void decodeCp1252(const unsigned char* p, qsizetype n, char16_t* out) {
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char c = p[i];
        out[i] = (c >= 0x80 && c < 0xA0) ? kCp1252High[c - 0x80] : char16_t(c);
    }
}

// Strict UTF-8 (no overlongs, no surrogates, nothing past U+10FFFF), decoded by hand so that what
// counts as valid and what it decodes to do not hang on the library's replacement policy.
// Returns the UTF-16 units written (never more than n), or -1 when the bytes are not UTF-8.
qsizetype decodeUtf8(const unsigned char* p, qsizetype n, char16_t* out) {
    char16_t* o = out;
    qsizetype i = 0;
    auto cont = [&](qsizetype k) { return k < n && (p[k] & 0xC0) == 0x80; };
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            *o++ = c;
            ++i;
        } else if (c >= 0xC2 && c <= 0xDF) {
            if (!cont(i + 1))
                return -1;
            *o++ = char16_t(((c & 0x1F) << 6) | (p[i + 1] & 0x3F));
            i += 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            if (!cont(i + 1) || !cont(i + 2))
                return -1;
            const unsigned char c1 = p[i + 1];
            if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F))
                return -1;
            *o++ = char16_t(((c & 0x0F) << 12) | ((c1 & 0x3F) << 6) | (p[i + 2] & 0x3F));
            i += 3;
        } else if (c >= 0xF0 && c <= 0xF4) {
            if (!cont(i + 1) || !cont(i + 2) || !cont(i + 3))
                return -1;
            const unsigned char c1 = p[i + 1];
            if ((c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 > 0x8F))
                return -1;
            const char32_t u = (char32_t(c & 0x07) << 18) | (char32_t(c1 & 0x3F) << 12) |
                               (char32_t(p[i + 2] & 0x3F) << 6) | char32_t(p[i + 3] & 0x3F);
            *o++ = char16_t(0xD800 + ((u - 0x10000) >> 10));
            *o++ = char16_t(0xDC00 + ((u - 0x10000) & 0x3FF));
            i += 4;
        } else {
            return -1;
        }
    }
    return o - out;
}

// One field's text into out, which has room for n units: UTF-8 when the bytes are valid UTF-8,
// Windows-1252 otherwise. Returns the units written, never more than n.
qsizetype decodeInto(const unsigned char* __restrict p, qsizetype n, char16_t* __restrict out) {
    // Nearly every field is ASCII: widen it in one pass and only look closer when it was not.
    unsigned char seen = 0;
    for (qsizetype i = 0; i < n; ++i) {
        out[i] = p[i];
        seen |= p[i];
    }
    if (seen < 0x80)
        return n;
    const qsizetype units = decodeUtf8(p, n, out);
    if (units >= 0)
        return units;
    decodeCp1252(p, n, out);
    return n;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

struct Field {
    const char* begin = nullptr;
    const char* end = nullptr;
    bool quoted = false;
};

enum class LineKind { Blank, Record, Damaged };

// The one shape the writer produces, "name","address", found with two quote searches. It reads
// exactly as under the general rules below; any other line is left to them.
bool writerShape(const char* b, const char* e, Field (&fields)[2]) {
    if (e - b < 5 || b[0] != '"' || e[-1] != '"')
        return false;
    const char* close = static_cast<const char*>(std::memchr(b + 1, '"', e - b - 1));
    if (close + 3 >= e || close[1] != ',' || close[2] != '"')
        return false;
    if (std::memchr(close + 3, '"', e - 1 - (close + 3)))
        return false;
    fields[0] = {b + 1, close, true};
    fields[1] = {close + 3, e - 1, true};
    return true;
}

LineKind splitLine(const char* b, const char* e, Field (&fields)[2]) {
    const char* q = b;
    while (q < e && isBlank(*q))
        ++q;
    if (q == e)
        return LineKind::Blank;

    int n = 0;
    for (;;) {
        while (q < e && isBlank(*q))
            ++q;
        Field& f = fields[n++];
        const char* afterField;
        if (q < e && *q == '"') {
            const char* close = static_cast<const char*>(std::memchr(q + 1, '"', e - q - 1));
            if (!close)
                return LineKind::Damaged;
            f = {q + 1, close, true};
            afterField = close + 1;
        } else {
            afterField = q;
            f = {q, nullptr, false};
        }
        const char* comma = static_cast<const char*>(std::memchr(afterField, ',', e - afterField));
        if (!f.quoted) {
            const char* fe = comma ? comma : e;
            while (fe > f.begin && isBlank(fe[-1]))
                --fe;
            f.end = fe;
        }
        if (n == 2)
            break;
        if (!comma)
            return LineKind::Damaged; // a name without an address
        q = comma + 1;
    }
    // An address that is simply absent is what a write cut short after the comma leaves;
    // only "" stands for an empty address.
    if (!fields[1].quoted && fields[1].begin == fields[1].end)
        return LineKind::Damaged;
    return LineKind::Record;
}

LineKind classify(const char* b, const char* e, Field (&fields)[2]) {
    return writerShape(b, e, fields) ? LineKind::Record : splitLine(b, e, fields);
}

// Not an errno: a file that is no regular file of the user's own.
constexpr int NotOwnRegularFile = 100000;

QString errnoText(int e) {
    // O_NOFOLLOW's answer to a link reads as a loop; say what it is.
    if (e == ELOOP)
        return QStringLiteral("it is a symbolic link, which Velmora does not follow");
    if (e == NotOwnRegularFile)
        return QStringLiteral("it is not a regular file of your own");
    return qt_error_string(e);
}

// The list is the user's: a link or a file someone else owns, planted where it is kept, is not
// read or written. 0, or the error to report.
int ownRegularFile(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return errno;
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    return S_ISREG(st.st_mode) && st.st_uid == ::getuid() ? 0 : NotOwnRegularFile;
}

int openRetry(const QByteArray& path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path.constData(), flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Returns 0 or the errno that stopped it; *written counts what got through either way.
int writeAll(int fd, const char* data, qsizetype size, qsizetype* written) {
    qsizetype done = 0;
    int err = 0;
    while (done < size) {
        const size_t chunk = size_t(std::min<qsizetype>(size - done, qsizetype(1) << 30));
        const ssize_t r = ::write(fd, data + done, chunk);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            err = errno;
            break;
        }
        if (r == 0) {
            err = ENOSPC;
            break;
        }
        done += r;
    }
    if (written)
        *written = done;
    return err;
}

int syncFd(int fd) {
    int r;
    do {
        r = ::fsync(fd);
    } while (r < 0 && errno == EINTR);
    // Devices and pipes cannot be synced; there is nothing behind them to lose.
    return (r < 0 && errno != EINVAL) ? errno : 0;
}

QString folderOf(const QString& path) {
    return QFileInfo(path).absolutePath();
}

bool isFolder(const QString& path) {
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

QByteArray encodeRecord(const QString& name, const QString& email) {
    EncodedRecords r;
    r.add(name, email);
    return r.bytes();
}

bool isStorable(const QString& field) {
    for (QChar c : field) {
        if (c == u'"' || c == u'\r' || c == u'\n')
            return false;
    }
    return true;
}

QString decodeField(QByteArrayView bytes) {
    QString s(bytes.size(), Qt::Uninitialized);
    const qsizetype units = decodeInto(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                                       reinterpret_cast<char16_t*>(s.data()));
    s.truncate(units);
    return s;
}

ParseStats contactfile_detail::scan(QByteArrayView bytes, LineFn fn, void* sink) {
    ParseStats stats;
    const char* const begin = bytes.data();
    const char* p = begin;
    const char* const end = p + bytes.size();
    if (bytes.size() >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0)
        p += 3;

    // The next LF is remembered, so a run of lone CRs does not rescan the same stretch for it.
    const char* lf = nullptr;
    bool lfKnown = false;
    Field fields[2];
    while (p < end) {
        if (!lfKnown || (lf && lf < p)) {
            lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
            lfKnown = true;
        }
        const char* lineEnd = lf ? lf : end;
        const char* next = lf ? lf + 1 : end;
        if (const char* cr = static_cast<const char*>(std::memchr(p, '\r', lineEnd - p))) {
            lineEnd = cr;
            next = (cr + 1 < end && cr[1] == '\n') ? cr + 2 : cr + 1;
        }
        switch (classify(p, lineEnd, fields)) {
        case LineKind::Blank:
            break;
        case LineKind::Damaged:
            ++stats.damagedLines;
            break;
        case LineKind::Record:
            ++stats.records;
            fn(sink, p - begin);
            break;
        }
        p = next;
    }
    return stats;
}

namespace {

// The fields of the record line that starts at lineStart; false when there is no record there.
bool fieldsAt(QByteArrayView bytes, qsizetype lineStart, Field (&fields)[2], const char** lineEnd = nullptr) {
    if (lineStart < 0 || lineStart >= bytes.size())
        return false;
    const char* const b = bytes.data() + lineStart;
    const char* const end = bytes.data() + bytes.size();
    // A plain loop, not memchr: in a file of lone CRs the next LF can lie megabytes away.
    const char* e = b;
    while (e < end && *e != '\n' && *e != '\r')
        ++e;
    if (lineEnd)
        *lineEnd = e;
    return classify(b, e, fields) == LineKind::Record;
}

QString decode(const Field& f) {
    return decodeField(QByteArrayView(f.begin, f.end - f.begin));
}

} // namespace

QString contactFieldAt(QByteArrayView bytes, qsizetype lineStart, ContactField field) {
    Field fields[2];
    if (!fieldsAt(bytes, lineStart, fields))
        return {};
    return decode(fields[field == ContactField::Name ? 0 : 1]);
}

ContactRecord contactRecordAt(QByteArrayView bytes, qsizetype lineStart) {
    Field fields[2];
    if (!fieldsAt(bytes, lineStart, fields))
        return {};
    return {decode(fields[0]), decode(fields[1])};
}

bool contactRecordSpansAt(QByteArrayView bytes, qsizetype lineStart, RecordSpans* spans) {
    Field fields[2];
    const char* e = nullptr;
    if (!fieldsAt(bytes, lineStart, fields, &e))
        return false;
    const char* const b = bytes.data();
    *spans = {fields[0].begin - b, fields[0].end - b, fields[1].begin - b, fields[1].end - b, e - b};
    return true;
}

QList<ContactRecord> parseContactRecords(QByteArrayView bytes, ParseStats* stats) {
    QList<ContactRecord> records;
    const ParseStats s = parseContactRecords(bytes, [&](QString&& name, QString&& email) {
        records.append({std::move(name), std::move(email)});
    });
    if (stats)
        *stats = s;
    return records;
}

LoadResult readContactFileBytes(const QString& path, QByteArray* bytes) {
    LoadResult result;
    bytes->clear();
    const QByteArray native = QFile::encodeName(path);
    int fd = openRetry(native, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        if (const int e = ownRegularFile(fd)) {
            ::close(fd);
            fd = -1;
            errno = e;
        }
    }
    if (fd < 0) {
        const int e = errno;
        const QString folder = folderOf(path);
        if ((e == ENOENT || e == ENOTDIR) && !isFolder(folder)) {
            result.status = LoadStatus::FolderMissing;
            result.error = QStringLiteral("Cannot read the contacts from %1: the folder %2 does not exist.")
                               .arg(path, folder);
        } else if (e == ENOENT) {
            result.status = LoadStatus::FileMissing;
        } else {
            result.status = LoadStatus::ReadError;
            result.error = QStringLiteral("Cannot read the contacts from %1: %2.").arg(path, errnoText(e));
        }
        return result;
    }

    struct stat st;
    qsizetype capacity = 64 * 1024;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        capacity = qsizetype(st.st_size) + 1; // +1: the end shows as a zero read, not a regrow
    QByteArray buffer(capacity, Qt::Uninitialized);
    qsizetype size = 0;
    int err = 0;
    for (;;) {
        if (size == buffer.size())
            buffer.resize(buffer.size() * 2);
        const ssize_t r = ::read(fd, buffer.data() + size, size_t(buffer.size() - size));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            err = errno;
            break;
        }
        if (r == 0)
            break;
        size += r;
    }
    ::close(fd);
    if (err) {
        result.status = LoadStatus::ReadError;
        result.error = QStringLiteral("Cannot read the contacts from %1: %2.").arg(path, errnoText(err));
        return result;
    }
    buffer.truncate(size);
    *bytes = std::move(buffer);
    return result;
}

void EncodedRecords::add(const QString& name, const QString& email) {
    m_bytes.append('"').append(name.toUtf8()).append("\",\"").append(email.toUtf8()).append("\"\r\n");
    m_ends.append(m_bytes.size());
}

qsizetype EncodedRecords::recordsWithin(qsizetype byteCount) const {
    return std::upper_bound(m_ends.cbegin(), m_ends.cend(), byteCount) - m_ends.cbegin();
}

namespace {

struct AppendTarget {
    int fd = -1;
    bool canReadTail = true; // read access is only wanted to look at the last byte
    bool created = false;
};

// A write-only file can still be saved to; a missing file is created, a missing folder is not.
AppendTarget openForAppend(const QByteArray& native) {
    AppendTarget t;
    t.fd = openRetry(native, O_RDWR | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    if (t.fd < 0 && errno == EACCES) {
        t.fd = openRetry(native, O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
        t.canReadTail = false;
    }
    if (t.fd < 0 && errno == ENOENT) {
        t.fd = openRetry(native, O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        t.created = t.fd >= 0;
    }
    if (t.fd >= 0) {
        if (const int e = ownRegularFile(t.fd)) {
            ::close(t.fd);
            t.fd = -1;
            errno = e;
        }
    }
    return t;
}

// A write cut short earlier leaves a partial line; the new records start on a fresh one so they
// are not glued to it. Without read access an extra CR LF costs only a blank line.
const char* lineBreakBefore(const AppendTarget& t) {
    struct stat st;
    if (::fstat(t.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
        return "";
    char last = 0;
    if (t.canReadTail) {
        ssize_t r;
        do {
            r = ::pread(t.fd, &last, 1, st.st_size - 1);
        } while (r < 0 && errno == EINTR);
        if (r != 1)
            last = 0;
    }
    return last == '\n' ? "" : last == '\r' ? "\n" : "\r\n";
}

} // namespace

SaveResult appendContactRecords(const QString& path, const EncodedRecords& records) {
    SaveResult result;
    auto fail = [&](int e) {
        result.ok = false;
        result.error = QStringLiteral("Cannot save the contacts to %1: %2.").arg(path, errnoText(e));
        return result;
    };

    const AppendTarget target = openForAppend(QFile::encodeName(path));
    if (target.fd < 0) {
        const int e = errno;
        if ((e == ENOENT || e == ENOTDIR) && !isFolder(folderOf(path))) {
            result.error = QStringLiteral("Cannot save the contacts to %1: the folder %2 does not exist.")
                               .arg(path, folderOf(path));
            return result;
        }
        return fail(e);
    }

    const QByteArray& body = records.bytes();
    int err = 0;
    qsizetype bodyWritten = 0;
    if (!body.isEmpty()) {
        const char* lineBreak = lineBreakBefore(target);
        err = writeAll(target.fd, lineBreak, qsizetype(std::strlen(lineBreak)), nullptr);
        if (!err)
            err = writeAll(target.fd, body.constData(), body.size(), &bodyWritten);
    }

    // Whatever made it into the file is synced even after a failed write, so the whole records
    // in it can be counted as saved and are not appended a second time by the next save.
    const int syncErr = syncFd(target.fd);
    int closeErr = 0;
    if (::close(target.fd) < 0 && errno != EINTR)
        closeErr = errno;
    if (target.created && !syncErr) {
        const int dirFd = openRetry(QFile::encodeName(folderOf(path)), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd >= 0) {
            if (const int e = syncFd(dirFd); e && !err)
                err = e;
            ::close(dirFd);
        }
    }

    if (!syncErr && !closeErr)
        result.recordsWritten = records.recordsWithin(bodyWritten);
    if (err || syncErr || closeErr)
        return fail(err ? err : syncErr ? syncErr : closeErr);
    result.ok = true;
    return result;
}

SaveResult appendContactRecords(const QString& path, const QList<ContactRecord>& records) {
    EncodedRecords encoded;
    for (const ContactRecord& r : records)
        encoded.add(r.name, r.email);
    return appendContactRecords(path, encoded);
}

namespace {

QByteArray besideName(const QByteArray& folder, const QByteArray& file, const char* what) {
    return folder + "/." + file + what + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
}

} // namespace

SaveResult replaceContactFile(const QString& path, const QList<QByteArrayView>& pieces) {
    SaveResult result;
    const QByteArray native = QFile::encodeName(path);
    const QByteArray folder = QFile::encodeName(folderOf(path));
    const QByteArray file = QFile::encodeName(QFileInfo(path).fileName());
    auto fail = [&](int e) {
        result.error = QStringLiteral("Cannot save the contacts to %1: %2.").arg(path, errnoText(e));
        return result;
    };

    struct stat old;
    const bool exists = ::lstat(native.constData(), &old) == 0;
    if (!exists && errno != ENOENT)
        return fail(errno);
    if (exists && S_ISLNK(old.st_mode))
        return fail(ELOOP);
    if (exists && (!S_ISREG(old.st_mode) || old.st_uid != ::getuid()))
        return fail(NotOwnRegularFile);

    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        temp = besideName(folder, file, ".new-");
        fd = openRetry(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, exists ? 0600 : 0644);
        if (fd < 0 && errno != EEXIST)
            return fail(errno);
    }
    if (fd < 0)
        return fail(EEXIST);
    int err = exists && ::fchmod(fd, old.st_mode & 07777) != 0 ? errno : 0;
    for (qsizetype i = 0; !err && i < pieces.size(); i += IOV_MAX) {
        // Many small pieces go in one call; a short write finishes one piece at a time.
        std::vector<iovec> batch;
        qsizetype want = 0;
        for (qsizetype k = i; k < std::min<qsizetype>(pieces.size(), i + IOV_MAX); ++k) {
            batch.push_back({const_cast<char*>(pieces[k].data()), size_t(pieces[k].size())});
            want += pieces[k].size();
        }
        ssize_t done;
        do {
            done = ::writev(fd, batch.data(), int(batch.size()));
        } while (done < 0 && errno == EINTR);
        if (done < 0) {
            err = errno;
            break;
        }
        for (size_t k = 0; done < want && k < batch.size(); ++k) {
            const qsizetype len = qsizetype(batch[k].iov_len);
            if (done >= len) {
                done -= len;
                want -= len;
                continue;
            }
            err = writeAll(fd, static_cast<const char*>(batch[k].iov_base) + done, len - done, nullptr);
            want -= len;
            done = 0;
            if (err)
                break;
        }
    }
    if (!err)
        err = syncFd(fd);
    if (::close(fd) < 0 && errno != EINTR && !err)
        err = errno;
    if (!err && exists) {
        // The link is made under a name of its own and renamed, so an older backup is replaced
        // whole and never removed first.
        const QByteArray bakTemp = besideName(folder, file, ".bak-");
        if (::link(native.constData(), bakTemp.constData()) == 0 &&
            ::rename(bakTemp.constData(), (native + ".bak").constData()) != 0)
            ::unlink(bakTemp.constData());
    }
    if (!err && ::rename(temp.constData(), native.constData()) != 0)
        err = errno;
    if (err) {
        ::unlink(temp.constData());
        return fail(err);
    }
    const int dirFd = openRetry(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        syncFd(dirFd);
        ::close(dirFd);
    }
    result.ok = true;
    return result;
}
