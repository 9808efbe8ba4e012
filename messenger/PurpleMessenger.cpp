// SPDX-License-Identifier: GPL-3.0-or-later
#include "messenger/PurpleMessenger.h"

#include "desktop/OpenLink.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QElapsedTimer>
#include <QTimer>

namespace {

const QString Service = QStringLiteral("im.pidgin.purple.PurpleService");
const QString Path = QStringLiteral("/im/pidgin/purple/PurpleObject");
const QString Interface = QStringLiteral("im.pidgin.purple.PurpleInterface");

// libpurple's numbers as its D-Bus API passes them. The media ones were read off the enum
// types libpurple 2.14 registers with GObject at run time.
constexpr int StatusOffline = 1;   // PURPLE_STATUS_OFFLINE
constexpr int StatusAvailable = 2; // PURPLE_STATUS_AVAILABLE
constexpr int ConversationIm = 1;  // PURPLE_CONV_TYPE_IM
// PURPLE_MEDIA_CAPS_AUDIO is 1 << 0. The next bit, 2, is one-way audio only, which is no
// conversation, so it does not count.
constexpr int MediaCapsAudio = 1;
constexpr int MediaAudio = 3; // PURPLE_MEDIA_AUDIO = RECV_AUDIO | SEND_AUDIO

// The window asks for the status many times a second on the UI thread: a client that
// takes longer than this to answer is as good as gone.
constexpr int CallTimeoutMs = 1500;
// Signals keep the cached status current; this only bounds the harm of one that got lost.
constexpr qint64 StatusRecheckMs = 30000;
// After a call timed out, don't freeze the window again on the very next tick.
constexpr qint64 HungClientRecheckMs = 5000;

// One answer from the client, or the reason there is none in words for the user.
struct Reply {
    QDBusMessage message;
    QString problem;
    bool hung = false;

    explicit operator bool() const { return problem.isEmpty(); }
    int number() const { return message.arguments().value(0).toInt(); }
    QString text() const { return message.arguments().value(0).toString(); }
    QList<int> ids() const {
        QList<int> ids;
        const QVariant v = message.arguments().value(0);
        if (v.userType() == qMetaTypeId<QDBusArgument>())
            v.value<QDBusArgument>() >> ids;
        else
            ids = v.value<QList<int>>();
        return ids;
    }
};

struct Account {
    int id = 0;
    bool connected = false;
    QString problem;
    bool hung = false;

    explicit operator bool() const { return problem.isEmpty(); }
};

} // namespace

struct PurpleMessenger::Client {
    QDBusConnection bus = QDBusConnection::sessionBus();
    std::optional<int> status;
    bool hung = false; // when the status was last asked
    QElapsedTimer statusAge;
    qint64 statusLifetime = 0;
    QTimer statusExpiry; // nothing else announces the end of a cached status's lifetime

    Reply call(const QString& method, const QVariantList& args, QLatin1String signature) {
        Reply reply;
        if (!bus.isConnected()) {
            reply.problem = PurpleMessenger::tr(
                "Velmora cannot reach your messenger: this desktop session has no D-Bus session bus.");
            return reply;
        }
        QDBusMessage request = QDBusMessage::createMethodCall(Service, Path, Interface, method);
        request.setArguments(args);
        // Block, not BlockWithGui: no other event may run in the middle of a click handler.
        reply.message = bus.call(request, QDBus::Block, CallTimeoutMs);
        if (reply.message.type() == QDBusMessage::ErrorMessage) {
            const QDBusError error(reply.message);
            switch (error.type()) {
            case QDBusError::ServiceUnknown:
            case QDBusError::NoServer:
                reply.problem = PurpleMessenger::tr(
                    "Your messenger is not running. Start Pidgin or Finch, sign in, and try again.");
                break;
            case QDBusError::NoReply:
            case QDBusError::Timeout:
            case QDBusError::TimedOut:
                reply.hung = true;
                reply.problem = PurpleMessenger::tr("Your messenger did not answer in time.");
                break;
            case QDBusError::Disconnected:
                reply.problem = PurpleMessenger::tr("Velmora lost its connection to your messenger.");
                break;
            default:
                reply.problem =
                    PurpleMessenger::tr("Your messenger could not do this: %1").arg(error.message());
                break;
            }
        } else if (reply.message.type() != QDBusMessage::ReplyMessage ||
                   reply.message.signature() != signature) {
            // Whatever owns the name is not the libpurple we know.
            reply.problem = PurpleMessenger::tr("Your messenger gave an answer Velmora does not understand.");
        }
        return reply;
    }

    // The account Velmora speaks for: the first enabled one that is signed in, else the
    // first enabled one (the client then says for itself what it can do offline). For a
    // contact, a signed-in account that has the contact as a buddy comes first: with
    // several accounts, the first one may well be of another service.
    Account account(const QString& contact = {}) {
        Account account;
        const Reply active = call(QStringLiteral("PurpleAccountsGetAllActive"), {}, QLatin1String("ai"));
        if (!active) {
            account.problem = active.problem;
            account.hung = active.hung;
            return account;
        }
        const QList<int> ids = active.ids();
        if (ids.isEmpty()) {
            account.problem = PurpleMessenger::tr("Your messenger has no account enabled.");
            return account;
        }
        account.id = ids.first();
        for (int id : ids) {
            const Reply connected =
                call(QStringLiteral("PurpleAccountIsConnected"), {id}, QLatin1String("i"));
            if (!connected) {
                account.hung = connected.hung;
                break;
            }
            if (connected.number() == 0)
                continue;
            if (!account.connected) {
                account.id = id;
                account.connected = true;
                if (contact.isEmpty())
                    break;
            }
            const Reply buddy = call(QStringLiteral("PurpleFindBuddy"), {id, contact}, QLatin1String("i"));
            if (buddy && buddy.number() != 0) {
                account.id = id;
                break;
            }
        }
        return account;
    }

    // Saved status and connections can disagree (an "Available" status while the account
    // is still connecting or failed to): offline unless both say otherwise.
    int askStatus(bool& hung) {
        int type = StatusAvailable;
        const Reply current = call(QStringLiteral("PurpleSavedstatusGetCurrent"), {}, QLatin1String("i"));
        if (!current) {
            hung = current.hung;
            return StatusOffline;
        }
        if (current.number() != 0) {
            const Reply saved =
                call(QStringLiteral("PurpleSavedstatusGetType"), {current.number()}, QLatin1String("i"));
            if (!saved) {
                hung = saved.hung;
                return StatusOffline;
            }
            if (saved.number() == StatusOffline)
                return StatusOffline;
            if (saved.number() > StatusOffline)
                type = saved.number();
        }
        const Account used = account();
        hung = used.hung;
        return used && used.connected ? type : StatusOffline;
    }
};

PurpleMessenger::PurpleMessenger(QObject* parent) : QObject(parent), client(std::make_unique<Client>()) {
    client->statusExpiry.setSingleShot(true);
    connect(&client->statusExpiry, &QTimer::timeout, this, &PurpleMessenger::forgetStatus);
    if (!client->bus.isConnected())
        return;
    // A client that quits (or crashes) sends nothing itself; the bus tells us its name is gone.
    auto* watcher =
        new QDBusServiceWatcher(Service, client->bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &PurpleMessenger::forgetStatus);
    for (const char* signal : {"SavedstatusChanged", "AccountSignedOn", "AccountSignedOff"})
        client->bus.connect(Service, Path, Interface, QLatin1String(signal), this, SLOT(forgetStatus()));
}

PurpleMessenger::~PurpleMessenger() = default;

void PurpleMessenger::forgetStatus() {
    client->status.reset();
    statusMayHaveChanged();
}

bool PurpleMessenger::present() {
    return client->bus.isConnected() && client->bus.interface() &&
           client->bus.interface()->isServiceRegistered(Service).value();
}

int PurpleMessenger::MyStatus() {
    // No signal reports the bus itself going away, so look at it every time; it costs nothing.
    if (!client->bus.isConnected())
        return MISTATUS_OFFLINE;
    if (!client->status || client->statusAge.hasExpired(client->statusLifetime)) {
        bool hung = false;
        client->status = client->askStatus(hung);
        client->hung = hung;
        client->statusLifetime = hung ? HungClientRecheckMs : StatusRecheckMs;
        client->statusAge.start();
        client->statusExpiry.start(int(client->statusLifetime));
    }
    return *client->status;
}

bool PurpleMessenger::answering() {
    return !client->hung;
}

std::optional<QString> PurpleMessenger::MySigninName() {
    const Account account = client->account();
    if (!account)
        return std::nullopt;
    const Reply name =
        client->call(QStringLiteral("PurpleAccountGetUsername"), {account.id}, QLatin1String("s"));
    if (!name || name.text().isEmpty())
        return std::nullopt;
    // XMPP names carry the resource ("user@example.org/Home"); the address is what comes before.
    return name.text().section(QLatin1Char('/'), 0, 0);
}

namespace {
ClientResult noContact() {
    return ClientResult::failure(PurpleMessenger::tr("No contact is selected."));
}
} // namespace

ClientResult PurpleMessenger::InstantMessage(const QString& contact) {
    if (contact.isEmpty())
        return noContact();
    const Account account = client->account(contact);
    if (!account)
        return ClientResult::failure(account.problem);
    const Reply conversation = client->call(QStringLiteral("PurpleConversationNew"),
                                            {ConversationIm, account.id, contact}, QLatin1String("i"));
    if (!conversation)
        return ClientResult::failure(conversation.problem);
    if (conversation.number() == 0)
        return ClientResult::failure(
            tr("Could not open a conversation with %1. Is your messenger signed in?").arg(contact));
    const Reply shown =
        client->call(QStringLiteral("PurpleConversationPresent"), {conversation.number()}, QLatin1String(""));
    if (!shown)
        return ClientResult::failure(shown.problem);
    return {};
}

ClientResult PurpleMessenger::StartVoice(const QString& contact) {
    if (contact.isEmpty())
        return noContact();
    const Account account = client->account(contact);
    if (!account)
        return ClientResult::failure(account.problem);
    const Reply caps =
        client->call(QStringLiteral("PurplePrplGetMediaCaps"), {account.id, contact}, QLatin1String("i"));
    if (!caps)
        return ClientResult::failure(caps.problem);
    if (!(caps.number() & MediaCapsAudio))
        return ClientResult::failure(tr("A voice call is not available for %1.").arg(contact));
    const Reply started = client->call(QStringLiteral("PurplePrplInitiateMedia"),
                                       {account.id, contact, MediaAudio}, QLatin1String("i"));
    if (!started)
        return ClientResult::failure(started.problem);
    // Nonzero means the call was asked for; whether anyone picks up is the client's business.
    if (started.number() == 0)
        return ClientResult::failure(tr("Your messenger could not start a voice call with %1.").arg(contact));
    return {};
}

ClientResult PurpleMessenger::SendMail(const QString& contact) {
    // libpurple composes no mail; the desktop's mail program does.
    if (contact.isEmpty())
        return noContact();
    // Built from parts: an address holding "?" or "&" must not add headers
    // (a subject, a copy to someone) to the mail.
    const QUrl mail = QUrl::fromEncoded("mailto:" + QUrl::toPercentEncoding(contact, "@"), QUrl::StrictMode);
    if (!mail.isValid() || !openLink(mail))
        return ClientResult::failure(
            tr("Your desktop has no mail program that could write to %1. Set one up as your "
               "default e-mail program, then try again.")
                .arg(contact));
    return {};
}

ClientResult PurpleMessenger::ViewProfile(const QString& contact) {
    if (contact.isEmpty())
        return noContact();
    const Account account = client->account(contact);
    if (!account)
        return ClientResult::failure(account.problem);
    const Reply connection =
        client->call(QStringLiteral("PurpleAccountGetConnection"), {account.id}, QLatin1String("i"));
    if (!connection)
        return ClientResult::failure(connection.problem);
    if (connection.number() == 0)
        return ClientResult::failure(
            tr("Could not show the profile of %1. Is your messenger signed in?").arg(contact));
    // The profile arrives later, in the client's own window.
    const Reply asked =
        client->call(QStringLiteral("ServGetInfo"), {connection.number(), contact}, QLatin1String(""));
    if (!asked)
        return ClientResult::failure(asked.problem);
    return {};
}
