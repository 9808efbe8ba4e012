// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/CheckEngine.h"
#include "session/SessionCore.h"

#include <QHash>
#include <QObject>
#include <QPair>
#include <QString>
#include <functional>
#include <map>

class QTcpSocket;

// The second account's own session with the messaging service over real sockets and timers:
// the sign-in on wsConnect, signing in again after a loss, and status checks, each on a
// switchboard connection of its own.
class ServiceSession : public CheckEngine, private SessionCore::Io, private SessionCore::Events {
    Q_OBJECT
public:
    static constexpr quint16 DefaultPort = kDispatchPort;

    // The journal remembers what the checks put on the account's allow list; null when there is
    // none, and then no check uses the allow list. server gives the dispatch server's
    // host[:port], asked at every sign-in; without it, VELMORA_DISPATCH_SERVER.
    explicit ServiceSession(AllowListJournal* journal, std::function<QString()> server = {},
                            QObject* parent = nullptr);
    ~ServiceSession() override;

    void setCredentials(const QString& account, const QString& password) override;
    // Signs in at dispatchServer().
    void start() override;
    void stop() override;
    void check(int id, const QString& contact) override;
    void cancel(int id) override;
    SessionStatus status() const override { return m_core.status(); }

    qint32 TrID() const { return m_core.TrID(); }
    bool signedIn() const { return m_core.signedIn(); }
    int checksUnderWay() const { return m_core.checksUnderWay(); }

    void setLimits(const SessionCore::Limits& limits) { m_core.setLimits(limits); }

    // The server's host[:port], the port 1863 unless it names one; nullopt when none is named, or
    // what is named does not parse. No server is ever guessed: whatever listens on a guessed
    // address would receive the account's sign-in.
    std::optional<QPair<QString, quint16>> dispatchServer() const;

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    QTcpSocket* socket(int link) const;
    void wire(QTcpSocket* socket, int link);
    void retire(int link, bool gracefully);

    // SessionCore::Io
    void connectTo(int link, const QString& host, quint16 port) override;
    qint64 write(int link, const QByteArray& bytes) override;
    void finish(int link) override;
    void abort(int link) override;
    void startTimer(SessionCore::Timer timer, int id, int ms) override;
    void stopTimer(SessionCore::Timer timer, int id) override;
    // SessionCore::Events
    void onSessionChanged(const SessionStatus& status) override;
    void onCheckEnded(int check, const QString& contact, Outcome outcome) override;

    std::function<QString()> m_server;
    QTcpSocket* m_wsConnect;
    std::map<int, QTcpSocket*> m_chats;
    std::map<std::pair<SessionCore::Timer, int>, int> m_timers; // to Qt's timer id
    QHash<int, std::pair<SessionCore::Timer, int>> m_timerKeys;
    SessionCore m_core;
};
