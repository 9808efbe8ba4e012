#pragma once

#include "session/NotificationDispatcher.h"
#include "session/Protocol.h"
#include "session/StatusProbe.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

// The second account's session with the service as events in, effects out:
// the sign-in on the notification connection, the status probe on the
// switchboard, their time limits and what the status line says. It owns no
// socket and no timer; whoever drives it carries out its effects through Io,
// so the same logic runs over real sockets and under a fuzzer.
class SessionCore {
public:
    enum class Link { Notification, Chat };
    enum class Timer {
        Connect, // a connect to the notification server
        SignIn,  // from connecting until the sign-in is accepted
        Probe    // a status probe's wait for an answer
    };

    class Io {
    public:
        virtual ~Io() = default;
        virtual void connectTo(Link link, const QString& host, quint16 port) = 0;
        // Queues bytes for sending; returns how many wait unsent afterwards.
        virtual qint64 write(Link link, const QByteArray& bytes) = 0;
        virtual void finish(Link link) = 0; // close once the queue has gone out
        virtual void abort(Link link) = 0;  // close now, dropping the queue
        virtual void startTimer(Timer timer) = 0;
        virtual void stopTimer(Timer timer) = 0;
        virtual void showStatus(const QString& text) = 0; // Label1
        virtual void showProbed(const QString& text) = 0; // Label2
        virtual void stopTimer1() = 0;
    };

    struct Host {
        std::function<QString()> account;                        // read when needed
        std::function<QString()> password;                       // read when needed
        std::function<std::optional<QString>()> selectedContact; // nullopt if none
    };

    // What may wait unsent on one connection. A server that makes us answer
    // without reading would otherwise fill memory.
    static constexpr qint64 MaxUnsentBytes = 64 * 1024;

    SessionCore(const Host& host, Io& io);

    void start(const QString& host, quint16 port);
    void closeConnection();
    void startProbe(const QString& contact);

    void connected(Link link);
    void arrived(Link link, const QByteArray& data);
    void lost(Link link);
    void timedOut(Timer timer);

    qint32 TrID() const { return m_dispatcher.TrID(); }
    bool signedIn() const { return m_dispatcher.signedIn(); }

private:
    void openNotification(const QString& host, quint16 port);
    void dropNotification(bool gracefully = false);
    void dropChat();
    // False once the connection is gone because its queue overflowed.
    bool send(Link link, const QByteArray& line);
    // Each returns false once the connection its actions came on is gone, so
    // the rest of that arrival is not read.
    bool carryOut(const NotificationDispatcher::Actions& actions);
    bool carryOut(const StatusProbe::Actions& actions);
    void changeList(ListChange change, const QString& contact);
    void fail(const char* text);

    Io& m_io;
    NotificationDispatcher m_dispatcher;
    StatusProbe m_probe;
    LineFramer m_notificationLines;
    LineFramer m_chatLines;
    bool m_notificationWanted = false; // a loss of the connection is news to tell
    bool m_notificationUp = false;
    bool m_chatWanted = false;
};
