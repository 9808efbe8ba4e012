// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

// "End the program at once": every window and connection is dropped, no
// unload step runs and nothing more is asked.
namespace Shutdown {

void endAtOnce();
// True once the program is ending; windows then close without asking.
bool ending();

// Tests observe the end instead of leaving the event loop; an empty function
// restores the real one. resetForTests() clears the ending flag.
void setHandler(std::function<void()> handler);
void resetForTests();

} // namespace Shutdown
