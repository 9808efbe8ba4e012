// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/CheckOutcome.h"

#include <QObject>
#include <QRect>
#include <QString>

class QLabel;

// The status line: Label2 names whose status is shown, Label1 says what it is. The one writer of
// both. Until the session or a check has something to say, Label1 follows the messenger client;
// from then on it belongs to them.
class StatusLine : public QObject {
    Q_OBJECT
public:
    StatusLine(QLabel* label1, QLabel* label2, QObject* parent = nullptr);

    void setHeading(const QString& text); // Label2 before any check
    bool followsClient() const { return m_followsClient; }
    // The client's own status, while the line still follows it.
    void showClient(bool offline);
    void showSession(const SessionStatus& status);
    // A check of the contact has started: its name, and no answer yet.
    void checkStarted(const QString& contact);
    void showOutcome(Outcome outcome);

    static QString sessionText(const SessionStatus& status); // null: nothing to say
    static QString outcomeText(Outcome outcome);

signals:
    // Nothing the client says is shown any more: its timer may rest for good.
    void stoppedFollowingClient();

private:
    void setLabel1(const QString& text);
    void setLabel2(const QString& text);
    void stopFollowingClient();

    QLabel* m_label1;
    QLabel* m_label2;
    QRect m_label1Drawn; // where the layout puts it
    bool m_followsClient = true;
};
