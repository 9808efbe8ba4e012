// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/CheckResults.h"

#include "session/CheckDatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <utility>

namespace {
// Rows looked up for the lists, kept while they are likely to be painted again.
constexpr int CacheLimit = 8192;
// How long one write waits for a lock another program holds.
constexpr int AttemptMs = 5;
} // namespace

CheckResults::CheckResults(CheckDatabase* database, QObject* parent)
    : QObject(parent), m_database(database), m_flushTimer(new QTimer(this)) {
    m_flushTimer->setSingleShot(true);
    m_flushTimer->setInterval(FlushMs);
    connect(m_flushTimer, &QTimer::timeout, this, &CheckResults::flush);
}

CheckResults::~CheckResults() {
    flush();
}

bool CheckResults::stored() const {
    return m_database && m_database->usable();
}

void CheckResults::record(const QString& address, ResultKind kind, qint64 now) {
    const QString key = address.toLower();
    const std::optional<Result> before = find(key);
    // A result kept before its first was recorded goes back at least to what it says.
    const qint64 first = !before                 ? now
                         : before->firstCheckedAt ? before->firstCheckedAt
                         : before->seenOnlineAt   ? std::min(before->checkedAt, before->seenOnlineAt)
                                                  : before->checkedAt;
    const Result result{kind, now, kind == ResultKind::Online ? now : before ? before->seenOnlineAt : 0, first};
    m_forgotten.remove(key);
    m_pending.insert(key, result);
    m_cache.insert(key, result);
    if (!m_flushTimer->isActive())
        m_flushTimer->start();
    emit recorded(key, result);
}

std::optional<CheckResults::Result> CheckResults::find(const QString& address) {
    const QString key = address.toLower();
    if (const auto pending = m_pending.constFind(key); pending != m_pending.cend())
        return *pending;
    if (const auto kept = m_kept.constFind(key); kept != m_kept.cend())
        return *kept;
    if (const auto cached = m_cache.constFind(key); cached != m_cache.cend())
        return *cached;
    if (m_forgotten.contains(key))
        return std::nullopt;
    if (m_cache.size() >= CacheLimit)
        m_cache.clear();
    const std::optional<Result> found = fromDatabase(key);
    m_cache.insert(key, found);
    return found;
}

std::optional<CheckResults::Result> CheckResults::fromDatabase(const QString& key) {
    if (!readable())
        return std::nullopt;
    QSqlQuery query(m_database->connection());
    query.prepare(
        QStringLiteral("SELECT kind, checked_at, seen_online_at, first_checked_at FROM results WHERE address = ?"));
    query.addBindValue(key);
    if (!query.exec() || !query.next())
        return std::nullopt;
    const int kind = query.value(0).toInt();
    if (kind < 0 || kind > int(ResultKind::Uncertain))
        return std::nullopt;
    return Result{ResultKind(kind), query.value(1).toLongLong(), query.value(2).toLongLong(),
                  query.value(3).toLongLong()};
}

void CheckResults::forget(const QString& address) {
    const QString key = address.toLower();
    m_pending.remove(key);
    m_kept.remove(key);
    m_cache.insert(key, std::nullopt);
    if (stored()) {
        m_forgotten.insert(key);
        if (!m_flushTimer->isActive())
            m_flushTimer->start();
    }
}

void CheckResults::restore(const QString& address, const Result& result) {
    const QString key = address.toLower();
    m_forgotten.remove(key);
    m_pending.insert(key, result);
    m_cache.insert(key, result);
    if (!m_flushTimer->isActive())
        m_flushTimer->start();
}

void CheckResults::forEach(const std::function<void(const QString&, const Result&)>& fn) {
    flush();
    for (const QHash<QString, Result>* here : {&m_kept, &m_pending})
        for (auto it = here->cbegin(); it != here->cend(); ++it)
            fn(it.key(), *it);
    if (!readable())
        return;
    QSqlQuery query(m_database->connection());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT address, kind, checked_at, seen_online_at, first_checked_at FROM results")))
        return;
    while (query.next()) {
        const QString key = query.value(0).toString();
        const int kind = query.value(1).toInt();
        if (m_pending.contains(key) || m_forgotten.contains(key) || kind < 0 || kind > int(ResultKind::Uncertain))
            continue;
        fn(key, Result{ResultKind(kind), query.value(2).toLongLong(), query.value(3).toLongLong(),
                       query.value(4).toLongLong()});
    }
}

bool CheckResults::flush() {
    m_flushTimer->stop();
    if (!stored()) {
        m_kept.insert(m_pending);
        m_pending.clear();
        return true;
    }
    if (m_pending.isEmpty() && m_forgotten.isEmpty() && !m_runPending && !m_clearPending)
        return true;
    QSqlDatabase db = m_database->connection();
    QString error;
    QSqlQuery busy(db);
    // Another program's lock is waited for only a moment: the window waits with it. The next
    // try is a second away.
    busy.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(AttemptMs));
    const bool written = write(db, &error);
    busy.exec(QStringLiteral("PRAGMA busy_timeout = 100"));
    if (!written) {
        m_flushTimer->start();
        if (!std::exchange(m_toldNotSaved, true))
            emit notSaved(error);
        return false;
    }
    m_pending.clear();
    m_forgotten.clear();
    m_runPending = false;
    m_clearPending = false;
    m_toldNotSaved = false;
    return true;
}

// All of it or nothing.
bool CheckResults::write(QSqlDatabase& db, QString* error) {
    auto failed = [&](const QSqlError& e) {
        *error = e.text();
        db.rollback();
        return false;
    };
    if (!db.transaction())
        return failed(db.lastError());
    if (m_clearPending) {
        for (const QString& statement : {QStringLiteral("DELETE FROM results"), QStringLiteral("DELETE FROM run")}) {
            QSqlQuery clear(db);
            if (!clear.exec(statement))
                return failed(clear.lastError());
        }
    }
    QSqlQuery forget(db);
    if (!m_forgotten.isEmpty() && !forget.prepare(QStringLiteral("DELETE FROM results WHERE address = ?")))
        return failed(forget.lastError());
    for (const QString& key : std::as_const(m_forgotten)) {
        forget.addBindValue(key);
        if (!forget.exec())
            return failed(forget.lastError());
    }
    QSqlQuery write(db);
    if (!write.prepare(QStringLiteral(
            "INSERT INTO results (address, kind, checked_at, seen_online_at, first_checked_at) VALUES (?, ?, ?, ?, ?) "
            "ON CONFLICT (address) DO UPDATE SET kind = excluded.kind, checked_at = excluded.checked_at, "
            "seen_online_at = excluded.seen_online_at, first_checked_at = excluded.first_checked_at")))
        return failed(write.lastError());
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
        write.addBindValue(it.key());
        write.addBindValue(int(it->kind));
        write.addBindValue(it->checkedAt);
        write.addBindValue(it->seenOnlineAt ? QVariant(it->seenOnlineAt) : QVariant());
        write.addBindValue(it->firstCheckedAt ? QVariant(it->firstCheckedAt) : QVariant());
        if (!write.exec())
            return failed(write.lastError());
    }
    if (m_runPending && m_run) {
        QSqlQuery run(db);
        run.prepare(QStringLiteral("INSERT OR REPLACE INTO run (id, started_at, completed) VALUES (1, ?, ?)"));
        run.addBindValue(m_run->startedAt);
        run.addBindValue(m_run->completed ? 1 : 0);
        if (!run.exec())
            return failed(run.lastError());
    }
    if (!db.commit())
        return failed(db.lastError());
    return true;
}

QStringList CheckResults::online() {
    flush();
    QStringList addresses;
    for (const QHash<QString, Result>* here : {&m_kept, &m_pending})
        for (auto it = here->cbegin(); it != here->cend(); ++it)
            if (it->kind == ResultKind::Online)
                addresses << it.key();
    if (!readable())
        return addresses;
    QSqlQuery query(m_database->connection());
    query.prepare(QStringLiteral("SELECT address FROM results WHERE kind = ?"));
    query.addBindValue(int(ResultKind::Online));
    if (query.exec())
        while (query.next())
            if (!m_pending.contains(query.value(0).toString()) && !m_forgotten.contains(query.value(0).toString()))
                addresses << query.value(0).toString();
    return addresses;
}

bool CheckResults::any() {
    if (!m_pending.isEmpty() || !m_kept.isEmpty())
        return true;
    if (!readable())
        return false;
    QSqlQuery query(m_database->connection());
    return query.exec(QStringLiteral("SELECT 1 FROM results LIMIT 1")) && query.next();
}

void CheckResults::clear() {
    m_flushTimer->stop();
    m_pending.clear();
    m_kept.clear();
    m_cache.clear();
    m_forgotten.clear();
    m_run = Run{};
    m_runPending = false;
    // Forgotten at once; a database that will not take the deletion now gets it with the next write.
    m_clearPending = stored();
    flush();
}

CheckResults::Run CheckResults::run() {
    if (m_run)
        return *m_run;
    Run run;
    if (readable()) {
        QSqlQuery query(m_database->connection());
        if (query.exec(QStringLiteral("SELECT started_at, completed FROM run WHERE id = 1")) && query.next())
            run = Run{query.value(0).toLongLong(), query.value(1).toInt() != 0};
    }
    m_run = run;
    return run;
}

void CheckResults::setRun(const Run& run) {
    m_run = run;
    m_runPending = true;
    if (!m_flushTimer->isActive())
        m_flushTimer->start();
}

qint64 CheckResults::count(qint64 since, bool onlineOnly) {
    qint64 n = 0;
    // What waits after a failed write counts too; a run asks each address once, so hardly any is
    // also among the rows written since.
    for (const QHash<QString, Result>* here : {&m_kept, &m_pending})
        for (auto it = here->cbegin(); it != here->cend(); ++it)
            if (it->checkedAt >= since && (!onlineOnly || it->kind == ResultKind::Online))
                ++n;
    if (!readable())
        return n;
    QSqlQuery query(m_database->connection());
    query.prepare(QStringLiteral("SELECT count(*) FROM results WHERE checked_at >= ? AND (? = 0 OR kind = ?)"));
    query.addBindValue(since);
    query.addBindValue(onlineOnly ? 1 : 0);
    query.addBindValue(int(ResultKind::Online));
    if (query.exec() && query.next())
        n += query.value(0).toLongLong();
    return n;
}

qint64 CheckResults::answeredSince(qint64 since) {
    flush();
    return count(since, false);
}

qint64 CheckResults::onlineSince(qint64 since) {
    flush();
    return count(since, true);
}
