#include "session/SessionCore.h"

#include "session/SessionText.h"

SessionCore::SessionCore(const Host& host, Io& io)
    : m_io(io), m_dispatcher(host.account, host.password), m_probe(host.account, host.selectedContact) {}

void SessionCore::fail(const char* text) {
    // Timer1 would paint the client's status over the news.
    m_io.stopTimer1();
    m_io.showStatus(QString::fromLatin1(text));
}

void SessionCore::start(const QString& host, quint16 port) {
    m_dispatcher.start();
    openNotification(host, port);
}

void SessionCore::closeConnection() {
    dropNotification(true);
}

void SessionCore::openNotification(const QString& host, quint16 port) {
    dropNotification();
    m_notificationWanted = true;
    m_io.startTimer(Timer::Connect);
    m_io.startTimer(Timer::SignIn);
    m_io.connectTo(Link::Notification, host, port);
}

void SessionCore::dropNotification(bool gracefully) {
    m_notificationWanted = false;
    m_notificationUp = false;
    m_io.stopTimer(Timer::Connect);
    m_io.stopTimer(Timer::SignIn);
    m_notificationLines.clear();
    m_dispatcher.connectionLost();
    if (gracefully)
        m_io.finish(Link::Notification);
    else
        m_io.abort(Link::Notification);
    carryOut(m_probe.notificationLost());
}

void SessionCore::dropChat() {
    m_chatWanted = false;
    m_chatLines.clear();
    m_io.abort(Link::Chat);
}

bool SessionCore::send(Link link, const QByteArray& line) {
    if (m_io.write(link, line) <= MaxUnsentBytes)
        return true;
    if (link == Link::Notification) {
        dropNotification();
    } else {
        dropChat();
        carryOut(m_probe.chatLost());
    }
    fail(SessionText::ConnectionLost);
    return false;
}

void SessionCore::connected(Link link) {
    if (link == Link::Notification) {
        if (!m_notificationWanted)
            return;
        m_io.stopTimer(Timer::Connect);
        m_notificationUp = true;
        carryOut(m_dispatcher.connected());
    } else if (m_chatWanted) {
        carryOut(m_probe.chatConnected());
    }
}

void SessionCore::arrived(Link link, const QByteArray& data) {
    if (link == Link::Notification) {
        if (!m_notificationWanted)
            return;
        m_notificationLines.append(data);
        while (const std::optional<QByteArray> line = m_notificationLines.takeLine()) {
            if (const auto body = payloadLength(splitFields(*line)))
                m_notificationLines.skipPayload(*body);
            if (!carryOut(m_dispatcher.line(*line)))
                return;
        }
    } else {
        if (!m_chatWanted)
            return;
        m_chatLines.append(data);
        while (const std::optional<QByteArray> line = m_chatLines.takeLine()) {
            if (!carryOut(m_probe.chatLine(*line)) || !m_chatWanted)
                return;
        }
    }
}

void SessionCore::lost(Link link) {
    if (link == Link::Notification) {
        if (!m_notificationWanted)
            return;
        const bool wasUp = m_notificationUp;
        dropNotification();
        fail(wasUp ? SessionText::ConnectionLost : SessionText::CannotConnect);
    } else {
        if (!m_chatWanted)
            return;
        dropChat();
        carryOut(m_probe.chatLost());
    }
}

void SessionCore::timedOut(Timer timer) {
    switch (timer) {
    case Timer::Connect:
        if (!m_notificationWanted || m_notificationUp)
            return;
        dropNotification();
        fail(SessionText::CannotConnect);
        return;
    case Timer::SignIn:
        if (!m_notificationWanted || m_dispatcher.signedIn())
            return;
        fail(m_notificationUp ? SessionText::SignInStalled : SessionText::CannotConnect);
        dropNotification();
        return;
    case Timer::Probe:
        carryOut(m_probe.timedOut());
        return;
    }
}

void SessionCore::startProbe(const QString& contact) {
    m_io.stopTimer1();
    m_io.showProbed(contact + QLatin1String(SessionText::StatusSuffix));
    // The answer shown so far belongs to the contact checked before.
    m_io.showStatus(QString());
    if (!isWireField(contact.toUtf8())) {
        fail(SessionText::BadContact);
        return;
    }
    if (!m_notificationWanted || !m_notificationUp) {
        fail(SessionText::NotConnected);
        return;
    }
    // A request in the middle of the handshake would be answered with an
    // error that reads like a refused password.
    if (!m_dispatcher.signedIn()) {
        fail(SessionText::NotSignedIn);
        return;
    }
    m_probe.requested(contact);
    m_io.startTimer(Timer::Probe);
    send(Link::Notification, m_dispatcher.switchboardRequest());
}

void SessionCore::changeList(ListChange change, const QString& contact) {
    const auto line = m_notificationUp && m_dispatcher.signedIn()
                          ? m_dispatcher.allowListRequest(change, contact)
                          : std::nullopt;
    if (!line) {
        carryOut(m_probe.listAnswer(change, contact, StatusProbe::NotAsked));
        return;
    }
    send(Link::Notification, *line);
}

bool SessionCore::carryOut(const NotificationDispatcher::Actions& actions) {
    using D = NotificationDispatcher;
    for (const D::Action& action : actions) {
        if (const auto* send = std::get_if<D::Send>(&action)) {
            if (!this->send(Link::Notification, send->line))
                return false;
        } else if (const auto* to = std::get_if<D::Reconnect>(&action)) {
            openNotification(to->host, to->port);
            return false;
        } else if (std::holds_alternative<D::SignedIn>(action)) {
            m_io.stopTimer(Timer::SignIn);
            m_io.stopTimer1();
            m_io.showStatus(QString::fromLatin1(SessionText::SignedIn));
        } else if (const auto* step = std::get_if<D::SwitchboardStep>(&action)) {
            const StatusProbe::Actions offered =
                m_probe.switchboardOffered(step->host, step->port, step->auth);
            if (!offered.empty())
                m_io.startTimer(Timer::Probe);
            carryOut(offered);
        } else if (const auto* answer = std::get_if<D::ListAnswer>(&action)) {
            carryOut(m_probe.listAnswer(answer->change, answer->contact, answer->error));
        } else if (const auto* failure = std::get_if<D::Failure>(&action)) {
            switch (*failure) {
            case D::Failure::SwitchboardRefused:
                carryOut(m_probe.switchboardRefused());
                break;
            case D::Failure::BadAccount:
            case D::Failure::SignInRefused:
            case D::Failure::BadRedirect:
            case D::Failure::TooManyRedirects:
                // Leaving first keeps the service's hang-up that follows a
                // refusal from being told as a lost connection.
                dropNotification();
                fail(*failure == D::Failure::BadAccount      ? SessionText::BadAccount
                     : *failure == D::Failure::SignInRefused ? SessionText::SignInRefused
                                                             : SessionText::CannotConnect);
                return false;
            }
        }
        if (!m_notificationWanted)
            return false;
    }
    return true;
}

bool SessionCore::carryOut(const StatusProbe::Actions& actions) {
    using P = StatusProbe;
    bool chatGoesOn = true;
    for (const P::Action& action : actions) {
        if (const auto* send = std::get_if<P::SendChat>(&action)) {
            if (m_chatWanted && !this->send(Link::Chat, send->line))
                chatGoesOn = false;
        } else if (const auto* to = std::get_if<P::ConnectChat>(&action)) {
            dropChat();
            m_chatWanted = true;
            m_io.connectTo(Link::Chat, to->host, to->port);
        } else if (std::holds_alternative<P::CloseChat>(action)) {
            // Not abort: the sign-off line has to leave first.
            m_chatWanted = false;
            m_chatLines.clear();
            m_io.finish(Link::Chat);
            chatGoesOn = false;
        } else if (std::holds_alternative<P::DropChat>(action)) {
            dropChat();
            chatGoesOn = false;
        } else if (const auto* list = std::get_if<P::ChangeList>(&action)) {
            changeList(list->change, list->contact);
        } else if (const auto* show = std::get_if<P::Show>(&action)) {
            fail(show->text);
        }
    }
    if (!m_probe.waiting())
        m_io.stopTimer(Timer::Probe);
    return chatGoesOn;
}
