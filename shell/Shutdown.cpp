// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/Shutdown.h"

#include <QCoreApplication>

namespace Shutdown {
namespace {
bool g_ending = false;
std::function<void()>& handler()
{
    static std::function<void()> h;
    return h;
}
} // namespace

void endAtOnce()
{
    g_ending = true;
    if (handler())
        handler()();
    else
        QCoreApplication::exit(0);
}

bool ending() { return g_ending; }

void setHandler(std::function<void()> h) { handler() = std::move(h); }

void resetForTests() { g_ending = false; }

} // namespace Shutdown
