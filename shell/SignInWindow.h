// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include "shell/ProgramParts.h"

#include <QWidget>

class QLineEdit;
class QPushButton;

// frmSignIn: the start-up window that takes the second account.
class SignInWindow : public QWidget {
    Q_OBJECT
public:
    explicit SignInWindow(const ProgramParts& parts, QWidget* parent = nullptr);

    void Form_Load();
    void Command1_Click();
    void Label6_Click();
    // Signs in with the stored account and puts the main window in the tray, never showing
    // itself; without an account and password stored it shows itself as usual.
    void startInTray();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildTexts();
    void buildFields();
    void fetchPassword(const QString& account);

    ProgramParts parts;
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QPushButton* Command1 = nullptr;
    bool handedOver = false;
    bool toTray = false;
    std::function<void()> afterPassword; // once the keyring has answered, or its wait ran out
    void passwordSettled();
};
