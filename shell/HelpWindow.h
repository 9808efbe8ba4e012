// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "desktop/OpenLink.h"

#include <QDialog>

// frmHelp: one paragraph of help, a link and a status bar that closes it.
class HelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit HelpWindow(const Desktop& desktop, QWidget* parent = nullptr);

    void Image1_Click();
    void StatusBar1_PanelClick(int panel);

private:
    Desktop desktop;
};
