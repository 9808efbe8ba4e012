// Arbitrary bytes, cut into arbitrary reads, through the line framer and the
// status probe's switchboard side, with the allow-list step answered as the
// bytes say. Whatever arrives, only well-formed lines with the fixed numbers
// go out, a ringing call always signs off and closes, and a contact put on
// the allow list is always taken off again.
#include "fuzz/WireChecks.h"
#include "session/Protocol.h"
#include "session/StatusProbe.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const uint8_t shape = data[0];
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const qsizetype length = static_cast<qsizetype>(size - 1);

    // Who is selected when the switchboard lets us in: a proper address, one
    // that would inject a command or shift fields, or nobody.
    static const std::optional<QString> contacts[] = {QStringLiteral("bob@example.com"),
                                                      QStringLiteral("bob@example.com\r\nOUT"),
                                                      QStringLiteral("bob @example.com"), std::nullopt};
    const std::optional<QString> selected = contacts[shape & 0x03];
    // With nobody selected the probe calls the contact it was asked about.
    const bool callable = (shape & 0x03) == 0 || (shape & 0x03) == 3;
    StatusProbe probe([] { return QStringLiteral("me@example.com"); }, [&] { return selected; });
    probe.requested(QStringLiteral("bob@example.com"));

    int onAllowList = 0;
    int addsAsked = 0;
    auto check = [&](const StatusProbe::Actions& actions) {
        for (size_t i = 0; i < actions.size(); ++i) {
            const auto& action = actions[i];
            if (const auto* send = std::get_if<StatusProbe::SendChat>(&action)) {
                checkLine(send->line);
                require(send->line == "OUT\r\n" || send->line.startsWith("USR 1 me@example.com ") ||
                        (callable && (send->line == "CAL 2 bob@example.com\r\n" ||
                                      send->line == "CAL 3 bob@example.com\r\n")));
            } else if (const auto* show = std::get_if<StatusProbe::Show>(&action)) {
                if (std::strcmp(show->text, "Online") == 0)
                    require(actions.size() > i + 2 &&
                            std::holds_alternative<StatusProbe::CloseChat>(actions[i + 2]));
            } else if (const auto* list = std::get_if<StatusProbe::ChangeList>(&action)) {
                require(callable && list->contact == QLatin1String("bob@example.com"));
                if (list->change == ListChange::Add)
                    ++addsAsked;
                else
                    --onAllowList;
            }
        }
    };

    check(probe.switchboardOffered(QStringLiteral("127.0.0.1"), 1865, "ticket"));
    check(probe.chatConnected());
    LineFramer framer;
    qsizetype at = 0;
    for (int read = 0; at < length; ++read) {
        const qsizetype chunk = 1 + ((shape >> 2) * (read + 3) * 11) % 89;
        framer.append(QByteArrayView(bytes + at, std::min(chunk, length - at)));
        at += chunk;
        while (const std::optional<QByteArray> line = framer.takeLine()) {
            check(probe.chatLine(*line));
            // The service answers an outstanding add as the line's length says.
            if (addsAsked > 0 && line->size() % 3 != 1) {
                --addsAsked;
                const int error = line->size() % 3 == 0 ? 0 : 207;
                if (error == 0)
                    ++onAllowList;
                check(probe.listAnswer(ListChange::Add, QStringLiteral("bob@example.com"), error));
            }
            if (line->size() % 7 == 6)
                check(probe.chatLost());
        }
    }
    check(probe.timedOut());
    // Adds still unanswered may yet be taken back; none made stays.
    for (; addsAsked > 0; --addsAsked) {
        ++onAllowList;
        check(probe.listAnswer(ListChange::Add, QStringLiteral("bob@example.com"), 0));
    }
    require(onAllowList == 0);
    require(!probe.waiting());
    return 0;
}
