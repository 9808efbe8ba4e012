// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <functional>

class QLineEdit;
class QPushButton;

// frmSignIn: the start-up window that takes the second account.
class SignInWindow : public QWidget {
    Q_OBJECT
public:
    explicit SignInWindow(QWidget* parent = nullptr);

    // The primary screen's width in twips (1/1440 inch); tests replace it.
    static std::function<double()> screenWidthTwips;

    void Form_Load();
    void Command1_Click();
    void Label6_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildTexts();
    void buildFields();
    void fetchPassword(const QString& account);

    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QPushButton* Command1 = nullptr;
    bool handedOver = false;
};
