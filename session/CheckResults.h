// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/CheckOutcome.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class CheckDatabase;
class QSqlDatabase;
class QTimer;

// The latest result of every address checked, and the whole-list run under way, kept in the
// program's database. Results are written in one transaction at most every second, never one by
// one, so a run costs the disk little and a crash loses at most the last second. A write that
// fails (a lock held elsewhere, a full disk, a read-only file) is rolled back and tried again a
// second later; meanwhile what waits counts as written for every question asked here, and
// notSaved tells once. An address is matched without regard to case. Without a usable database
// the results last as long as the program.
class CheckResults : public QObject {
    Q_OBJECT
public:
    struct Result {
        ResultKind kind;
        qint64 checkedAt;    // ms since the epoch
        qint64 seenOnlineAt; // 0: never
        qint64 firstCheckedAt = 0; // when the address's first result came; 0: not known
    };
    struct Run {
        qint64 startedAt = 0; // 0: none yet
        bool completed = true;
    };

    static constexpr int FlushMs = 1000;

    explicit CheckResults(CheckDatabase* database, QObject* parent = nullptr);
    ~CheckResults() override;

    void record(const QString& address, ResultKind kind, qint64 now);
    std::optional<Result> find(const QString& address);
    // The address's result goes, to come back by restore (a contact removed, and put back).
    void forget(const QString& address);
    void restore(const QString& address, const Result& result);
    // Calls fn(address, result) for every result kept.
    void forEach(const std::function<void(const QString&, const Result&)>& fn);
    // Every address whose latest result is online.
    QStringList online();
    // Whether any result is kept at all.
    bool any();
    // Forgets every result and the run.
    void clear();

    Run run();
    void setRun(const Run& run);
    // Addresses answered, and found online, since the given time.
    qint64 answeredSince(qint64 since);
    qint64 onlineSince(qint64 since);

    // Writes what waits now: when the program leaves. False when it could not.
    bool flush();

signals:
    // A result was recorded (not yet written, maybe).
    void recorded(const QString& address, const CheckResults::Result& result);
    // What waits could not be written, and why; told once until a write works again.
    void notSaved(const QString& error);

private:
    bool stored() const;
    bool write(QSqlDatabase& db, QString* error);
    // Reads answer from the database only while it holds nothing forgotten.
    bool readable() const { return stored() && !m_clearPending; }
    std::optional<Result> fromDatabase(const QString& key);
    qint64 count(qint64 since, bool onlineOnly);

    CheckDatabase* m_database;
    QHash<QString, Result> m_pending; // recorded, not yet written
    QHash<QString, Result> m_kept;    // without a database: everything recorded
    QHash<QString, std::optional<Result>> m_cache;
    QSet<QString> m_forgotten; // still to be deleted there
    std::optional<Run> m_run;
    bool m_runPending = false;
    bool m_clearPending = false; // forgotten here, still to be deleted there
    bool m_toldNotSaved = false;
    QTimer* m_flushTimer;
};
