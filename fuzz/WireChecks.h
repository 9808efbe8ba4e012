// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What every line the program sends must look like, for the protocol harnesses.
#include <QByteArray>
#include <cstdlib>

inline void require(bool condition) {
    if (!condition)
        std::abort();
}

// One command: a single CR LF at its end, fields parted by single spaces.
inline void checkLine(const QByteArray& line) {
    require(line.endsWith("\r\n"));
    require(line.count('\r') == 1 && line.count('\n') == 1);
    const QByteArray body = line.chopped(2);
    require(!body.isEmpty() && !body.startsWith(' ') && !body.endsWith(' ') && !body.contains("  "));
}
