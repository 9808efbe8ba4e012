// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/Shutdown.h"

#include <QCoreApplication>

void Shutdown::endAtOnce() {
    m_ending = true;
    if (m_end)
        m_end();
    else
        QCoreApplication::exit(0);
}
