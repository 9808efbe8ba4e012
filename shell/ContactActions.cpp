// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/ContactActions.h"

#include "shell/Dialogs.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>

ContactActions::ContactActions(QWidget* window, Messenger& messenger) : m_window(window), m_messenger(messenger) {}

void ContactActions::conversationUnlessOwn(const QString& contact) {
    const std::optional<QString> own = m_messenger.MySigninName();
    if (own && *own == contact) {
        Dialogs::show(m_window, QStringLiteral("You cant send a msg to yourself."));
        return;
    }
    run(&Messenger::InstantMessage, contact);
}

bool ContactActions::clientOffline() {
    return m_messenger.MyStatus() == Messenger::MISTATUS_OFFLINE;
}

void ContactActions::run(Call call, const QString& contact) {
    auto settled = std::make_shared<bool>(false);
    QPointer<QWidget> window = m_window;
    (m_messenger.*call)(contact, [window, settled](const ClientResult& result) {
        if (std::exchange(*settled, true) || !window)
            return;
        if (!result.ok)
            Dialogs::show(window, result.error);
    });
    if (*settled)
        return;
    QTimer::singleShot(answerWaitMs, m_window, [window, settled] {
        if (!std::exchange(*settled, true))
            Dialogs::show(window, QStringLiteral("Your messenger did not answer."));
    });
}
