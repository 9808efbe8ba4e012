#include "session/SwitchboardHandler.h"

#include "session/Protocol.h"

SwitchboardHandler::SwitchboardHandler(std::function<std::optional<QString>()> selectedContact)
    : m_selectedContact(std::move(selectedContact)) {}

std::optional<QByteArray> SwitchboardHandler::signInLine(const QString& account, const QByteArray& auth) {
    return buildLine({"USR", "1", account.toUtf8(), auth});
}

SwitchboardHandler::Actions SwitchboardHandler::line(const QByteArray& text) const {
    const QList<QByteArray> fields = splitFields(text);
    const QByteArray& command = fields.first();

    if (command == "USR") {
        const std::optional<QString> contact = m_selectedContact ? m_selectedContact() : std::nullopt;
        const auto call = contact ? buildLine({"CAL", "2", contact->toUtf8()}) : std::nullopt;
        if (!call)
            return {BadContact{}};
        return {Send{*call}};
    }
    if (command == "CAL") {
        if (fields.size() > 2 && fields.at(2) == "RINGING")
            return {Result::Online, Send{"OUT\r\n"}, Close{}};
        return {};
    }
    // Error replies included: whatever is not a ringing call counts as offline.
    return {Result::Offline};
}
