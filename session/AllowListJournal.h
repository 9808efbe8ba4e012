// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// Which contacts the program itself put on an account's allow list and has not yet seen taken
// off again. An entry is written before the request that adds the contact goes out, so whatever
// happens next (a dropped connection, a crash) the next sign-in can take the contact off again.
// Accounts and contacts are matched without regard to case, as the service matches them.
class AllowListJournal {
public:
    enum class Recorded {
        New,     // the entry is new
        Already, // it was there: an earlier add of ours may still stand
        Failed,  // it could not be written, so nothing may be added
    };
    virtual ~AllowListJournal() = default;
    virtual Recorded record(const QString& account, const QString& contact) = 0;
    virtual void erase(const QString& account, const QString& contact) = 0;
    // The contacts as they were recorded.
    virtual QStringList entries(const QString& account) = 0;
};
