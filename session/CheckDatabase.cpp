// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/CheckDatabase.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <cerrno>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// SQLite's own primary result codes; QSqlError::nativeErrorCode may give an extended one, whose
// low byte is the primary.
constexpr int Busy = 5;
constexpr int Locked = 6;
constexpr int Corrupt = 11;
constexpr int NotADatabase = 26;

int connectionCount = 0;

int primaryCode(const QSqlError& error) {
    return error.nativeErrorCode().toInt() & 0xFF;
}
bool damage(const QSqlError& error) {
    return primaryCode(error) == Corrupt || primaryCode(error) == NotADatabase;
}
bool lockedOut(const QSqlError& error) {
    return primaryCode(error) == Busy || primaryCode(error) == Locked;
}

// The allow-list entries a set-aside file still shows, as "contact (account)"; none when it cannot
// be read at all.
QStringList journalOf(const QString& file) {
    QStringList entries;
    const QString name = QStringLiteral("velmora-set-aside-%1").arg(++connectionCount);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QSqlQuery query(db);
        if (db.open() && query.exec(QStringLiteral("SELECT contact, account FROM allow_journal")))
            while (query.next())
                entries << QStringLiteral("%1 (%2)").arg(query.value(0).toString(), query.value(1).toString());
    }
    QSqlDatabase::removeDatabase(name);
    return entries;
}

// Made before SQLite opens it, so it never exists readable by others; SQLite gives its
// write-ahead log and index the same mode.
// A link, or a file someone else owns, planted where it is kept is not used: SQLite would follow
// the one, and the other would let its owner read the account's journal or fill it.
bool createPrivately(const QString& path, QString* why) {
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        *why = errno == ELOOP ? QStringLiteral("it is a symbolic link, which Velmora does not follow")
                              : QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat st;
    const bool own = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::getuid();
    const bool kept = own && ::fchmod(fd, 0600) == 0;
    if (!kept)
        *why = own ? QString::fromLocal8Bit(std::strerror(errno)) : QStringLiteral("it is not a regular file of your own");
    ::close(fd);
    return kept;
}
} // namespace

struct CheckDatabase::Connection {
    QString path;
    QString name = QStringLiteral("velmora-checks-%1").arg(++connectionCount);
    QString setAside;
    QStringList stranded;
    QString problem;
    State state = State::Unusable;

    QSqlDatabase db() const { return QSqlDatabase::database(name, false); }

    // Runs a statement; on failure keeps what SQLite said.
    bool exec(const QString& statement, QSqlError* error = nullptr) {
        QSqlQuery query(db());
        if (query.exec(statement))
            return true;
        problem = query.lastError().text();
        if (error)
            *error = query.lastError();
        return false;
    }

    // nullopt: the file is damaged.
    std::optional<State> open();
    std::optional<State> layOut();
};

std::optional<CheckDatabase::State> CheckDatabase::Connection::open() {
    if (!createPrivately(path, &problem))
        return State::Unusable;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        // The window waits for every statement: never long for a lock.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=100"));
        if (!db.open()) {
            problem = db.lastError().text();
            return State::Unusable;
        }
    }
    QSqlError error;
    // Reading the schema finds a file that is no database; taking the write lock, one that
    // another program holds.
    if (!exec(QStringLiteral("PRAGMA journal_mode=WAL"), &error) ||
        !exec(QStringLiteral("SELECT count(*) FROM sqlite_master"), &error) ||
        !exec(QStringLiteral("BEGIN IMMEDIATE"), &error))
        return damage(error) ? std::nullopt
                             : std::optional(lockedOut(error) ? State::Locked : State::Unusable);
    exec(QStringLiteral("ROLLBACK"));
    return layOut();
}

std::optional<CheckDatabase::State> CheckDatabase::Connection::layOut() {
    QSqlQuery version(db());
    if (!version.exec(QStringLiteral("PRAGMA user_version")) || !version.next()) {
        problem = version.lastError().text();
        return damage(version.lastError()) ? std::nullopt : std::optional(State::Unusable);
    }
    const int found = version.value(0).toInt();
    if (found > LayoutVersion)
        return State::Newer;
    // Losing the last moments of a crash is fine; a torn database is not, and WAL keeps it whole.
    exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    if (found == LayoutVersion)
        return State::Open;
    const bool made = exec(QStringLiteral("BEGIN")) &&
                      exec(QStringLiteral("CREATE TABLE IF NOT EXISTS allow_journal (account TEXT NOT NULL, "
                                          "contact_key TEXT NOT NULL, contact TEXT NOT NULL, "
                                          "PRIMARY KEY (account, contact_key)) WITHOUT ROWID")) &&
                      // Per address in lower case: the latest result, when it came (ms since the
                      // epoch) and when the contact was last seen online (null: never).
                      // first_checked_at: when its first result came (null: before it was kept).
                      exec(QStringLiteral("CREATE TABLE IF NOT EXISTS results (address TEXT PRIMARY KEY, "
                                          "kind INTEGER NOT NULL, checked_at INTEGER NOT NULL, "
                                          "seen_online_at INTEGER, first_checked_at INTEGER) WITHOUT ROWID")) &&
                      (found == 0 || found >= 3 ||
                       exec(QStringLiteral("ALTER TABLE results ADD COLUMN first_checked_at INTEGER"))) &&
                      // The whole-list run under way or last done: it goes on with the addresses
                      // answered before it started.
                      exec(QStringLiteral("CREATE TABLE IF NOT EXISTS run (id INTEGER PRIMARY KEY CHECK (id = 1), "
                                          "started_at INTEGER NOT NULL, completed INTEGER NOT NULL)")) &&
                      // Per address in lower case: whether the watch last knew the contact online.
                      exec(QStringLiteral("CREATE TABLE IF NOT EXISTS watches (address TEXT PRIMARY KEY, "
                                          "known_online INTEGER NOT NULL) WITHOUT ROWID")) &&
                      exec(QStringLiteral("PRAGMA user_version=%1").arg(LayoutVersion)) &&
                      exec(QStringLiteral("COMMIT"));
    return made ? State::Open : State::Unusable;
}

CheckDatabase::CheckDatabase(const QString& path) : m(std::make_unique<Connection>()) {
    m->path = path;
    // A log left by a program that ended without closing may hold the journal's last entries.
    // SQLite folds it in and deletes it when the connection closes, also on a damaged file: a copy
    // keeps it until the file has opened well.
    const QString log = path + QStringLiteral("-wal");
    const QString logCopy = log + QStringLiteral(".opening");
    QFile::remove(logCopy);
    const bool copied = QFileInfo::exists(log) && QFile::copy(log, logCopy);
    const std::optional<State> opened = m->open();
    if (opened) {
        QFile::remove(logCopy);
        m->state = *opened;
        return;
    }
    // Set aside, never deleted: it may still hold something somebody wants.
    QSqlDatabase::removeDatabase(std::exchange(m->name, m->name + QStringLiteral("-new")));
    // With its write-ahead log, which may hold the last entries of the journal: without them,
    // contacts Velmora put on the allow list would stay there for good.
    const QString base = path + QStringLiteral(".damaged-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    bool moved = false;
    for (int n = 1; !moved && n < 1000 && QFileInfo::exists(path); ++n) {
        m->setAside = n == 1 ? base : base + QStringLiteral("-%1").arg(n);
        moved = !QFileInfo::exists(m->setAside) && QFile::rename(path, m->setAside);
    }
    QFile::remove(path + QStringLiteral("-shm"));
    if (moved) {
        // A log still here would be read into the new file.
        const QString asideLog = m->setAside + QStringLiteral("-wal");
        if (copied) {
            moved = QFile::rename(logCopy, asideLog);
            QFile::remove(log);
        } else if (QFileInfo::exists(log)) {
            moved = QFile::rename(log, asideLog);
        }
    }
    if (moved)
        m->stranded = journalOf(m->setAside);
    m->state = moved && m->open() == State::Open ? State::Renewed : State::Unusable;
}

CheckDatabase::~CheckDatabase() {
    const QString name = m->name;
    m.reset();
    QSqlDatabase::removeDatabase(name);
}

CheckDatabase::State CheckDatabase::state() const {
    return m->state;
}
QString CheckDatabase::path() const {
    return m->path;
}
QStringList CheckDatabase::stranded() const {
    return m->stranded;
}

QString CheckDatabase::setAsidePath() const {
    return m->setAside;
}
QString CheckDatabase::problem() const {
    return m->problem;
}

AllowListJournal::Recorded CheckDatabase::record(const QString& account, const QString& contact) {
    if (!usable())
        return Recorded::Failed;
    QSqlQuery query(m->db());
    query.prepare(QStringLiteral(
        "INSERT OR IGNORE INTO allow_journal (account, contact_key, contact) VALUES (?, ?, ?)"));
    query.addBindValue(account.toLower());
    query.addBindValue(contact.toLower());
    query.addBindValue(contact);
    if (!query.exec()) {
        m->problem = query.lastError().text();
        return Recorded::Failed;
    }
    return query.numRowsAffected() > 0 ? Recorded::New : Recorded::Already;
}

void CheckDatabase::erase(const QString& account, const QString& contact) {
    if (!usable())
        return;
    QSqlQuery query(m->db());
    query.prepare(QStringLiteral("DELETE FROM allow_journal WHERE account = ? AND contact_key = ?"));
    query.addBindValue(account.toLower());
    query.addBindValue(contact.toLower());
    if (!query.exec())
        m->problem = query.lastError().text();
}

QStringList CheckDatabase::entries(const QString& account) {
    QStringList contacts;
    if (!usable())
        return contacts;
    QSqlQuery query(m->db());
    query.prepare(QStringLiteral("SELECT contact FROM allow_journal WHERE account = ?"));
    query.addBindValue(account.toLower());
    if (query.exec())
        while (query.next())
            contacts << query.value(0).toString();
    return contacts;
}

QSqlDatabase CheckDatabase::connection() const {
    return m->db();
}

QString checkDatabasePath(const QString& contactFile) {
    return QFileInfo(contactFile).absoluteDir().filePath(QStringLiteral("velmora.db"));
}
