// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes, cut into arbitrary reads, through the line framer and one check's switchboard
// side, with the allow-list add answered as the bytes say. Whatever arrives, only well-formed
// lines with the fixed numbers go out, an answer about the contact comes only from a line that
// says it for our own call, the sign-off goes out before it, and the check ends exactly once.
#include "fuzz/WireChecks.h"
#include "session/CheckExchange.h"
#include "session/Protocol.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const uint8_t shape = data[0];
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const qsizetype length = static_cast<qsizetype>(size - 1);

    CheckExchange check(QStringLiteral("bob@example.com"), "USR 1 me@example.com ticket\r\n");
    // Where the contact stands on the account's lists, as the first byte says.
    const auto standing = static_cast<CheckExchange::Standing>(shape % 3);
    bool ended = false;
    bool addAsked = false;
    auto follow = [&](const CheckExchange::Reply& reply, const QByteArray& line) {
        require(!ended);
        if (reply.send) {
            checkLine(*reply.send);
            require(*reply.send == "OUT\r\n" || *reply.send == "CAL 2 bob@example.com\r\n" ||
                    *reply.send == "CAL 3 bob@example.com\r\n");
        }
        if (reply.addToAllowList) {
            require(!addAsked && (line == "205 2" || (line == "217 2" && standing == CheckExchange::Standing::Unlisted)));
            addAsked = true;
        }
        if (!reply.end)
            return;
        ended = true;
        const QList<QByteArray> f = splitFields(line);
        const bool ours = f.value(1) == "2" || f.value(1) == "3";
        switch (*reply.end) {
        case Outcome::Online:
            require(ours && f.value(0) == "CAL" && f.value(2) == "RINGING" && reply.send == "OUT\r\n");
            break;
        case Outcome::Offline:
            // From the call's own answer where the server's word holds, or from an allow-list add
            // made for an unlisted contact.
            require(reply.send == "OUT\r\n" &&
                    ((ours && line.startsWith("217 ") && standing != CheckExchange::Standing::OtherList) ||
                     (line.isEmpty() && addAsked)));
            break;
        default:
            break;
        }
    };

    LineFramer framer;
    qsizetype at = 0;
    for (int read = 0; at < length && !ended; ++read) {
        const qsizetype chunk = 1 + ((shape >> 2) * (read + 3) * 11) % 89;
        framer.append(QByteArrayView(bytes + at, std::min(chunk, length - at)));
        at += chunk;
        while (!ended) {
            const std::optional<QByteArray> line = framer.takeLine();
            if (!line)
                break;
            follow(check.line(*line, standing), *line);
            // The service answers an outstanding add as the line's length says.
            if (!ended && addAsked && check.step() != CheckExchange::Step::Recalling && line->size() % 3 != 1)
                follow(check.allowListAnswer(line->size() % 3 == 0 ? 0 : 207), {});
        }
    }
    return 0;
}
