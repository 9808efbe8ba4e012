// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>

class CheckDatabase;

// The contacts the user watches, by address without regard to case, kept in the program's
// database so that a watch outlives the run; without a usable database, for the run only. With
// each, whether the watch last knew the contact online: a notification is due only when that
// changes.
class Watches : public QObject {
    Q_OBJECT
public:
    explicit Watches(CheckDatabase* database, QObject* parent = nullptr);

    bool contains(const QString& address) const { return m_known.contains(address.toLower()); }
    int count() const { return int(m_known.size()); }
    QStringList addresses() const { return m_known.keys(); } // in lower case
    // False when the database would not keep it: it is watched for this run only.
    bool add(const QString& address, bool online);
    void remove(const QString& address);
    bool knownOnline(const QString& address) const { return m_known.value(address.toLower()); }
    void setKnownOnline(const QString& address, bool online);
    QString problem() const { return m_problem; }

signals:
    void changed(); // a contact was added or removed

private:
    bool write(const QString& statement, const QString& key, std::optional<bool> online);

    CheckDatabase* m_database;
    QHash<QString, bool> m_known;
    QString m_problem;
};
