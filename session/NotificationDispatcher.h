#pragma once

#include <QByteArray>
#include <QString>
#include <deque>
#include <functional>
#include <optional>
#include <variant>
#include <vector>

enum class ListChange { Add, Remove };

// The notification connection's reply table, free of sockets so it can be
// driven line by line. It holds TrID and answers each event with the actions
// the connection has to carry out, in order. It also remembers which of its
// requests are unanswered, so an error reply is taken for the request that
// carries its number, and an answer nobody asked for is left alone.
class NotificationDispatcher {
public:
    struct Send {
        QByteArray line; // complete, with its CR LF
    };
    // Close the connection and open it anew to the notification server.
    struct Reconnect {
        QString host;
        quint16 port;
    };
    // The account is online: stop Timer1, show "MSN (Online)".
    struct SignedIn {};
    // The service named a switchboard for a status probe.
    struct SwitchboardStep {
        QString host;
        quint16 port;
        QByteArray auth;
    };
    // The answer to an allow-list change; error is 0 when it was made.
    struct ListAnswer {
        ListChange change;
        QString contact;
        int error;
    };
    enum class Failure {
        BadAccount,         // the account cannot go on the wire as one field
        SignInRefused,      // an error reply to our sign-in, a wrong password mostly
        SwitchboardRefused, // an error reply to a switchboard request, or an unusable answer
        BadRedirect,        // sent on to a server without a usable address
        TooManyRedirects    // sent on and on: a server pointing at itself
    };
    using Action = std::variant<Send, Reconnect, SignedIn, SwitchboardStep, ListAnswer, Failure>;
    using Actions = std::vector<Action>;

    // A real service redirects once at most; a few more are tolerated.
    static constexpr int MaxRedirects = 3;

    NotificationDispatcher(std::function<QString()> account, std::function<QString()> password);

    qint32 TrID() const { return m_TrID; }
    // The wire carries no sign, so the counter never goes below 0.
    void setTrID(qint32 value) { m_TrID = value < 0 ? 0 : value; }
    bool signedIn() const { return m_phase == Phase::SignedIn; }

    // Start session: the first command of a run carries 1.
    void start();
    Actions connected();
    // The connection is gone: nothing sent on it will be answered.
    void connectionLost();
    // One complete line, without its CR LF.
    Actions line(const QByteArray& text);
    // The request of a status probe; it reuses the number of the last command.
    QByteArray switchboardRequest();
    // Puts a contact on the allow list or takes it off, as a new request;
    // nullopt when the address cannot go on the wire.
    std::optional<QByteArray> allowListRequest(ListChange change, const QString& contact);

private:
    enum class Phase { Closed, Greeting, Authenticating, SignedIn };
    enum class Request { SignIn, Switchboard, AllowAdd, AllowRemove };
    struct Pending {
        qint32 trId;
        Request kind;
        QString contact;
    };

    void advance();
    qint32 next() const;
    void expect(qint32 trId, Request kind, const QString& contact = {});
    Actions refused(const QList<QByteArray>& fields);
    Actions redirect(const QList<QByteArray>& fields);
    Actions switchboardAnswer(const QList<QByteArray>& fields);
    Actions listAnswer(Request kind, const QList<QByteArray>& fields);

    std::function<QString()> m_account;
    std::function<QString()> m_password;
    qint32 m_TrID = 0;
    Phase m_phase = Phase::Closed;
    int m_redirects = 0;
    std::deque<Pending> m_pending; // oldest first: the service answers in order
};
