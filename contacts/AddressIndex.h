#pragma once

#include "contacts/ContactStore.h"

#include <QString>
#include <vector>

// Where each address of the list stands, found by a 64-bit hash of its lower-case text: 12 bytes
// a row, built when a feature first needs it, never at the start. Addresses are compared without
// regard to case, so the rows of one address share its results and count once.
class AddressIndex {
public:
    static quint64 keyOf(const QString& address);

    // Every row of the store, afresh.
    void build(const ContactStore& store);
    // Rows the store has gained since: added contacts.
    void catchUp(const ContactStore& store);
    qint32 rows() const { return m_rows; }
    qint64 distinct() const { return m_distinct; }

    // The rows that hold the address, ascending.
    std::vector<quint32> rowsOf(const QString& address) const;
    // Whether no row before this one holds the same address.
    bool firstOfItsAddress(qint32 row, const QString& address) const;

private:
#pragma pack(push, 4)
    struct Entry {
        quint64 key;
        quint32 row;
        friend bool operator<(const Entry& a, const Entry& b) { return a.key != b.key ? a.key < b.key : a.row < b.row; }
    };
#pragma pack(pop)
    static_assert(sizeof(Entry) == 12);

    std::vector<Entry>::const_iterator firstWith(quint64 key) const;

    std::vector<Entry> m_entries; // sorted by key, then row
    qint32 m_rows = 0;
    qint64 m_distinct = 0;
};
