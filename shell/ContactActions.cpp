// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/ContactActions.h"

#include "shell/Dialogs.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>

ContactActions::ContactActions(QWidget* window, Messenger& messenger, const Desktop& desktop)
    : m_window(window), m_messenger(messenger), m_desktop(desktop) {}

void ContactActions::conversationUnlessOwn(const QString& contact) {
    const std::optional<QString> own = m_messenger.MySigninName();
    if (own && *own == contact) {
        Dialogs::show(m_window, QStringLiteral("You cant send a msg to yourself."));
        return;
    }
    handOff(&Messenger::InstantMessage, contact, false);
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

void ContactActions::handOff(Call call, const QString& contact, bool statusTested) {
    QPointer<QWidget> window = m_window;
    m_messenger.takesContact(contact, [this, window, call, contact, statusTested](bool takes) {
        if (!window)
            return;
        if (!takes)
            return handOffByLink(call, contact);
        if (statusTested && clientOffline())
            return;
        run(call, contact);
    });
}

void ContactActions::handOffByLink(Call call, const QString& contact) {
    const bool voice = call == &Messenger::StartVoice;
    // Built from parts: an address holding "&" or "#" must not add to the link.
    const QUrl link = QUrl::fromEncoded((voice ? "msnim:voice?contact=" : "msnim:chat?contact=") +
                                            QUrl::toPercentEncoding(contact, "@"),
                                        QUrl::StrictMode);
    if (link.isValid() && m_desktop.openLink(link))
        return;
    QGuiApplication::clipboard()->setText(contact);
    Dialogs::show(m_window,
                  QStringLiteral("Nothing on this computer can start a %1 with %2: no messenger with an MSN "
                                 "account is signed in, and no program is set up to open msnim: links. Sign in "
                                 "to the service with a messenger that speaks MSN, or install one that opens "
                                 "msnim: links.\n\nThe address %2 is on the clipboard.")
                      .arg(voice ? QStringLiteral("voice call") : QStringLiteral("conversation"), contact),
                  Dialogs::Buttons::Ok, Dialogs::Icon::Information);
}
