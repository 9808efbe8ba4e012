// SPDX-License-Identifier: GPL-3.0-or-later
#include "contacts/ContactExchange.h"

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cstring>
#include <vector>

namespace exchange {
namespace {

// Longer than any address book's field: the rest of such a record is not read.
constexpr qsizetype kMaxRecordChars = 64 * 1024;

QString textOf(QByteArrayView bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    return decodeField(bytes); // UTF-8 when it is, else Windows-1252
}

// An address as a mail program holds one: printable, without blanks (so that Google's " ::: "
// between two is never part of one), and one the contact file can keep.
bool usable(const QString& address) {
    return address.contains(QLatin1Char('@')) && isStorable(address) &&
           std::all_of(address.begin(), address.end(), [](QChar c) { return c.isPrint() && !c.isSpace(); });
}

void addContact(Imported& in, QString name, const QString& address, qint64 line) {
    const QString a = address.trimmed();
    if (a.isEmpty())
        return;
    name = name.simplified();
    if (!usable(a) || !isStorable(name)) {
        in.unreadableLines << line;
        return;
    }
    in.contacts.append({name.isEmpty() ? a : name, a});
}

// ---- CSV --------------------------------------------------------------------

struct CsvRecord {
    QStringList fields;
    qint64 line = 0;
    bool readable = true;
};

// RFC 4180, also with bare LF or CR line ends; a quote inside an unquoted field is kept.
class CsvReader {
public:
    explicit CsvReader(const QString& text) : m_text(text) {}

    bool next(CsvRecord* record) {
        if (m_at >= m_text.size())
            return false;
        *record = CsvRecord{{}, m_line, true};
        QString field;
        qsizetype chars = 0;
        bool quoted = false, wasQuoted = false;
        while (m_at < m_text.size()) {
            const QChar c = m_text[m_at++];
            if (++chars > kMaxRecordChars && record->readable) {
                record->readable = false;
                field.clear();
            }
            if (quoted) {
                if (c == QLatin1Char('"')) {
                    if (m_at < m_text.size() && m_text[m_at] == QLatin1Char('"')) {
                        ++m_at;
                        append(record, field, c);
                    } else {
                        quoted = false;
                    }
                } else {
                    if (c == QLatin1Char('\n') || (c == QLatin1Char('\r') && !peek('\n')))
                        ++m_line;
                    append(record, field, c);
                }
                continue;
            }
            if (c == QLatin1Char('"') && field.isEmpty() && !wasQuoted) {
                quoted = wasQuoted = true;
            } else if (c == QLatin1Char(',')) {
                record->fields << std::exchange(field, QString());
                wasQuoted = false;
            } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
                if (c == QLatin1Char('\r') && peek('\n'))
                    ++m_at;
                ++m_line;
                break;
            } else {
                append(record, field, c);
            }
        }
        if (quoted)
            record->readable = false; // a quote that never closes took the rest of the file
        record->fields << field;
        return true;
    }

private:
    bool peek(char c) const { return m_at < m_text.size() && m_text[m_at] == QLatin1Char(c); }
    static void append(const CsvRecord* record, QString& field, QChar c) {
        if (record->readable)
            field.append(c);
    }

    const QString& m_text;
    qsizetype m_at = 0;
    qint64 m_line = 1;
};

QString headerKey(const QString& header) {
    QString key;
    for (const QChar c : header)
        if (c.isLetterOrNumber())
            key.append(c.toLower());
    return key;
}

// Written as text by an export, to keep it from a spreadsheet's formulas.
QString unguarded(const QString& field) {
    static const QString starts = QStringLiteral("=+-@\t\r");
    return field.size() > 1 && field[0] == QLatin1Char('\'') && starts.contains(field[1]) ? field.mid(1) : field;
}

Imported importCsv(QByteArrayView bytes) {
    Imported in;
    const QString text = textOf(bytes);
    CsvReader reader(text);
    CsvRecord header;
    while (reader.next(&header) && header.fields.size() == 1 && header.fields[0].trimmed().isEmpty()) {
    }
    int display = -1, first = -1, last = -1;
    QList<int> emails;
    for (int i = 0; i < header.fields.size(); ++i) {
        const QString key = headerKey(header.fields[i]);
        if (key == u"displayname" || key == u"name" || key == u"fullname")
            display = display < 0 ? i : display;
        else if (key == u"firstname" || key == u"givenname")
            first = i;
        else if (key == u"lastname" || key == u"familyname" || key == u"surname")
            last = i;
        else if (key.contains(u"email") && !key.contains(u"type") && !key.contains(u"label") &&
                 !key.contains(u"displayname"))
            emails << i;
    }
    if (!header.readable || emails.isEmpty()) {
        in.error = QStringLiteral("it has no e-mail column (a CSV file's first line names its columns)");
        return in;
    }
    CsvRecord record;
    while (reader.next(&record)) {
        if (!record.readable) {
            in.unreadableLines << record.line;
            continue;
        }
        const QStringList& f = record.fields;
        QString name = display >= 0 ? unguarded(f.value(display)).trimmed() : QString();
        if (name.isEmpty())
            name = (unguarded(f.value(first)) + QLatin1Char(' ') + unguarded(f.value(last))).trimmed();
        for (int column : std::as_const(emails)) {
            // Google puts several addresses in one field.
            for (const QString& address : unguarded(f.value(column)).split(QStringLiteral(" ::: ")))
                addContact(in, name, address, record.line);
        }
    }
    return in;
}

// ---- vCard ------------------------------------------------------------------

QString vcardValue(QStringView v) {
    QString out;
    for (qsizetype i = 0; i < v.size(); ++i) {
        if (v[i] == QLatin1Char('\\') && i + 1 < v.size()) {
            const QChar n = v[++i];
            out.append(n == QLatin1Char('n') || n == QLatin1Char('N') ? QChar(QLatin1Char(' ')) : n);
        } else {
            out.append(v[i]);
        }
    }
    return out;
}

Imported importVCard(QByteArrayView bytes) {
    Imported in;
    const QString text = textOf(bytes);
    // Logical lines: a line that starts with a blank continues the one before.
    struct Line {
        QString text;
        qint64 number;
    };
    QList<Line> lines;
    qint64 number = 0;
    for (QStringView raw : QStringView(text).split(QLatin1Char('\n'))) {
        ++number;
        if (raw.endsWith(QLatin1Char('\r')))
            raw.chop(1);
        if (!lines.isEmpty() && !raw.isEmpty() && (raw[0] == QLatin1Char(' ') || raw[0] == QLatin1Char('\t'))) {
            if (lines.last().text.size() < kMaxRecordChars)
                lines.last().text.append(raw.mid(1));
            continue;
        }
        lines.append({raw.left(kMaxRecordChars).toString(), number});
    }
    bool inCard = false;
    QString name, structured;
    QList<std::pair<QString, qint64>> addresses;
    for (const Line& line : std::as_const(lines)) {
        const qsizetype colon = line.text.indexOf(QLatin1Char(':'));
        if (line.text.trimmed().isEmpty())
            continue;
        if (colon < 0) {
            in.unreadableLines << line.number;
            continue;
        }
        QString property = line.text.left(colon).section(QLatin1Char(';'), 0, 0).toUpper();
        property = property.section(QLatin1Char('.'), -1); // "item1.EMAIL"
        const QStringView value = QStringView(line.text).mid(colon + 1);
        if (property == u"BEGIN" && value.compare(u"VCARD", Qt::CaseInsensitive) == 0) {
            inCard = true;
            name.clear();
            structured.clear();
            addresses.clear();
        } else if (!inCard) {
            in.unreadableLines << line.number;
        } else if (property == u"END") {
            inCard = false;
            if (name.isEmpty())
                name = structured;
            for (const auto& [address, at] : std::as_const(addresses))
                addContact(in, name, address, at);
        } else if (property == u"FN") {
            name = vcardValue(value);
        } else if (property == u"N") {
            const QStringList parts = value.toString().split(QLatin1Char(';'));
            structured = (vcardValue(parts.value(1)) + QLatin1Char(' ') + vcardValue(parts.value(0))).trimmed();
        } else if (property == u"EMAIL") {
            addresses.append({vcardValue(value), line.number});
        }
    }
    return in;
}

// ---- .ctt -------------------------------------------------------------------

Imported importCtt(QByteArrayView bytes) {
    Imported in;
    QXmlStreamReader xml(QByteArray::fromRawData(bytes.data(), bytes.size()));
    QStringList path;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::DTD:
            // Entities and outside files come with a DTD; a contact list needs none.
            in.error = QStringLiteral("it declares a document type, which a contact list never does");
            in.contacts.clear();
            return in;
        case QXmlStreamReader::StartElement:
            path << xml.name().toString().toLower();
            if (path == QStringList{QStringLiteral("messenger"), QStringLiteral("service"), QStringLiteral("contactlist"), QStringLiteral("contact")}) {
                const qint64 line = xml.lineNumber();
                const QString address = xml.readElementText(QXmlStreamReader::SkipChildElements);
                path.removeLast();
                if (xml.hasError())
                    break;
                addContact(in, QString(), address, line);
            }
            break;
        case QXmlStreamReader::EndElement:
            if (!path.isEmpty())
                path.removeLast();
            break;
        default:
            break;
        }
    }
    if (xml.hasError()) {
        in.error = QStringLiteral("it is not a whole MSN Messenger contact list (line %1: %2)")
                       .arg(xml.lineNumber())
                       .arg(xml.errorString());
        in.contacts.clear();
    }
    return in;
}

// ---- export -----------------------------------------------------------------

void csvField(QByteArray& out, QString field) {
    static const QString starts = QStringLiteral("=+-@\t\r");
    // A field that only looks guarded is guarded too, so that it reads back as it was.
    if (!field.isEmpty() && (starts.contains(field[0]) || unguarded(field) != field))
        field.prepend(QLatin1Char('\''));
    const QByteArray bytes = field.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') || bytes.contains('\r') ||
        field.startsWith(QLatin1Char('\''))) {
        out.append('"').append(QByteArray(bytes).replace("\"", "\"\"")).append('"');
    } else {
        out.append(bytes);
    }
}

// A field's bytes straight into the CSV file when they are UTF-8 already (ASCII is), quoted when
// they must be; what a spreadsheet would run, control characters and Windows-1252 go the long way.
// Writes at most 2 * size + 2 bytes at p and returns where it ended, or nullptr for the long way.
char* csvBytes(char* p, QByteArrayView bytes) {
    if (!bytes.isEmpty()) {
        switch (bytes[0]) {
        case '=': case '+': case '-': case '@': case '\'': case '\t': case '\r':
            return nullptr;
        }
    }
    bool quote = false, ascii = true;
    for (const char c : bytes) {
        if (uchar(c) < 0x20)
            return nullptr;
        ascii = ascii && uchar(c) < 0x80;
        quote = quote || c == ',' || c == '"';
    }
    if (!ascii && !bytes.isValidUtf8())
        return nullptr;
    if (!quote) {
        std::memcpy(p, bytes.data(), size_t(bytes.size()));
        return p + bytes.size();
    }
    *p++ = '"';
    for (const char c : bytes) {
        *p++ = c;
        if (c == '"')
            *p++ = '"';
    }
    *p++ = '"';
    return p;
}

QString isoTime(qint64 ms) {
    return ms ? QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODate) : QString();
}

} // namespace

Format formatOf(const QString& fileName, QByteArrayView bytes) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == u"ctt")
        return Format::Ctt;
    if (suffix == u"vcf" || suffix == u"vcard")
        return Format::VCard;
    if (suffix == u"csv")
        return Format::Csv;
    const QByteArray head = bytes.first(std::min<qsizetype>(bytes.size(), 64)).toByteArray().trimmed().toUpper();
    if (head.startsWith("BEGIN:VCARD") || head.startsWith("\xEF\xBB\xBF" "BEGIN:VCARD"))
        return Format::VCard;
    if (head.startsWith('<') || head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF"))
        return Format::Ctt;
    return Format::Csv;
}

Imported importContacts(QByteArrayView bytes, Format format) {
    Imported in = format == Format::Csv ? importCsv(bytes) : format == Format::VCard ? importVCard(bytes) : importCtt(bytes);
    // A card's addresses are told when the card ends, after lines below them.
    std::sort(in.unreadableLines.begin(), in.unreadableLines.end());
    in.unreadableLines.erase(std::unique(in.unreadableLines.begin(), in.unreadableLines.end()), in.unreadableLines.end());
    return in;
}

Imported importFile(const QString& path) {
    Imported in;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        in.error = file.errorString();
        return in;
    }
    if (file.size() > kMaxImportBytes) {
        in.error = QStringLiteral("it is larger than %1 MB, more than any address book").arg(kMaxImportBytes >> 20);
        return in;
    }
    const QByteArray bytes = file.read(kMaxImportBytes + 1);
    if (bytes.size() > kMaxImportBytes) {
        in.error = QStringLiteral("it is larger than %1 MB, more than any address book").arg(kMaxImportBytes >> 20);
        return in;
    }
    // Binary noise is no address book: a NUL never stands in one of these text formats.
    const Format format = formatOf(path, bytes);
    if (format != Format::Ctt && bytes.contains('\0')) {
        in.error = QStringLiteral("it is not a text file");
        return in;
    }
    return importContacts(bytes, format);
}

bool writeCsv(QIODevice* out, qint64 rows, const std::function<ExportRow(qint64)>& row) {
    // A piece at a time: a buffer the size of the list would cost a page fault per page.
    constexpr qsizetype kPiece = 1 << 20;
    QByteArray text("\xEF\xBB\xBF" "Name,E-mail Address,Latest Result,Checked At,Last Seen Online\r\n");
    std::vector<char> buffer(size_t(kPiece) * 2);
    qsizetype used = 0;
    auto put = [&](const char* data, qsizetype size) {
        if (used + size > qsizetype(buffer.size()))
            buffer.resize(size_t(used + size));
        std::memcpy(buffer.data() + used, data, size_t(size));
        used += size;
    };
    put(text.constData(), text.size());
    auto field = [&](QByteArrayView bytes, const QString& text, char after) {
        if (bytes.data()) {
            if (used + 2 * bytes.size() + 3 > qsizetype(buffer.size()))
                buffer.resize(size_t(used + 2 * bytes.size() + 3));
            if (char* end = csvBytes(buffer.data() + used, bytes)) {
                used = end - buffer.data();
                buffer[size_t(used++)] = after;
                return;
            }
        }
        QByteArray slow;
        csvField(slow, bytes.data() ? decodeField(bytes) : text);
        slow.append(after);
        put(slow.constData(), slow.size());
    };
    for (qint64 i = 0; i < rows; ++i) {
        const ExportRow r = row(i);
        field(r.nameBytes, r.name, ',');
        field(r.addressBytes, r.address, ',');
        if (r.result.isEmpty() && !r.checkedAt && !r.seenOnlineAt) {
            put(",,,\r\n", 5);
        } else {
            text.clear();
            csvField(text, r.result);
            text.append(',').append(isoTime(r.checkedAt).toLatin1()).append(',');
            text.append(isoTime(r.seenOnlineAt).toLatin1()).append("\r\n");
            put(text.constData(), text.size());
        }
        if (used >= kPiece) {
            if (out->write(buffer.data(), used) != used)
                return false;
            used = 0;
        }
    }
    return out->write(buffer.data(), used) == used;
}

QByteArray csvOf(qint64 rows, const std::function<ExportRow(qint64)>& row) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    writeCsv(&buffer, rows, row);
    return bytes;
}

QByteArray cttOf(qint64 rows, const std::function<QString(qint64)>& address) {
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("messenger"));
    xml.writeStartElement(QStringLiteral("service"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral(".NET Messenger Service"));
    xml.writeStartElement(QStringLiteral("contactlist"));
    QSet<QString> written;
    for (qint64 i = 0; i < rows; ++i) {
        const QString a = address(i);
        const QString key = a.toLower();
        if (a.isEmpty() || written.contains(key))
            continue;
        written.insert(key);
        xml.writeTextElement(QStringLiteral("contact"), a);
    }
    xml.writeEndDocument();
    return out;
}

} // namespace exchange
