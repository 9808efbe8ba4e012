// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <deque>
#include <optional>
#include <variant>
#include <vector>

enum class ListChange { Add, Remove };

// The notification connection's reply table, free of sockets so it can be driven line by line.
// It holds TrID, gives every request a number of its own and keeps a ledger of the requests not
// yet answered, so each answer, and each error reply, goes to the request that carries its
// number; an answer nobody asked for is left alone. It answers each event with the actions the
// connection has to carry out, in order.
class NotificationDispatcher {
public:
    // The lists are the server's to fill. Real accounts hold a few thousand entries at most (the
    // allow list 1,500); a server that sends more, or an address longer than any address, is not
    // one to keep in memory.
    static constexpr int MaxListEntries = 20000;
    static constexpr int MaxAddressBytes = 320;

    struct Send {
        QByteArray line; // complete, with its CR LF
    };
    // Close the connection and open it anew to the notification server.
    struct Reconnect {
        QString host;
        quint16 port;
    };
    // The service took the account and password.
    struct SignedIn {};
    // The list sync is through: the account's allow list as it gave it, addresses in lower case
    // mapped to the address as the service wrote it. From here on checks may go ahead.
    struct AllowListKnown {
        QHash<QString, QString> contacts;
    };
    struct SwitchboardOffered {
        int check;
        QString host;
        quint16 port;
        QByteArray ticket;
    };
    struct SwitchboardRefused {
        int check;
        bool busy = false; // the service is busy or we asked too fast
    };
    // The answer to an allow-list change: error is 0 when it was made. check is 0 when the
    // check that asked has ended, or when none asked.
    struct ListAnswer {
        ListChange change;
        QString contact;
        int check;
        int error;
    };
    enum class Failure {
        BadAccount,       // the account cannot go on the wire as one field
        SignInRefused,    // an error reply to our sign-in, a wrong password mostly
        BadRedirect,      // sent on to a server without a usable address
        TooManyRedirects, // sent on and on: a server pointing at itself
        SignedInElsewhere, // the account signed in somewhere else: "OUT OTH"
        SentAway,          // any other "OUT": the service ends the session
        ListsTooLong,      // more list entries than any real account holds
    };
    // Where a contact stands on the account's lists, which decides what a "not online" answer to
    // a call is worth: a server may hold a stale status in an entry it does not keep up to date.
    enum class Standing {
        Forward,   // on the forward list: its status is kept up to date
        OtherList, // on another of the account's lists only
        Unlisted,  // on none of them
    };
    using Action = std::variant<Send, Reconnect, SignedIn, AllowListKnown, SwitchboardOffered,
                                SwitchboardRefused, ListAnswer, Failure>;
    using Actions = std::vector<Action>;

    // A real service redirects once at most; a few more are tolerated.
    static constexpr int MaxRedirects = 3;

    qint32 TrID() const { return m_TrID; }
    // The wire carries no sign, so the counter never goes below 0.
    void setTrID(qint32 value) { m_TrID = value < 0 ? 0 : value; }
    bool signedIn() const { return m_phase >= Phase::SettingOnline; }
    // The allow list is known: the lists as they were before any check of this sign-in.
    bool ready() const { return m_phase == Phase::Ready; }
    // The account of the sign-in under way or done.
    const QString& account() const { return m_account; }

    // The account to sign in with. Until it is given the sign-in waits after the greeting.
    Actions setCredentials(const QString& account, const QString& password);
    bool hasCredentials() const { return m_hasCredentials; }

    // A new connection to the dispatch server: its first command carries the next number.
    void start();
    Actions connected();
    // The connection is gone: nothing sent on it will be answered.
    void connectionLost();
    // One complete line, without its CR LF.
    Actions line(const QByteArray& text);

    // The request for a switchboard of the check's own.
    QByteArray switchboardRequest(int check);
    // Puts a contact on the allow list or takes it off; nullopt when the address cannot go on
    // the wire.
    std::optional<QByteArray> allowListRequest(ListChange change, const QString& contact, int check);
    // The check has ended: an answer to its switchboard request is no longer wanted, and an answer
    // to a list change it asked for belongs to nobody.
    void release(int check);
    // Whether an allow-list add for the contact awaits its answer.
    bool addPending(const QString& contact) const;
    // Known from the list sync on, and kept up with every list change the service reports.
    Standing standing(const QString& contact) const;

private:
    enum class Phase { Closed, Greeting, AwaitingAccount, Authenticating, SettingOnline, Syncing, Ready };
    enum class Request { SignIn, Switchboard, AllowAdd, AllowRemove };
    struct Pending {
        qint32 trId;
        Request kind;
        int check;
        QString contact;
    };

    qint32 advance();
    void expect(qint32 trId, Request kind, int check = 0, const QString& contact = {});
    Actions signIn();
    Actions refused(const QList<QByteArray>& fields);
    Actions signInAnswer(const QList<QByteArray>& fields);
    Actions redirect(const QList<QByteArray>& fields);
    Actions switchboardAnswer(const QList<QByteArray>& fields);
    Actions listAnswer(Request kind, const QList<QByteArray>& fields);
    Actions listLine(const QList<QByteArray>& fields);
    Actions allowListKnown();
    bool noteListChange(const QList<QByteArray>& fields, bool added);
    bool addToList(const QString& address, int list);
    Actions tooLong();

    qint32 m_TrID = 0;
    Phase m_phase = Phase::Closed;
    int m_redirects = 0;
    QString m_account;
    QString m_password;
    bool m_hasCredentials = false;
    qint32 m_signInTrId = -1;
    qint32 m_setOnlineTrId = -1;
    qint32 m_syncTrId = -1;
    struct Entry {
        QString address; // as the service wrote it
        int lists = 0;   // the lists it is on, as bits
    };
    QHash<QString, Entry> m_lists; // by address in lower case
    int m_listsSynced = 0;         // the lists the sync has given in full
    std::deque<Pending> m_pending; // oldest first
};
