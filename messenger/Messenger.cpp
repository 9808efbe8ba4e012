// SPDX-License-Identifier: GPL-3.0-or-later
#include "messenger/Messenger.h"

void Messenger::setStatusListener(QObject* context, std::function<void()> l)
{
    listenerContext = context;
    listener = std::move(l);
}

void Messenger::statusMayHaveChanged()
{
    if (listenerContext && listener)
        listener();
}
