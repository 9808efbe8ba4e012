// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/SingleCopy.h"

#include "services/AccountStore.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <sys/socket.h>
#include <unistd.h>

namespace {
const QByteArray kRequest = "come forward\n";
const QByteArray kAnswer = "coming\n";
// Follows the request in the same write. A copy that knows no token reads the request line
// alone and answers as before.
const QByteArray kTokenPrefix = "token ";


// Only a start by the same user may ask this copy to come forward.
bool sameUser(const QLocalSocket* socket) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           peer.uid == ::getuid();
}
} // namespace

SingleCopy::SingleCopy(const QString& lockPath, QObject* parent)
    : QObject(parent), m_lockPath(lockPath), m_socketPath(socketPathFor(lockPath)), m_lock(lockPath) {
    // Stale only when the process named in it is gone (or is another program now): a copy
    // that runs for days keeps its lock.
    m_lock.setStaleLockTime(0);
}

SingleCopy::~SingleCopy() {
    if (m_server)
        m_server->close();
}

QString SingleCopy::defaultLockPath() {
    return QFileInfo(AccountStore::filePath()).absolutePath() + QStringLiteral("/velmora.lock");
}

QString SingleCopy::socketPathFor(const QString& lockPath) {
    // Only in the user's own runtime folder: in a shared one, another user could take the name
    // first and receive what later starts say.
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        return {};
    // A socket path has room for about 100 bytes: name it by a digest of the lock's path.
    const QByteArray digest =
        QCryptographicHash::hash(QFileInfo(lockPath).absoluteFilePath().toUtf8(), QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    return dir + QStringLiteral("/velmora-") + QString::fromLatin1(digest);
}

SingleCopy::Claim SingleCopy::claim(int waitMs) {
    if (m_socketPath.isEmpty())
        return Claim::Unguarded;
    QDir().mkpath(QFileInfo(m_lockPath).absolutePath());
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        if (m_lock.tryLock(0)) {
            listen();
            return Claim::First;
        }
        if (m_lock.error() != QLockFile::LockFailedError)
            return Claim::Unguarded;
        // The holder may still be on its way to listening, or may have just died: ask, and
        // otherwise try the lock again until the time is up.
        if (askToComeForward(int(qMin<qint64>(deadline.remainingTime(), 1000))))
            return Claim::HandedOver;
        if (deadline.hasExpired())
            return Claim::NoAnswer;
        QThread::msleep(50);
    }
}

qint64 SingleCopy::holderPid() {
    qint64 pid = 0;
    QString host, app;
    return m_lock.getLockInfo(&pid, &host, &app) ? pid : 0;
}

bool SingleCopy::askToComeForward(int waitMs) {
    QLocalSocket socket;
    const QDeadlineTimer deadline(waitMs);
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return false;
    QByteArray request = kRequest;
    const QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN");
    if (!token.isEmpty() && !token.contains('\n') && token.size() < 512)
        request += kTokenPrefix + token + '\n';
    socket.write(request);
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return false;
    QByteArray answer;
    while (!answer.contains('\n') && socket.waitForReadyRead(int(deadline.remainingTime())))
        answer += socket.readAll();
    return answer == kAnswer;
}

void SingleCopy::listen() {
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Holding the lock, any socket left at this path belongs to a copy that is gone.
    QLocalServer::removeServer(m_socketPath);
    if (!m_server->listen(m_socketPath))
        return; // later starts then find no answer and say so; this copy runs on
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            if (!sameUser(socket)) {
                socket->abort();
                continue;
            }
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine())
                    return;
                if (socket->readLine(256) != kRequest) {
                    socket->abort();
                    return;
                }
                QString token;
                if (socket->canReadLine()) {
                    const QByteArray line = socket->readLine(1024).trimmed();
                    if (line.startsWith(kTokenPrefix))
                        token = QString::fromUtf8(line.mid(kTokenPrefix.size()));
                }
                socket->write(kAnswer);
                socket->flush();
                socket->disconnectFromServer();
                emit comeForward(token);
            });
        }
    });
}
