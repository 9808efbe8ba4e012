#include "contacts/AddressIndex.h"

#include <QHash>
#include <algorithm>

quint64 AddressIndex::keyOf(const QString& address) {
    return quint64(qHash(address.toLower(), size_t(0x9e3779b97f4a7c15ULL)));
}

void AddressIndex::build(const ContactStore& store) {
    m_entries.clear();
    m_rows = 0;
    m_distinct = 0;
    catchUp(store);
}

void AddressIndex::catchUp(const ContactStore& store) {
    const qint32 rows = store.rowCount();
    if (rows <= m_rows)
        return;
    const auto middle = m_entries.size();
    m_entries.reserve(size_t(rows));
    for (qint32 row = m_rows; row < rows; ++row)
        m_entries.push_back({keyOf(store.rowField(row, ContactField::Email)), quint32(row)});
    std::sort(m_entries.begin() + qsizetype(middle), m_entries.end());
    std::inplace_merge(m_entries.begin(), m_entries.begin() + qsizetype(middle), m_entries.end());
    m_rows = rows;
    m_distinct = 0;
    for (size_t i = 0; i < m_entries.size(); ++i)
        if (i == 0 || m_entries[i].key != m_entries[i - 1].key)
            ++m_distinct;
}

std::vector<AddressIndex::Entry>::const_iterator AddressIndex::firstWith(quint64 key) const {
    return std::lower_bound(m_entries.cbegin(), m_entries.cend(), Entry{key, 0});
}

std::vector<quint32> AddressIndex::rowsOf(const QString& address) const {
    const quint64 key = keyOf(address);
    std::vector<quint32> rows;
    for (auto it = firstWith(key); it != m_entries.cend() && it->key == key; ++it)
        rows.push_back(it->row);
    return rows;
}

bool AddressIndex::firstOfItsAddress(qint32 row, const QString& address) const {
    const auto it = firstWith(keyOf(address));
    return it == m_entries.cend() || it->row >= quint32(row);
}
