// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>

class Messenger;
class QWidget;
struct ClientResult;

// What a double-click and the contact menu ask of the messenger client for a contact, with a box
// over the window for whatever the client cannot do.
class ContactActions {
public:
    using Call = ClientResult (Messenger::*)(const QString& contact);

    ContactActions(QWidget* window, std::function<Messenger&()> messenger);

    // A double-click: a conversation, unless the address is exactly the client's own.
    void conversationUnlessOwn(const QString& contact);
    bool clientOffline();
    void run(Call call, const QString& contact);

private:
    QWidget* m_window;
    std::function<Messenger&()> m_messenger;
};
