// SPDX-License-Identifier: GPL-3.0-or-later
#include "contacts/ContactSearch.h"

#include "contacts/ContactFile.h"

#include <QChar>

#include <algorithm>
#include <bit>
#include <cstring>
#include <numeric>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// Why the bytes can settle most rows. Both decodings, UTF-8 and Windows-1252, turn each ASCII
// byte into that ASCII character and every other byte into characters beyond ASCII, and folding
// keeps ASCII in ASCII. So an ASCII text found in a field's bytes, letters in either case, is in
// its folded text; and the folded text holds an ASCII run that its bytes do not only where a
// character beyond ASCII folds into ASCII (LONG S to "s", KELVIN SIGN to "k"). Those characters
// are looked for beside the text, and a row holding one is decoded. A text with a character
// beyond ASCII can only be found where a character folding to that one is written, in UTF-8 or in
// Windows-1252: the rows with one of those byte strings are decoded, no others.

namespace {

// What the libraries this program runs with fold, and what Windows-1252 makes of the high bytes,
// taken from them once rather than written down here, so they cannot disagree with the lists.
struct FoldFacts {
    std::vector<std::pair<char32_t, char32_t>> folds; // (c, fold of c) wherever the two differ
    char32_t cp1252[128];                             // bytes 0x80-0xFF read as Windows-1252
};

const FoldFacts& foldFacts() {
    static const FoldFacts facts = [] {
        FoldFacts f;
        for (char32_t c = 0; c < 0x110000; ++c) {
            if (c >= 0xD800 && c < 0xE000)
                continue;
            if (const char32_t folded = QChar::toCaseFolded(c); folded != c)
                f.folds.emplace_back(c, folded);
        }
        for (int b = 0x80; b < 0x100; ++b) {
            const char byte = char(b);
            // A lone high byte is never UTF-8, so this is the store's own Windows-1252 reading.
            f.cp1252[b - 0x80] = decodeField(QByteArrayView(&byte, 1)).at(0).unicode();
        }
        return f;
    }();
    return facts;
}

QByteArray utf8(char32_t c) {
    QByteArray b;
    if (c < 0x80) {
        b += char(c);
    } else if (c < 0x800) {
        b += char(0xC0 | (c >> 6));
        b += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        b += char(0xE0 | (c >> 12));
        b += char(0x80 | ((c >> 6) & 0x3F));
        b += char(0x80 | (c & 0x3F));
    } else {
        b += char(0xF0 | (c >> 18));
        b += char(0x80 | ((c >> 12) & 0x3F));
        b += char(0x80 | ((c >> 6) & 0x3F));
        b += char(0x80 | (c & 0x3F));
    }
    return b;
}

// Finds where any of a few short byte strings starts, byte by byte: it only reads the fields of
// the few rows the vector pass below leaves to it. A byte matches a pattern byte when
// (byte | fold) equals it: fold 0x20 lets an ASCII letter match in either case.
class Scanner {
public:
    void add(const QByteArray& bytes, const QByteArray& folds) { m_patterns.push_back({bytes, folds}); }
    void addExact(const QByteArray& bytes) { add(bytes, QByteArray(bytes.size(), '\0')); }

    // The first position in [from, to) where a pattern lies whole before to, or -1; *which
    // says which pattern.
    qsizetype next(const unsigned char* d, qsizetype from, qsizetype to, int* which) const {
        for (qsizetype at = from; at < to; ++at) {
            for (int k = 0; k < int(m_patterns.size()); ++k) {
                const Pattern& p = m_patterns[k];
                const qsizetype n = p.bytes.size();
                if (to - at < n)
                    continue;
                const auto* b = reinterpret_cast<const unsigned char*>(p.bytes.constData());
                const auto* f = reinterpret_cast<const unsigned char*>(p.folds.constData());
                qsizetype i = 0;
                while (i < n && (d[at + i] | f[i]) == b[i])
                    ++i;
                if (i == n) {
                    *which = k;
                    return at;
                }
            }
        }
        return -1;
    }

private:
    struct Pattern {
        QByteArray bytes;
        QByteArray folds;
    };
    std::vector<Pattern> m_patterns;
};

// One search's text, and how the bytes are searched for it.
struct Query {
    QString folded;
    // Ascii: a hit of the text inside a field settles its row. Anchored: the text has a character
    // beyond ASCII, so a row can only hold it where it holds a character folding to that one; such
    // rows are decoded. NoLoaded: no loaded field can hold it.
    enum class Kind { Ascii, Anchored, NoLoaded } kind = Kind::Ascii;
    QByteArray text; // Ascii: the folded text's bytes
    QByteArray folds;
    // Bytes that send a row to be decoded. Ascii: the traps. Anchored: the ways a field can
    // show the text's first character beyond ASCII.
    std::vector<QByteArray> marks;
    // For rows read the slow way: the text (Ascii) as pattern 0, then the marks.
    Scanner scanner;
};

// The bytes of u beyond ASCII in a field read as UTF-8, and in one read as Windows-1252.
std::vector<QByteArray> writtenForms(char32_t u) {
    std::vector<QByteArray> forms{utf8(u)};
    const FoldFacts& facts = foldFacts();
    for (int b = 0; b < 128; ++b) {
        if (facts.cp1252[b] == u)
            forms.emplace_back(1, char(0x80 + b));
    }
    return forms;
}

// Everything a field could hold to show c, beyond ASCII, in its folded text.
std::vector<QByteArray> foldingTo(char32_t c) {
    std::vector<QByteArray> forms = writtenForms(c); // folded text folds to itself
    for (const auto& [u, folded] : foldFacts().folds) {
        if (folded == c) {
            for (QByteArray& form : writtenForms(u))
                forms.push_back(std::move(form));
        }
    }
    return forms;
}

Query makeQuery(const QString& folded) {
    Query q;
    q.folded = folded;
    if (folded.contains(u'\r') || folded.contains(u'\n')) {
        q.kind = Query::Kind::NoLoaded; // a loaded field ends at the line end
        return q;
    }
    const auto beyond =
        std::find_if(folded.cbegin(), folded.cend(), [](QChar c) { return c.unicode() >= 0x80; });
    if (beyond == folded.cend()) {
        q.kind = Query::Kind::Ascii;
        q.text = folded.toLatin1();
        q.folds = QByteArray(q.text.size(), '\0');
        for (qsizetype i = 0; i < q.text.size(); ++i) {
            if (q.text[i] >= 'a' && q.text[i] <= 'z')
                q.folds[i] = 0x20;
        }
        q.scanner.add(q.text, q.folds);
        for (const auto& [u, c] : foldFacts().folds) {
            if (u >= 0x80 && c < 0x80 && q.text.contains(char(c))) {
                for (QByteArray& form : writtenForms(u))
                    q.marks.push_back(std::move(form));
            }
        }
    } else {
        q.kind = Query::Kind::Anchored;
        const QChar c = *beyond;
        if (c.isHighSurrogate() && beyond + 1 != folded.cend() && (beyond + 1)->isLowSurrogate()) {
            q.marks = foldingTo(QChar::surrogateToUcs4(c, *(beyond + 1)));
        } else if (c.isSurrogate()) {
            // Half of a pair: only a character beyond the first plane shows one, and in the bytes
            // that is a UTF-8 sequence led by F0-F4.
            for (char lead = char(0xF0); lead != char(0xF5); ++lead)
                q.marks.emplace_back(1, lead);
        } else {
            q.marks = foldingTo(c.unicode());
        }
    }
    for (const QByteArray& mark : q.marks)
        q.scanner.addExact(mark);
    return q;
}

constexpr quint64 lowBits(int n) {
    return n >= 64 ? ~quint64(0) : (quint64(1) << n) - 1;
}

// Bits [from, to) of a 64-bit mask, none when to <= from.
constexpr quint64 bitRange(int from, int to) {
    return to > from ? lowBits(to) & ~lowBits(from) : 0;
}

// What the vector compares found in the first 64 bytes of a line, up to the block that holds its
// end; bit i stands for byte i.
struct LineBits {
    quint64 ends = 0;
    quint64 hits = 0;  // where the text's first and last byte are
    quint64 marks = 0; // where a mark's first byte is
};

// Whether loaded rows match a query.
//
// Nearly every line is "name","address" and no longer than 64 bytes: one pass of vector compares
// over those bytes gives where its quotes are, where it ends and where the text, or a mark, could
// start, which settles the row. Any other row goes the slow way: the reader's fields, searched one
// after the other.
class RowMatcher {
    const Query& m_q;

public:
    static constexpr int kMarks = 8;

    RowMatcher(const ContactStore& store, const Query& q)
        : m_q(q), m_d(reinterpret_cast<const unsigned char*>(store.bytes().constData())),
          m_size(store.bytes().size()), m_starts(store.lineStarts().constData()) {
        if (q.kind == Query::Kind::Ascii) {
            m_text = reinterpret_cast<const unsigned char*>(q.text.constData());
            m_folds = reinterpret_cast<const unsigned char*>(q.folds.constData());
            // Only lines of up to 64 bytes are settled here: a longer text only has to be known as longer.
            m_length = int(std::min<qsizetype>(q.text.size(), 1024));
            m_lastAt = std::min(m_length - 1, 64);
            m_first = q.text[0];
            m_firstFold = q.folds[0];
            m_last = q.text[m_lastAt];
            m_lastFold = q.folds[m_lastAt];
        }
        // The vectors look for the marks' first bytes; the rest is compared where one is found.
        for (const QByteArray& mark : q.marks) {
            if (std::find(m_markFirst, m_markFirst + m_markCount, mark[0]) != m_markFirst + m_markCount)
                continue;
            if (m_markCount == kMarks) {
                m_slowOnly = true; // more than the vectors hold: every row the slow way
                break;
            }
            m_markFirst[m_markCount++] = mark[0];
        }
        m_lastFast = m_size - 64 - m_lastAt;
    }

    // The row decided from the bits of the first bytes of its line; the lanes give its quotes.
    template <bool Ascii, class Lanes>
    [[gnu::always_inline]] bool settle(quint32 row, qsizetype start, const LineBits& b,
                                       const Lanes& lanes) const {
        if (!b.ends)
            return slowMatches(row); // a line longer than 64 bytes
        const int end = std::countr_zero(b.ends);
        const quint64 line = lowBits(end);
        // Neither the text nor a mark anywhere in the line, so in none of its fields.
        const quint64 hits = Ascii ? b.hits & bitRange(0, end - m_length + 1) : 0;
        if (!hits && !(b.marks & line))
            return false;
        const unsigned char* const p = m_d + start;
        const quint64 quotes = lanes.quotes(p) & line;
        // The first quote opens the line, the last closes it, the middle two are ",".
        const int close = quotes >> 1 ? std::countr_zero(quotes >> 1) + 1 : 0;
        if (!(quotes & 1) || close + 3 >= end || p[close + 1] != ',' ||
            quotes != (1 | quint64(1) << close | quint64(1) << (close + 2) | quint64(1) << (end - 1)))
            return slowMatches(row);
        if constexpr (Ascii) {
            const quint64 inFields = bitRange(1, close - m_length + 1) | bitRange(close + 3, end - m_length);
            for (quint64 h = hits & inFields; h; h &= h - 1) {
                if (restMatches(p + std::countr_zero(h)))
                    return true;
            }
        }
        for (quint64 t = b.marks & line; t; t &= t - 1) {
            if (markAt(start + std::countr_zero(t))) {
                RecordSpans s;
                s.nameBegin = start + 1;
                s.nameEnd = start + close;
                s.emailBegin = start + close + 3;
                s.emailEnd = start + end - 1;
                return decodedMatch(s);
            }
        }
        return false;
    }

    bool slowMatches(quint32 row) const {
        RecordSpans s;
        if (!contactRecordSpansAt(QByteArrayView(reinterpret_cast<const char*>(m_d), m_size), m_starts[row],
                                  &s))
            return false; // never for a row
        const std::pair<qsizetype, qsizetype> fields[] = {{s.nameBegin, s.nameEnd},
                                                          {s.emailBegin, s.emailEnd}};
        for (const auto& [begin, end] : fields) {
            int which = 0;
            if (m_q.scanner.next(m_d, begin, end, &which) >= 0)
                return (m_q.kind == Query::Kind::Ascii && which == 0) || decodedMatch(s);
        }
        return false;
    }

    const unsigned char* m_d;
    qsizetype m_size;
    const qsizetype* m_starts;
    qsizetype m_lastFast; // the last line start whose 64 bytes, and the text past them, can be read
    const unsigned char* m_text = nullptr; // an ASCII text's bytes, and its fold mask
    const unsigned char* m_folds = nullptr;
    int m_length = 0;
    int m_lastAt = 0; // how far the byte compared with the text's last lies from its first
    char m_first = 0, m_firstFold = 0, m_last = 0, m_lastFold = 0;
    char m_markFirst[kMarks] = {};
    int m_markCount = 0;
    bool m_slowOnly = false;

private:
    // The bytes after the text's first, which the vector compares only sampled.
    bool restMatches(const unsigned char* at) const {
        for (int i = 1; i < m_length; ++i) {
            if ((at[i] | m_folds[i]) != m_text[i])
                return false;
        }
        return true;
    }

    bool markAt(qsizetype at) const {
        for (const QByteArray& t : m_q.marks) {
            if (at + t.size() <= m_size && std::memcmp(m_d + at, t.constData(), size_t(t.size())) == 0)
                return true;
        }
        return false;
    }

    bool decodedMatch(const RecordSpans& s) const {
        auto holds = [&](qsizetype begin, qsizetype end) {
            const QByteArrayView bytes(reinterpret_cast<const char*>(m_d) + begin, end - begin);
            return decodeField(bytes).toCaseFolded().contains(m_q.folded);
        };
        return holds(s.nameBegin, s.nameEnd) || holds(s.emailBegin, s.emailEnd);
    }
};

// The rows a search looks at, and where the ones that match go: every loaded row into an empty
// result, or the loaded rows of the last result, kept in place.
class EveryRow {
public:
    EveryRow(quint32 count, std::vector<quint32>& out) : m_count(count), m_out(out) {}
    size_t size() const { return m_count; }
    quint32 at(size_t i) const { return quint32(i); }
    void readAhead(size_t, const RowMatcher&) const {}
    void keep(quint32 row) { m_out.push_back(row); }

private:
    quint32 m_count;
    std::vector<quint32>& m_out;
};

class LastRows {
public:
    LastRows(std::vector<quint32>& rows, size_t count) : m_rows(rows), m_count(count) {}
    size_t size() const { return m_count; }
    quint32 at(size_t i) const { return m_rows[i]; }
    // The rows lie apart in memory: their line starts are fetched 16 rows ahead, their lines 8.
    void readAhead(size_t i, const RowMatcher& m) const {
        if (i + 16 < m_count)
            __builtin_prefetch(m.m_starts + m_rows[i + 16]);
        if (i + 8 < m_count)
            __builtin_prefetch(m.m_d + m.m_starts[m_rows[i + 8]]);
    }
    // Written at or before where it was read.
    void keep(quint32 row) { m_rows[m_kept++] = row; }
    size_t kept() const { return m_kept; }

private:
    std::vector<quint32>& m_rows;
    size_t m_count;
    size_t m_kept = 0;
};

// The pass over the rows, once; the vector width is the Lanes' (see below). Most texts have no
// marks, and then the pass does not look for any.
template <class Lanes, bool Ascii, bool Marks, class Rows>
[[gnu::always_inline]] inline void keepMatchingWith(const RowMatcher& m, Rows& rows) {
    const Lanes lanes(m);
    for (size_t i = 0, n = rows.size(); i < n; ++i) {
        rows.readAhead(i, m);
        const quint32 row = rows.at(i);
        const qsizetype start = m.m_starts[row];
        const bool match =
            start <= m.m_lastFast
                ? m.settle<Ascii>(row, start, lanes.template bits<Ascii, Marks>(m.m_d + start), lanes)
                : m.slowMatches(row);
        if (match)
            rows.keep(row);
    }
}

template <class Lanes, bool Ascii, class Rows>
[[gnu::always_inline]] inline void keepMatchingAs(const RowMatcher& m, Rows& rows) {
    if (m.m_markCount)
        keepMatchingWith<Lanes, Ascii, true>(m, rows);
    else
        keepMatchingWith<Lanes, Ascii, false>(m, rows);
}

#if defined(__x86_64__)
// 16 bytes at a time: every x86-64 processor has SSE2.
class Sse2Lanes {
public:
    explicit Sse2Lanes(const RowMatcher& m)
        : m_first(_mm_set1_epi8(m.m_first)), m_firstFold(_mm_set1_epi8(m.m_firstFold)),
          m_last(_mm_set1_epi8(m.m_last)), m_lastFold(_mm_set1_epi8(m.m_lastFold)), m_lastAt(m.m_lastAt),
          m_markCount(m.m_markCount) {
        for (int i = 0; i < m_markCount; ++i)
            m_markFirst[i] = _mm_set1_epi8(m.m_markFirst[i]);
    }

    template <bool Ascii, bool Marks> LineBits bits(const unsigned char* p) const {
        LineBits b;
        for (int k = 0; k < 64; k += 16) {
            const __m128i v = load(p + k);
            const quint64 ends = mask(
                _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))));
            b.ends |= ends << k;
            if constexpr (Ascii) {
                const __m128i last = load(p + k + m_lastAt);
                b.hits |= mask(_mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(v, m_firstFold), m_first),
                                             _mm_cmpeq_epi8(_mm_or_si128(last, m_lastFold), m_last)))
                          << k;
            }
            if constexpr (Marks) {
                for (int i = 0; i < m_markCount; ++i)
                    b.marks |= mask(_mm_cmpeq_epi8(v, m_markFirst[i])) << k;
            }
            if (ends)
                break;
        }
        return b;
    }

    quint64 quotes(const unsigned char* p) const {
        quint64 q = 0;
        for (int k = 0; k < 64; k += 16)
            q |= mask(_mm_cmpeq_epi8(load(p + k), _mm_set1_epi8('"'))) << k;
        return q;
    }

private:
    static __m128i load(const unsigned char* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    }
    static quint64 mask(__m128i v) { return unsigned(_mm_movemask_epi8(v)); }

    __m128i m_first, m_firstFold, m_last, m_lastFold;
    __m128i m_markFirst[RowMatcher::kMarks];
    int m_lastAt;
    int m_markCount;
};

// 32 bytes at a time.
class Avx2Lanes {
public:
    [[gnu::target("avx2")]] explicit Avx2Lanes(const RowMatcher& m)
        : m_first(_mm256_set1_epi8(m.m_first)), m_firstFold(_mm256_set1_epi8(m.m_firstFold)),
          m_last(_mm256_set1_epi8(m.m_last)), m_lastFold(_mm256_set1_epi8(m.m_lastFold)),
          m_lastAt(m.m_lastAt), m_markCount(m.m_markCount) {
        for (int i = 0; i < m_markCount; ++i)
            m_markFirst[i] = _mm256_set1_epi8(m.m_markFirst[i]);
    }

    template <bool Ascii, bool Marks> [[gnu::target("avx2")]] LineBits bits(const unsigned char* p) const {
        LineBits b;
        for (int k = 0; k < 64; k += 32) {
            const __m256i v = load(p + k);
            const quint64 ends = mask(_mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\r')),
                                                      _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\n'))));
            b.ends |= ends << k;
            if constexpr (Ascii) {
                const __m256i last = load(p + k + m_lastAt);
                b.hits |= mask(_mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(v, m_firstFold), m_first),
                                                _mm256_cmpeq_epi8(_mm256_or_si256(last, m_lastFold), m_last)))
                          << k;
            }
            if constexpr (Marks) {
                for (int i = 0; i < m_markCount; ++i)
                    b.marks |= mask(_mm256_cmpeq_epi8(v, m_markFirst[i])) << k;
            }
            if (ends)
                break;
        }
        return b;
    }

    [[gnu::target("avx2")]] quint64 quotes(const unsigned char* p) const {
        const __m256i quote = _mm256_set1_epi8('"');
        return mask(_mm256_cmpeq_epi8(load(p), quote)) | mask(_mm256_cmpeq_epi8(load(p + 32), quote)) << 32;
    }

private:
    [[gnu::target("avx2")]] static __m256i load(const unsigned char* p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    [[gnu::target("avx2")]] static quint64 mask(__m256i v) { return unsigned(_mm256_movemask_epi8(v)); }

    __m256i m_first, m_firstFold, m_last, m_lastFold;
    __m256i m_markFirst[RowMatcher::kMarks];
    int m_lastAt;
    int m_markCount;
};

template <bool Ascii, class Rows> void keepMatchingSse2(const RowMatcher& m, Rows& rows) {
    keepMatchingAs<Sse2Lanes, Ascii>(m, rows);
}
template <bool Ascii, class Rows>
[[gnu::target("avx2")]] void keepMatchingAvx2(const RowMatcher& m, Rows& rows) {
    keepMatchingAs<Avx2Lanes, Ascii>(m, rows);
}

SearchVectors widestVectors() {
    static const SearchVectors widest =
        __builtin_cpu_supports("avx2") ? SearchVectors::Avx2 : SearchVectors::Sse2;
    return widest;
}
#endif

template <class Rows>
void keepMatching(const Query& q, const RowMatcher& m, Rows& rows, [[maybe_unused]] SearchVectors widest) {
    if (q.kind == Query::Kind::NoLoaded)
        return;
    const bool ascii = q.kind == Query::Kind::Ascii;
#if defined(__x86_64__)
    const SearchVectors use = m.m_slowOnly ? SearchVectors::None : std::min(widest, widestVectors());
    if (use == SearchVectors::Avx2) {
        ascii ? keepMatchingAvx2<true>(m, rows) : keepMatchingAvx2<false>(m, rows);
        return;
    }
    if (use == SearchVectors::Sse2) {
        ascii ? keepMatchingSse2<true>(m, rows) : keepMatchingSse2<false>(m, rows);
        return;
    }
#endif
    (void)ascii;
    for (size_t i = 0, n = rows.size(); i < n; ++i) {
        if (m.slowMatches(rows.at(i)))
            rows.keep(rows.at(i));
    }
}

bool addedMatch(const ContactRecord& c, const QString& folded) {
    return c.name.toCaseFolded().contains(folded) || c.email.toCaseFolded().contains(folded);
}

} // namespace

ContactSearch::ContactSearch(const ContactStore& store, SearchVectors widest)
    : m_store(store), m_vectors(widest) {
    foldFacts(); // a few milliseconds, better spent now than on the first keystroke
}

void ContactSearch::forget() {
    m_rows = {};
    m_folded.clear();
    m_valid = false;
}

ContactSearch::Seen ContactSearch::seenNow() const {
    return {m_store.bytes().constData(), m_store.bytes().size(), m_store.ContactCount(), qint32(m_store.added().size()),
            m_store.generation()};
}

const std::vector<quint32>& ContactSearch::find(const QString& text) {
    const QString folded = text.toCaseFolded();
    const Seen now = seenNow();
    const quint32 loaded = quint32(now.loaded);
    const bool sameLoad = m_valid && now.bytes == m_seen.bytes && now.size == m_seen.size &&
                          now.loaded == m_seen.loaded && now.added >= m_seen.added &&
                          now.generation == m_seen.generation;
    // Whatever holds the new folded text holds the old one, so the old result holds every match.
    const bool narrow = sameLoad && folded.contains(m_folded);

    if (folded.isEmpty()) {
        m_rows.resize(size_t(now.loaded) + size_t(now.added));
        std::iota(m_rows.begin(), m_rows.end(), 0u);
    } else {
        const Query q = makeQuery(folded);
        const RowMatcher matcher(m_store, q);
        const QList<ContactRecord>& added = m_store.added();
        if (narrow) {
            std::vector<quint32>& v = m_rows;
            const size_t firstAdded = size_t(std::lower_bound(v.begin(), v.end(), loaded) - v.begin());
            LastRows last(v, firstAdded);
            keepMatching(q, matcher, last, m_vectors);
            size_t w = last.kept();
            for (size_t i = firstAdded; i < v.size(); ++i) {
                if (addedMatch(added[qsizetype(v[i] - loaded)], folded))
                    v[w++] = v[i];
            }
            v.resize(w);
            for (qint32 k = m_seen.added; k < now.added; ++k) {
                if (addedMatch(added[k], folded))
                    v.push_back(loaded + quint32(k));
            }
        } else {
            m_rows.clear();
            // Room for every row costs only the pages written; the result is trimmed below.
            m_rows.reserve(size_t(now.loaded) + size_t(now.added));
            EveryRow every(loaded, m_rows);
            keepMatching(q, matcher, every, m_vectors);
            for (qint32 k = 0; k < now.added; ++k) {
                if (addedMatch(added[k], folded))
                    m_rows.push_back(loaded + quint32(k));
            }
        }
    }
    // 4 bytes a row shown, not the room a longer result once needed.
    if (m_rows.capacity() > m_rows.size())
        m_rows.shrink_to_fit();

    m_folded = folded;
    m_seen = now;
    m_valid = true;
    return m_rows;
}
