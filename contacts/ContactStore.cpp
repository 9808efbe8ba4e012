// SPDX-License-Identifier: GPL-3.0-or-later
#include "contacts/ContactStore.h"

#include <algorithm>

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
    // A record line takes at least four bytes with its line end. Room reserved beyond what the
    // records need is never touched, so it costs address space, not memory.
    const qsizetype room =
        std::min<qsizetype>(kContactSlots - m_loadedCount, (m_bytes.size() - base) / 4 + 1);
    m_lineStarts.reserve(m_lineStarts.size() + room);

    qint64 leftOut = 0;
    result.stats = scanContactRecords(QByteArrayView(m_bytes).sliced(base), [&](qsizetype lineStart) {
        if (m_loadedCount >= kContactSlots) {
            ++leftOut;
            return;
        }
        m_lineStarts.append(base + lineStart);
        ++m_loadedCount;
    });
    result.leftOut = leftOut;
    return result;
}

bool ContactStore::add(const QString& name, const QString& email) {
    if (m_addedCount >= kContactSlots)
        return false;
    m_added.append({name, email});
    ++m_addedCount;
    return true;
}

SaveResult ContactStore::appendUnsaved(const QString& path) {
    EncodedRecords records;
    for (qint32 k = m_savedCount; k < m_addedCount; ++k)
        records.add(m_added[k].name, m_added[k].email);
    const SaveResult result = appendContactRecords(path, records);
    m_savedCount += qint32(result.recordsWritten);
    return result;
}

void ContactStore::clear() {
    m_bytes = QByteArray();
    m_lineStarts = QList<qsizetype>();
    m_added = QList<ContactRecord>();
    m_loadedCount = 0;
    m_addedCount = 0;
    m_savedCount = 0;
}

QString ContactStore::loadedField(qint32 index, ContactField field) const {
    return contactFieldAt(m_bytes, m_lineStarts[index], field);
}

QString ContactStore::rowField(qint32 row, ContactField field) const {
    if (row >= 0 && row < m_loadedCount)
        return loadedField(row, field);
    const qint32 k = row - m_loadedCount;
    if (k >= 0 && k < m_addedCount)
        return field == ContactField::Name ? m_added[k].name : m_added[k].email;
    return {};
}

QString ContactStore::slotField(qint32 slot, ContactField field) const {
    if (slot >= 1 && slot <= m_addedCount)
        return field == ContactField::Name ? m_added[slot - 1].name : m_added[slot - 1].email;
    if (slot >= 1 && slot <= m_loadedCount)
        return loadedField(slot - 1, field);
    return {};
}
