#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <variant>
#include <vector>

// The notification connection's reply table, free of sockets so it can be
// driven line by line. It holds TrID and answers each event with the actions
// the connection has to carry out, in order.
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
    enum class Failure {
        BadAccount,        // the account cannot go on the wire as one field
        SignInRefused,     // an error reply to our sign-in, a wrong password mostly
        SwitchboardRefused // an error reply to a switchboard request
    };
    using Action = std::variant<Send, Reconnect, SignedIn, SwitchboardStep, Failure>;
    using Actions = std::vector<Action>;

    NotificationDispatcher(std::function<QString()> account, std::function<QString()> password);

    qint32 TrID() const { return m_TrID; }
    // The wire carries no sign, so the counter never goes below 0.
    void setTrID(qint32 value) { m_TrID = value < 0 ? 0 : value; }
    bool signedIn() const { return m_signedIn; }

    // Start session: the first command of a run carries 1.
    void start();
    Actions connected() const;
    // One complete line, without its CR LF.
    Actions line(const QByteArray& text);
    // The request of a status probe; it reuses the number of the last command.
    QByteArray switchboardRequest();

private:
    void advance();

    std::function<QString()> m_account;
    std::function<QString()> m_password;
    qint32 m_TrID = 0;
    bool m_signInPending = false;
    bool m_signedIn = false;
    int m_switchboardRequests = 0;
};
