// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/Dialogs.h"

#include <QInputDialog>
#include <QKeyEvent>
#include <QMessageBox>

namespace Dialogs {
namespace {
Responder& responder()
{
    static Responder r;
    return r;
}

PasswordResponder& passwordResponder()
{
    static PasswordResponder r;
    return r;
}

// Notices Esc and the window's close button on a box.
class TurnedAway : public QObject {
public:
    bool happened = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if ((event->type() == QEvent::KeyPress &&
             static_cast<QKeyEvent*>(event)->matches(QKeySequence::Cancel)) ||
            (event->type() == QEvent::Close && event->spontaneous()))
            happened = true;
        return QObject::eventFilter(watched, event);
    }
};

int g_open = 0;

struct Open {
    Open() { ++g_open; }
    ~Open() { --g_open; }
};
} // namespace

int openCount()
{
    return g_open;
}

Answer show(QWidget* parent, const QString& prompt, Buttons buttons, Icon icon, const QString& caption)
{
    const Request request{prompt, caption.isEmpty() ? kAppTitle : caption, buttons, icon};
    const Open open;
    if (responder())
        return responder()(request);

    QMessageBox box(parent);
    box.setWindowTitle(request.caption);
    // Prompts carry names, addresses and servers' words: shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(prompt);
    switch (icon) {
    case Icon::None: box.setIcon(QMessageBox::NoIcon); break;
    case Icon::Information: box.setIcon(QMessageBox::Information); break;
    case Icon::Question: box.setIcon(QMessageBox::Question); break;
    case Icon::Warning: box.setIcon(QMessageBox::Warning); break;
    }
    if (buttons == Buttons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        TurnedAway away;
        box.installEventFilter(&away);
        box.exec();
        QAbstractButton* const clicked = box.clickedButton();
        if (clicked && clicked == box.button(QMessageBox::Yes))
            return Answer::Yes;
        // No button pressed: Esc, the close button, or the program ending under the box.
        return away.happened || !clicked ? Answer::Closed : Answer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return Answer::Ok;
}

void setResponder(Responder r)
{
    responder() = std::move(r);
}

namespace {
std::optional<QString> ask(QWidget* parent, const QString& prompt, const QString& caption, QLineEdit::EchoMode echo)
{
    const Request request{prompt, caption, Buttons::Ok, Icon::None};
    const Open open;
    if (passwordResponder())
        return passwordResponder()(request);
    bool ok = false;
    const QString text = QInputDialog::getText(parent, caption, prompt, echo, QString(), &ok);
    if (!ok)
        return std::nullopt;
    return text;
}
} // namespace

std::optional<QString> askPassword(QWidget* parent, const QString& prompt, const QString& caption)
{
    return ask(parent, prompt, caption, QLineEdit::Password);
}

std::optional<QString> askText(QWidget* parent, const QString& prompt, const QString& caption)
{
    return ask(parent, prompt, caption, QLineEdit::Normal);
}

void setPasswordResponder(PasswordResponder r)
{
    passwordResponder() = std::move(r);
}

} // namespace Dialogs
