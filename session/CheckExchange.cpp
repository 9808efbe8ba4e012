// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/CheckExchange.h"

#include "session/Protocol.h"

namespace {
// The service's answers to a call that are not a ring.
constexpr QByteArrayView NotOnAnyList = "205"; // it rings only contacts on one of the caller's lists
constexpr QByteArrayView NoSuchUser = "207";
constexpr QByteArrayView NotOnline = "217";
// An allow-list add for an address with no account: one server says 207, another 205.
constexpr int NoSuchUserCode = 207;
constexpr int UnknownAddressCode = 205;
constexpr int AlreadyOnListCode = 215;

CheckExchange::Reply ending(Outcome outcome) {
    return {std::nullopt, false, outcome};
}
} // namespace

std::optional<QByteArray> CheckExchange::signOnLine(const QString& account, const QByteArray& ticket) {
    return buildLine({"USR", "1", account.toUtf8(), ticket});
}

CheckExchange::CheckExchange(const QString& contact, const QByteArray& signOn)
    : m_contact(contact), m_signOn(signOn) {}

CheckExchange::Reply CheckExchange::line(const QByteArray& text, Standing standing) {
    const QList<QByteArray> fields = splitFields(text);
    switch (m_step) {
    case Step::SigningOn:
        if (fields.value(0) == "USR" && fields.value(1) == "1" && fields.value(2) == "OK") {
            m_step = Step::Calling;
            return call("2");
        }
        return ending(Outcome::Refused);
    case Step::Calling:
    case Step::Recalling:
        return callAnswer(text, standing);
    case Step::AllowListing:
    case Step::Confirming:
        // The switchboard has nothing to say while the check waits for the allow list.
        return ending(Outcome::Refused);
    }
    return ending(Outcome::Refused);
}

CheckExchange::Reply CheckExchange::callAnswer(const QByteArray& text, Standing standing) {
    const QList<QByteArray> fields = splitFields(text);
    const QByteArray ours = m_step == Step::Calling ? "2" : "3";
    if (fields.size() < 2 || fields.at(1) != ours)
        return ending(Outcome::Refused);
    const QByteArray& command = fields.first();
    if (isBusyReply(command))
        return ending(Outcome::Busy);
    if (command == "CAL" && fields.value(2) == "RINGING")
        return {"OUT\r\n", false, Outcome::Online};
    if (fields.size() != 2)
        return ending(Outcome::Refused);
    if (command == NotOnline) {
        // After our own allow-list add the entry is fresh; a server that answers "not on any
        // list" rings allow-listed contacts.
        if (m_step == Step::Recalling || standing == Standing::Forward)
            return {"OUT\r\n", false, Outcome::Offline};
        // An entry on another list only may hold a status from before the contact signed in.
        if (standing == Standing::OtherList)
            return {"OUT\r\n", false, Outcome::Uncertain};
        // Unlisted: a server that answers from the contact's own status says "not online" for
        // an address with no account too. An allow-list add tells the two apart.
        m_step = Step::Confirming;
        return {std::nullopt, true, std::nullopt};
    }
    if (command == NoSuchUser)
        return {"OUT\r\n", false, Outcome::NoSuchUser};
    if (command == NotOnAnyList && m_step == Step::Calling) {
        // The allow list is silent to the contact, unlike the forward list.
        m_step = Step::AllowListing;
        return {std::nullopt, true, std::nullopt};
    }
    return ending(Outcome::Refused);
}

CheckExchange::Reply CheckExchange::call(const QByteArray& number) const {
    if (const auto line = buildLine({"CAL", number, m_contact.toUtf8()}))
        return {line, false, std::nullopt};
    return ending(Outcome::BadContact);
}

CheckExchange::Reply CheckExchange::allowListAnswer(int error) {
    if (m_step != Step::AllowListing && m_step != Step::Confirming)
        return {};
    if (error == 0 && m_step == Step::Confirming)
        return {"OUT\r\n", false, Outcome::Offline}; // there is such an account, and it is not online
    if (error == 0) {
        m_step = Step::Recalling;
        return call("3");
    }
    if (error == NoSuchUserCode || error == UnknownAddressCode)
        return ending(Outcome::NoSuchUser);
    if (isBusyCode(error))
        return ending(Outcome::Busy);
    // Already there though the lists said otherwise: what the server holds for it is not known.
    if (error == AlreadyOnListCode && m_step == Step::Confirming)
        return ending(Outcome::Uncertain);
    return ending(Outcome::Refused);
}
