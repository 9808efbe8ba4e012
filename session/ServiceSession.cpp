// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/ServiceSession.h"

#include <QTcpSocket>
#include <QTimerEvent>

using Timer = SessionCore::Timer;

namespace {
// Read as much at a time as one arrival is worth handling, not all a flooding server can push.
constexpr qint64 ReadPiece = 64 * 1024;
} // namespace

ServiceSession::ServiceSession(AllowListJournal* journal, std::function<QString()> server, QObject* parent)
    : CheckEngine(parent), m_server(std::move(server)), m_wsConnect(new QTcpSocket(this)),
      m_core(*this, *this, journal) {
    qRegisterMetaType<SessionStatus>();
    qRegisterMetaType<Outcome>();
    m_wsConnect->setObjectName(QStringLiteral("wsConnect"));
    wire(m_wsConnect, SessionCore::NotificationLink);
}

ServiceSession::~ServiceSession() {
    // The sockets die after us and may still signal while closing.
    m_wsConnect->disconnect(this);
    for (const auto& [link, socket] : m_chats)
        socket->disconnect(this);
}

std::optional<QPair<QString, quint16>> ServiceSession::dispatchServer() const {
    const QString setting = (m_server ? m_server() : qEnvironmentVariable("VELMORA_DISPATCH_SERVER")).trimmed();
    return parseHostPort(setting, DefaultPort);
}

void ServiceSession::setCredentials(const QString& account, const QString& password) {
    m_core.setCredentials(account, password);
}

void ServiceSession::start() {
    if (const auto server = dispatchServer())
        m_core.start(server->first, server->second);
    else
        m_core.startWithoutServer();
}

void ServiceSession::stop() {
    m_core.stop();
}

void ServiceSession::check(int id, const QString& contact) {
    m_core.check(id, contact);
}

void ServiceSession::cancel(int id) {
    m_core.cancel(id);
}

// ---- sockets ----------------------------------------------------------------

QTcpSocket* ServiceSession::socket(int link) const {
    if (link == SessionCore::NotificationLink)
        return m_wsConnect;
    const auto it = m_chats.find(link);
    return it == m_chats.end() ? nullptr : it->second;
}

void ServiceSession::wire(QTcpSocket* s, int link) {
    s->setReadBufferSize(ReadPiece);
    connect(s, &QTcpSocket::connected, this, [this, link] { m_core.connected(link); });
    connect(s, &QTcpSocket::readyRead, this, [this, link, s] { m_core.arrived(link, s->readAll()); });
    connect(s, &QTcpSocket::errorOccurred, this, [this, link] { m_core.lost(link); });
}

void ServiceSession::connectTo(int link, const QString& host, quint16 port) {
    QTcpSocket* s = socket(link);
    if (!s) {
        s = new QTcpSocket(this);
        s->setObjectName(QStringLiteral("wsChat"));
        m_chats[link] = s;
        wire(s, link);
    }
    s->connectToHost(host, port);
}

qint64 ServiceSession::write(int link, const QByteArray& bytes) {
    QTcpSocket* s = socket(link);
    if (!s)
        return 0;
    s->write(bytes);
    // Hand what the system takes to it now, so only what a peer that stops reading leaves
    // behind counts, not a burst of answers to one read.
    s->flush();
    return s->bytesToWrite();
}

// A switchboard connection is the check's alone: once the check is done with it, nothing of it
// reaches the session any more, and it goes when closed.
void ServiceSession::retire(int link, bool gracefully) {
    if (link == SessionCore::NotificationLink) {
        if (gracefully)
            m_wsConnect->disconnectFromHost();
        else
            m_wsConnect->abort();
        return;
    }
    const auto it = m_chats.find(link);
    if (it == m_chats.end())
        return;
    QTcpSocket* s = it->second;
    m_chats.erase(it);
    s->disconnect(this);
    if (gracefully && s->state() == QAbstractSocket::ConnectedState) {
        connect(s, &QAbstractSocket::disconnected, s, &QObject::deleteLater);
        connect(s, &QAbstractSocket::errorOccurred, s, &QObject::deleteLater);
        s->disconnectFromHost();
    } else {
        s->abort();
        s->deleteLater();
    }
}

void ServiceSession::finish(int link) {
    retire(link, true);
}

void ServiceSession::abort(int link) {
    retire(link, false);
}

// ---- timers -----------------------------------------------------------------

void ServiceSession::startTimer(Timer timer, int id, int ms) {
    stopTimer(timer, id);
    const int qtId = QObject::startTimer(std::max(ms, 0));
    m_timers[{timer, id}] = qtId;
    m_timerKeys.insert(qtId, {timer, id});
}

void ServiceSession::stopTimer(Timer timer, int id) {
    const auto it = m_timers.find({timer, id});
    if (it == m_timers.end())
        return;
    killTimer(it->second);
    m_timerKeys.remove(it->second);
    m_timers.erase(it);
}

void ServiceSession::timerEvent(QTimerEvent* event) {
    const auto key = m_timerKeys.find(event->timerId());
    if (key == m_timerKeys.end()) {
        QObject::timerEvent(event);
        return;
    }
    const auto [timer, id] = *key;
    stopTimer(timer, id); // a single shot
    m_core.timedOut(timer, id);
}

// ---- what happened ------------------------------------------------------------

void ServiceSession::onSessionChanged(const SessionStatus& status) {
    emit statusChanged(status);
}

void ServiceSession::onCheckEnded(int check, const QString& contact, Outcome outcome) {
    emit checkEnded(check, contact, outcome);
}
