// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "desktop/OpenLink.h"

#include <QDialog>

// frmAbout: name, version, credits and links; modal.
class AboutWindow : public QDialog {
    Q_OBJECT
public:
    explicit AboutWindow(const Desktop& desktop, QWidget* parent = nullptr);

    void cmdBack_Click();
    void Image1_Click();
    void Label4_Click();
    void Label6_Click();

private:
    Desktop desktop;
};
