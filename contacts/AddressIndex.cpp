// SPDX-License-Identifier: GPL-3.0-or-later
#include "contacts/AddressIndex.h"

#include <QHash>
#include <QSet>
#include <algorithm>

namespace {
constexpr quint64 RowMask = (quint64(1) << 21) - 1;
} // namespace

quint64 AddressIndex::keyOf(const QString& address) {
    return quint64(qHash(address.toLower(), size_t(0x9e3779b97f4a7c15ULL))) << RowBits;
}

bool AddressIndex::sameAddress(quint32 row, const QString& address) const {
    return m_store->rowField(qint32(row), ContactField::Email).compare(address, Qt::CaseInsensitive) == 0;
}

void AddressIndex::build(const ContactStore& store) {
    m_store = &store;
    m_entries.clear();
    m_rows = 0;
    catchUp();
}

void AddressIndex::catchUp() {
    const qint32 rows = m_store->rowCount();
    if (rows <= m_rows)
        return;
    const auto middle = qsizetype(m_entries.size());
    m_entries.reserve(size_t(rows));
    for (qint32 row = m_rows; row < rows; ++row)
        m_entries.push_back(keyOf(m_store->rowField(row, ContactField::Email)) | quint64(row));
    std::sort(m_entries.begin() + middle, m_entries.end());
    std::inplace_merge(m_entries.begin(), m_entries.begin() + middle, m_entries.end());
    m_rows = rows;
    countDistinct();
}

// Rows of one hash are mostly one address written more than once; now and then two addresses
// share a hash, and only their text tells.
void AddressIndex::countDistinct() {
    m_distinct = 0;
    for (size_t i = 0; i < m_entries.size();) {
        size_t end = i + 1;
        while (end < m_entries.size() && (m_entries[end] & ~RowMask) == (m_entries[i] & ~RowMask))
            ++end;
        if (end - i == 1) {
            ++m_distinct;
        } else {
            QSet<QString> addresses;
            for (size_t j = i; j < end; ++j)
                addresses.insert(m_store->rowField(qint32(m_entries[j] & RowMask), ContactField::Email).toLower());
            m_distinct += addresses.size();
        }
        i = end;
    }
}

std::vector<quint32> AddressIndex::rowsOf(const QString& address) const {
    std::vector<quint32> rows;
    const quint64 key = keyOf(address);
    for (auto it = std::lower_bound(m_entries.begin(), m_entries.end(), key);
         it != m_entries.end() && (*it & ~RowMask) == key; ++it)
        if (sameAddress(quint32(*it & RowMask), address))
            rows.push_back(quint32(*it & RowMask));
    return rows;
}

bool AddressIndex::firstOfItsAddress(qint32 row, const QString& address) const {
    const quint64 key = keyOf(address);
    for (auto it = std::lower_bound(m_entries.begin(), m_entries.end(), key);
         it != m_entries.end() && (*it & ~RowMask) == key && qint32(*it & RowMask) < row; ++it)
        if (sameAddress(quint32(*it & RowMask), address))
            return false;
    return true;
}
