// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Words for the session's outcomes and states in test logs and comparisons.
#include "session/CheckOutcome.h"
#include "session/CheckService.h"

#include <QSet>
#include <QStringList>

#include <QString>

inline QString describe(Outcome outcome) {
    static const char* names[] = {"online",      "offline",      "no such user",  "refused",     "no answer",
                                  "bad contact", "not connected", "not signed in", "interrupted", "cancelled",
                                  "busy",        "status unknown"};
    return QString::fromLatin1(names[static_cast<int>(outcome)]);
}

inline QString describe(const SessionStatus& status) {
    static const char* problems[] = {"",         "cannot connect", "connection lost", "sign-in stalled",
                                     "sign-in refused", "bad account", "signed in elsewhere",
                                     "no server set"};
    const QString problem = QString::fromLatin1(problems[static_cast<int>(status.problem)]);
    switch (status.state) {
    case SessionState::Stopped: return QStringLiteral("stopped");
    case SessionState::Connecting: return status.again ? QStringLiteral("reconnecting") : QStringLiteral("connecting");
    case SessionState::SignedIn: return QStringLiteral("signed in");
    case SessionState::WaitingToRetry: return QStringLiteral("waiting: ") + problem;
    case SessionState::GaveUp: return QStringLiteral("gave up: ") + problem;
    }
    return {};
}

// A contact list as the run sees it: rows of addresses, the same address maybe more than once.
struct Rows : RunList {
    QStringList list;
    qint32 rows() const override { return qint32(list.size()); }
    QString address(qint32 row) const override { return list.at(row); }
    bool firstOfItsAddress(qint32 row) const override {
        for (qint32 i = 0; i < row; ++i)
            if (list.at(i).compare(list.at(row), Qt::CaseInsensitive) == 0)
                return false;
        return true;
    }
    qint64 addresses() const override {
        QSet<QString> distinct;
        for (const QString& a : list)
            distinct.insert(a.toLower());
        return distinct.size();
    }
};


// A clock whose waiter wakes when the test says, for the watch's rounds.
struct ManualClock : RunClock {
    std::function<void()> wake;
    qint64 now() const override { return 0; }
    void wakeAt(qint64, std::function<void()> w) override { wake = std::move(w); }
    void fire() {
        if (const auto w = std::exchange(wake, nullptr))
            w();
    }
};
