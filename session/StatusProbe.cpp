#include "session/StatusProbe.h"

#include "session/Protocol.h"
#include "session/SessionText.h"

namespace {
// The service's answers to a call that are not a ring.
constexpr int NotOnAnyList = 205; // it rings only contacts on one of the caller's lists
constexpr int NoSuchUser = 207;
} // namespace

StatusProbe::StatusProbe(std::function<QString()> account,
                         std::function<std::optional<QString>()> selectedContact)
    : m_account(std::move(account)), m_selectedContact(std::move(selectedContact)) {}

std::optional<QByteArray> StatusProbe::signInLine(const QString& account, const QByteArray& auth) {
    return buildLine({"USR", "1", account.toUtf8(), auth});
}

void StatusProbe::requested(const QString& contact) {
    ++m_requests;
    m_probed = contact;
}

void StatusProbe::finish(Actions& actions) {
    if (m_added)
        actions.push_back(ChangeList{ListChange::Remove, m_called});
    else if (m_adding)
        m_removeWhenAdded.append(m_called);
    m_added = m_adding = false;
    m_step = Step::Idle;
}

StatusProbe::Actions StatusProbe::switchboardOffered(const QString& host, quint16 port,
                                                     const QByteArray& auth) {
    // An answer to a request we gave up on, or never made, opens nothing.
    if (m_requests == 0)
        return {};
    --m_requests;
    // Whatever the previous switchboard was doing, this answer replaces it.
    Actions actions;
    finish(actions);
    actions.push_back(DropChat{});
    actions.push_back(ConnectChat{host, port});
    m_step = Step::Connecting;
    m_auth = auth;
    return actions;
}

StatusProbe::Actions StatusProbe::switchboardRefused() {
    if (m_requests == 0)
        return {};
    --m_requests;
    return {Show{SessionText::CheckRefused}};
}

StatusProbe::Actions StatusProbe::chatConnected() {
    if (m_step != Step::Connecting)
        return {};
    const auto line = signInLine(m_account ? m_account() : QString(), m_auth);
    if (!line) {
        Actions actions{DropChat{}, Show{SessionText::BadAccount}};
        finish(actions);
        return actions;
    }
    m_step = Step::SigningOn;
    return {SendChat{*line}};
}

StatusProbe::Actions StatusProbe::chatLine(const QByteArray& text) {
    const QList<QByteArray> fields = splitFields(text);
    const QByteArray& command = fields.first();

    switch (m_step) {
    case Step::Idle:
    case Step::Connecting:
    case Step::Listing:
        return {};
    case Step::SigningOn: {
        if (isNumericField(command)) {
            // The switchboard turned us away: nobody was asked about the contact.
            Actions actions{DropChat{}, Show{SessionText::CheckRefused}};
            finish(actions);
            return actions;
        }
        if (command != "USR")
            return {};
        // The window normally has a row selected; if it lost it meanwhile,
        // call the contact the probe was started for.
        std::optional<QString> contact = m_selectedContact ? m_selectedContact() : std::nullopt;
        if (!contact && !m_probed.isEmpty())
            contact = m_probed;
        const auto call = contact ? buildLine({"CAL", "2", contact->toUtf8()}) : std::nullopt;
        if (!call) {
            Actions actions{DropChat{}, Show{SessionText::BadContact}};
            finish(actions);
            return actions;
        }
        m_called = *contact;
        m_step = Step::Calling;
        return {SendChat{*call}};
    }
    case Step::Calling:
    case Step::Recalling:
        return callAnswer(fields);
    }
    return {};
}

StatusProbe::Actions StatusProbe::callAnswer(const QList<QByteArray>& fields) {
    const QByteArray& command = fields.first();
    const bool second = m_step == Step::Recalling;
    Actions actions;
    if (command == "CAL") {
        if (fields.value(2) == "RINGING") {
            actions = {Show{SessionText::Online}, SendChat{"OUT\r\n"}, CloseChat{}};
        }
        // Any other answer to the call still ends the wait; the status line
        // keeps what it shows.
    } else if (isNumericField(command)) {
        const int code = command.size() > 5 ? 0 : command.toInt();
        if (code == NotOnAnyList && !second) {
            // The service would ring only a listed contact. The allow list
            // is silent to the contact, unlike the forward list.
            m_step = Step::Listing;
            m_adding = true;
            return {ChangeList{ListChange::Add, m_called}};
        }
        actions.push_back(Show{code == NoSuchUser     ? SessionText::NoSuchUser
                               : code == NotOnAnyList ? SessionText::CheckRefused
                                                      : SessionText::Offline});
    } else {
        actions.push_back(Show{SessionText::Offline});
    }
    finish(actions);
    return actions;
}

StatusProbe::Actions StatusProbe::listAnswer(ListChange change, const QString& contact, int error) {
    if (change == ListChange::Remove)
        return {};
    if (m_step != Step::Listing || !m_adding || contact != m_called) {
        // The exchange this add was for has ended: undo it once it is made.
        if (m_removeWhenAdded.removeOne(contact) && error == 0)
            return {ChangeList{ListChange::Remove, contact}};
        return {};
    }
    m_adding = false;
    if (error == 0) {
        m_added = true;
        m_step = Step::Recalling;
        return {SendChat{*buildLine({"CAL", "3", m_called.toUtf8()})}};
    }
    Actions actions{Show{error == NoSuchUser ? SessionText::NoSuchUser : SessionText::CheckRefused}};
    finish(actions);
    return actions;
}

StatusProbe::Actions StatusProbe::chatLost() {
    if (m_step == Step::Idle)
        return {};
    Actions actions{Show{SessionText::NoAnswer}};
    finish(actions);
    return actions;
}

StatusProbe::Actions StatusProbe::timedOut() {
    if (!waiting())
        return {};
    m_requests = 0;
    Actions actions;
    if (m_step != Step::Idle) {
        actions.push_back(DropChat{});
        finish(actions);
    }
    actions.push_back(Show{SessionText::NoAnswer});
    return actions;
}

StatusProbe::Actions StatusProbe::notificationLost() {
    m_requests = 0;
    m_removeWhenAdded.clear();
    // Nothing on the allow list can be changed any more.
    m_adding = m_added = false;
    if (m_step != Step::Listing)
        return {};
    m_step = Step::Idle;
    return {DropChat{}};
}
