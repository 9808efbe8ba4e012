// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <vector>

class CheckDatabase;

// The contacts the user watches, by address without regard to case, kept in the program's
// database so that a watch outlives the run; without a usable database, for the run only. With
// each, whether the watch last knew the contact online: a notification is due only when that
// changes. Between rounds the program holds only a hash of each address, for the eye on its row:
// the addresses themselves are read when a round asks for them.
class Watches : public QObject {
    Q_OBJECT
public:
    explicit Watches(CheckDatabase* database, QObject* parent = nullptr);

    bool contains(const QString& address) const;
    int count() const { return int(m_keys.size()); }
    QStringList addresses() const; // in lower case
    // False when the database would not keep it: it is watched for this run only.
    bool add(const QString& address, bool online);
    void remove(const QString& address);
    bool knownOnline(const QString& address) const;
    void setKnownOnline(const QString& address, bool online);
    QString problem() const { return m_problem; }

signals:
    void changed(); // a contact was added or removed

private:
    static quint64 keyOf(const QString& lowerCase);
    bool write(const QString& statement, const QString& key, int online = -1);

    CheckDatabase* m_database;
    std::vector<quint64> m_keys;   // sorted
    QHash<QString, bool> m_memory; // what the database would not keep
    QString m_problem;
};
