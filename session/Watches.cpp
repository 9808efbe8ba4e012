// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/Watches.h"

#include "session/CheckDatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

Watches::Watches(CheckDatabase* database, QObject* parent)
    : QObject(parent), m_database(database && database->usable() ? database : nullptr) {
    if (!m_database)
        return;
    QSqlQuery query(m_database->connection());
    if (query.exec(QStringLiteral("SELECT address FROM watches")))
        while (query.next())
            m_keys.push_back(keyOf(query.value(0).toString()));
    std::sort(m_keys.begin(), m_keys.end());
    m_keys.erase(std::unique(m_keys.begin(), m_keys.end()), m_keys.end());
}

// A 64-bit hash with a fixed seed: two watched addresses sharing one is not to be expected.
quint64 Watches::keyOf(const QString& lowerCase) {
    return quint64(qHash(lowerCase, 0x9e3779b97f4a7c15ULL));
}

bool Watches::contains(const QString& address) const {
    return !m_keys.empty() && std::binary_search(m_keys.begin(), m_keys.end(), keyOf(address.toLower()));
}

QStringList Watches::addresses() const {
    QStringList all = m_memory.keys();
    if (!m_database)
        return all;
    QSqlQuery query(m_database->connection());
    if (query.exec(QStringLiteral("SELECT address FROM watches")))
        while (query.next())
            if (const QString address = query.value(0).toString(); !m_memory.contains(address))
                all << address;
    return all;
}

bool Watches::write(const QString& statement, const QString& key, int online) {
    if (!m_database)
        return false;
    QSqlQuery query(m_database->connection());
    query.prepare(statement);
    query.addBindValue(key);
    if (online >= 0)
        query.addBindValue(online);
    if (query.exec())
        return true;
    m_problem = query.lastError().text();
    return false;
}

bool Watches::add(const QString& address, bool online) {
    const QString key = address.toLower();
    const quint64 hash = keyOf(key);
    const auto at = std::lower_bound(m_keys.begin(), m_keys.end(), hash);
    if (at == m_keys.end() || *at != hash)
        m_keys.insert(at, hash);
    const bool kept =
        write(QStringLiteral("INSERT OR REPLACE INTO watches (address, known_online) VALUES (?, ?)"), key, int(online));
    if (kept)
        m_memory.remove(key);
    else
        m_memory.insert(key, online);
    emit changed();
    return kept || !m_database;
}

void Watches::remove(const QString& address) {
    const QString key = address.toLower();
    const auto at = std::lower_bound(m_keys.begin(), m_keys.end(), keyOf(key));
    if (at == m_keys.end() || *at != keyOf(key))
        return;
    m_keys.erase(at);
    m_memory.remove(key);
    write(QStringLiteral("DELETE FROM watches WHERE address = ?"), key);
    emit changed();
}

bool Watches::knownOnline(const QString& address) const {
    const QString key = address.toLower();
    if (const auto it = m_memory.constFind(key); it != m_memory.constEnd() || !m_database)
        return it != m_memory.constEnd() && *it;
    QSqlQuery query(m_database->connection());
    query.prepare(QStringLiteral("SELECT known_online FROM watches WHERE address = ?"));
    query.addBindValue(key);
    return query.exec() && query.next() && query.value(0).toBool();
}

void Watches::setKnownOnline(const QString& address, bool online) {
    const QString key = address.toLower();
    if (!contains(key) || knownOnline(key) == online)
        return;
    if (const auto it = m_memory.find(key); it != m_memory.end()) {
        *it = online;
        return;
    }
    if (!write(QStringLiteral("INSERT OR REPLACE INTO watches (address, known_online) VALUES (?, ?)"), key, int(online)))
        m_memory.insert(key, online);
}
