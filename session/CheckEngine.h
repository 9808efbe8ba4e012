// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/CheckOutcome.h"

#include <QObject>
#include <QString>

// What carries the checks out: the second account's session with the service. The check service
// speaks to it through this, so it knows no socket; the program gives it the session over real
// sockets, a test may give it something else.
class CheckEngine : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The sign-in waits for the account when it gets there first.
    virtual void setCredentials(const QString& account, const QString& password) = 0;
    // Signs in, and again by itself whenever the connection is lost, until stop().
    virtual void start() = 0;
    virtual void stop() = 0;
    // Check number id (> 0, unused by any check under way) of the contact; it ends with exactly
    // one checkEnded, at once when it cannot even be asked.
    virtual void check(int id, const QString& contact) = 0;
    virtual void cancel(int id) = 0;
    virtual SessionStatus status() const = 0;

signals:
    void statusChanged(const SessionStatus& status);
    void checkEnded(int id, const QString& contact, Outcome outcome);
};

Q_DECLARE_METATYPE(SessionStatus)
Q_DECLARE_METATYPE(Outcome)
