// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/CheckOutcome.h"
#include "session/NotificationDispatcher.h"

#include <QByteArray>
#include <QString>
#include <optional>

// One status check on a switchboard of its own, free of sockets: the sign-on there, the call,
// and, when the service rings only contacts on one of the caller's lists, a second call once the
// contact is on the allow list. Every answer is read by its transaction number: the sign-on is 1,
// the call 2 and the second call 3. Only a ringing call is "online"; the service's "not online"
// is "offline" only where the service keeps the contact's status up to date for us (see
// Standing); anything else ends the check knowing nothing.
class CheckExchange {
public:
    enum class Step {
        SigningOn,    // USR 1 sent
        Calling,      // CAL 2 sent
        AllowListing, // waiting for the allow-list add, to call again
        Recalling,    // CAL 3 sent
        Confirming,   // "not online" for an unlisted contact: is there such an account at all?
    };
    using Standing = NotificationDispatcher::Standing;

    // What the check wants done after an event.
    struct Reply {
        std::optional<QByteArray> send; // on its switchboard
        bool addToAllowList = false;    // put the contact on the allow list, then call again
        std::optional<Outcome> end;
    };

    // "USR 1 account ticket"; nullopt when either would not go on the wire as one field.
    static std::optional<QByteArray> signOnLine(const QString& account, const QByteArray& ticket);

    CheckExchange(const QString& contact, const QByteArray& signOn);

    const QString& contact() const { return m_contact; }
    Step step() const { return m_step; }
    // The first line, once the switchboard has accepted the connection.
    QByteArray signOn() const { return m_signOn; }
    // One complete line from the switchboard, without its CR LF; standing is where the contact
    // stands on the account's lists now.
    Reply line(const QByteArray& text, Standing standing);
    // The allow-list add was answered: 0 when it was made, else the service's error.
    Reply allowListAnswer(int error);

private:
    Reply callAnswer(const QByteArray& text, Standing standing);
    Reply call(const QByteArray& number) const;

    QString m_contact;
    QByteArray m_signOn;
    Step m_step = Step::SigningOn;
};
