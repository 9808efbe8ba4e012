// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/CheckOutcome.h"
#include "session/CheckResults.h"

#include <QObject>
#include <QStringList>
#include <memory>

class CheckService;
class RunClock;
class QTimer;
class Watches;

// Checks the watched contacts every period through the check service, and says who came online.
// A round that outlasts the period is followed by the next when it ends, never overlapping. A
// contact counts as come online when a check of any kind finds it online and the watch last knew
// it not online (a result that says nothing, like "unknown", changes nothing): so one who stays
// online is told once, and one found offline and then online again is told again.
class Watcher : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultMinutes = 5;

    // Without a clock the watcher keeps the system's.
    Watcher(CheckService& checks, CheckResults& results, Watches& watches, RunClock* clock = nullptr,
            QObject* parent = nullptr);
    ~Watcher() override;

    // Rounds begin once the session is signed in; minutes below 1 count as 1.
    void start(int minutes);
    qint64 periodMs() const { return m_periodMs; }

signals:
    // Who came online, told together: the answers of one round, or of whatever else checked.
    void cameOnline(const QStringList& addresses);
    // The session stopped for good while contacts are watched; told once until it is back.
    void stopped(SessionProblem why);

private:
    void recorded(const QString& address, const CheckResults::Result& result);
    void sessionChanged(const SessionStatus& status);
    void due();
    void startRound();
    void roundEnded();
    void tell();

    CheckService& m_checks;
    Watches& m_watches;
    std::unique_ptr<RunClock> m_ownClock;
    RunClock& m_clock;
    qint64 m_periodMs = 0;
    bool m_started = false;   // start() was called
    bool m_scheduled = false; // the first round has begun: the period runs
    bool m_due = false;       // a round is due once the one going ends
    bool m_toldStopped = false;
    QStringList m_cameOnline;
    QTimer* m_tell;
};
