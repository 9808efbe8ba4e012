// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "messenger/Messenger.h"

#include <QTest>
#include <memory>

// Runs an action of the client and waits, bounded, for its answer.
inline ClientResult answerOf(Messenger& messenger, void (Messenger::*call)(const QString&, Messenger::Done),
                             const QString& contact)
{
    auto got = std::make_shared<std::optional<ClientResult>>();
    (messenger.*call)(contact, [got](const ClientResult& r) { *got = r; });
    (void)QTest::qWaitFor([&] { return got->has_value(); }, 15000);
    return got->value_or(ClientResult::failure(QStringLiteral("(no answer within 15 s)")));
}
