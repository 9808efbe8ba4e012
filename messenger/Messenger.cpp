// SPDX-License-Identifier: GPL-3.0-or-later
#include "messenger/Messenger.h"

#include "messenger/PurpleMessenger.h"

namespace {
std::unique_ptr<Messenger>& instance()
{
    static std::unique_ptr<Messenger> messenger;
    return messenger;
}
} // namespace

Messenger& programMessenger()
{
    auto& m = instance();
    if (!m)
        m = std::make_unique<PurpleMessenger>();
    return *m;
}

void setProgramMessenger(std::unique_ptr<Messenger> messenger)
{
    instance() = std::move(messenger);
}

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
