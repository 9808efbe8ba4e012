// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "desktop/OpenLink.h"
#include "messenger/Messenger.h"

#include <QString>
#include <functional>

class QWidget;

// What a double-click and the contact menu ask of the messenger client for a contact, with a box
// over the window for whatever the client cannot do. Nothing waits for the client: an action it
// has not answered within answerWaitMs is told as unanswered, once, and its late answer dropped.
class ContactActions {
public:
    using Call = void (Messenger::*)(const QString& contact, Messenger::Done done);
    static constexpr int answerWaitMs = 2000;

    ContactActions(QWidget* window, Messenger& messenger, const Desktop& desktop);

    // A double-click: a conversation, unless the address is exactly the client's own.
    void conversationUnlessOwn(const QString& contact);
    bool clientOffline();
    void run(Call call, const QString& contact);
    // A conversation or a voice call: through the client when it takes the contact (then, for
    // statusTested calls, not while it is offline), else through the desktop's handler of msnim:
    // links, else the user is told what would take it, with the address on the clipboard.
    void handOff(Call call, const QString& contact, bool statusTested);

private:
    void handOffByLink(Call call, const QString& contact);

    QWidget* m_window;
    Messenger& m_messenger;
    const Desktop& m_desktop;
};
