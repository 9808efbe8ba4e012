#include "session/ServiceSession.h"

#include <QTcpSocket>
#include <QTimer>

using Link = SessionCore::Link;
using Timer = SessionCore::Timer;

ServiceSession::ServiceSession(const Host& host, QObject* parent)
    : QObject(parent), m_wsConnect(new QTcpSocket(this)), m_wsChat(new QTcpSocket(this)),
      m_connectTimer(new QTimer(this)), m_signInTimer(new QTimer(this)), m_probeTimer(new QTimer(this)),
      m_core(host, *this) {
    m_wsConnect->setObjectName(QStringLiteral("wsConnect"));
    m_wsChat->setObjectName(QStringLiteral("wsChat"));
    for (QTimer* t : {m_connectTimer, m_signInTimer, m_probeTimer})
        t->setSingleShot(true);
    m_connectTimer->setInterval(DefaultConnectTimeoutMs);
    m_signInTimer->setInterval(DefaultSignInTimeoutMs);
    m_probeTimer->setInterval(DefaultSwitchboardTimeoutMs);

    for (const Link link : {Link::Notification, Link::Chat}) {
        QTcpSocket* s = socket(link);
        // Read as much at a time as one arrival is worth handling, not all a
        // flooding server can push.
        s->setReadBufferSize(64 * 1024);
        connect(s, &QTcpSocket::connected, this, [this, link] { m_core.connected(link); });
        connect(s, &QTcpSocket::readyRead, this, [this, link, s] { m_core.arrived(link, s->readAll()); });
        connect(s, &QTcpSocket::errorOccurred, this, [this, link] { m_core.lost(link); });
    }
    for (const Timer which : {Timer::Connect, Timer::SignIn, Timer::Probe})
        connect(timer(which), &QTimer::timeout, this, [this, which] { m_core.timedOut(which); });
}

ServiceSession::~ServiceSession() {
    // The sockets die after us and may still signal while closing.
    m_wsConnect->disconnect(this);
    m_wsChat->disconnect(this);
}

namespace {
std::function<QString()>& dispatchServerSetting() {
    static std::function<QString()> setting;
    return setting;
}
} // namespace

void ServiceSession::setDispatchServerSetting(std::function<QString()> setting) {
    dispatchServerSetting() = std::move(setting);
}

QPair<QString, quint16> ServiceSession::dispatchServer() {
    const auto& source = dispatchServerSetting();
    const QString setting = (source ? source() : qEnvironmentVariable("VELMORA_DISPATCH_SERVER")).trimmed();
    if (const auto server = parseHostPort(setting, DefaultPort))
        return *server;
    return {QStringLiteral("127.0.0.1"), DefaultPort};
}

void ServiceSession::setConnectTimeout(int ms) {
    m_connectTimer->setInterval(ms);
}
void ServiceSession::setSignInTimeout(int ms) {
    m_signInTimer->setInterval(ms);
}
void ServiceSession::setSwitchboardTimeout(int ms) {
    m_probeTimer->setInterval(ms);
}

void ServiceSession::start() {
    const auto [host, port] = dispatchServer();
    m_core.start(host, port);
}

void ServiceSession::startProbe(const QString& contact) {
    m_core.startProbe(contact);
}
void ServiceSession::closeConnection() {
    m_core.closeConnection();
}

QTcpSocket* ServiceSession::socket(Link link) const {
    return link == Link::Notification ? m_wsConnect : m_wsChat;
}

QTimer* ServiceSession::timer(Timer which) const {
    switch (which) {
    case Timer::Connect:
        return m_connectTimer;
    case Timer::SignIn:
        return m_signInTimer;
    case Timer::Probe:
        return m_probeTimer;
    }
    return m_probeTimer;
}

void ServiceSession::connectTo(Link link, const QString& host, quint16 port) {
    socket(link)->connectToHost(host, port);
}

qint64 ServiceSession::write(Link link, const QByteArray& bytes) {
    QTcpSocket* s = socket(link);
    s->write(bytes);
    // Hand what the system takes to it now, so only what a peer that stops
    // reading leaves behind counts, not a burst of answers to one read.
    s->flush();
    return s->bytesToWrite();
}

void ServiceSession::finish(Link link) {
    socket(link)->disconnectFromHost();
}
void ServiceSession::abort(Link link) {
    socket(link)->abort();
}
void ServiceSession::startTimer(Timer which) {
    timer(which)->start();
}
void ServiceSession::stopTimer(Timer which) {
    timer(which)->stop();
}
void ServiceSession::showStatus(const QString& text) {
    emit label1Changed(text);
}
void ServiceSession::showProbed(const QString& text) {
    emit label2Changed(text);
}
void ServiceSession::stopTimer1() {
    emit timer1StopRequested();
}
