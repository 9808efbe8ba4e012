// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "contacts/SaveRules.h"

class QProgressBar;
class Shutdown;
class QTimer;
class QWidget;

// What the save and leave rules show and do in the main window: its bar pb1, its paced-run
// timers tpb and tpb1, its boxes, and the program's end.
class SaveDisplay : public SaveRules::Display {
public:
    SaveDisplay(QWidget* window, QProgressBar* bar, QTimer* saveRun, QTimer* exitRun, Shutdown& shutdown);

    void showBar(bool visible, int value) override;
    void startRun(SaveRules::Run run) override;
    void stopRun(SaveRules::Run run) override;
    bool running(SaveRules::Run run) const override;
    void tellSaveFailed(const QString& error, bool leavingCalledOff) override;
    void tellSaveComplete() override;
    int boxesOpen() const override;
    bool ending() const override;
    void endAtOnce() override;

private:
    QTimer* timer(SaveRules::Run run) const;

    QWidget* m_window;
    QProgressBar* m_bar;
    QTimer* m_saveRun;
    QTimer* m_exitRun;
    Shutdown& m_shutdown;
};
