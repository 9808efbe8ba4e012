// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/ContactActions.h"

#include "messenger/Messenger.h"
#include "shell/Dialogs.h"

ContactActions::ContactActions(QWidget* window, std::function<Messenger&()> messenger)
    : m_window(window), m_messenger(std::move(messenger)) {}

void ContactActions::conversationUnlessOwn(const QString& contact) {
    const std::optional<QString> own = m_messenger().MySigninName();
    if (own && *own == contact) {
        Dialogs::show(m_window, QStringLiteral("You cant send a msg to yourself."));
        return;
    }
    run(&Messenger::InstantMessage, contact);
}

bool ContactActions::clientOffline() {
    return m_messenger().MyStatus() == Messenger::MISTATUS_OFFLINE;
}

void ContactActions::run(Call call, const QString& contact) {
    const ClientResult result = (m_messenger().*call)(contact);
    if (!result.ok)
        Dialogs::show(m_window, result.error);
}
