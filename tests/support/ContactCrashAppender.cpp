// SPDX-License-Identifier: GPL-3.0-or-later
// Appends one large batch of contacts to the file named on the command line, saying "ready" just
// before the save starts, so the crash test can kill it in the middle of the save.

#include "tests/support/ContactCrashBatch.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [COUNT]\n", argv[0]);
        return 2;
    }
    const int count = argc > 2 ? std::atoi(argv[2]) : contacttest::kCrashBatchSize;
    EncodedRecords records;
    for (const ContactRecord& r : contacttest::crashBatch(count))
        records.add(r.name, r.email);

    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    const SaveResult result = appendContactRecords(QString::fromLocal8Bit(argv[1]), records);
    if (!result.ok) {
        std::fprintf(stderr, "%s\n", qPrintable(result.error));
        return 1;
    }
    return 0;
}
