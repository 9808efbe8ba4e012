// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/Watcher.h"

#include "session/CheckService.h"
#include "session/Watches.h"

#include <QTimer>

Watcher::Watcher(CheckService& checks, CheckResults& results, Watches& watches, RunClock* clock, QObject* parent)
    : QObject(parent), m_checks(checks), m_watches(watches), m_ownClock(clock ? nullptr : steadyClock()),
      m_clock(clock ? *clock : *m_ownClock), m_tell(new QTimer(this)) {
    // Answers that come outside a round (a single check, a whole-list run) are told as they come,
    // those of one moment together.
    m_tell->setSingleShot(true);
    m_tell->setInterval(0);
    connect(m_tell, &QTimer::timeout, this, &Watcher::tell);
    connect(&results, &CheckResults::recorded, this, &Watcher::recorded);
    connect(&checks, &CheckService::statusChanged, this, &Watcher::sessionChanged);
    connect(&checks, &CheckService::watchRoundEnded, this, &Watcher::roundEnded);
}

Watcher::~Watcher() {
    m_clock.wakeAt(0, nullptr);
}

void Watcher::start(int minutes) {
    m_periodMs = qint64(std::max(1, minutes)) * 60000;
    m_started = true;
    sessionChanged(m_checks.status());
}

void Watcher::sessionChanged(const SessionStatus& status) {
    if (status.state == SessionState::SignedIn) {
        m_toldStopped = false;
        if (m_started && !std::exchange(m_scheduled, true))
            startRound();
        return;
    }
    const bool forGood = status.state == SessionState::GaveUp &&
                         (status.problem == SessionProblem::SignedInElsewhere ||
                          status.problem == SessionProblem::SignInRefused);
    if (forGood && m_watches.count() > 0 && !std::exchange(m_toldStopped, true))
        emit stopped(status.problem);
}

void Watcher::startRound() {
    m_due = false;
    m_clock.wakeAt(m_clock.now() + m_periodMs, [this] { due(); });
    if (m_watches.count() > 0)
        m_checks.watchRound(m_watches.addresses());
}

void Watcher::due() {
    if (m_checks.watchGoing())
        m_due = true;
    else
        startRound();
}

void Watcher::roundEnded() {
    tell();
    if (m_due)
        startRound();
}

void Watcher::recorded(const QString& address, const CheckResults::Result& result) {
    if (!m_watches.contains(address))
        return;
    switch (result.kind) {
    case ResultKind::Online:
        if (m_watches.knownOnline(address))
            return;
        m_watches.setKnownOnline(address, true);
        m_cameOnline << address;
        if (!m_checks.watchGoing())
            m_tell->start();
        return;
    case ResultKind::Offline:
    case ResultKind::NoSuchUser:
        m_watches.setKnownOnline(address, false);
        return;
    case ResultKind::Unknown:
    case ResultKind::Uncertain:
        return;
    }
}

void Watcher::tell() {
    m_tell->stop();
    if (!m_cameOnline.isEmpty())
        emit cameOnline(std::exchange(m_cameOnline, {}));
}
