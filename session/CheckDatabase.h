// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/AllowListJournal.h"

#include <QSqlDatabase>
#include <QString>
#include <memory>

// The program's own database (SQLite) beside the contact file: the allow-list journal, per
// account, the check results and the watched contacts. The contact file keeps its format for the programs that read it; this file is
// Velmora's alone, readable by its owner only. A damaged one is set aside and a new one started;
// one that another program holds locked, or that a newer Velmora laid out, is left as it is.
class CheckDatabase : public AllowListJournal {
public:
    static constexpr int LayoutVersion = 3;

    enum class State {
        Open,
        Renewed,  // the file was damaged: it was set aside and a new one is open
        Locked,   // another program holds it: nothing is stored in this run
        Newer,    // laid out by a newer Velmora: left alone
        Unusable, // cannot be created or opened at all
    };

    explicit CheckDatabase(const QString& path);
    ~CheckDatabase() override;
    CheckDatabase(const CheckDatabase&) = delete;
    CheckDatabase& operator=(const CheckDatabase&) = delete;

    State state() const;
    bool usable() const { return state() == State::Open || state() == State::Renewed; }
    QString path() const;
    QString setAsidePath() const; // where a damaged file went, with the log it had (-wal)
    // Allow-list entries the damaged file still shows ("contact (account)"), which Velmora can no
    // longer take off; it may hold others it cannot show.
    QStringList stranded() const;
    QString problem() const;      // what the database said, for the user
    // For the check results, which share the file.
    QSqlDatabase connection() const;

    Recorded record(const QString& account, const QString& contact) override;
    void erase(const QString& account, const QString& contact) override;
    QStringList entries(const QString& account) override;

private:
    struct Connection;
    std::unique_ptr<Connection> m;
};

// Where the program keeps it: beside the contact file.
QString checkDatabasePath(const QString& contactFile);
