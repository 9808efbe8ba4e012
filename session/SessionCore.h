// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/AllowListJournal.h"
#include "session/CheckExchange.h"
#include "session/CheckOutcome.h"
#include "session/NotificationDispatcher.h"
#include "session/Protocol.h"

#include <QByteArray>
#include <QHash>
#include <QRandomGenerator>
#include <QSet>
#include <QString>
#include <deque>
#include <map>
#include <memory>
#include <tuple>
#include <variant>

// The second account's session with the service as events in, effects out: the sign-in on the
// notification connection, signing in again after a loss, and any number of status checks at
// once, each on a switchboard of its own. It owns no socket and no timer; whoever drives it
// carries out its effects through Io and hears what happened through Events, so the same logic
// runs over real sockets and under a fuzzer.
class SessionCore {
public:
    // Link 0 is the notification connection; a check's switchboard is the link of its number.
    static constexpr int NotificationLink = 0;

    enum class Timer {
        Connect, // a connect to the notification server
        SignIn,  // from connecting until the sign-in is accepted
        Retry,   // the wait before signing in again
        Check,   // a check's wait for its next answer
        Remove,  // the wait before asking a busy server again to take contacts off the allow list
    };

    class Io {
    public:
        virtual ~Io() = default;
        virtual void connectTo(int link, const QString& host, quint16 port) = 0;
        // Queues bytes for sending; returns how many wait unsent afterwards.
        virtual qint64 write(int link, const QByteArray& bytes) = 0;
        virtual void finish(int link) = 0; // close once the queue has gone out
        virtual void abort(int link) = 0;  // close now, dropping the queue
        // A single shot; starting a running timer starts it over.
        virtual void startTimer(Timer timer, int id, int ms) = 0;
        virtual void stopTimer(Timer timer, int id) = 0;
    };

    class Events {
    public:
        virtual ~Events() = default;
        virtual void onSessionChanged(const SessionStatus& status) = 0;
        virtual void onCheckEnded(int check, const QString& contact, Outcome outcome) = 0;
    };

    struct Limits {
        int connectMs = 10000;
        int signInMs = 30000; // up to the end of the list sync
        int checkMs = 5000; // each step of a check
        int firstRetryMs = 2000;
        int maxRetryMs = 5 * 60 * 1000;
        int firstRemoveRetryMs = 5000; // a busy server's "no" to taking a contact off the allow list
        int maxRemoveRetryMs = 60000;
    };

    // What may wait unsent on one connection. A server that makes us answer without reading
    // would otherwise fill memory.
    static constexpr qint64 MaxUnsentBytes = 64 * 1024;

    // The journal may be null: then no contact is ever put on the allow list, since nothing
    // would remember to take it off.
    SessionCore(Io& io, Events& events, AllowListJournal* journal);

    void setLimits(const Limits& limits) { m_limits = limits; }
    void seedRandom(quint32 seed) { m_random.seed(seed); }
    // The sign-in waits for these when it gets there first.
    void setCredentials(const QString& account, const QString& password);
    // Signs in through the dispatch server, and again by itself after every loss until stop().
    void start(const QString& host, quint16 port);
    void stop();
    // Stops for good: there is no server to sign in at.
    void startWithoutServer();

    // Starts check number id (> 0, unused by any check under way) of the contact. Every check
    // ends with exactly one checkEnded, at once when it cannot even be asked.
    void check(int id, const QString& contact);
    void cancel(int id);

    void connected(int link);
    void arrived(int link, const QByteArray& data);
    void lost(int link);
    void timedOut(Timer timer, int id);

    qint32 TrID() const { return m_dispatcher.TrID(); }
    bool signedIn() const { return m_dispatcher.signedIn(); }
    const SessionStatus& status() const { return m_status; }
    int checksUnderWay() const { return int(m_checks.size()); }

private:
    struct Check {
        QString contact;
        std::unique_ptr<CheckExchange> exchange; // once a switchboard is offered
        LineFramer lines;
        bool requested = false; // its switchboard request has gone out
        bool chatOpen = false;
        bool onAllowList = false; // our add was confirmed and nothing took it off yet
    };
    using Emitted = std::variant<SessionStatus, std::tuple<int, QString, Outcome>>;

    void openNotification(const QString& host, quint16 port);
    void dropNotification(bool gracefully = false);
    void fail(SessionProblem problem);
    void setStatus(SessionState state, SessionProblem problem = SessionProblem::None);
    int retryDelay();
    bool send(int link, const QByteArray& line);
    void notificationLines(const QByteArray& data);
    void chatLines(int id, const QByteArray& data);
    // Each returns false once the connection its actions came on is gone, so the rest of that
    // arrival is not read.
    bool carryOut(const NotificationDispatcher::Actions& actions);
    void carryOut(const NotificationDispatcher::Action& action);
    void carryOut(int id, const CheckExchange::Reply& reply);
    void requestSwitchboard(int id);
    void offered(const NotificationDispatcher::SwitchboardOffered& offer);
    void addToAllowList(int id);
    void listAnswer(const NotificationDispatcher::ListAnswer& answer);
    void replayJournal(const QHash<QString, QString>& allowList);
    void removeFromAllowList(const QString& contact);
    void removeLater(const QString& contact);
    void removeWaiting();
    bool inUse(const QString& contact) const;
    void endCheck(int id, Outcome outcome);
    void endAllChecks(Outcome outcome);
    void emitLater(Emitted event);
    void flush();

    Io& m_io;
    Events& m_events;
    AllowListJournal* m_journal;
    Limits m_limits;
    QRandomGenerator m_random{QRandomGenerator::global()->generate()};
    NotificationDispatcher m_dispatcher;
    LineFramer m_notificationLines;
    std::map<int, Check> m_checks;
    QSet<QString> m_newEntries; // contacts whose journal entry an unanswered add of ours wrote
    SessionStatus m_status;
    QString m_host;
    quint16 m_port = 0;
    int m_retries = 0;                 // failed tries since the last good sign-in
    QHash<QString, QString> m_removeWaiting; // refused as busy, asked again after m_removeDelay
    int m_removeDelay = 0;
    bool m_notificationWanted = false; // a loss of the connection is news to tell
    bool m_notificationUp = false;
    std::deque<Emitted> m_emitted;
    bool m_flushing = false;
};
