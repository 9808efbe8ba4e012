// SPDX-License-Identifier: GPL-3.0-or-later
#include "messenger/PurpleMessenger.h"

#include "desktop/OpenLink.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
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

// libpurple's own MSN protocol, gone since Pidgin 2.12, and the third-party plugin's.
const QStringList MsnProtocols = {QStringLiteral("prpl-msn"), QStringLiteral("prpl-msn-pecan")};

// A client that takes longer than this to answer one question is as good as gone.
constexpr int CallTimeoutMs = 1500;
// Signals keep the cached status current; this only bounds the harm of one that got lost.
constexpr qint64 StatusRecheckMs = 30000;
// After a question went unanswered, ask again only after a while.
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
    using Then = std::function<void(const Reply&)>;

    QObject* owner = nullptr; // answers come only while it lives
    QDBusConnection bus = QDBusConnection::sessionBus();
    std::optional<int> status;
    std::optional<QString> name;
    bool hung = false;     // when the status was last asked
    bool asking = false;   // a status question is under way
    bool askAgain = false; // something changed while it was
    QElapsedTimer statusAge;
    qint64 statusLifetime = 0;
    QTimer statusExpiry; // nothing else announces the end of a cached status's lifetime

    static Reply replyOf(const QDBusMessage& message, QLatin1String signature) {
        Reply reply;
        reply.message = message;
        if (message.type() == QDBusMessage::ErrorMessage) {
            const QDBusError error(message);
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
                reply.problem = PurpleMessenger::tr("Your messenger did not answer.");
                break;
            case QDBusError::Disconnected:
                reply.problem = PurpleMessenger::tr("Velmora lost its connection to your messenger.");
                break;
            default:
                reply.problem =
                    PurpleMessenger::tr("Your messenger could not do this: %1").arg(error.message());
                break;
            }
        } else if (message.type() != QDBusMessage::ReplyMessage || message.signature() != signature) {
            // Whatever owns the name is not the libpurple we know.
            reply.problem = PurpleMessenger::tr("Your messenger gave an answer Velmora does not understand.");
        }
        return reply;
    }

    // then() runs once the client answers or the question times out; at once without a bus.
    void call(const QString& method, const QVariantList& args, QLatin1String signature, Then then) {
        if (!bus.isConnected()) {
            Reply reply;
            reply.problem = PurpleMessenger::tr(
                "Velmora cannot reach your messenger: this desktop session has no D-Bus session bus.");
            then(reply);
            return;
        }
        QDBusMessage request = QDBusMessage::createMethodCall(Service, Path, Interface, method);
        request.setArguments(args);
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(request, CallTimeoutMs), owner);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, owner,
                         [watcher, signature, then = std::move(then)] {
                             watcher->deleteLater();
                             then(replyOf(watcher->reply(), signature));
                         });
    }

    // The account Velmora speaks for: the first enabled one that is signed in, else the
    // first enabled one (the client then says for itself what it can do offline). For a
    // contact, a signed-in account that has the contact as a buddy comes first: with
    // several accounts, the first one may well be of another service.
    struct AccountSearch {
        QList<int> ids;
        qsizetype next = 0;
        QString contact;
        Account account;
        std::function<void(const Account&)> then;
    };

    void findAccount(const QString& contact, std::function<void(const Account&)> then) {
        call(QStringLiteral("PurpleAccountsGetAllActive"), {}, QLatin1String("ai"),
             [this, contact, then = std::move(then)](const Reply& active) {
                 Account account;
                 if (!active) {
                     account.problem = active.problem;
                     account.hung = active.hung;
                     then(account);
                     return;
                 }
                 const QList<int> ids = active.ids();
                 if (ids.isEmpty()) {
                     account.problem = PurpleMessenger::tr("Your messenger has no account enabled.");
                     then(account);
                     return;
                 }
                 account.id = ids.first();
                 nextAccount(std::make_shared<AccountSearch>(AccountSearch{ids, 0, contact, account, then}));
             });
    }

    // Whether any signed-in account speaks MSN or has the contact as a buddy, one account after
    // the other.
    void takes(QList<int> ids, const QString& contact, std::function<void(bool)> then) {
        if (ids.isEmpty())
            return then(false);
        const int id = ids.takeFirst();
        auto next = [this, ids, contact, then] { takes(ids, contact, then); };
        call(QStringLiteral("PurpleAccountIsConnected"), {id}, QLatin1String("i"),
             [this, id, contact, then, next](const Reply& connected) {
                 if (!connected)
                     return then(false);
                 if (connected.number() == 0)
                     return next();
                 call(QStringLiteral("PurpleAccountGetProtocolId"), {id}, QLatin1String("s"),
                      [this, id, contact, then, next](const Reply& protocol) {
                          if (protocol && MsnProtocols.contains(protocol.text()))
                              return then(true);
                          call(QStringLiteral("PurpleFindBuddy"), {id, contact}, QLatin1String("i"),
                               [then, next](const Reply& buddy) {
                                   if (buddy && buddy.number() != 0)
                                       return then(true);
                                   next();
                               });
                      });
             });
    }

    void nextAccount(const std::shared_ptr<AccountSearch>& s) {
        if (s->next >= s->ids.size()) {
            s->then(s->account);
            return;
        }
        const int id = s->ids[s->next++];
        call(QStringLiteral("PurpleAccountIsConnected"), {id}, QLatin1String("i"), [this, s, id](const Reply& connected) {
            if (!connected) {
                s->account.hung = connected.hung;
                s->then(s->account);
                return;
            }
            if (connected.number() == 0) {
                nextAccount(s);
                return;
            }
            if (!s->account.connected) {
                s->account.id = id;
                s->account.connected = true;
                if (s->contact.isEmpty()) {
                    s->then(s->account);
                    return;
                }
            }
            call(QStringLiteral("PurpleFindBuddy"), {id, s->contact}, QLatin1String("i"), [this, s, id](const Reply& buddy) {
                if (buddy && buddy.number() != 0) {
                    s->account.id = id;
                    s->then(s->account);
                    return;
                }
                nextAccount(s);
            });
        });
    }

    // Saved status and connections can disagree (an "Available" status while the account
    // is still connecting or failed to): offline unless both say otherwise. The sign-in name
    // comes with it.
    void askStatus() {
        if (asking) {
            askAgain = true;
            return;
        }
        asking = true;
        call(QStringLiteral("PurpleSavedstatusGetCurrent"), {}, QLatin1String("i"), [this](const Reply& current) {
            if (!current)
                return answered(StatusOffline, std::nullopt, current.hung);
            if (current.number() == 0)
                return askAccount(StatusAvailable);
            call(QStringLiteral("PurpleSavedstatusGetType"), {current.number()}, QLatin1String("i"),
                 [this](const Reply& saved) {
                     if (!saved)
                         return answered(StatusOffline, std::nullopt, saved.hung);
                     askAccount(saved.number() > StatusOffline ? saved.number()
                                : saved.number() == StatusOffline ? StatusOffline
                                                                  : StatusAvailable);
                 });
        });
    }

    void askAccount(int type) {
        findAccount({}, [this, type](const Account& used) {
            if (!used)
                return answered(StatusOffline, std::nullopt, used.hung);
            const int status = used.connected ? type : StatusOffline;
            call(QStringLiteral("PurpleAccountGetUsername"), {used.id}, QLatin1String("s"),
                 [this, status, hung = used.hung](const Reply& name) {
                     if (!name || name.text().isEmpty())
                         return answered(status, std::nullopt, hung || name.hung);
                     // XMPP names carry the resource ("user@example.org/Home"); the address is what
                     // comes before.
                     answered(status, name.text().section(QLatin1Char('/'), 0, 0), hung);
                 });
        });
    }

    void answered(int newStatus, std::optional<QString> newName, bool wasHung);
};

PurpleMessenger::PurpleMessenger(Desktop desktop, QObject* parent)
    : QObject(parent), desktop(std::move(desktop)), client(std::make_unique<Client>()) {
    client->owner = this;
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
    // Asked now, so that the answer is in by the time a window wants it.
    client->askStatus();
}

PurpleMessenger::~PurpleMessenger() = default;

void PurpleMessenger::Client::answered(int newStatus, std::optional<QString> newName, bool wasHung) {
    asking = false;
    status = newStatus;
    name = std::move(newName);
    hung = wasHung;
    statusLifetime = hung ? HungClientRecheckMs : StatusRecheckMs;
    statusAge.start();
    statusExpiry.start(int(statusLifetime));
    if (std::exchange(askAgain, false))
        askStatus();
    static_cast<PurpleMessenger*>(owner)->statusMayHaveChanged();
}

void PurpleMessenger::forgetStatus() {
    // The last answer stands until the next one is in.
    client->statusLifetime = 0;
    client->askStatus();
}

bool PurpleMessenger::present() {
    return client->bus.isConnected() && client->bus.interface() &&
           client->bus.interface()->isServiceRegistered(Service).value();
}

int PurpleMessenger::MyStatus() {
    // No signal reports the bus itself going away, so look at it every time; it costs nothing.
    if (!client->bus.isConnected())
        return MISTATUS_OFFLINE;
    if (!client->status || client->statusAge.hasExpired(client->statusLifetime))
        client->askStatus();
    return client->status.value_or(MISTATUS_OFFLINE);
}

bool PurpleMessenger::statusPending() {
    return client->bus.isConnected() && !client->status;
}

bool PurpleMessenger::answering() {
    return !client->hung;
}

std::optional<QString> PurpleMessenger::MySigninName() {
    if (!client->bus.isConnected())
        return std::nullopt;
    return client->name;
}

namespace {
ClientResult noContact() {
    return ClientResult::failure(PurpleMessenger::tr("No contact is selected."));
}
} // namespace

void PurpleMessenger::takesContact(const QString& contact, std::function<void(bool takes)> then) {
    if (contact.isEmpty() || !client->bus.isConnected())
        return then(false);
    client->call(QStringLiteral("PurpleAccountsGetAllActive"), {}, QLatin1String("ai"),
                 [this, contact, then](const Reply& active) {
                     if (!active)
                         return then(false);
                     client->takes(active.ids(), contact, then);
                 });
}

void PurpleMessenger::InstantMessage(const QString& contact, Done done) {
    if (contact.isEmpty())
        return done(noContact());
    client->findAccount(contact, [this, contact, done](const Account& account) {
        if (!account)
            return done(ClientResult::failure(account.problem));
        client->call(QStringLiteral("PurpleConversationNew"), {ConversationIm, account.id, contact}, QLatin1String("i"),
                     [this, contact, done](const Reply& conversation) {
                         if (!conversation)
                             return done(ClientResult::failure(conversation.problem));
                         if (conversation.number() == 0)
                             return done(ClientResult::failure(
                                 tr("Could not open a conversation with %1. Is your messenger signed in?").arg(contact)));
                         client->call(QStringLiteral("PurpleConversationPresent"), {conversation.number()},
                                      QLatin1String(""), [done](const Reply& shown) {
                                          done(shown ? ClientResult{} : ClientResult::failure(shown.problem));
                                      });
                     });
    });
}

void PurpleMessenger::StartVoice(const QString& contact, Done done) {
    if (contact.isEmpty())
        return done(noContact());
    client->findAccount(contact, [this, contact, done](const Account& account) {
        if (!account)
            return done(ClientResult::failure(account.problem));
        client->call(QStringLiteral("PurplePrplGetMediaCaps"), {account.id, contact}, QLatin1String("i"),
                     [this, contact, done, id = account.id](const Reply& caps) {
                         if (!caps)
                             return done(ClientResult::failure(caps.problem));
                         if (!(caps.number() & MediaCapsAudio))
                             return done(ClientResult::failure(tr("A voice call is not available for %1.").arg(contact)));
                         client->call(QStringLiteral("PurplePrplInitiateMedia"), {id, contact, MediaAudio},
                                      QLatin1String("i"), [contact, done](const Reply& started) {
                                          if (!started)
                                              return done(ClientResult::failure(started.problem));
                                          // Nonzero means the call was asked for; whether anyone
                                          // picks up is the client's business.
                                          if (started.number() == 0)
                                              return done(ClientResult::failure(
                                                  tr("Your messenger could not start a voice call with %1.")
                                                      .arg(contact)));
                                          done({});
                                      });
                     });
    });
}

void PurpleMessenger::SendMail(const QString& contact, Done done) {
    // libpurple composes no mail; the desktop's mail program does.
    if (contact.isEmpty())
        return done(noContact());
    // Built from parts: an address holding "?" or "&" must not add headers
    // (a subject, a copy to someone) to the mail.
    const QUrl mail = QUrl::fromEncoded("mailto:" + QUrl::toPercentEncoding(contact, "@"), QUrl::StrictMode);
    if (!mail.isValid() || !desktop.openLink(mail))
        return done(ClientResult::failure(tr("Your desktop has no mail program that could write to %1. Set one up "
                                             "as your default e-mail program, then try again.")
                                              .arg(contact)));
    done({});
}

void PurpleMessenger::ViewProfile(const QString& contact, Done done) {
    if (contact.isEmpty())
        return done(noContact());
    client->findAccount(contact, [this, contact, done](const Account& account) {
        if (!account)
            return done(ClientResult::failure(account.problem));
        client->call(QStringLiteral("PurpleAccountGetConnection"), {account.id}, QLatin1String("i"),
                     [this, contact, done](const Reply& connection) {
                         if (!connection)
                             return done(ClientResult::failure(connection.problem));
                         if (connection.number() == 0)
                             return done(ClientResult::failure(
                                 tr("Could not show the profile of %1. Is your messenger signed in?").arg(contact)));
                         // The profile arrives later, in the client's own window.
                         client->call(QStringLiteral("ServGetInfo"), {connection.number(), contact}, QLatin1String(""),
                                      [done](const Reply& asked) {
                                          done(asked ? ClientResult{} : ClientResult::failure(asked.problem));
                                      });
                     });
    });
}
