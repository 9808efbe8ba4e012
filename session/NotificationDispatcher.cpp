#include "session/NotificationDispatcher.h"

#include "session/Protocol.h"

#include <algorithm>
#include <limits>

namespace {
// Requests a silent service never answers are forgotten past this many.
constexpr std::size_t MaxPending = 64;

std::optional<qint32> trIdOf(const QList<QByteArray>& fields) {
    if (fields.size() < 2 || !isNumericField(fields.at(1)) || fields.at(1).size() > 10)
        return std::nullopt;
    const qint64 value = fields.at(1).toLongLong();
    if (value > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return static_cast<qint32>(value);
}
} // namespace

NotificationDispatcher::NotificationDispatcher(std::function<QString()> account,
                                               std::function<QString()> password)
    : m_account(std::move(account)), m_password(std::move(password)) {}

qint32 NotificationDispatcher::next() const {
    // A run never comes near the limit; should one get there, start over at 0
    // rather than overflow, since the wire takes no sign.
    return m_TrID == std::numeric_limits<qint32>::max() ? 0 : m_TrID + 1;
}

void NotificationDispatcher::advance() {
    m_TrID = next();
}

void NotificationDispatcher::expect(qint32 trId, Request kind, const QString& contact) {
    if (m_pending.size() >= MaxPending)
        m_pending.pop_front();
    m_pending.push_back({trId, kind, contact});
}

void NotificationDispatcher::start() {
    advance();
    m_redirects = 0;
    connectionLost();
}

void NotificationDispatcher::connectionLost() {
    m_phase = Phase::Closed;
    m_pending.clear();
}

NotificationDispatcher::Actions NotificationDispatcher::connected() {
    m_phase = Phase::Greeting;
    return {Send{*buildLine({"VER", QByteArray::number(m_TrID), "MSNP5", "MSNP4", "CVRO"})}};
}

QByteArray NotificationDispatcher::switchboardRequest() {
    expect(m_TrID, Request::Switchboard);
    return *buildLine({"XFR", QByteArray::number(m_TrID), "SB"});
}

std::optional<QByteArray> NotificationDispatcher::allowListRequest(ListChange change,
                                                                   const QString& contact) {
    const QByteArray address = contact.toUtf8();
    const QByteArray number = QByteArray::number(next());
    const auto line = change == ListChange::Add ? buildLine({"ADD", number, "AL", address, address})
                                                : buildLine({"REM", number, "AL", address});
    if (!line)
        return std::nullopt;
    advance();
    expect(m_TrID, change == ListChange::Add ? Request::AllowAdd : Request::AllowRemove, contact);
    return line;
}

NotificationDispatcher::Actions NotificationDispatcher::refused(const QList<QByteArray>& fields) {
    // An error without a number answers the oldest request.
    const std::optional<qint32> number = trIdOf(fields);
    if (fields.size() >= 2 && !number)
        return {};
    const auto it = std::find_if(m_pending.begin(), m_pending.end(),
                                 [&](const Pending& p) { return !number || p.trId == *number; });
    if (it == m_pending.end())
        return {};
    const Pending request = *it;
    m_pending.erase(it);
    switch (request.kind) {
    case Request::SignIn:
        m_phase = Phase::Closed;
        return {Failure::SignInRefused};
    case Request::Switchboard:
        return {Failure::SwitchboardRefused};
    case Request::AllowAdd:
    case Request::AllowRemove: {
        const int code = static_cast<int>(std::min<qint64>(fields.first().toLongLong(), 99999));
        const ListChange change = request.kind == Request::AllowAdd ? ListChange::Add : ListChange::Remove;
        return {ListAnswer{change, request.contact, code > 0 ? code : 1}};
    }
    }
    return {};
}

NotificationDispatcher::Actions NotificationDispatcher::redirect(const QList<QByteArray>& fields) {
    if (m_phase == Phase::Closed)
        return {};
    const auto to = fields.size() > 3 ? parseHostPort(QString::fromUtf8(fields.at(3))) : std::nullopt;
    if (!to)
        return {Failure::BadRedirect};
    if (++m_redirects > MaxRedirects)
        return {Failure::TooManyRedirects};
    m_TrID = 0;
    connectionLost();
    return {Reconnect{to->first, to->second}};
}

NotificationDispatcher::Actions NotificationDispatcher::switchboardAnswer(const QList<QByteArray>& fields) {
    // Only an answer to our own request opens a switchboard.
    const auto it = std::find_if(m_pending.begin(), m_pending.end(),
                                 [](const Pending& p) { return p.kind == Request::Switchboard; });
    if (it == m_pending.end())
        return {};
    m_pending.erase(it);
    const auto to = fields.size() > 3 ? parseHostPort(QString::fromUtf8(fields.at(3))) : std::nullopt;
    const auto auth = fieldToLineEnd(fields, 5);
    if (!to || !auth || !isWireField(*auth))
        return {Failure::SwitchboardRefused};
    return {SwitchboardStep{to->first, to->second, *auth}};
}

NotificationDispatcher::Actions NotificationDispatcher::listAnswer(Request kind,
                                                                   const QList<QByteArray>& fields) {
    // Lists change for other reasons too (someone adding us); only an answer
    // to one of our own requests is news.
    const std::optional<qint32> number = trIdOf(fields);
    const auto it = std::find_if(m_pending.begin(), m_pending.end(), [&](const Pending& p) {
        return p.kind == kind && number && p.trId == *number;
    });
    if (it == m_pending.end() || fields.value(2) != "AL")
        return {};
    const Pending request = *it;
    m_pending.erase(it);
    const ListChange change = kind == Request::AllowAdd ? ListChange::Add : ListChange::Remove;
    return {ListAnswer{change, request.contact, 0}};
}

NotificationDispatcher::Actions NotificationDispatcher::line(const QByteArray& text) {
    const QList<QByteArray> fields = splitFields(text);
    const QByteArray& command = fields.first();

    if (isNumericField(command))
        return refused(fields);

    // The greeting and the sign-in are answered only while they are under
    // way: a server repeating them later must not restart anything.
    if (command == "VER" && m_phase == Phase::Greeting) {
        advance();
        return {Send{*buildLine({"INF", QByteArray::number(m_TrID)})}};
    }
    if (command == "INF" && m_phase == Phase::Greeting) {
        const QByteArray account = m_account ? m_account().toUtf8() : QByteArray();
        const auto sent = buildLine({"USR", QByteArray::number(next()), "MD5", "I", account});
        if (!sent)
            return {Failure::BadAccount};
        advance();
        m_phase = Phase::Authenticating;
        expect(m_TrID, Request::SignIn);
        return {Send{*sent}};
    }
    if (command == "XFR" && fields.size() > 2) {
        if (fields.at(2) == "NS")
            return redirect(fields);
        if (fields.at(2) == "SB")
            return switchboardAnswer(fields);
        return {};
    }
    if (command == "USR" && m_phase == Phase::Authenticating) {
        const QByteArray number = QByteArray::number(m_TrID);
        if (text.contains("USR " + number + " OK")) {
            m_phase = Phase::SignedIn;
            std::erase_if(m_pending, [](const Pending& p) { return p.kind == Request::SignIn; });
            advance();
            return {SignedIn{}, Send{*buildLine({"CHG", QByteArray::number(m_TrID), "NLN"})}};
        }
        const auto challenge = fieldToLineEnd(fields, 4);
        if (!challenge || challenge->isEmpty())
            return {};
        const QByteArray password = m_password ? m_password().toUtf8() : QByteArray();
        const QByteArray digest = MD5HexOfBytes(*challenge + password).toLatin1();
        return {Send{*buildLine({"USR", number, "MD5", "S", digest})}};
    }
    if (command == "CHG" && m_phase == Phase::SignedIn) {
        advance();
        return {Send{*buildLine({"SYN", QByteArray::number(m_TrID), "0"})}};
    }
    if (command == "ADD")
        return listAnswer(Request::AllowAdd, fields);
    if (command == "REM")
        return listAnswer(Request::AllowRemove, fields);
    return {};
}
