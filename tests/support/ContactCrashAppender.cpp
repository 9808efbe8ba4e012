// SPDX-License-Identifier: GPL-3.0-or-later
// Appends one large batch of contacts to the file named on the command line, saying "ready" just
// before the save starts, so the crash test can kill it in the middle of the save. With
// "rewrite" it instead removes every other contact of the file, edits one, adds one and saves.

#include "contacts/ContactStore.h"
#include "tests/support/ContactCrashBatch.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [COUNT]\n", argv[0]);
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    if (argc > 3 && std::strcmp(argv[3], "rewrite") == 0) {
        ContactStore store;
        store.load(path);
        std::vector<qint32> rows;
        for (qint32 row = 1; row < store.rowCount(); row += 2)
            rows.push_back(row);
        store.remove(rows);
        store.edit(0, QStringLiteral("Edited \u00e9"), QStringLiteral("edited@example.com"));
        store.add(QStringLiteral("Added"), QStringLiteral("added@example.com"));
        std::fputs("ready\n", stdout);
        std::fflush(stdout);
        const SaveResult result = store.save(path);
        if (!result.ok)
            std::fprintf(stderr, "%s\n", qPrintable(result.error));
        return result.ok ? 0 : 1;
    }
    const int count = argc > 2 ? std::atoi(argv[2]) : contacttest::kCrashBatchSize;
    EncodedRecords records;
    for (const ContactRecord& r : contacttest::crashBatch(count))
        records.add(r.name, r.email);

    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    const SaveResult result = appendContactRecords(path, records);
    if (!result.ok) {
        std::fprintf(stderr, "%s\n", qPrintable(result.error));
        return 1;
    }
    return 0;
}
