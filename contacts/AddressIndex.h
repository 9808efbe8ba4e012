// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "contacts/ContactStore.h"

#include <QString>
#include <vector>

// Where each address of the list stands: 8 bytes a row, a hash of the address's lower-case text
// beside the row, sorted, built when a feature first needs it and never at the start. Addresses
// are compared without regard to case, so the rows of one address share its results and count
// once; rows whose hashes meet by chance are told apart by their text.
class AddressIndex {
public:
    // Every row of the store, afresh.
    void build(const ContactStore& store);
    // Rows the store has gained since: added contacts.
    void catchUp();
    qint32 rows() const { return m_rows; }
    qint64 distinct() const { return m_distinct; }

    // The rows that hold the address, ascending.
    std::vector<quint32> rowsOf(const QString& address) const;
    // Whether no row before this one holds the same address.
    bool firstOfItsAddress(qint32 row, const QString& address) const;

private:
    static constexpr int RowBits = 21; // rows loaded and added: two million at most
    static quint64 keyOf(const QString& address);
    bool sameAddress(quint32 row, const QString& address) const;
    void countDistinct();

    const ContactStore* m_store = nullptr;
    std::vector<quint64> m_entries; // hash in the high bits, row in the low RowBits, sorted
    qint32 m_rows = 0;
    qint64 m_distinct = 0;
};
