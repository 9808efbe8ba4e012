// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>
#include <memory>

class QObject;

// The desktop's keyring (the Secret Service: GNOME Keyring, KWallet), one secret per account.
// Every call answers later, through the event loop, and may never answer at all when the service
// hangs: callers bound their own wait. An answer is dropped when its context object is gone.
class Keyring {
public:
    enum class Outcome {
        Done,     // read: the secret is there; write, remove: done
        NotFound, // read, remove: nothing stored for this account
        Failed,   // no keyring service, or it refused; error says what it said
    };
    struct Answer {
        Outcome outcome = Outcome::Failed;
        QString secret;
        QString error;
    };
    using Reply = std::function<void(const Answer&)>;

    virtual ~Keyring() = default;
    virtual void read(const QString& account, QObject* context, Reply reply) = 0;
    virtual void write(const QString& account, const QString& secret, QObject* context, Reply reply) = 0;
    virtual void remove(const QString& account, QObject* context, Reply reply) = 0;

    // Through QtKeychain; entries are labelled "Velmora", with the account as their user.
    static std::unique_ptr<Keyring> makeSystem();
};
