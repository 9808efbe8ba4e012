#pragma once

#include "session/NotificationDispatcher.h"
#include "session/Protocol.h"
#include "session/SwitchboardHandler.h"

#include <QObject>
#include <QPair>
#include <QString>
#include <functional>
#include <optional>

class QTcpSocket;
class QTimer;

// What the session writes into Label1 (and Label2's suffix). The failure texts
// are short because the label is narrow; each one names what went wrong
// without claiming anything about the contact.
namespace SessionText {
inline constexpr char SignedIn[] = "MSN (Online)";
inline constexpr char Online[] = "Online";
inline constexpr char Offline[] = "Offline";
inline constexpr char StatusSuffix[] = "'s Status: ";
inline constexpr char CannotConnect[] = "Cannot connect";   // refused, unreachable or too slow
inline constexpr char ConnectionLost[] = "Connection lost"; // the service dropped us
inline constexpr char SignInRefused[] = "Sign-in refused";  // an error reply to our sign-in
inline constexpr char BadAccount[] = "Bad account";         // empty, or holds a space or line break
inline constexpr char NotConnected[] = "Not connected";     // a check with no connection open
inline constexpr char NotSignedIn[] = "Not signed in";      // a check before the sign-in completed
inline constexpr char BadContact[] = "Bad contact";         // holds a space or line break
inline constexpr char CheckRefused[] = "Check refused";     // an error reply to the switchboard request
inline constexpr char NoAnswer[] = "No answer";             // nothing came back in time
} // namespace SessionText

// The second account's own connection to the messaging service: the sign-in
// on wsConnect and the status probe on wsChat. It knows no widget; the window
// hands it three readers and listens to its signals.
class ServiceSession : public QObject {
    Q_OBJECT
public:
    struct Host {
        std::function<QString()> account;                        // read when needed
        std::function<QString()> password;                       // read when needed
        std::function<std::optional<QString>()> selectedContact; // nullopt if none
    };

    static constexpr quint16 DefaultPort = 1863;
    static constexpr int DefaultConnectTimeoutMs = 10000;
    static constexpr int DefaultSwitchboardTimeoutMs = 5000;

    explicit ServiceSession(Host host, QObject* parent = nullptr);
    ~ServiceSession() override;

    void start();
    void startProbe(const QString& contact);
    void closeConnection();

    qint32 TrID() const { return m_dispatcher.TrID(); }
    bool signedIn() const { return m_dispatcher.signedIn(); }
    QTcpSocket* wsConnect() const { return m_wsConnect; }
    QTcpSocket* wsChat() const { return m_wsChat; }

    // "127.0.0.1":1863 unless VELMORA_DISPATCH_SERVER=host[:port] says
    // otherwise; a value that does not parse leaves the default.
    static QPair<QString, quint16> dispatchServer();

    // How long a connect to the service may take, and how long a probe may
    // wait for its switchboard to connect and answer.
    void setConnectTimeout(int ms);
    void setSwitchboardTimeout(int ms);

signals:
    void label1Changed(const QString& text);
    void label2Changed(const QString& text);
    void timer1StopRequested();

private:
    void wsConnect_Connect();
    void wsConnect_DataArrival();
    void wsConnect_Error();
    void wsChat_Connect();
    void wsChat_DataArrival();
    void wsChat_Error();
    void connectTimedOut();
    void probeTimedOut();

    void openNotification(const QString& host, quint16 port);
    void dropNotification();
    void dropChat();
    // Carries out the dispatcher's actions; false once the connection they
    // came on is gone, so the rest of that arrival is not read.
    bool carryOut(const NotificationDispatcher::Actions& actions);
    void switchboardStep(const NotificationDispatcher::SwitchboardStep& step);
    void probeAnswered();
    void fail(const char* text);

    Host m_host;
    QTcpSocket* m_wsConnect;
    QTcpSocket* m_wsChat;
    QTimer* m_connectTimer;
    QTimer* m_probeTimer;
    NotificationDispatcher m_dispatcher;
    SwitchboardHandler m_switchboard;
    LineFramer m_notificationLines;
    LineFramer m_chatLines;

    bool m_notificationWanted = false; // a loss of wsConnect is news to tell
    bool m_notificationUp = false;
    bool m_chatWanted = false; // likewise for wsChat
    int m_requestsOut = 0;     // switchboard requests not yet answered
    bool m_chatActive = false; // a switchboard exchange awaits its result
    std::optional<NotificationDispatcher::SwitchboardStep> m_waitingStep;
    QString m_probedContact;
};
