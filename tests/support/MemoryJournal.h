// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/AllowListJournal.h"

#include <QHash>

// A journal held in memory only, which a crash would lose: for tests.
class MemoryJournal : public AllowListJournal {
public:
    Recorded record(const QString& account, const QString& contact) override {
        auto& contacts = m_entries[account.toLower()];
        const QString key = contact.toLower();
        if (contacts.contains(key))
            return Recorded::Already;
        contacts.insert(key, contact);
        return Recorded::New;
    }
    void erase(const QString& account, const QString& contact) override {
        m_entries[account.toLower()].remove(contact.toLower());
    }
    QStringList entries(const QString& account) override {
        return m_entries.value(account.toLower()).values();
    }

private:
    QHash<QString, QHash<QString, QString>> m_entries;
};
