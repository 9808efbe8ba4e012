#pragma once

#include "session/SessionCore.h"
#include "session/SessionText.h"

#include <QObject>
#include <QPair>
#include <QString>
#include <memory>

class QTcpSocket;
class QTimer;

// The second account's own connection to the messaging service over real
// sockets and timers: the sign-in on wsConnect and the status probe on
// wsChat. It knows no widget; the window hands it three readers and listens
// to its signals.
class ServiceSession : public QObject, private SessionCore::Io {
    Q_OBJECT
public:
    using Host = SessionCore::Host;

    static constexpr quint16 DefaultPort = 1863;
    static constexpr int DefaultConnectTimeoutMs = 10000;
    static constexpr int DefaultSignInTimeoutMs = 30000;
    static constexpr int DefaultSwitchboardTimeoutMs = 5000;

    explicit ServiceSession(const Host& host, QObject* parent = nullptr);
    ~ServiceSession() override;

    void start();
    void startProbe(const QString& contact);
    void closeConnection();

    qint32 TrID() const { return m_core.TrID(); }
    bool signedIn() const { return m_core.signedIn(); }
    QTcpSocket* wsConnect() const { return m_wsConnect; }
    QTcpSocket* wsChat() const { return m_wsChat; }

    // "127.0.0.1":1863 unless VELMORA_DISPATCH_SERVER=host[:port] says
    // otherwise; a value that does not parse leaves the default.
    static QPair<QString, quint16> dispatchServer();
    // Replaces where dispatchServer() reads its host[:port] text (the
    // program weighs its command line and settings in); empty restores
    // VELMORA_DISPATCH_SERVER.
    static void setDispatchServerSetting(std::function<QString()> setting);

    // How long a connect to the service may take, how long the sign-in may
    // take once connecting, and how long a probe may wait for its answer.
    void setConnectTimeout(int ms);
    void setSignInTimeout(int ms);
    void setSwitchboardTimeout(int ms);

signals:
    void label1Changed(const QString& text);
    void label2Changed(const QString& text);
    void timer1StopRequested();

private:
    QTcpSocket* socket(SessionCore::Link link) const;
    QTimer* timer(SessionCore::Timer which) const;

    // SessionCore::Io
    void connectTo(SessionCore::Link link, const QString& host, quint16 port) override;
    qint64 write(SessionCore::Link link, const QByteArray& bytes) override;
    void finish(SessionCore::Link link) override;
    void abort(SessionCore::Link link) override;
    void startTimer(SessionCore::Timer which) override;
    void stopTimer(SessionCore::Timer which) override;
    void showStatus(const QString& text) override;
    void showProbed(const QString& text) override;
    void stopTimer1() override;

    QTcpSocket* m_wsConnect;
    QTcpSocket* m_wsChat;
    QTimer* m_connectTimer;
    QTimer* m_signInTimer;
    QTimer* m_probeTimer;
    SessionCore m_core;
};
