// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/CheckExchange.h"

#include "session/Protocol.h"

namespace {
// The service's answers to a call that are not a ring.
constexpr QByteArrayView NotOnAnyList = "205"; // it rings only contacts on one of the caller's lists
constexpr QByteArrayView NoSuchUser = "207";
constexpr QByteArrayView NotOnline = "217";
constexpr int NoSuchUserCode = 207;

CheckExchange::Reply ending(Outcome outcome) {
    return {std::nullopt, false, outcome};
}
} // namespace

std::optional<QByteArray> CheckExchange::signOnLine(const QString& account, const QByteArray& ticket) {
    return buildLine({"USR", "1", account.toUtf8(), ticket});
}

CheckExchange::CheckExchange(const QString& contact, const QByteArray& signOn)
    : m_contact(contact), m_signOn(signOn) {}

CheckExchange::Reply CheckExchange::line(const QByteArray& text) {
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
        return callAnswer(text);
    case Step::AllowListing:
        // The switchboard has nothing to say while the call waits for the allow list.
        return ending(Outcome::Refused);
    }
    return ending(Outcome::Refused);
}

CheckExchange::Reply CheckExchange::callAnswer(const QByteArray& text) {
    const QList<QByteArray> fields = splitFields(text);
    const QByteArray ours = m_step == Step::Calling ? "2" : "3";
    if (fields.size() < 2 || fields.at(1) != ours)
        return ending(Outcome::Refused);
    const QByteArray& command = fields.first();
    if (command == "CAL" && fields.value(2) == "RINGING")
        return {"OUT\r\n", false, Outcome::Online};
    if (fields.size() != 2)
        return ending(Outcome::Refused);
    if (command == NotOnline)
        return {"OUT\r\n", false, Outcome::Offline};
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
    if (m_step != Step::AllowListing)
        return {};
    if (error != 0)
        return ending(error == NoSuchUserCode ? Outcome::NoSuchUser : Outcome::Refused);
    m_step = Step::Recalling;
    return call("3");
}
