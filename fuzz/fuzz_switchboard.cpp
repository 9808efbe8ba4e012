// Arbitrary bytes, cut into arbitrary reads, through the line framer and the
// switchboard reply table. Whatever arrives, only well-formed lines with the
// fixed numbers go out, and a ringing call always signs off and closes.
#include "session/Protocol.h"
#include "fuzz/WireChecks.h"
#include "session/SwitchboardHandler.h"

#include <cstdint>
#include <cstdlib>

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
    const bool callable = (shape & 0x03) == 0;
    const SwitchboardHandler handler([&] { return selected; });

    LineFramer framer;
    qsizetype at = 0;
    bool first = true;
    for (int read = 0; at < length; ++read) {
        const qsizetype chunk = 1 + ((shape >> 2) * (read + 3) * 11) % 89;
        framer.append(QByteArrayView(bytes + at, std::min(chunk, length - at)));
        at += chunk;
        while (const std::optional<QByteArray> line = framer.takeLine()) {
            if (first) {
                // The first line stands in for a ticket from the service.
                first = false;
                if (const auto signIn =
                        SwitchboardHandler::signInLine(QStringLiteral("me@example.com"), *line)) {
                    checkLine(*signIn);
                    require(signIn->startsWith("USR 1 me@example.com ") &&
                            splitFields(signIn->chopped(2)).size() == 4);
                }
            }
            const SwitchboardHandler::Actions actions = handler.line(*line);
            for (size_t i = 0; i < actions.size(); ++i) {
                const auto& action = actions[i];
                if (const auto* send = std::get_if<SwitchboardHandler::Send>(&action)) {
                    checkLine(send->line);
                    require(send->line == "OUT\r\n" ||
                            (callable && send->line == "CAL 2 bob@example.com\r\n"));
                } else if (const auto* result = std::get_if<SwitchboardHandler::Result>(&action)) {
                    if (*result == SwitchboardHandler::Result::Online)
                        require(actions.size() == i + 3 &&
                                std::holds_alternative<SwitchboardHandler::Close>(actions[i + 2]));
                } else if (std::holds_alternative<SwitchboardHandler::BadContact>(action)) {
                    require(!callable);
                }
            }
        }
    }
    return 0;
}
