#include "session/NotificationDispatcher.h"

#include "session/Protocol.h"

#include <limits>

NotificationDispatcher::NotificationDispatcher(std::function<QString()> account,
                                               std::function<QString()> password)
    : m_account(std::move(account)), m_password(std::move(password)) {}

void NotificationDispatcher::advance() {
    // A run never comes near the limit; should one get there, start over at 0
    // rather than overflow, since the wire takes no sign.
    m_TrID = m_TrID == std::numeric_limits<qint32>::max() ? 0 : m_TrID + 1;
}

void NotificationDispatcher::start() {
    advance();
    m_signInPending = false;
    m_signedIn = false;
    m_switchboardRequests = 0;
}

NotificationDispatcher::Actions NotificationDispatcher::connected() const {
    return {Send{*buildLine({"VER", QByteArray::number(m_TrID), "MSNP5", "MSNP4", "CVRO"})}};
}

QByteArray NotificationDispatcher::switchboardRequest() {
    if (m_switchboardRequests < std::numeric_limits<int>::max())
        ++m_switchboardRequests;
    return *buildLine({"XFR", QByteArray::number(m_TrID), "SB"});
}

NotificationDispatcher::Actions NotificationDispatcher::line(const QByteArray& text) {
    const QList<QByteArray> fields = splitFields(text);
    const QByteArray& command = fields.first();
    const QByteArray number = QByteArray::number(m_TrID);

    if (isNumericField(command)) {
        // Error replies stop nothing in the table, but the user has to learn
        // that the password or the request was turned down.
        const bool ours = fields.size() < 2 || fields.at(1) == number;
        if (ours && m_signInPending) {
            m_signInPending = false;
            return {Failure::SignInRefused};
        }
        if (ours && m_signedIn && m_switchboardRequests > 0) {
            --m_switchboardRequests;
            return {Failure::SwitchboardRefused};
        }
        return {};
    }

    if (command == "VER") {
        advance();
        return {Send{*buildLine({"INF", QByteArray::number(m_TrID)})}};
    }
    if (command == "INF") {
        const QByteArray account = m_account ? m_account().toUtf8() : QByteArray();
        const qint32 next = m_TrID == std::numeric_limits<qint32>::max() ? 0 : m_TrID + 1;
        const auto sent = buildLine({"USR", QByteArray::number(next), "MD5", "I", account});
        if (!sent)
            return {Failure::BadAccount};
        advance();
        m_signInPending = true;
        return {Send{*sent}};
    }
    if (command == "XFR" && fields.size() > 2) {
        if (fields.at(2) == "NS") {
            const auto to = fields.size() > 3 ? parseHostPort(QString::fromUtf8(fields.at(3))) : std::nullopt;
            if (!to)
                return {};
            m_TrID = 0;
            m_signInPending = false;
            m_signedIn = false;
            m_switchboardRequests = 0;
            return {Reconnect{to->first, to->second}};
        }
        if (fields.at(2) == "SB") {
            if (m_switchboardRequests > 0)
                --m_switchboardRequests;
            const auto to = fields.size() > 3 ? parseHostPort(QString::fromUtf8(fields.at(3))) : std::nullopt;
            const auto auth = fieldToLineEnd(fields, 5);
            if (!to || !auth || !isWireField(*auth))
                return {};
            return {SwitchboardStep{to->first, to->second, *auth}};
        }
        return {};
    }
    if (command == "USR") {
        if (text.contains("USR " + number + " OK")) {
            m_signInPending = false;
            m_signedIn = true;
            advance();
            return {SignedIn{}, Send{*buildLine({"CHG", QByteArray::number(m_TrID), "NLN"})}};
        }
        const auto challenge = fieldToLineEnd(fields, 4);
        if (!challenge || challenge->isEmpty())
            return {};
        const QString password = m_password ? m_password() : QString();
        const QByteArray digest = MD5Hex(QString::fromUtf8(*challenge) + password).toLatin1();
        m_signInPending = true;
        return {Send{*buildLine({"USR", number, "MD5", "S", digest})}};
    }
    if (command == "CHG") {
        advance();
        return {Send{*buildLine({"SYN", QByteArray::number(m_TrID), "0"})}};
    }
    return {};
}
