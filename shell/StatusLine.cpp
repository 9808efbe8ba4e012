// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/StatusLine.h"

#include "shell/SessionText.h"

#include <QLabel>

StatusLine::StatusLine(QLabel* label1, QLabel* label2, QObject* parent)
    : QObject(parent), m_label1(label1), m_label2(label2), m_label1Drawn(label1->geometry()) {
    // They show a contact's address and what a server said: text, never markup.
    m_label1->setTextFormat(Qt::PlainText);
    m_label2->setTextFormat(Qt::PlainText);
}

// A screen reader reads the two labels as one line: whose status, then what it is.
void StatusLine::setLabel1(const QString& text) {
    // The label is drawn for the short texts; a longer one widens it about its middle, within the
    // window, rather than lose its ends.
    QRect place = m_label1Drawn;
    const int wanted = m_label1->fontMetrics().horizontalAdvance(text) + 2 * m_label1->margin() + 2;
    if (wanted > place.width()) {
        place.setLeft(m_label1Drawn.center().x() - wanted / 2);
        place.setWidth(wanted);
        if (const QWidget* room = m_label1->parentWidget()) {
            place.moveRight(std::min(place.right(), room->width() - 1));
            place.moveLeft(std::max(place.left(), 0));
        }
    }
    if (m_label1->geometry() != place)
        m_label1->setGeometry(place);
    m_label1->setText(text);
    m_label1->setAccessibleName(m_label2->text() + m_label1->text());
}

void StatusLine::setLabel2(const QString& text) {
    m_label2->setText(text);
    m_label1->setAccessibleName(m_label2->text() + m_label1->text());
}

void StatusLine::setHeading(const QString& text) {
    setLabel2(text);
}

void StatusLine::stopFollowingClient() {
    if (std::exchange(m_followsClient, false))
        emit stoppedFollowingClient();
}

void StatusLine::showClient(bool offline) {
    if (!m_followsClient)
        return;
    const QString text = offline ? QStringLiteral("MSN  (Offline)") : QStringLiteral("Signing You In...");
    if (m_label1->text() != text)
        setLabel1(text);
}

void StatusLine::showSession(const SessionStatus& status) {
    const QString text = sessionText(status);
    if (text.isNull())
        return;
    stopFollowingClient();
    setLabel1(text);
}

void StatusLine::checkStarted(const QString& contact) {
    stopFollowingClient();
    setLabel2(contact + QLatin1String(SessionText::StatusSuffix));
    // The answer shown so far belongs to the contact checked before.
    setLabel1(QString());
}

void StatusLine::showOutcome(Outcome outcome) {
    setLabel1(outcomeText(outcome));
}

QString StatusLine::sessionText(const SessionStatus& status) {
    switch (status.state) {
    case SessionState::Stopped:
        return {};
    case SessionState::Connecting:
        return status.again ? QString::fromLatin1(SessionText::Reconnecting) : QString();
    case SessionState::SignedIn:
        return QString::fromLatin1(SessionText::SignedIn);
    case SessionState::WaitingToRetry:
    case SessionState::GaveUp:
        break;
    }
    switch (status.problem) {
    case SessionProblem::None:
        return {};
    case SessionProblem::CannotConnect:
        return QString::fromLatin1(SessionText::CannotConnect);
    case SessionProblem::ConnectionLost:
        return QString::fromLatin1(SessionText::ConnectionLost);
    case SessionProblem::SignInStalled:
        return QString::fromLatin1(SessionText::SignInStalled);
    case SessionProblem::SignInRefused:
        return QString::fromLatin1(SessionText::SignInRefused);
    case SessionProblem::BadAccount:
        return QString::fromLatin1(SessionText::BadAccount);
    case SessionProblem::SignedInElsewhere:
        return QString::fromLatin1(SessionText::SignedInElsewhere);
    case SessionProblem::NoServer:
        return QString::fromLatin1(SessionText::NoServerSet);
    }
    return {};
}

QString StatusLine::outcomeText(Outcome outcome) {
    switch (outcome) {
    case Outcome::Online:
        return QString::fromLatin1(SessionText::Online);
    case Outcome::Offline:
        return QString::fromLatin1(SessionText::Offline);
    case Outcome::NoSuchUser:
        return QString::fromLatin1(SessionText::NoSuchUser);
    case Outcome::Refused:
        return QString::fromLatin1(SessionText::CheckRefused);
    case Outcome::NoAnswer:
        return QString::fromLatin1(SessionText::NoAnswer);
    case Outcome::BadContact:
        return QString::fromLatin1(SessionText::BadContact);
    case Outcome::NotConnected:
        return QString::fromLatin1(SessionText::NotConnected);
    case Outcome::NotSignedIn:
        return QString::fromLatin1(SessionText::NotSignedIn);
    case Outcome::Interrupted:
        return QString::fromLatin1(SessionText::ConnectionLost);
    case Outcome::Busy:
        return QString::fromLatin1(SessionText::ServerBusy);
    case Outcome::Uncertain:
        return QString::fromLatin1(SessionText::StatusUnknown);
    case Outcome::Cancelled:
        break;
    }
    return {};
}
