// SPDX-License-Identifier: GPL-3.0-or-later
// The find box's search against the obvious way of doing it: decode both fields of every row as the
// lists do, fold them and look for the folded text. Over files that hold every shape the reader
// takes (and skips), both encodings, the characters whose folding crosses into ASCII, and texts
// typed key by key, with letters taken back and contacts added on the way.

#include "contacts/ContactSearch.h"
#include "contacts/ContactStore.h"
#include "tests/support/ContactTestSupport.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace contacttest;
using namespace Qt::StringLiterals;

namespace {

// Pieces fields are made of: names and addresses in either case, the characters a fold takes
// into ASCII or gathers from several, text beyond the first plane, and the line's own structure.
QStringList makePieces() {
    QStringList p = {u"smith"_s,       u"SMITH"_s,      u"Smith"_s,      u"\u017Fmith"_s,   u"\u017F"_s,
                     u"\u212Aim"_s,    u"kim"_s,        u"Jos\u00E9"_s,  u"JOS\u00C9"_s,    u"jose"_s,
                     u"J\u00FCrgen"_s, u"J\u00DCRG"_s,  u"jurg"_s,       u"gmail.com"_s,    u"@"_s,
                     u"e"_s,           u"E"_s,          u"\u00DF"_s,     u"\u1E9E"_s,       u"ss"_s,
                     u"\u03C3"_s,      u"\u03A3"_s,     u"\u03C2"_s,     u"\u00B5"_s,       u"\u03BC"_s,
                     u"\u0160"_s,      u"\u0161"_s,     u"\u0178"_s,     u"\u00FF"_s,       u"\u212B"_s,
                     u"\u00E5"_s,      u"\u0130"_s,     u"i"_s,          u"\u03D1"_s,       u"\u0398"_s,
                     u"\u0345"_s,      u"\u1FBE"_s,     u"\u90CE"_s,     u"\U00010400"_s,   u"\U00010428"_s,
                     u"\U00020000"_s,  u"\U000E0041"_s, u"\U0010FFFD"_s, u"\u00C3\u00A9"_s, u" "_s,
                     u"  "_s,          u"\t"_s,         u","_s,          u", "_s,           u"\""_s,
                     u"-"_s,           u"."_s,          u"\uFEFF"_s};
    // Whatever else this Qt folds into ASCII, so the search keeps up with a newer one.
    for (char32_t c = 0x80; c < 0x110000; ++c) {
        if (QChar::toCaseFolded(c) < 0x80 && !(c >= 0xD800 && c < 0xE000))
            p << QString::fromUcs4(&c, 1);
    }
    return p;
}

const QStringList& pieces() {
    static const QStringList p = makePieces();
    return p;
}

class CorpusWriter {
public:
    explicit CorpusWriter(quint32 seed) : m_rng(seed), m_pieces(pieces()) {
        for (int b = 0x80; b < 0x100; ++b) {
            const char byte = char(b);
            m_cp1252.insert(decodeField(QByteArrayView(&byte, 1)).at(0), char(b));
        }
    }

    int below(int n) { return int(m_rng.bounded(quint32(n))); }

    QString text(int most) {
        QString t;
        for (int n = below(most + 1); n > 0; --n)
            t += m_pieces[below(int(m_pieces.size()))];
        return t;
    }

    // As UTF-8, as Windows-1252 where the text allows it, or as UTF-8 spoilt by a stray byte, so
    // that the reader falls back to Windows-1252 for bytes written as UTF-8.
    QByteArray field(const QString& t) {
        const int how = below(10);
        if (how < 2) {
            QByteArray b;
            for (QChar c : t) {
                if (c.unicode() < 0x80)
                    b += char(c.unicode());
                else if (m_cp1252.contains(c))
                    b += m_cp1252.value(c);
                else
                    return t.toUtf8();
            }
            return b;
        }
        if (how == 2)
            return t.toUtf8() + char(0x80 + below(128));
        return t.toUtf8();
    }

    QByteArray quoted(const QString& t) {
        QString s = t;
        s.remove(u'"');
        return '"' + field(s) + '"';
    }

    QByteArray line() {
        QString name = text(3);
        QString email = text(3);
        switch (below(17)) {
        case 0:
            return ' ' + field(name) + " \t, " + field(email) + '\t';
        case 1:
            return quoted(name) + ',' + quoted(email) + ',' + field(text(2)) + ',' + quoted(text(2));
        case 2:
            return field(name) + ',' + field(email) + ',' + field(text(2));
        case 3:
            return quoted(name) + field(text(2)).replace(',', "") + ',' + quoted(email) + field(text(1));
        case 4:
            return '"' + field(name) + ',' + field(email); // the quote never closes
        case 5:
            return field(name).replace(',', ""); // one field
        case 6:
            return field(name).replace(',', "") + ",  "; // no address
        case 7:
            return below(2) ? QByteArray(" \t ") : QByteArray();
        case 8:
            return (below(2) ? QByteArray("\"\"") : QByteArray()) + ',' + quoted(email);
        case 9:
            return quoted(name) + ", " + quoted(email) + " ";
        case 10:
            return '"' + field(name) + "\",\"" + field(email) + '"'; // quotes and commas inside
        case 11:
            // Four quotes, but no comma between the middle two: the address starts after the
            // first comma in the quotes that look like the address's.
            return quoted(name) + "x ;"[below(3)] + '"' + field(email + u", "_s + text(2)).replace('"', "") +
                   '"';
        case 12:
            return field(name).replace(',', "") + ',' + field(email).replace(',', "");
        case 13:
            return quoted(text(12)) + ',' + quoted(text(12)); // longer than the 64 bytes looked at at once
        default:
            return quoted(name) + ',' + quoted(email);
        }
    }

    QByteArray file(int lines) {
        QByteArray f = below(4) ? QByteArray() : QByteArray("\xEF\xBB\xBF");
        static const char* const ends[] = {"\r\n", "\r\n", "\r\n", "\n", "\r"};
        for (int i = 0; i < lines; ++i) {
            f += line();
            if (i + 1 < lines || below(2))
                f += ends[below(5)];
        }
        static const char* const words[] = {"smith", "kim", "jose", "e", "gmail.com", "x"};
        switch (below(3)) {
        case 0:
            // A last record with no line end that ends on a letter of its address: the last byte.
            f += QByteArray(ends[0]) + words[below(6)] + ',' + words[below(6)] + words[below(6)];
            break;
        case 1:
            // A last line of exactly the 64 bytes looked at at once, with no line end.
            f += QByteArray(ends[0]) + '"' + QByteArray("smithkim").repeated(4).left(30) + "\",\"" +
                 QByteArray("gmail.com").repeated(4).left(29) + '"';
            break;
        }
        return f;
    }

    // Needles: slices of what the rows show, with some letters in the other case, and of the
    // lines' bytes, which may span the quotes and commas between fields.
    QString slice(const QString& s) {
        if (s.isEmpty())
            return m_pieces[below(int(m_pieces.size()))];
        const int from = below(int(s.size()));
        QString t = s.mid(from, 1 + below(int(s.size()) - from));
        for (QChar& c : t) {
            if (below(3) == 0)
                c = c.isLower() ? c.toUpper() : c.toLower();
        }
        return t;
    }

private:
    QRandomGenerator m_rng;
    QStringList m_pieces;
    QHash<QChar, char> m_cp1252;
};

// The rows that hold the text, found the obvious way.
class Reference {
public:
    explicit Reference(const ContactStore& store) {
        for (qint32 row = 0; row < store.rowCount(); ++row) {
            m_names << store.rowField(row, ContactField::Name).toCaseFolded();
            m_emails << store.rowField(row, ContactField::Email).toCaseFolded();
        }
    }

    std::vector<quint32> find(const QString& text) const {
        const QString folded = text.toCaseFolded();
        std::vector<quint32> rows;
        for (qsizetype row = 0; row < m_names.size(); ++row) {
            if (m_names[row].contains(folded) || m_emails[row].contains(folded))
                rows.push_back(quint32(row));
        }
        return rows;
    }

    const QStringList& names() const { return m_names; }

private:
    QStringList m_names;
    QStringList m_emails;
};

QString shownRows(const std::vector<quint32>& rows, const Reference& ref) {
    QStringList out;
    for (quint32 r : rows)
        out << QStringLiteral("%1 [%2]").arg(r).arg(r < ref.names().size() ? ref.names()[r] : QString());
    return out.join(u", ");
}

QString escaped(const QString& s) {
    QString out;
    for (QChar c : s)
        out += c.unicode() >= 0x20 && c.unicode() < 0x7F
                   ? QString(c)
                   : QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QChar(u'0'));
    return out;
}

// Compares one find with the reference; on a difference, says for which text and what differs.
bool sameRows(ContactSearch& search, const Reference& ref, const QString& text, QString* why) {
    const std::vector<quint32> want = ref.find(text);
    const std::vector<quint32>& got = search.find(text);
    if (got == want)
        return true;
    *why = QStringLiteral("text \"%1\": found %2\nexpected %3")
               .arg(escaped(text), shownRows(got, ref), shownRows(want, ref));
    return false;
}

// Every way the search can read the bytes, each compared with the same reference.
constexpr SearchVectors kVectors[] = {SearchVectors::None, SearchVectors::Sse2, SearchVectors::Widest};

QString vectorsName(SearchVectors v) {
    return v == SearchVectors::None   ? u"\n(no vectors)"_s
           : v == SearchVectors::Sse2 ? u"\n(SSE2)"_s
                                      : u"\n(widest vectors)"_s;
}

struct Loaded {
    QTemporaryDir dir;
    ContactStore store;
};

// A store of one file of the given number of lines, whose bytes end where their buffer does, or
// of two (a second load follows the first file's last line, ended or not); and a few contacts
// added in the run.
void fill(Loaded& l, CorpusWriter& w, int lines, bool twoFiles = true) {
    const QString first = l.dir.filePath(QStringLiteral("a.dat"));
    const QString second = l.dir.filePath(QStringLiteral("b.dat"));
    QVERIFY(writeAll(first, w.file(lines)));
    QCOMPARE(l.store.load(first).status, LoadStatus::Loaded);
    if (twoFiles) {
        QVERIFY(writeAll(second, w.file(lines / 4)));
        QCOMPARE(l.store.load(second).status, LoadStatus::Loaded);
    }
    for (int k = 0; k < 5; ++k)
        QVERIFY(l.store.add(w.text(3), w.text(2)));
    QVERIFY(
        l.store.add(QStringLiteral("Ann\r\nSmith"), QString(QChar(0xD801)))); // nothing refuses these here
}

QStringList fixedNeedles() {
    return {u"e"_s,
            u"E"_s,
            u"smith"_s,
            u"SMITH"_s,
            u"s"_s,
            u"\u017F"_s,
            u"k"_s,
            u"\u212A"_s,
            u"\u212Aim"_s,
            u"jos\u00E9"_s,
            u"JOS\u00C9"_s,
            u"j\u00FCrg"_s,
            u"\u00FC"_s,
            u"\u00DF"_s,
            u"ss"_s,
            u"\u03C3"_s,
            u"\u03BC"_s,
            u"\u00B5"_s,
            u"\u0161"_s,
            u"\u00FF"_s,
            u"\u00E5"_s,
            u"\u212B"_s,
            u"\u0130"_s,
            u"\u03B8"_s,
            u"\u03B9"_s,
            u"\U00010428"_s,
            u"\U00010400"_s,
            QString(QChar(0xD801)),
            QString(QChar(0xDC28)),
            QString(QChar(0xDB40)),
            QString(QChar(0xDC41)),
            QString(QChar(0xDBFF)),
            u"\U000E0041"_s,
            u"\u90CE"_s,
            u"\u00E9"_s,
            u"\u00C3"_s,
            u"\""_s,
            u","_s,
            u"\",\""_s,
            u"h\",\"j"_s,
            u"smith, j"_s,
            u" "_s,
            u" smith"_s,
            u"smith "_s,
            u"\t"_s,
            u"\r"_s,
            u"\n"_s,
            u"\r\n"_s,
            u"@gmail"_s,
            u"."_s,
            u"\uFEFF"_s,
            u"\u00EF\u00BB\u00BF"_s};
}

} // namespace

class ContactSearchTest : public QObject {
    Q_OBJECT

private slots:
    void findsWhatDecodedTextHolds_data();
    void findsWhatDecodedTextHolds();
    void typingKeyByKeyFindsTheSameRows_data();
    void typingKeyByKeyFindsTheSameRows();
};

void ContactSearchTest::findsWhatDecodedTextHolds_data() {
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("lines");
    for (quint32 seed = 100; seed < 120; ++seed)
        QTest::addRow("a few lines, all near the end of the bytes, draw %u", seed)
            << seed << int(1 + seed % 8);
    QTest::newRow("a thousand lines") << 11u << 1000;
    QTest::newRow("a thousand lines, other draws") << 24u << 1000;
}

void ContactSearchTest::findsWhatDecodedTextHolds() {
    QFETCH(quint32, seed);
    QFETCH(int, lines);
    CorpusWriter w(seed);
    Loaded l;
    fill(l, w, lines, seed % 2);
    const Reference ref(l.store);
    QVERIFY(ref.find(u"smith"_s).size() > 0 || lines < 100);

    QStringList needles = fixedNeedles();
    for (int i = 0; i < 100; ++i) {
        const qint32 row = w.below(l.store.rowCount());
        needles << w.slice(l.store.rowField(row, i % 2 ? ContactField::Name : ContactField::Email));
    }
    const QByteArray& bytes = l.store.bytes();
    for (int i = 0; i < 40; ++i) {
        const int from = w.below(int(bytes.size()));
        needles << w.slice(QString::fromUtf8(bytes.mid(from, 2 + w.below(12))));
    }
    for (int i = 0; i < 30; ++i)
        needles << w.text(2);
    // The last letters of fields, which may be the last bytes of the file.
    for (qint32 row = std::max(0, l.store.ContactCount() - 20); row < l.store.ContactCount(); ++row) {
        needles << l.store.rowField(row, ContactField::Name).right(1)
                << l.store.rowField(row, ContactField::Email).right(1 + row % 2);
    }

    QString why;
    for (const QString& needle : needles) {
        for (SearchVectors vectors : kVectors) {
            ContactSearch search(l.store, vectors);
            QVERIFY2(sameRows(search, ref, needle, &why), qPrintable(why + vectorsName(vectors)));
        }
    }
    QCOMPARE(ContactSearch(l.store).find(QString()).size(), size_t(l.store.rowCount()));
}

void ContactSearchTest::typingKeyByKeyFindsTheSameRows_data() {
    QTest::addColumn<quint32>("seed");
    QTest::newRow("draw 1") << 5u;
    QTest::newRow("draw 2") << 17u;
}

void ContactSearchTest::typingKeyByKeyFindsTheSameRows() {
    QFETCH(quint32, seed);
    CorpusWriter w(seed);
    Loaded l;
    fill(l, w, 1200);
    // One search a width, each carrying its last result from keystroke to keystroke.
    ContactSearch searches[] = {ContactSearch(l.store, kVectors[0]), ContactSearch(l.store, kVectors[1]),
                                ContactSearch(l.store, kVectors[2])};

    QStringList words = {u"smith"_s,       u"gmail"_s,    u"j\u00FCrg"_s, u"jos\u00E9"_s,
                         u"\U00010428x"_s, u"\u017Fmi"_s, u"\"s,"_s};
    for (int i = 0; i < 18; ++i)
        words << w.slice(l.store.rowField(w.below(l.store.rowCount()), ContactField::Name));

    Reference ref(l.store);
    QString why;
    int round = 0;
    bool loadedMore = false;
    for (qsizetype wordIndex = 0; wordIndex < words.size(); ++wordIndex) {
        const QString& word = words[wordIndex];
        const SearchVectors vectors = kVectors[size_t(wordIndex) % std::size(kVectors)];
        ContactSearch& search = searches[size_t(wordIndex) % std::size(kVectors)];
        // Key by key, a surrogate pair in two steps; then a letter taken back at the end and one
        // from the middle, a letter typed before the rest, and the box emptied.
        QStringList steps;
        for (qsizetype n = 1; n <= word.size(); ++n)
            steps << word.left(n);
        steps << word.chopped(1) << word;
        if (word.size() > 2)
            steps << QString(word).remove(word.size() / 2, 1);
        steps << QStringLiteral("x") + word << QString() << word.left(1);
        for (const QString& step : steps) {
            QVERIFY2(sameRows(search, ref, step, &why), qPrintable(why + vectorsName(vectors)));
            // Contacts added, and a file loaded, while the box holds text take part in the next
            // keystroke; a load also moves the added contacts' rows.
            if (++round % 7 == 0) {
                QVERIFY(l.store.add(word.toUpper(), w.text(2)));
                ref = Reference(l.store);
            }
            if (wordIndex == 2 && !loadedMore) {
                loadedMore = true;
                const QString more = l.dir.filePath(QStringLiteral("c.dat"));
                QVERIFY(writeAll(more, w.file(300)));
                QCOMPARE(l.store.load(more).status, LoadStatus::Loaded);
                ref = Reference(l.store);
            }
        }
    }
}

QTEST_GUILESS_MAIN(ContactSearchTest)
#include "test_contactsearch.moc"
