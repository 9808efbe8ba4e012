// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The batch that the crash helper appends; the crash test rebuilds it to check what survived.

#include "contacts/ContactFile.h"

namespace contacttest {

inline constexpr int kCrashBatchSize = 50'000;

inline ContactRecord crashRecord(int i) {
    return {QStringLiteral("Crash %1 \u00e9\u00e8, Jr.").arg(i),
            QStringLiteral("crash%1@example.com").arg(i)};
}

inline QList<ContactRecord> crashBatch(int count) {
    QList<ContactRecord> batch;
    batch.reserve(count);
    for (int i = 1; i <= count; ++i)
        batch.append(crashRecord(i));
    return batch;
}

} // namespace contacttest
