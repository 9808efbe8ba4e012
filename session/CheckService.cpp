// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/CheckService.h"

#include <QDateTime>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
// A feed looks at this many rows at most before it lets other events run: skipping the
// addresses already answered of a million-row list must not freeze the window.
constexpr int RowsPerFeed = 2000;
// The time left is judged on this many of the latest answers.
constexpr size_t AnswersForRate = 30;

qint64 now() {
    return QDateTime::currentMSecsSinceEpoch();
}

// The outcomes that say the session was down, not that the contact was asked.
bool sessionWasDown(Outcome outcome) {
    return outcome == Outcome::NotConnected || outcome == Outcome::NotSignedIn || outcome == Outcome::Interrupted;
}

class SteadyClock : public RunClock {
public:
    SteadyClock() {
        m_since.start();
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (const auto wake = std::exchange(m_wake, nullptr))
                wake();
        });
    }
    qint64 now() const override { return m_since.elapsed(); }
    void wakeAt(qint64 at, std::function<void()> wake) override {
        m_wake = std::move(wake);
        m_timer.start(int(std::clamp<qint64>(at - now(), 0, std::numeric_limits<int>::max())));
    }

private:
    QElapsedTimer m_since;
    QTimer m_timer;
    std::function<void()> m_wake;
};
} // namespace

std::unique_ptr<RunClock> steadyClock() {
    return std::make_unique<SteadyClock>();
}

CheckService::CheckService(CheckEngine& engine, QObject* parent, RunClock* clock, BusyBackoff backoff)
    : QObject(parent), m_engine(engine), m_ownClock(clock ? nullptr : std::make_unique<SteadyClock>()),
      m_clock(clock ? *clock : *m_ownClock), m_backoff(backoff), m_feedTimer(new QTimer(this)) {
    m_feedTimer->setSingleShot(true);
    connect(m_feedTimer, &QTimer::timeout, this, &CheckService::feed);
    connect(&m_engine, &CheckEngine::statusChanged, this, &CheckService::sessionChanged);
    connect(&m_engine, &CheckEngine::checkEnded, this, &CheckService::ended);
}

CheckService::~CheckService() {
    m_clock.wakeAt(0, nullptr);
}

void CheckService::setCredentials(const QString& account, const QString& password) {
    m_engine.setCredentials(account, password);
}

void CheckService::start() {
    m_engine.start();
}

void CheckService::stop() {
    m_engine.stop();
}

void CheckService::setPace(const Pace& pace) {
    // Also NaN, which no comparison lets through, becomes no limit.
    m_pace = {pace.perSecond > 0 && pace.perSecond < 1e6 ? pace.perSecond : 0, std::max(1, pace.atOnce)};
}

// ---- single checks ------------------------------------------------------------

int CheckService::startFlight(const QString& contact) {
    const int id = ++m_lastId;
    const QString key = contact.toLower();
    m_flights.insert(key, Flight{id, contact});
    m_flightById.insert(id, key);
    return id;
}

void CheckService::check(const QString& contact) {
    // No answer of an older check may ever stand beside the newer contact's name.
    const QString older = std::exchange(m_single, QString());
    if (const auto it = m_flights.find(older); it != m_flights.end() && it->single) {
        it->single = false;
        if (!it->run && !it->watch)
            m_engine.cancel(it->id);
    }
    const QString key = contact.toLower();
    m_single = key;
    if (const auto it = m_flights.find(key); it != m_flights.end()) {
        it->single = true; // the run is asking already: its answer is this one's too
        return;
    }
    const int id = startFlight(contact);
    m_flights[key].single = true;
    m_engine.check(id, contact);
}

void CheckService::ended(int id, const QString& contact, Outcome outcome) {
    const QString key = m_flightById.take(id);
    const auto it = m_flights.find(key);
    if (key.isNull() || it == m_flights.end() || it->id != id)
        return;
    const Flight flight = *it;
    m_flights.erase(it);
    const std::optional<ResultKind> kind = resultKind(outcome);
    if (kind && m_results)
        m_results->record(contact, *kind, now());
    if (outcome == Outcome::Busy)
        serverBusy();
    if (flight.single && key == m_single) {
        m_single.clear();
        emit checked(contact, outcome);
    }
    if (flight.watch) {
        --m_watch.underWay;
        if (sessionWasDown(outcome)) {
            m_watch.paused = true;
            m_watch.queue.push_front(contact);
        } else if (outcome == Outcome::Busy) {
            m_watch.queue.push_back(contact);
        }
    }
    if (runGoing() && flight.run) {
        --m_run.underWay;
        if (sessionWasDown(outcome)) {
            m_run.paused = true; // asked again once the session is back
        } else if (outcome == Outcome::Busy) {
            m_run.again.push_back(contact); // no answer yet: asked again, later
            emit runChanged(progress());
        } else if (kind) {
            noteRunAnswer(*kind == ResultKind::Online);
        }
    }
    feed(); // its switchboard is free
}

void CheckService::sessionChanged(const SessionStatus& status) {
    emit statusChanged(status);
    const bool down = status.state != SessionState::SignedIn;
    if (!down) {
        m_watch.paused = false;
        if (!m_watch.queue.empty())
            feed();
    }
    if (!runGoing())
        return;
    if (down == m_run.paused)
        return;
    m_run.paused = down;
    // What the loss cut off is asked again: the scan starts over, skipping what was answered.
    m_run.cursor = 0;
    m_run.again.clear();
    emit runChanged(progress());
    feed();
}

// ---- the whole list -----------------------------------------------------------

void CheckService::rowsRemoved(const std::vector<qint32>& rows) {
    m_run.cursor -= qint32(std::lower_bound(rows.begin(), rows.end(), m_run.cursor) - rows.begin());
}

void CheckService::rowsPutBack(const std::vector<qint32>& rows) {
    for (const qint32 row : rows)
        if (row < m_run.cursor)
            ++m_run.cursor;
}

void CheckService::checkEveryone(RunList& list) {
    if (runGoing())
        return;
    CheckResults::Run stored = m_results ? m_results->run() : CheckResults::Run{};
    if (stored.completed || stored.startedAt == 0) {
        stored = {now(), false};
        if (m_results)
            m_results->setRun(stored);
    }
    m_run = Run{};
    m_run.list = &list;
    m_run.startedAt = stored.startedAt;
    m_run.total = list.addresses();
    m_run.paused = m_engine.status().state != SessionState::SignedIn;
    if (m_results) {
        m_run.checked = m_results->answeredSince(m_run.startedAt);
        m_run.online = m_results->onlineSince(m_run.startedAt);
    }
    emit runChanged(progress());
    feed();
}

void CheckService::stopChecking() {
    if (!runGoing())
        return;
    for (auto it = m_flights.begin(); it != m_flights.end();) {
        if (!it->run) {
            ++it;
            continue;
        }
        it->run = false;
        if (it->single || it->watch) {
            ++it;
            continue;
        }
        const int id = it->id;
        m_flightById.remove(id);
        it = m_flights.erase(it);
        m_engine.cancel(id);
    }
    finishRun(false);
}

void CheckService::finishRun(bool completed) {
    m_feedTimer->stop();
    m_clock.wakeAt(0, nullptr);
    if (completed && m_results)
        m_results->setRun({m_run.startedAt, true});
    // How it ended, with what single checks answered meanwhile counted in.
    RunProgress ended;
    ended.completed = completed;
    ended.total = std::max(m_run.total, m_run.checked);
    ended.checked = m_results ? m_results->answeredSince(m_run.startedAt) : m_run.checked;
    ended.online = m_results ? m_results->onlineSince(m_run.startedAt) : m_run.online;
    m_run = Run{};
    emit runChanged(ended);
}

void CheckService::noteRunAnswer(bool online) {
    ++m_run.checked;
    if (online)
        ++m_run.online;
    m_run.answers.push_back(m_clock.now());
    if (m_run.answers.size() > AnswersForRate)
        m_run.answers.pop_front();
    emit runChanged(progress());
}

// Rounded up: three a second is a start every 334 ms, so no second ever holds a fourth.
qint64 CheckService::ownGapMs() const {
    return qint64(std::ceil(1000.0 / m_pace.perSecond));
}

// A busy answer doubles the gap between starts and puts the next start some way off; each calm
// spell after the latest busy answer halves the gap again, down to the pace's own.
void CheckService::serverBusy() {
    const qint64 at = m_clock.now();
    const qint64 own = m_pace.perSecond > 0 ? ownGapMs() : m_backoff.noLimitGapMs;
    m_busyGapMs = std::min(m_backoff.maxGapMs, 2 * std::max(m_busyGapMs, own));
    m_lastBusyMs = at;
    m_nextStartMs = std::max(m_nextStartMs, at + std::max(m_busyGapMs, m_backoff.firstWaitMs));
}

// Single checks count against the switchboards at once too: they are switchboards.
bool CheckService::paceAllows() {
    if (m_flights.size() >= m_pace.atOnce)
        return false;
    const qint64 at = m_clock.now();
    const qint64 own = m_pace.perSecond > 0 ? ownGapMs() : 0;
    while (m_busyGapMs > 0 && at - m_lastBusyMs >= m_backoff.calmMs) {
        m_lastBusyMs += m_backoff.calmMs;
        m_busyGapMs /= 2;
        if (m_busyGapMs <= own || m_busyGapMs < m_backoff.noLimitGapMs)
            m_busyGapMs = 0;
    }
    const qint64 gap = std::max(own, m_busyGapMs);
    if (gap == 0)
        return true;
    if (at < m_nextStartMs) {
        m_clock.wakeAt(m_nextStartMs, [this] { feed(); });
        return false;
    }
    m_nextStartMs = at + gap;
    return true;
}

// The next address of the list not answered since the run began and not under way; false when
// the scan has to wait (it looked at enough rows for now) or is through.
bool CheckService::nextAddress(QString* address) {
    while (!m_run.again.empty()) {
        const QString candidate = m_run.again.front();
        m_run.again.pop_front();
        if (const auto flight = m_flights.find(candidate.toLower()); flight != m_flights.end()) {
            if (!flight->run) {
                flight->run = true; // a single check is asking: its answer counts for the run
                ++m_run.underWay;
            }
            continue;
        }
        *address = candidate;
        return true;
    }
    RunList& list = *m_run.list;
    for (int looked = 0; m_run.cursor < list.rows(); ++looked) {
        if (looked == RowsPerFeed) {
            m_feedTimer->start(0);
            return false;
        }
        const qint32 row = m_run.cursor++;
        if (!list.firstOfItsAddress(row))
            continue;
        const QString candidate = list.address(row);
        const QString key = candidate.toLower();
        if (const auto flight = m_flights.find(key); flight != m_flights.end()) {
            if (!flight->run) {
                flight->run = true; // a single check is asking: its answer counts for the run
                ++m_run.underWay;
            }
            continue;
        }
        const auto known = m_results ? m_results->find(key) : std::nullopt;
        if (known && known->checkedAt >= m_run.startedAt)
            continue;
        *address = candidate;
        return true;
    }
    return false;
}

// The watch's next address not under way; one that is counts for the round as it stands.
bool CheckService::nextWatchAddress(QString* address) {
    while (!m_watch.queue.empty()) {
        const QString candidate = m_watch.queue.front();
        const auto flight = m_flights.find(candidate.toLower());
        if (flight == m_flights.end()) {
            *address = candidate;
            return true;
        }
        m_watch.queue.pop_front();
        if (!flight->watch) {
            flight->watch = true;
            ++m_watch.underWay;
        }
    }
    return false;
}

void CheckService::feed() {
    for (;;) {
        QString address;
        const bool watchReady = !m_watch.paused && m_engine.status().state == SessionState::SignedIn &&
                                nextWatchAddress(&address);
        const bool runReady = runGoing() && !m_run.paused;
        if (!watchReady && !runReady)
            break;
        if (!paceAllows())
            break;
        if (watchReady) {
            m_watch.queue.pop_front();
        } else if (!nextAddress(&address)) {
            if (m_run.cursor >= m_run.list->rows() && m_run.underWay == 0 && m_run.again.empty())
                finishRun(true);
            break;
        }
        const int id = startFlight(address);
        Flight& flight = m_flights[address.toLower()];
        (watchReady ? flight.watch : flight.run) = true;
        ++(watchReady ? m_watch.underWay : m_run.underWay);
        m_engine.check(id, address);
    }
    if (m_watch.going && m_watch.queue.empty() && m_watch.underWay == 0) {
        m_watch.going = false;
        emit watchRoundEnded();
    }
}

void CheckService::watchRound(const QStringList& addresses) {
    if (m_watch.going)
        return;
    m_watch.going = true;
    m_watch.queue.assign(addresses.begin(), addresses.end());
    feed();
}

RunProgress CheckService::progress() const {
    RunProgress p;
    p.going = runGoing();
    if (!p.going)
        return p;
    p.paused = m_run.paused;
    p.slowed = m_busyGapMs > 0;
    p.checked = m_run.checked;
    p.total = std::max(m_run.total, m_run.checked);
    p.online = m_run.online;
    const qint64 left = p.total - p.checked;
    if (m_run.answers.size() >= 5) {
        const double span = double(m_run.answers.back() - m_run.answers.front()) / 1000.0;
        const double rate = span > 0 ? double(m_run.answers.size() - 1) / span : 0;
        if (rate > 0)
            p.secondsLeft = qint64(double(left) / rate);
    } else if (m_pace.perSecond > 0) {
        p.secondsLeft = qint64(double(left) / m_pace.perSecond);
    }
    return p;
}

CheckService::Plan CheckService::plan(RunList& list) {
    const CheckResults::Run stored = m_results ? m_results->run() : CheckResults::Run{};
    Plan plan;
    plan.resuming = !stored.completed && stored.startedAt != 0;
    const qint64 answered = plan.resuming && m_results ? m_results->answeredSince(stored.startedAt) : 0;
    plan.addresses = std::max<qint64>(0, list.addresses() - answered);
    // Unpaced, a check takes about a tenth of a second on each switchboard.
    const double rate = m_pace.perSecond > 0 ? m_pace.perSecond : 10.0 * m_pace.atOnce;
    plan.seconds = qint64(double(plan.addresses) / rate);
    return plan;
}
