// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

// "End the program at once": every window and connection is dropped, no unload step runs and
// nothing more is asked.
class Shutdown {
public:
    // end: how the program ends; by default it leaves the event loop.
    explicit Shutdown(std::function<void()> end = {}) : m_end(std::move(end)) {}

    void endAtOnce();
    // True once the program is ending; windows then close without asking.
    bool ending() const { return m_ending; }

private:
    std::function<void()> m_end;
    bool m_ending = false;
};
