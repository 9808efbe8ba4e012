#pragma once

#include "session/NotificationDispatcher.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <optional>
#include <variant>
#include <vector>

// The status probe across both connections, free of sockets: a switchboard
// for the request, the sign-on there, the call, and, when the service will
// not ring a contact that is on none of the account's lists, the allow-list
// step (put the contact on the allow list, call again, take it off). The
// switchboard lines carry the fixed numbers 1, 2 and, for the second call, 3.
class StatusProbe {
public:
    struct SendChat {
        QByteArray line; // complete, with its CR LF
    };
    struct ConnectChat {
        QString host;
        quint16 port;
    };
    struct CloseChat {}; // once what was sent has gone out
    struct DropChat {};
    struct ChangeList {
        ListChange change;
        QString contact;
    };
    struct Show {
        const char* text; // for Label1
    };
    using Action = std::variant<SendChat, ConnectChat, CloseChat, DropChat, ChangeList, Show>;
    using Actions = std::vector<Action>;

    // The error of a list change that could not even be asked for.
    static constexpr int NotAsked = -1;

    // The contact is asked for when the switchboard accepts us, so the call
    // goes to whoever is selected then.
    StatusProbe(std::function<QString()> account, std::function<std::optional<QString>()> selectedContact);

    // "USR 1 account auth"; nullopt when either would not be a single field.
    static std::optional<QByteArray> signInLine(const QString& account, const QByteArray& auth);

    // A switchboard request went out for this contact.
    void requested(const QString& contact);
    Actions switchboardOffered(const QString& host, quint16 port, const QByteArray& auth);
    Actions switchboardRefused();
    Actions chatConnected();
    // One complete line from the switchboard, without its CR LF.
    Actions chatLine(const QByteArray& text);
    Actions listAnswer(ListChange change, const QString& contact, int error);
    Actions chatLost();
    Actions timedOut();
    // Nothing more can be asked or answered on the notification connection.
    Actions notificationLost();

    // A request or an exchange awaits its answer; its wait is bounded.
    bool waiting() const { return m_requests > 0 || m_step != Step::Idle; }

private:
    enum class Step { Idle, Connecting, SigningOn, Calling, Listing, Recalling };

    Actions callAnswer(const QList<QByteArray>& fields);
    // Ends the exchange; takes the contact off the allow list if we put it there.
    void finish(Actions& actions);

    std::function<QString()> m_account;
    std::function<std::optional<QString>()> m_selectedContact;
    int m_requests = 0; // switchboard requests not yet answered
    QString m_probed;   // the contact of the latest request
    Step m_step = Step::Idle;
    QByteArray m_auth;                // the switchboard's ticket
    QString m_called;                 // who the exchange calls
    bool m_adding = false;            // an allow-list add for m_called is unanswered
    bool m_added = false;             // m_called is on the allow list because of us
    QList<QString> m_removeWhenAdded; // adds of exchanges that ended before their answer
};
