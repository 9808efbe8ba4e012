// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/CheckService.h"

#include <QDateTime>
#include <QTimer>

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
} // namespace

CheckService::CheckService(CheckEngine& engine, QObject* parent)
    : QObject(parent), m_engine(engine), m_feedTimer(new QTimer(this)) {
    m_feedTimer->setSingleShot(true);
    connect(m_feedTimer, &QTimer::timeout, this, &CheckService::feed);
    connect(&m_engine, &CheckEngine::statusChanged, this, &CheckService::sessionChanged);
    connect(&m_engine, &CheckEngine::checkEnded, this, &CheckService::ended);
    m_sinceStart.start();
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
    m_pace = {std::max(0, pace.perSecond), std::max(1, pace.atOnce)};
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
        if (!it->run)
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
    if (flight.single && key == m_single) {
        m_single.clear();
        emit checked(contact, outcome);
    }
    if (!runGoing())
        return;
    if (!flight.run) {
        feed(); // its switchboard is free for the run
        return;
    }
    --m_run.underWay;
    if (sessionWasDown(outcome))
        m_run.paused = true; // asked again once the session is back
    else if (kind)
        noteRunAnswer(*kind == ResultKind::Online);
    feed();
}

void CheckService::sessionChanged(const SessionStatus& status) {
    emit statusChanged(status);
    if (!runGoing())
        return;
    const bool down = status.state != SessionState::SignedIn;
    if (down == m_run.paused)
        return;
    m_run.paused = down;
    // What the loss cut off is asked again: the scan starts over, skipping what was answered.
    m_run.cursor = 0;
    emit runChanged(progress());
    feed();
}

// ---- the whole list -----------------------------------------------------------

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
        if (it->single) {
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
    if (completed && m_results)
        m_results->setRun({m_run.startedAt, true});
    m_run = Run{};
    emit runChanged(progress());
}

void CheckService::noteRunAnswer(bool online) {
    ++m_run.checked;
    if (online)
        ++m_run.online;
    m_run.answers.push_back(m_sinceStart.elapsed());
    if (m_run.answers.size() > AnswersForRate)
        m_run.answers.pop_front();
    emit runChanged(progress());
}

// Single checks count against the switchboards at once too: they are switchboards.
bool CheckService::paceAllows() {
    if (m_flights.size() >= m_pace.atOnce)
        return false;
    if (m_pace.perSecond == 0)
        return true;
    const qint64 at = m_sinceStart.elapsed();
    if (at < m_nextStartMs) {
        m_feedTimer->start(int(m_nextStartMs - at));
        return false;
    }
    m_nextStartMs = at + 1000 / m_pace.perSecond;
    return true;
}

// The next address of the list not answered since the run began and not under way; false when
// the scan has to wait (it looked at enough rows for now) or is through.
bool CheckService::nextAddress(QString* address) {
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

void CheckService::feed() {
    if (!runGoing() || m_run.paused)
        return;
    while (paceAllows()) {
        QString address;
        if (!nextAddress(&address)) {
            if (m_run.cursor >= m_run.list->rows() && m_run.underWay == 0)
                finishRun(true);
            return;
        }
        const int id = startFlight(address);
        m_flights[address.toLower()].run = true;
        ++m_run.underWay;
        m_engine.check(id, address);
        if (!runGoing() || m_run.paused)
            return;
    }
}

RunProgress CheckService::progress() const {
    RunProgress p;
    p.going = runGoing();
    if (!p.going)
        return p;
    p.paused = m_run.paused;
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
        p.secondsLeft = left / m_pace.perSecond;
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
