// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/SessionCore.h"

#include <algorithm>

namespace {
constexpr int NotOnList = 216;
constexpr int NotOnAnyList = 205; // how a server that drops empty entries says "not on the list"

bool addingToAllowList(const CheckExchange& exchange) {
    return exchange.step() == CheckExchange::Step::AllowListing || exchange.step() == CheckExchange::Step::Confirming;
}

using D = NotificationDispatcher;

// The answers that leave the switchboard in order, so it is left with a sign-off.
bool answered(Outcome outcome) {
    return outcome == Outcome::Online || outcome == Outcome::Offline || outcome == Outcome::NoSuchUser;
}
} // namespace

SessionCore::SessionCore(Io& io, Events& events, AllowListJournal* journal)
    : m_io(io), m_events(events), m_journal(journal) {}

// ---- the notification connection --------------------------------------------

void SessionCore::setCredentials(const QString& account, const QString& password) {
    carryOut(m_dispatcher.setCredentials(account, password));
    flush();
}

void SessionCore::start(const QString& host, quint16 port) {
    m_host = host;
    m_port = port;
    m_retries = 0;
    m_io.stopTimer(Timer::Retry, 0);
    m_dispatcher.start();
    openNotification(host, port);
    setStatus(SessionState::Connecting);
    flush();
}

void SessionCore::stop() {
    m_io.stopTimer(Timer::Retry, 0);
    dropNotification(true);
    endAllChecks(Outcome::Interrupted);
    setStatus(SessionState::Stopped);
    flush();
}

void SessionCore::startWithoutServer() {
    m_io.stopTimer(Timer::Retry, 0);
    dropNotification(true);
    endAllChecks(Outcome::NotConnected);
    setStatus(SessionState::GaveUp, SessionProblem::NoServer);
    flush();
}

void SessionCore::openNotification(const QString& host, quint16 port) {
    dropNotification();
    m_notificationWanted = true;
    m_io.startTimer(Timer::Connect, 0, m_limits.connectMs);
    m_io.startTimer(Timer::SignIn, 0, m_limits.signInMs);
    m_io.connectTo(NotificationLink, host, port);
}

void SessionCore::dropNotification(bool gracefully) {
    m_notificationWanted = false;
    m_notificationUp = false;
    m_io.stopTimer(Timer::Connect, 0);
    m_io.stopTimer(Timer::SignIn, 0);
    m_io.stopTimer(Timer::Remove, 0);
    m_removeWaiting.clear(); // the journal keeps them for the next sign-in
    m_removeDelay = 0;
    m_notificationLines.clear();
    m_dispatcher.connectionLost();
    if (gracefully)
        m_io.finish(NotificationLink);
    else
        m_io.abort(NotificationLink);
}

void SessionCore::fail(SessionProblem problem) {
    dropNotification();
    // Nothing more can be asked or answered for them; what they put on the allow list stays in
    // the journal until the next sign-in takes it off.
    endAllChecks(Outcome::Interrupted);
    // A refused account would be refused again, and retries could lock it; signing in again
    // where the account is in use elsewhere would send the other session away in turn.
    if (problem == SessionProblem::SignInRefused || problem == SessionProblem::BadAccount ||
        problem == SessionProblem::SignedInElsewhere) {
        setStatus(SessionState::GaveUp, problem);
        return;
    }
    setStatus(SessionState::WaitingToRetry, problem);
    m_io.startTimer(Timer::Retry, 0, retryDelay());
}

// 2 s, then doubling up to 5 min, each give or take a fifth, so that many programs dropped by
// one server restart do not all come back at the same moment.
int SessionCore::retryDelay() {
    qint64 delay = m_limits.firstRetryMs;
    for (int i = 0; i < m_retries && delay < m_limits.maxRetryMs; ++i)
        delay *= 2;
    delay = std::min<qint64>(delay, m_limits.maxRetryMs);
    ++m_retries;
    const double jittered = double(delay) * (0.8 + 0.4 * m_random.generateDouble());
    return int(std::min(jittered, double(m_limits.maxRetryMs)));
}

void SessionCore::setStatus(SessionState state, SessionProblem problem) {
    const SessionStatus status{state, problem, state == SessionState::Connecting && m_retries > 0};
    if (status == m_status)
        return;
    m_status = status;
    emitLater(status);
}

bool SessionCore::send(int link, const QByteArray& line) {
    if (m_io.write(link, line) <= MaxUnsentBytes)
        return true;
    if (link == NotificationLink)
        fail(SessionProblem::ConnectionLost);
    else
        endCheck(link, Outcome::NoAnswer);
    return false;
}

// ---- events from sockets and timers -----------------------------------------

void SessionCore::connected(int link) {
    if (link == NotificationLink) {
        if (m_notificationWanted && !m_notificationUp) {
            m_io.stopTimer(Timer::Connect, 0);
            m_notificationUp = true;
            carryOut(m_dispatcher.connected());
        }
    } else if (const auto it = m_checks.find(link); it != m_checks.end() && it->second.exchange) {
        it->second.chatOpen = true;
        m_io.startTimer(Timer::Check, link, m_limits.checkMs);
        send(link, it->second.exchange->signOn());
    }
    flush();
}

void SessionCore::arrived(int link, const QByteArray& data) {
    if (link == NotificationLink) {
        if (m_notificationWanted)
            notificationLines(data);
    } else {
        chatLines(link, data);
    }
    flush();
}

void SessionCore::notificationLines(const QByteArray& data) {
    m_notificationLines.append(data);
    while (const std::optional<QByteArray> line = m_notificationLines.takeLine()) {
        if (const auto body = payloadLength(splitFields(*line))) {
            // A body that long is no message of the service: it would hide what follows.
            if (*body > MaxPayloadLength) {
                fail(SessionProblem::ConnectionLost);
                return;
            }
            m_notificationLines.skipPayload(*body);
        }
        if (!carryOut(m_dispatcher.line(*line)))
            return;
    }
}

void SessionCore::chatLines(int id, const QByteArray& data) {
    auto it = m_checks.find(id);
    if (it == m_checks.end() || !it->second.chatOpen)
        return;
    it->second.lines.append(data);
    while (const std::optional<QByteArray> line = it->second.lines.takeLine()) {
        carryOut(id, it->second.exchange->line(*line, m_dispatcher.standing(it->second.contact)));
        it = m_checks.find(id);
        if (it == m_checks.end())
            return;
    }
}

void SessionCore::lost(int link) {
    if (link == NotificationLink) {
        if (m_notificationWanted)
            fail(m_notificationUp ? SessionProblem::ConnectionLost : SessionProblem::CannotConnect);
    } else {
        endCheck(link, Outcome::NoAnswer);
    }
    flush();
}

void SessionCore::timedOut(Timer timer, int id) {
    switch (timer) {
    case Timer::Connect:
        if (m_notificationWanted && !m_notificationUp)
            fail(SessionProblem::CannotConnect);
        break;
    case Timer::SignIn:
        // A list sync that never ends is a connection that no longer works.
        if (m_notificationWanted && !m_dispatcher.ready())
            fail(!m_notificationUp               ? SessionProblem::CannotConnect
                 : m_dispatcher.signedIn() ? SessionProblem::ConnectionLost
                                                 : SessionProblem::SignInStalled);
        break;
    case Timer::Remove:
        removeWaiting();
        break;
    case Timer::Retry:
        if (m_status.state == SessionState::WaitingToRetry) {
            m_dispatcher.start();
            openNotification(m_host, m_port);
            setStatus(SessionState::Connecting);
        }
        break;
    case Timer::Check:
        endCheck(id, Outcome::NoAnswer);
        break;
    }
    flush();
}

// ---- what the notification connection says ----------------------------------

bool SessionCore::carryOut(const NotificationDispatcher::Actions& actions) {
    for (const D::Action& action : actions) {
        if (const auto* to = std::get_if<D::Reconnect>(&action)) {
            openNotification(to->host, to->port);
            return false;
        }
        carryOut(action);
        if (!m_notificationWanted)
            return false;
    }
    return true;
}

void SessionCore::carryOut(const NotificationDispatcher::Action& action) {
    if (const auto* send = std::get_if<D::Send>(&action)) {
        this->send(NotificationLink, send->line);
    } else if (std::holds_alternative<D::SignedIn>(action)) {
        setStatus(SessionState::SignedIn);
    } else if (const auto* known = std::get_if<D::AllowListKnown>(&action)) {
        m_io.stopTimer(Timer::SignIn, 0);
        m_retries = 0;
        replayJournal(known->contacts);
        std::vector<int> waiting;
        for (const auto& [id, check] : m_checks)
            if (!check.requested)
                waiting.push_back(id);
        for (int id : waiting)
            if (m_checks.count(id) && m_notificationUp)
                requestSwitchboard(id);
    } else if (const auto* offer = std::get_if<D::SwitchboardOffered>(&action)) {
        offered(*offer);
    } else if (const auto* refusal = std::get_if<D::SwitchboardRefused>(&action)) {
        endCheck(refusal->check, refusal->busy ? Outcome::Busy : Outcome::Refused);
    } else if (const auto* answer = std::get_if<D::ListAnswer>(&action)) {
        listAnswer(*answer);
    } else if (const auto* failure = std::get_if<D::Failure>(&action)) {
        switch (*failure) {
        case D::Failure::BadAccount: fail(SessionProblem::BadAccount); break;
        case D::Failure::SignInRefused: fail(SessionProblem::SignInRefused); break;
        case D::Failure::SignedInElsewhere: fail(SessionProblem::SignedInElsewhere); break;
        case D::Failure::SentAway:
        case D::Failure::ListsTooLong: fail(SessionProblem::ConnectionLost); break;
        case D::Failure::BadRedirect:
        case D::Failure::TooManyRedirects: fail(SessionProblem::CannotConnect); break;
        }
    }
}

// ---- checks -------------------------------------------------------------------

void SessionCore::check(int id, const QString& contact) {
    if (m_checks.count(id))
        endCheck(id, Outcome::Cancelled);
    // A control character or a space would shift the fields or start a command of its own.
    if (!isWireField(contact.toUtf8())) {
        emitLater(std::tuple(id, contact, Outcome::BadContact));
    } else if (!m_notificationUp) {
        emitLater(std::tuple(id, contact, Outcome::NotConnected));
    } else if (!m_dispatcher.signedIn()) {
        // A request in the middle of the handshake would be answered with an error that reads
        // like a refused password.
        emitLater(std::tuple(id, contact, Outcome::NotSignedIn));
    } else {
        m_checks[id].contact = contact;
        m_io.startTimer(Timer::Check, id, m_limits.checkMs);
        // Until the lists are known, neither can what the journal holds be taken off safely nor
        // can a "not online" answer be weighed.
        if (m_dispatcher.ready())
            requestSwitchboard(id);
    }
    flush();
}

void SessionCore::cancel(int id) {
    endCheck(id, Outcome::Cancelled);
    flush();
}

void SessionCore::requestSwitchboard(int id) {
    m_checks[id].requested = true;
    send(NotificationLink, m_dispatcher.switchboardRequest(id));
}

void SessionCore::offered(const NotificationDispatcher::SwitchboardOffered& offer) {
    const auto it = m_checks.find(offer.check);
    if (it == m_checks.end() || it->second.exchange)
        return;
    const auto signOn = CheckExchange::signOnLine(m_dispatcher.account(), offer.ticket);
    if (!signOn) {
        endCheck(offer.check, Outcome::Refused);
        return;
    }
    it->second.exchange = std::make_unique<CheckExchange>(it->second.contact, *signOn);
    m_io.startTimer(Timer::Check, offer.check, m_limits.checkMs);
    m_io.connectTo(offer.check, offer.host, offer.port);
}

void SessionCore::carryOut(int id, const CheckExchange::Reply& reply) {
    if (reply.send && !send(id, *reply.send))
        return;
    if (reply.addToAllowList)
        addToAllowList(id);
    if (reply.end)
        endCheck(id, *reply.end);
    else if (m_checks.count(id))
        m_io.startTimer(Timer::Check, id, m_limits.checkMs);
}

void SessionCore::addToAllowList(int id) {
    Check& check = m_checks[id];
    // Written before the request leaves: whatever happens next, the next sign-in knows.
    const auto recorded = m_journal ? m_journal->record(m_dispatcher.account(), check.contact)
                                    : AllowListJournal::Recorded::Failed;
    const auto line = recorded == AllowListJournal::Recorded::Failed
                          ? std::nullopt
                          : m_dispatcher.allowListRequest(ListChange::Add, check.contact, id);
    if (!line) {
        endCheck(id, Outcome::Refused);
        return;
    }
    if (recorded == AllowListJournal::Recorded::New)
        m_newEntries.insert(check.contact.toLower());
    send(NotificationLink, *line);
}

void SessionCore::listAnswer(const NotificationDispatcher::ListAnswer& answer) {
    const QString key = answer.contact.toLower();
    if (answer.change == ListChange::Remove) {
        if (isBusyCode(answer.error))
            removeLater(answer.contact);
        else if ((answer.error == 0 || answer.error == NotOnList || answer.error == NotOnAnyList) &&
                 !inUse(answer.contact) && m_journal)
            m_journal->erase(m_dispatcher.account(), answer.contact);
        if (answer.error == 0)
            m_removeDelay = 0;
        return;
    }
    // Refused, and the entry is ours from just now: there is nothing of ours to take off. Already
    // on the list, the user put the contact there, and it must stay there.
    if (m_newEntries.remove(key) && answer.error != 0 && m_journal && !m_dispatcher.addPending(key))
        m_journal->erase(m_dispatcher.account(), answer.contact);
    const auto it = m_checks.find(answer.check);
    if (it != m_checks.end() && it->second.exchange && addingToAllowList(*it->second.exchange)) {
        it->second.onAllowList = answer.error == 0;
        carryOut(answer.check, it->second.exchange->allowListAnswer(answer.error));
    } else if (answer.error == 0 && !inUse(answer.contact)) {
        // Its check ended before the answer came: nobody needs the contact there any more.
        removeFromAllowList(answer.contact);
    }
}

void SessionCore::replayJournal(const QHash<QString, QString>& allowList) {
    if (!m_journal)
        return;
    const QString account = m_dispatcher.account();
    for (const QString& entry : m_journal->entries(account)) {
        if (inUse(entry))
            continue;
        const auto listed = allowList.find(entry.toLower());
        if (listed == allowList.end())
            m_journal->erase(account, entry);
        else
            removeFromAllowList(*listed);
    }
}

// A busy server is asked again later, each time a little later, while the journal keeps the entry.
void SessionCore::removeLater(const QString& contact) {
    m_removeWaiting.insert(contact.toLower(), contact);
    m_removeDelay = m_removeDelay == 0 ? m_limits.firstRemoveRetryMs
                                       : std::min(m_removeDelay * 2, m_limits.maxRemoveRetryMs);
    m_io.startTimer(Timer::Remove, 0, m_removeDelay);
}

void SessionCore::removeWaiting() {
    const QHash<QString, QString> waiting = std::exchange(m_removeWaiting, {});
    for (const QString& contact : waiting)
        if (!inUse(contact))
            removeFromAllowList(contact);
}

void SessionCore::removeFromAllowList(const QString& contact) {
    // Without a connection the journal keeps the entry for the next sign-in.
    if (!m_notificationUp || !m_dispatcher.signedIn())
        return;
    if (const auto line = m_dispatcher.allowListRequest(ListChange::Remove, contact, 0))
        send(NotificationLink, *line);
}

bool SessionCore::inUse(const QString& contact) const {
    return m_dispatcher.addPending(contact) ||
           std::any_of(m_checks.begin(), m_checks.end(), [&](const auto& entry) {
               const Check& check = entry.second;
               return check.contact.compare(contact, Qt::CaseInsensitive) == 0 &&
                      (check.onAllowList ||
                       (check.exchange && addingToAllowList(*check.exchange)));
           });
}

void SessionCore::endCheck(int id, Outcome outcome) {
    const auto it = m_checks.find(id);
    if (it == m_checks.end())
        return;
    const Check check = std::move(it->second);
    m_checks.erase(it);
    m_io.stopTimer(Timer::Check, id);
    m_dispatcher.release(id);
    if (check.exchange) {
        // Not abort after an answer: the sign-off line has to leave first.
        if (check.chatOpen && answered(outcome))
            m_io.finish(id);
        else
            m_io.abort(id);
    }
    if (check.onAllowList && !inUse(check.contact))
        removeFromAllowList(check.contact);
    emitLater(std::tuple(id, check.contact, outcome));
}

void SessionCore::endAllChecks(Outcome outcome) {
    std::vector<int> ids;
    for (const auto& entry : m_checks)
        ids.push_back(entry.first);
    for (int id : ids)
        endCheck(id, outcome);
}

// ---- telling what happened ------------------------------------------------------

// Told once the work of an event is done, so that a listener calling back in finds everything
// in order.
void SessionCore::emitLater(Emitted event) {
    m_emitted.push_back(std::move(event));
}

void SessionCore::flush() {
    if (m_flushing)
        return;
    m_flushing = true;
    while (!m_emitted.empty()) {
        const Emitted event = std::move(m_emitted.front());
        m_emitted.pop_front();
        if (const auto* status = std::get_if<SessionStatus>(&event)) {
            m_events.onSessionChanged(*status);
        } else {
            const auto& [id, contact, outcome] = std::get<1>(event);
            m_events.onCheckEnded(id, contact, outcome);
        }
    }
    m_flushing = false;
}
