// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/CheckEngine.h"
#include "session/CheckResults.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>

class QTimer;

// The contacts a whole-list run goes through, in list order. The same address may stand on more
// than one row; the run asks each address once.
class RunList {
public:
    virtual ~RunList() = default;
    virtual qint32 rows() const = 0;
    virtual QString address(qint32 row) const = 0;
    // Whether no earlier row holds the same address, compared without regard to case.
    virtual bool firstOfItsAddress(qint32 row) const = 0;
    virtual qint64 addresses() const = 0; // distinct
};

// How fast a run may go: at most perSecond checks started a second (0: no limit; 0.2: one every
// five seconds) and at most atOnce under way, each on a switchboard of its own.
struct Pace {
    double perSecond = 3;
    int atOnce = 2;
};

// How a run slows down while the server says it is busy: the gap between two starts doubles
// with each busy answer up to maxGapMs, and the next start waits at least firstWaitMs; after
// calmMs without one the gap halves again, down to the pace's own.
struct BusyBackoff {
    qint64 noLimitGapMs = 1000; // the gap that doubles when the pace sets none
    qint64 maxGapMs = 60000;
    qint64 firstWaitMs = 5000;
    qint64 calmMs = 60000;
};

// The time the pace is kept by: the program's is the system's steady clock and Qt's timers.
class RunClock {
public:
    virtual ~RunClock() = default;
    virtual qint64 now() const = 0; // ms, never going back
    // Calls wake once at the time given, or soon after; a later call replaces the one waiting.
    virtual void wakeAt(qint64 at, std::function<void()> wake) = 0;
};

// The system's steady clock, with a timer of its own.
std::unique_ptr<RunClock> steadyClock();

struct RunProgress {
    bool going = false;
    bool paused = false;  // the connection is down: the run goes on once it is back
    bool slowed = false;  // the server said it is busy: the run goes slower for a while
    qint64 checked = 0;   // addresses answered since the run began
    qint64 total = 0;     // addresses in the list
    qint64 online = 0;    // of those checked
    qint64 secondsLeft = -1; // -1: not known yet
    bool completed = false;  // told once as it ends: every address was answered
};

// The status checks the program offers, whoever asks for them: the window's single check from the
// contact menu and the run over the whole list. Plain inputs (the account, a contact, the list)
// and plain outcomes; the window puts them into words. One engine does every check; a contact the
// run has under way is not asked twice, and a single check goes ahead of the run's queue.
class CheckService : public QObject {
    Q_OBJECT
public:
    // Without a clock the service keeps the system's.
    explicit CheckService(CheckEngine& engine, QObject* parent = nullptr, RunClock* clock = nullptr,
                          BusyBackoff backoff = {});
    ~CheckService() override;

    // Hands the account over; the session waits for it when it starts before the hand-over.
    void setCredentials(const QString& account, const QString& password);
    void start();
    void stop();
    SessionStatus status() const { return m_engine.status(); }

    // Where every result goes; none: results are not kept.
    void setResults(CheckResults* results) { m_results = results; }
    void setPace(const Pace& pace);
    const Pace& pace() const { return m_pace; }

    // Checks one contact. A single check ends the one under way, whose answer is never told.
    void check(const QString& contact);

    // Starts the run over the list, or goes on with the one left off (stopped, or cut off by the
    // program's end): then only the addresses not answered since it began are asked.
    void checkEveryone(RunList& list);
    void stopChecking();
    bool runGoing() const { return m_run.list != nullptr; }
    // The list's rows went (their numbers before, ascending) or came back (their numbers after):
    // the run goes on from the same row.
    void rowsRemoved(const std::vector<qint32>& rows);
    void rowsPutBack(const std::vector<qint32>& rows);
    RunProgress progress() const;
    // What "Check Everyone" would do now: how many addresses it would ask, whether it goes on with
    // a run left off, and about how long that takes at the pace set.
    struct Plan {
        qint64 addresses = 0;
        bool resuming = false;
        qint64 seconds = 0;
    };
    Plan plan(RunList& list);

    // One round of the watch: each address asked once, at the pace and beside a run, on the same
    // switchboards; one already under way is not asked again, its answer counts for the round.
    // While the session is down the round waits for it. Ignored while a round goes.
    void watchRound(const QStringList& addresses);
    bool watchGoing() const { return m_watch.going; }

signals:
    void statusChanged(const SessionStatus& status);
    // The answer to the latest single check.
    void checked(const QString& contact, Outcome outcome);
    void runChanged(const RunProgress& progress);
    void watchRoundEnded();

private:
    struct Flight {
        int id;
        QString contact;
        bool single = false;
        bool run = false;
        bool watch = false;
    };

    int startFlight(const QString& contact);
    void ended(int id, const QString& contact, Outcome outcome);
    void sessionChanged(const SessionStatus& status);
    void feed();
    bool nextAddress(QString* address);
    bool paceAllows();
    qint64 ownGapMs() const;
    void serverBusy();
    void finishRun(bool completed);
    void noteRunAnswer(bool online);
    bool nextWatchAddress(QString* address);

    CheckEngine& m_engine;
    CheckResults* m_results = nullptr;
    Pace m_pace;
    int m_lastId = 0;
    QHash<QString, Flight> m_flights; // by address in lower case
    QHash<int, QString> m_flightById;
    QString m_single; // the single check under way, by address in lower case

    struct Run {
        RunList* list = nullptr;
        qint64 startedAt = 0;
        qint32 cursor = 0;
        int underWay = 0;
        bool paused = false;
        qint64 checked = 0;
        qint64 online = 0;
        qint64 total = 0;
        std::deque<qint64> answers; // when the latest answers came, for the time left
        std::deque<QString> again;  // answered "busy": asked again before the rest of the list
    } m_run;
    struct Watch {
        bool going = false;
        bool paused = false; // cut off by the session: waits until it is back
        int underWay = 0;
        std::deque<QString> queue;
    } m_watch;
    std::unique_ptr<RunClock> m_ownClock;
    RunClock& m_clock;
    BusyBackoff m_backoff;
    qint64 m_nextStartMs = 0;
    qint64 m_busyGapMs = 0; // 0: not slowed down
    qint64 m_lastBusyMs = 0;
    QTimer* m_feedTimer; // lets other events run between pieces of a long scan
};
