// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/NotificationDispatcher.h"

#include "session/Protocol.h"

#include <algorithm>
#include <limits>

namespace {
// Requests a silent service never answers are forgotten past this many. What a forgotten
// allow-list change leaves behind, the journal still knows.
constexpr std::size_t MaxPending = 256;

// The transaction number of a line: nullopt when field 1 is missing or empty, -1 when it is
// there but no number.
std::optional<qint32> trIdOf(const QList<QByteArray>& fields) {
    if (fields.size() < 2 || fields.at(1).isEmpty())
        return std::nullopt;
    const QByteArray& field = fields.at(1);
    if (!isNumericField(field) || field.size() > 10 ||
        field.toLongLong() > std::numeric_limits<qint32>::max())
        return -1;
    return static_cast<qint32>(field.toLongLong());
}

bool numbered(const QList<QByteArray>& fields, qint32 trId) {
    return trIdOf(fields) == trId;
}

constexpr int ForwardList = 1, AllowList = 2, BlockList = 4, ReverseList = 8;
constexpr int AllLists = ForwardList | AllowList | BlockList | ReverseList;

int listBit(const QByteArray& name) {
    return name == "FL" ? ForwardList : name == "AL" ? AllowList : name == "BL" ? BlockList : name == "RL" ? ReverseList : 0;
}
} // namespace

qint32 NotificationDispatcher::advance() {
    // A run never comes near the limit; should one get there, start over at 0 rather than
    // overflow, since the wire takes no sign.
    m_TrID = m_TrID == std::numeric_limits<qint32>::max() ? 0 : m_TrID + 1;
    return m_TrID;
}

void NotificationDispatcher::expect(qint32 trId, Request kind, int check, const QString& contact) {
    if (m_pending.size() >= MaxPending)
        m_pending.pop_front();
    m_pending.push_back({trId, kind, check, contact});
}

void NotificationDispatcher::start() {
    advance();
    m_redirects = 0;
    connectionLost();
}

void NotificationDispatcher::connectionLost() {
    m_phase = Phase::Closed;
    m_pending.clear();
    m_lists.clear();
    m_listsSynced = 0;
    m_signInTrId = m_setOnlineTrId = m_syncTrId = -1;
}

NotificationDispatcher::Actions NotificationDispatcher::setCredentials(const QString& account,
                                                                       const QString& password) {
    m_account = account;
    m_password = password;
    m_hasCredentials = true;
    return m_phase == Phase::AwaitingAccount ? signIn() : Actions{};
}

NotificationDispatcher::Actions NotificationDispatcher::connected() {
    m_phase = Phase::Greeting;
    return {Send{*buildLine({"VER", QByteArray::number(m_TrID), "MSNP5", "MSNP4", "CVRO"})}};
}

NotificationDispatcher::Actions NotificationDispatcher::signIn() {
    if (!m_hasCredentials) {
        m_phase = Phase::AwaitingAccount;
        return {};
    }
    const qint32 number = m_TrID == std::numeric_limits<qint32>::max() ? 0 : m_TrID + 1;
    const auto sent = buildLine({"USR", QByteArray::number(number), "MD5", "I", m_account.toUtf8()});
    if (!sent)
        return {Failure::BadAccount};
    m_signInTrId = advance();
    m_phase = Phase::Authenticating;
    expect(m_signInTrId, Request::SignIn);
    return {Send{*sent}};
}

QByteArray NotificationDispatcher::switchboardRequest(int check) {
    const qint32 number = advance();
    expect(number, Request::Switchboard, check);
    return *buildLine({"XFR", QByteArray::number(number), "SB"});
}

std::optional<QByteArray> NotificationDispatcher::allowListRequest(ListChange change, const QString& contact,
                                                                   int check) {
    const QByteArray address = contact.toUtf8();
    const qint32 number = m_TrID == std::numeric_limits<qint32>::max() ? 0 : m_TrID + 1;
    const QByteArray n = QByteArray::number(number);
    const auto line = change == ListChange::Add ? buildLine({"ADD", n, "AL", address, address})
                                                : buildLine({"REM", n, "AL", address});
    if (!line)
        return std::nullopt;
    advance();
    expect(number, change == ListChange::Add ? Request::AllowAdd : Request::AllowRemove, check, contact);
    return line;
}

void NotificationDispatcher::release(int check) {
    std::erase_if(m_pending,
                  [check](const Pending& p) { return p.kind == Request::Switchboard && p.check == check; });
    for (Pending& p : m_pending)
        if (p.check == check)
            p.check = 0;
}

bool NotificationDispatcher::addPending(const QString& contact) const {
    return std::any_of(m_pending.begin(), m_pending.end(), [&](const Pending& p) {
        return p.kind == Request::AllowAdd && p.contact.compare(contact, Qt::CaseInsensitive) == 0;
    });
}

NotificationDispatcher::Standing NotificationDispatcher::standing(const QString& contact) const {
    const int lists = m_lists.value(contact.toLower()).lists;
    return lists & ForwardList ? Standing::Forward : lists ? Standing::OtherList : Standing::Unlisted;
}

NotificationDispatcher::Actions NotificationDispatcher::refused(const QList<QByteArray>& fields) {
    // An error without a number answers the oldest request; one with something else there
    // answers nothing we can tell.
    const std::optional<qint32> number = trIdOf(fields);
    if (number == -1)
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
        return {SwitchboardRefused{request.check, isBusyReply(fields.first())}};
    case Request::AllowAdd:
    case Request::AllowRemove: {
        const int code = static_cast<int>(std::min<qint64>(fields.first().toLongLong(), 99999));
        const ListChange change = request.kind == Request::AllowAdd ? ListChange::Add : ListChange::Remove;
        return {ListAnswer{change, request.contact, request.check, code > 0 ? code : 1}};
    }
    }
    return {};
}

NotificationDispatcher::Actions NotificationDispatcher::signInAnswer(const QList<QByteArray>& fields) {
    // Read by field and by number: "USR 5 OK" for another number is no answer of ours.
    if (!numbered(fields, m_signInTrId))
        return {};
    if (fields.value(2) == "OK") {
        std::erase_if(m_pending, [](const Pending& p) { return p.kind == Request::SignIn; });
        m_phase = Phase::SettingOnline;
        m_setOnlineTrId = advance();
        return {SignedIn{}, Send{*buildLine({"CHG", QByteArray::number(m_setOnlineTrId), "NLN"})}};
    }
    if (fields.value(2) != "MD5" || fields.value(3) != "S" || fields.value(4).isEmpty())
        return {};
    // The challenge is hashed as it came off the wire, whatever its encoding.
    const QByteArray digest = MD5HexOfBytes(fields.at(4) + m_password.toUtf8()).toLatin1();
    return {Send{*buildLine({"USR", QByteArray::number(m_signInTrId), "MD5", "S", digest})}};
}

NotificationDispatcher::Actions NotificationDispatcher::redirect(const QList<QByteArray>& fields) {
    // Only as the answer to our own sign-in: a redirect later would throw away a working session.
    if (m_phase != Phase::Authenticating || !numbered(fields, m_signInTrId))
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
    const std::optional<qint32> number = trIdOf(fields);
    const auto it = std::find_if(m_pending.begin(), m_pending.end(), [&](const Pending& p) {
        return p.kind == Request::Switchboard && number && p.trId == *number;
    });
    if (it == m_pending.end())
        return {};
    const int check = it->check;
    m_pending.erase(it);
    const auto to = fields.size() > 3 ? parseHostPort(QString::fromUtf8(fields.at(3))) : std::nullopt;
    const QByteArray ticket = fields.value(5);
    if (!to || !isWireField(ticket))
        return {SwitchboardRefused{check}};
    return {SwitchboardOffered{check, to->first, to->second, ticket}};
}

NotificationDispatcher::Actions NotificationDispatcher::listAnswer(Request kind,
                                                                   const QList<QByteArray>& fields) {
    // Lists change for other reasons too (someone adding us); only an answer to one of our own
    // requests is news.
    const std::optional<qint32> number = trIdOf(fields);
    const auto it = std::find_if(m_pending.begin(), m_pending.end(), [&](const Pending& p) {
        return p.kind == kind && number && p.trId == *number;
    });
    if (it == m_pending.end() || fields.value(2) != "AL")
        return {};
    const Pending request = *it;
    m_pending.erase(it);
    const ListChange change = kind == Request::AllowAdd ? ListChange::Add : ListChange::Remove;
    return {ListAnswer{change, request.contact, request.check, 0}};
}

// "LST trid list serial a b address name": a and b are the entry's number and the list's length,
// in whichever order the server likes, so the last entry of a list has them equal, and so has an
// empty list ("LST trid AL serial 0 0"). The sync is through once all four lists are, whatever
// else comes between their lines.
NotificationDispatcher::Actions NotificationDispatcher::listLine(const QList<QByteArray>& fields) {
    if (m_phase != Phase::Syncing || !numbered(fields, m_syncTrId))
        return {};
    const int list = listBit(fields.value(2));
    if (!list)
        return {};
    if (fields.size() > 6 && !fields.at(6).isEmpty() && !addToList(QString::fromUtf8(fields.at(6)), list))
        return tooLong();
    if (isNumericField(fields.value(4)) && fields.value(4) == fields.value(5))
        m_listsSynced |= list;
    return m_listsSynced == AllLists ? allowListKnown() : Actions{};
}

// "ADD trid list serial address [name]" or "REM trid list serial address", ours or not: someone
// who adds the account puts it on their reverse list, and our own allow-list changes count too.
bool NotificationDispatcher::noteListChange(const QList<QByteArray>& fields, bool added) {
    const int list = listBit(fields.value(2));
    if (!list || fields.size() < 5 || fields.at(4).isEmpty() || m_phase < Phase::Syncing)
        return true;
    const QString address = QString::fromUtf8(fields.at(4));
    if (added)
        return addToList(address, list);
    if (const auto it = m_lists.find(address.toLower()); it != m_lists.end() && !(it->lists &= ~list))
        m_lists.erase(it);
    return true;
}

// False, and nothing kept, past the bounds.
bool NotificationDispatcher::addToList(const QString& address, int list) {
    const QString key = address.toLower();
    if (address.size() > MaxAddressBytes || (m_lists.size() >= MaxListEntries && !m_lists.contains(key)))
        return false;
    Entry& entry = m_lists[key];
    entry.address = address;
    entry.lists |= list;
    return true;
}

NotificationDispatcher::Actions NotificationDispatcher::tooLong() {
    m_phase = Phase::Closed;
    m_lists.clear();
    return {Failure::ListsTooLong};
}

NotificationDispatcher::Actions NotificationDispatcher::allowListKnown() {
    m_phase = Phase::Ready;
    QHash<QString, QString> allowList;
    for (auto it = m_lists.cbegin(); it != m_lists.cend(); ++it)
        if (it->lists & AllowList)
            allowList.insert(it.key(), it->address);
    return {AllowListKnown{std::move(allowList)}};
}

NotificationDispatcher::Actions NotificationDispatcher::line(const QByteArray& text) {
    const QList<QByteArray> fields = splitFields(text);
    const QByteArray& command = fields.first();

    if (isNumericField(command))
        return refused(fields);

    // The greeting and the sign-in are answered only while they are under way: a server
    // repeating them later must not restart anything.
    if (command == "VER" && m_phase == Phase::Greeting)
        return {Send{*buildLine({"INF", QByteArray::number(advance())})}};
    if (command == "INF" && m_phase == Phase::Greeting)
        return signIn();
    if (command == "USR" && m_phase == Phase::Authenticating)
        return signInAnswer(fields);
    if (command == "XFR" && fields.value(2) == "NS")
        return redirect(fields);
    if (command == "XFR" && fields.value(2) == "SB")
        return switchboardAnswer(fields);
    if (command == "CHG" && signedIn()) {
        const qint32 number = advance();
        if (m_phase == Phase::SettingOnline) {
            m_phase = Phase::Syncing;
            m_syncTrId = number;
        }
        return {Send{*buildLine({"SYN", QByteArray::number(number), "0"})}};
    }
    if (command == "LST")
        return listLine(fields);
    if (command == "ADD" || command == "REM") {
        if (!noteListChange(fields, command == "ADD"))
            return tooLong();
        return listAnswer(command == "ADD" ? Request::AllowAdd : Request::AllowRemove, fields);
    }
    // One server answers an "OUT" of ours, another just closes; one that says it first ends us.
    if (command == "OUT" && m_phase != Phase::Closed) {
        m_phase = Phase::Closed;
        return {fields.value(1) == "OTH" ? Failure::SignedInElsewhere : Failure::SentAway};
    }
    return {};
}
