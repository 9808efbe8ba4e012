// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes as an address book to import (the format is the build's: CSV, vCard or an MSN
// Messenger list): no crash, no hang; every contact found could be stored in the contact file;
// the lines told unreadable are lines of the input, in order; and what an export writes of the
// contacts found is read back as the same contacts.

#include "contacts/ContactExchange.h"

#include <QSet>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Names the broken property's line before stopping.
#define require(condition)                                                                                  \
    do {                                                                                                    \
        if (!(condition)) {                                                                                 \
            std::fprintf(stderr, "property broken at line %d\n", __LINE__);                                 \
            std::abort();                                                                                   \
        }                                                                                                   \
    } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const exchange::Format format = exchange::Format(IMPORT_FORMAT);
    const exchange::Imported in = exchange::importContacts(bytes, format);
    require(in.error.isEmpty() || in.contacts.isEmpty());
    for (const ContactRecord& c : in.contacts)
        require(isStorable(c.name) && isStorable(c.email) && c.email.contains(QLatin1Char('@')) && !c.name.isEmpty());
    const qint64 lines = bytes.count('\n') + bytes.count('\r') + 1;
    for (qsizetype i = 0; i < in.unreadableLines.size(); ++i)
        require(in.unreadableLines[i] >= 1 && in.unreadableLines[i] <= lines &&
                (i == 0 || in.unreadableLines[i] >= in.unreadableLines[i - 1]));

    const qint64 n = in.contacts.size();
    const exchange::Imported csv = exchange::importContacts(
        exchange::csvOf(n,
                        [&](qint64 i) {
                            exchange::ExportRow r;
                            r.name = in.contacts[i].name;
                            r.address = in.contacts[i].email;
                            return r;
                        }),
        exchange::Format::Csv);
    require(csv.contacts == in.contacts && csv.unreadableLines.isEmpty());

    const exchange::Imported ctt = exchange::importContacts(
        exchange::cttOf(n, [&](qint64 i) { return in.contacts[i].email; }), exchange::Format::Ctt);
    QSet<QString> seen;
    QStringList expected;
    for (const ContactRecord& c : in.contacts)
        if (!seen.contains(c.email.toLower())) {
            seen.insert(c.email.toLower());
            expected << c.email.trimmed();
        }
    require(ctt.contacts.size() == expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i)
        require(ctt.contacts[i].email == expected[i]);
    return 0;
}
