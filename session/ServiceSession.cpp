#include "session/ServiceSession.h"

#include <QTcpSocket>
#include <QTimer>

ServiceSession::ServiceSession(Host host, QObject* parent)
    : QObject(parent), m_host(std::move(host)), m_wsConnect(new QTcpSocket(this)),
      m_wsChat(new QTcpSocket(this)), m_connectTimer(new QTimer(this)), m_probeTimer(new QTimer(this)),
      m_dispatcher(m_host.account, m_host.password), m_switchboard([this]() -> std::optional<QString> {
          // The window normally has a row selected; if it lost it meanwhile,
          // call the contact the probe was started for.
          std::optional<QString> selected = m_host.selectedContact ? m_host.selectedContact() : std::nullopt;
          if (selected)
              return selected;
          if (!m_probedContact.isEmpty())
              return m_probedContact;
          return std::nullopt;
      }) {
    m_wsConnect->setObjectName(QStringLiteral("wsConnect"));
    m_wsChat->setObjectName(QStringLiteral("wsChat"));
    m_connectTimer->setSingleShot(true);
    m_connectTimer->setInterval(DefaultConnectTimeoutMs);
    m_probeTimer->setSingleShot(true);
    m_probeTimer->setInterval(DefaultSwitchboardTimeoutMs);

    connect(m_wsConnect, &QTcpSocket::connected, this, &ServiceSession::wsConnect_Connect);
    connect(m_wsConnect, &QTcpSocket::readyRead, this, &ServiceSession::wsConnect_DataArrival);
    connect(m_wsConnect, &QTcpSocket::errorOccurred, this, &ServiceSession::wsConnect_Error);
    connect(m_wsChat, &QTcpSocket::connected, this, &ServiceSession::wsChat_Connect);
    connect(m_wsChat, &QTcpSocket::readyRead, this, &ServiceSession::wsChat_DataArrival);
    connect(m_wsChat, &QTcpSocket::errorOccurred, this, &ServiceSession::wsChat_Error);
    connect(m_connectTimer, &QTimer::timeout, this, &ServiceSession::connectTimedOut);
    connect(m_probeTimer, &QTimer::timeout, this, &ServiceSession::probeTimedOut);
}

ServiceSession::~ServiceSession() {
    // The sockets die after us and may still signal while closing.
    m_wsConnect->disconnect(this);
    m_wsChat->disconnect(this);
}

QPair<QString, quint16> ServiceSession::dispatchServer() {
    const QString setting = qEnvironmentVariable("VELMORA_DISPATCH_SERVER").trimmed();
    if (const auto server = parseHostPort(setting, DefaultPort))
        return *server;
    return {QStringLiteral("127.0.0.1"), DefaultPort};
}

void ServiceSession::setConnectTimeout(int ms) {
    m_connectTimer->setInterval(ms);
}

void ServiceSession::setSwitchboardTimeout(int ms) {
    m_probeTimer->setInterval(ms);
}

void ServiceSession::fail(const char* text) {
    // Timer1 would paint the client's status over the news.
    emit timer1StopRequested();
    emit label1Changed(QString::fromLatin1(text));
}

void ServiceSession::start() {
    m_dispatcher.start();
    const auto [host, port] = dispatchServer();
    openNotification(host, port);
}

void ServiceSession::closeConnection() {
    m_notificationWanted = false;
    m_notificationUp = false;
    m_connectTimer->stop();
    m_requestsOut = 0;
    if (!m_chatActive)
        m_probeTimer->stop();
    m_wsConnect->close();
}

void ServiceSession::openNotification(const QString& host, quint16 port) {
    dropNotification();
    m_notificationWanted = true;
    m_wsConnect->connectToHost(host, port);
    m_connectTimer->start();
}

void ServiceSession::dropNotification() {
    m_notificationWanted = false;
    m_notificationUp = false;
    m_connectTimer->stop();
    m_notificationLines.clear();
    m_wsConnect->abort();
}

void ServiceSession::dropChat() {
    m_chatWanted = false;
    m_waitingStep.reset();
    m_chatLines.clear();
    m_wsChat->abort();
}

void ServiceSession::wsConnect_Connect() {
    m_connectTimer->stop();
    m_notificationUp = true;
    carryOut(m_dispatcher.connected());
}

void ServiceSession::wsConnect_DataArrival() {
    m_notificationLines.append(m_wsConnect->readAll());
    while (const std::optional<QByteArray> line = m_notificationLines.takeLine()) {
        if (const auto body = payloadLength(splitFields(*line)))
            m_notificationLines.skipPayload(*body);
        if (!carryOut(m_dispatcher.line(*line)))
            return;
    }
}

void ServiceSession::wsConnect_Error() {
    if (!m_notificationWanted)
        return;
    const bool wasUp = m_notificationUp;
    dropNotification();
    m_requestsOut = 0;
    if (!m_chatActive)
        m_probeTimer->stop();
    fail(wasUp ? SessionText::ConnectionLost : SessionText::CannotConnect);
}

void ServiceSession::connectTimedOut() {
    if (!m_notificationWanted || m_notificationUp)
        return;
    dropNotification();
    fail(SessionText::CannotConnect);
}

bool ServiceSession::carryOut(const NotificationDispatcher::Actions& actions) {
    using D = NotificationDispatcher;
    for (const D::Action& action : actions) {
        if (const auto* send = std::get_if<D::Send>(&action)) {
            m_wsConnect->write(send->line);
        } else if (const auto* to = std::get_if<D::Reconnect>(&action)) {
            openNotification(to->host, to->port);
            return false;
        } else if (std::holds_alternative<D::SignedIn>(action)) {
            emit timer1StopRequested();
            emit label1Changed(QString::fromLatin1(SessionText::SignedIn));
        } else if (const auto* step = std::get_if<D::SwitchboardStep>(&action)) {
            switchboardStep(*step);
        } else if (const auto* failure = std::get_if<D::Failure>(&action)) {
            switch (*failure) {
            case D::Failure::BadAccount:
                dropNotification();
                fail(SessionText::BadAccount);
                return false;
            case D::Failure::SignInRefused:
                // The service hangs up after this anyway; leaving first keeps
                // its hang-up from being reported as a lost connection.
                dropNotification();
                fail(SessionText::SignInRefused);
                return false;
            case D::Failure::SwitchboardRefused:
                if (m_requestsOut > 0)
                    --m_requestsOut;
                if (m_requestsOut == 0 && !m_chatActive)
                    m_probeTimer->stop();
                fail(SessionText::CheckRefused);
                break;
            }
        }
    }
    return true;
}

void ServiceSession::startProbe(const QString& contact) {
    emit timer1StopRequested();
    emit label2Changed(contact + QLatin1String(SessionText::StatusSuffix));
    if (!isWireField(contact.toUtf8())) {
        fail(SessionText::BadContact);
        return;
    }
    if (!m_notificationWanted || m_wsConnect->state() != QAbstractSocket::ConnectedState) {
        fail(SessionText::NotConnected);
        return;
    }
    // A request in the middle of the handshake would be answered with an
    // error that reads like a refused password.
    if (!m_dispatcher.signedIn()) {
        fail(SessionText::NotSignedIn);
        return;
    }
    m_probedContact = contact;
    ++m_requestsOut;
    m_probeTimer->start();
    m_wsConnect->write(m_dispatcher.switchboardRequest());
}

void ServiceSession::switchboardStep(const NotificationDispatcher::SwitchboardStep& step) {
    if (m_requestsOut > 0)
        --m_requestsOut;
    // Whatever the previous switchboard was doing, this answer replaces it.
    dropChat();
    m_waitingStep = step;
    m_chatActive = true;
    m_chatWanted = true;
    m_probeTimer->start();
    m_wsChat->connectToHost(step.host, step.port);
}

void ServiceSession::wsChat_Connect() {
    if (!m_waitingStep)
        return;
    const NotificationDispatcher::SwitchboardStep step = *m_waitingStep;
    m_waitingStep.reset();
    const auto line =
        SwitchboardHandler::signInLine(m_host.account ? m_host.account() : QString(), step.auth);
    if (!line) {
        dropChat();
        probeAnswered();
        fail(SessionText::BadAccount);
        return;
    }
    m_wsChat->write(*line);
}

void ServiceSession::probeAnswered() {
    m_chatActive = false;
    if (m_requestsOut == 0)
        m_probeTimer->stop();
}

void ServiceSession::wsChat_DataArrival() {
    using S = SwitchboardHandler;
    m_chatLines.append(m_wsChat->readAll());
    while (const std::optional<QByteArray> line = m_chatLines.takeLine()) {
        // Any answer to the call is an answer: one that is not ringing leaves
        // the status line as it is, and the wait is over.
        if (splitFields(*line).first() == "CAL")
            probeAnswered();
        for (const S::Action& action : m_switchboard.line(*line)) {
            if (const auto* send = std::get_if<S::Send>(&action)) {
                m_wsChat->write(send->line);
            } else if (const auto* result = std::get_if<S::Result>(&action)) {
                probeAnswered();
                emit label1Changed(QString::fromLatin1(*result == S::Result::Online ? SessionText::Online
                                                                                    : SessionText::Offline));
            } else if (std::holds_alternative<S::Close>(action)) {
                // Not abort: the sign-off line has to leave first.
                m_chatWanted = false;
                m_chatLines.clear();
                m_wsChat->disconnectFromHost();
                return;
            } else if (std::holds_alternative<S::BadContact>(action)) {
                dropChat();
                probeAnswered();
                fail(SessionText::BadContact);
                return;
            }
        }
    }
}

void ServiceSession::wsChat_Error() {
    if (!m_chatWanted)
        return;
    const bool waiting = m_chatActive;
    dropChat();
    if (waiting) {
        probeAnswered();
        fail(SessionText::NoAnswer);
    }
}

void ServiceSession::probeTimedOut() {
    if (m_requestsOut == 0 && !m_chatActive)
        return;
    m_requestsOut = 0;
    if (m_chatActive) {
        dropChat();
        m_chatActive = false;
    }
    fail(SessionText::NoAnswer);
}
