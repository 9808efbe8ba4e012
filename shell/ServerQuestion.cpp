// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/ServerQuestion.h"

#include "services/AccountStore.h"
#include "session/Protocol.h"
#include "shell/Dialogs.h"

bool askForServer(QWidget* parent) {
    const QString caption = QStringLiteral("Server");
    QString prompt = QStringLiteral(
        "Velmora signs your second account in at a server of the messaging service, and at no other. "
        "Which server? host[:port], for example messenger.example.net:1863");
    for (;;) {
        const std::optional<QString> answer = Dialogs::askText(parent, prompt, caption);
        if (!answer)
            return false;
        const QString server = answer->trimmed();
        if (parseHostPort(server, kDispatchPort)) {
            AccountStore::save(QStringLiteral("Server"), server);
            return true;
        }
        prompt = QStringLiteral("\"%1\" is not host[:port] with a port from 1 to 65535. Which server?").arg(server);
    }
}
