// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/SaveDisplay.h"

#include "shell/Dialogs.h"
#include "shell/Notices.h"
#include "shell/Shutdown.h"

#include <QProgressBar>
#include <QTimer>

SaveDisplay::SaveDisplay(QWidget* window, QProgressBar* bar, QTimer* saveRun, QTimer* exitRun, Shutdown& shutdown)
    : m_window(window), m_bar(bar), m_saveRun(saveRun), m_exitRun(exitRun), m_shutdown(shutdown) {}

QTimer* SaveDisplay::timer(SaveRules::Run run) const {
    return run == SaveRules::Run::Save ? m_saveRun : m_exitRun;
}

void SaveDisplay::showBar(bool visible, int value) {
    m_bar->setValue(value);
    m_bar->setVisible(visible);
}

void SaveDisplay::startRun(SaveRules::Run run) {
    timer(run)->start();
}

void SaveDisplay::stopRun(SaveRules::Run run) {
    timer(run)->stop();
}

bool SaveDisplay::running(SaveRules::Run run) const {
    return timer(run)->isActive();
}

void SaveDisplay::tellSaveFailed(const QString& error, bool leavingCalledOff) {
    Dialogs::show(m_window, Notices::saveFailed(error, leavingCalledOff), Dialogs::Buttons::Ok,
                  Dialogs::Icon::Warning);
}

void SaveDisplay::tellSaveComplete() {
    Dialogs::show(m_window, QStringLiteral("Save Complete"), Dialogs::Buttons::Ok, Dialogs::Icon::None,
                  QStringLiteral("Complete"));
}

int SaveDisplay::boxesOpen() const {
    return Dialogs::openCount();
}

bool SaveDisplay::ending() const {
    return m_shutdown.ending();
}

void SaveDisplay::endAtOnce() {
    m_shutdown.endAtOnce();
}
