// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The results the crash helper records, one address each; the crash test rebuilds them to check
// what survived.

#include "session/CheckOutcome.h"

#include <QString>

namespace resultstest {

inline QString address(qint64 n) {
    return QStringLiteral("c%1@example.com").arg(n);
}
inline ResultKind kind(qint64 n) {
    return ResultKind(n % 4);
}
inline qint64 when(qint64 n) {
    return 1'700'000'000'000 + n;
}

} // namespace resultstest
