// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

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

    ContactActions(QWidget* window, Messenger& messenger);

    // A double-click: a conversation, unless the address is exactly the client's own.
    void conversationUnlessOwn(const QString& contact);
    bool clientOffline();
    void run(Call call, const QString& contact);

private:
    QWidget* m_window;
    Messenger& m_messenger;
};
