// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes as a contact file: the reader must neither crash nor hang, what it reads must be
// written back and read again unchanged, and no cut of what the writer wrote may read as a contact
// that was not written.

#include "contacts/ContactFile.h"

#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    QList<ContactRecord> records;
    const ParseStats stats = parseContactRecords(bytes, [&](QString&& name, QString&& email) {
        records.append({std::move(name), std::move(email)});
    });
    require(stats.records == records.size());
    require(stats.records + stats.damagedLines <= qint64(size));

    EncodedRecords written;
    QList<ContactRecord> storable;
    for (const ContactRecord& r : records) {
        if (isStorable(r.name) && isStorable(r.email)) {
            written.add(r.name, r.email);
            storable.append(r);
        }
    }
    ParseStats again;
    require(parseContactRecords(written.bytes(), &again) == storable);
    require(again.damagedLines == 0);

    // A write cut short at a place the input picks: only whole records, in order, read back.
    if (!written.bytes().isEmpty()) {
        const qsizetype cut = qsizetype(size) % (written.bytes().size() + 1);
        const QList<ContactRecord> torn = parseContactRecords(written.bytes().left(cut));
        const qsizetype whole = written.recordsWithin(cut);
        require(torn.size() == whole || torn.size() == whole + 1); // +1: a record missing only its CR LF
        require(torn == storable.mid(0, torn.size()));
    }
    return 0;
}
