// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/Watches.h"

#include "session/CheckDatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

Watches::Watches(CheckDatabase* database, QObject* parent)
    : QObject(parent), m_database(database && database->usable() ? database : nullptr) {
    if (!m_database)
        return;
    QSqlQuery query(m_database->connection());
    if (query.exec(QStringLiteral("SELECT address, known_online FROM watches")))
        while (query.next())
            m_known.insert(query.value(0).toString(), query.value(1).toBool());
}

bool Watches::write(const QString& statement, const QString& key, std::optional<bool> online) {
    if (!m_database)
        return true;
    QSqlQuery query(m_database->connection());
    query.prepare(statement);
    query.addBindValue(key);
    if (online)
        query.addBindValue(int(*online));
    if (query.exec())
        return true;
    m_problem = query.lastError().text();
    return false;
}

bool Watches::add(const QString& address, bool online) {
    const QString key = address.toLower();
    m_known.insert(key, online);
    emit changed();
    return write(QStringLiteral("INSERT OR REPLACE INTO watches (address, known_online) VALUES (?, ?)"), key, online);
}

void Watches::remove(const QString& address) {
    const QString key = address.toLower();
    if (!m_known.remove(key))
        return;
    emit changed();
    write(QStringLiteral("DELETE FROM watches WHERE address = ?"), key, std::nullopt);
}

void Watches::setKnownOnline(const QString& address, bool online) {
    const QString key = address.toLower();
    const auto it = m_known.find(key);
    if (it == m_known.end() || *it == online)
        return;
    *it = online;
    write(QStringLiteral("INSERT OR REPLACE INTO watches (address, known_online) VALUES (?, ?)"), key, online);
}
