// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes, cut into arbitrary reads, through the line framer and the
// notification reply table. Whatever arrives, TrID moves only as the table
// allows and every line sent is one well-formed command.
#include "fuzz/WireChecks.h"
#include "session/NotificationDispatcher.h"
#include "session/Protocol.h"

#include <cstdint>
#include <cstdlib>
#include <limits>

namespace {

void check(const NotificationDispatcher::Actions& actions, qint32 before, qint32 after) {
    const bool stepped = after == (before == std::numeric_limits<qint32>::max() ? 0 : before + 1);
    require(after == before || after == 0 || stepped);
    require(after >= 0);
    for (const NotificationDispatcher::Action& action : actions) {
        if (const auto* send = std::get_if<NotificationDispatcher::Send>(&action)) {
            checkLine(send->line);
            require(!send->line.contains("OUT"));
        } else if (const auto* to = std::get_if<NotificationDispatcher::Reconnect>(&action)) {
            require(!to->host.isEmpty() && to->port != 0);
        } else if (const auto* sb = std::get_if<NotificationDispatcher::SwitchboardOffered>(&action)) {
            require(!sb->host.isEmpty() && sb->port != 0 && isWireField(sb->ticket) && sb->check == 1);
        } else if (const auto* refusal = std::get_if<NotificationDispatcher::SwitchboardRefused>(&action)) {
            require(refusal->check == 1);
        } else if (const auto* list = std::get_if<NotificationDispatcher::ListAnswer>(&action)) {
            require(list->contact == QLatin1String("bob@example.com") && list->error >= 0 &&
                    (list->check == 1 || list->check == 0));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    // The first byte shapes the run: how the bytes are cut into reads, where
    // TrID starts, and whether the account would inject a command.
    const uint8_t shape = data[0];
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const qsizetype length = static_cast<qsizetype>(size - 1);

    const QString account =
        shape & 0x80 ? QStringLiteral("me@example.com\r\nOUT") : QStringLiteral("me@example.com");
    NotificationDispatcher dispatcher;
    dispatcher.setCredentials(account, QStringLiteral("password"));
    if (shape & 0x40)
        dispatcher.setTrID(std::numeric_limits<qint32>::max() - (shape & 0x03));
    qint32 before = dispatcher.TrID();
    dispatcher.start();
    check({}, before, dispatcher.TrID());

    // A redirect is followed by the new connection's greeting, as on the wire.
    auto step = [&](const NotificationDispatcher::Actions& actions) {
        check(actions, before, dispatcher.TrID());
        before = dispatcher.TrID();
        for (const auto& action : actions) {
            if (std::holds_alternative<NotificationDispatcher::Reconnect>(action)) {
                const NotificationDispatcher::Actions greeting = dispatcher.connected();
                check(greeting, before, dispatcher.TrID());
            }
        }
    };
    before = dispatcher.TrID();
    step(dispatcher.connected());

    LineFramer framer;
    qsizetype at = 0;
    for (int read = 0; at < length; ++read) {
        const qsizetype chunk = 1 + ((shape & 0x3f) * (read + 7) * 13) % 97;
        framer.append(QByteArrayView(bytes + at, std::min(chunk, length - at)));
        at += chunk;
        while (const std::optional<QByteArray> line = framer.takeLine()) {
            require(!line->contains("\r\n"));
            if (const auto body = payloadLength(splitFields(*line)))
                framer.skipPayload(*body);
            step(dispatcher.line(*line));
            if (line->size() % 5 == 0) {
                checkLine(dispatcher.switchboardRequest(1));
                step({});
            } else if (line->size() % 7 == 0) {
                const auto change = line->size() % 2 ? ListChange::Add : ListChange::Remove;
                if (const auto request =
                        dispatcher.allowListRequest(change, QStringLiteral("bob@example.com"), 1)) {
                    checkLine(*request);
                    step({});
                }
            } else if (line->size() % 11 == 0) {
                dispatcher.release(1);
            }
        }
        require(framer.pendingBytes() <= LineFramer::MaxLineLength + 97);
    }
    return 0;
}
