// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Finding contacts by what their name or address contains, for a find box over the lists.
//
// A row matches when the case-folded text of its name or of its address, as the lists show it,
// contains the case-folded text typed (QString::toCaseFolded): "SMITH" finds "Smith" and "JOSÉ"
// finds "José", but "jose" does not find "José". The fields are the reader's: a match never spans
// the quotes and the comma between name and address, nor lies in the fields after the address.
//
// The loaded rows are searched in the file's bytes as the store keeps them; text is decoded only
// for the few rows that the bytes alone cannot settle. Nothing is kept per contact but the result,
// 4 bytes a row found.

#include "contacts/ContactStore.h"

#include <QString>

#include <vector>

// The widest vectors a search may use; it uses no wider than the processor has. The results
// are the same with any.
enum class SearchVectors { None, Sse2, Avx2, Widest };

class ContactSearch {
public:
    explicit ContactSearch(const ContactStore& store, SearchVectors widest = SearchVectors::Widest);

    // The rows that match, as the store numbers them, in ascending order; every row for an empty
    // text. When the folded text still holds the last one (a letter typed at the end), only the
    // last result is searched again. The reference stays valid until the next call.
    const std::vector<quint32>& find(const QString& text);
    const std::vector<quint32>& rows() const { return m_rows; }

    // Lets the last result go: the next find searches every row. Loads and added contacts are
    // noticed without this; a store cleared and loaded again to the very same size may not be.
    void forget();

private:
    struct Seen {
        const char* bytes = nullptr;
        qsizetype size = 0;
        qint32 loaded = 0;
        qint32 added = 0;
        quint64 generation = 0;
    };
    Seen seenNow() const;

    const ContactStore& m_store;
    SearchVectors m_vectors;
    std::vector<quint32> m_rows;
    QString m_folded; // the folded text m_rows answers
    Seen m_seen;      // the store as m_rows saw it
    bool m_valid = false;
};
