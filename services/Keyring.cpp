// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/Keyring.h"

#include <QObject>

#include <qt6keychain/keychain.h>

namespace {

const QString kService = QStringLiteral("Velmora");

Keyring::Answer answerOf(QKeychain::Job* job) {
    Keyring::Answer a;
    switch (job->error()) {
    case QKeychain::NoError:
        a.outcome = Keyring::Outcome::Done;
        if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(job))
            a.secret = read->textData();
        break;
    case QKeychain::EntryNotFound:
        a.outcome = Keyring::Outcome::NotFound;
        break;
    default:
        a.outcome = Keyring::Outcome::Failed;
        a.error = job->errorString();
        break;
    }
    return a;
}

// Jobs get no parent: QtKeychain finishes them from callbacks of the keyring library, which must
// find them alive however the window that asked went away. They delete themselves once finished.
void run(QKeychain::Job* job, const QString& account, QObject* context, Keyring::Reply reply) {
    job->setKey(account);
    QObject::connect(job, &QKeychain::Job::finished, context,
                     [reply = std::move(reply)](QKeychain::Job* j) { reply(answerOf(j)); });
    job->start();
}

class SystemKeyring : public Keyring {
public:
    void read(const QString& account, QObject* context, Reply reply) override {
        run(new QKeychain::ReadPasswordJob(kService), account, context, std::move(reply));
    }
    void write(const QString& account, const QString& secret, QObject* context, Reply reply) override {
        auto* job = new QKeychain::WritePasswordJob(kService);
        job->setTextData(secret);
        run(job, account, context, std::move(reply));
    }
    void remove(const QString& account, QObject* context, Reply reply) override {
        run(new QKeychain::DeletePasswordJob(kService), account, context, std::move(reply));
    }
};

} // namespace

std::unique_ptr<Keyring> Keyring::makeSystem() {
    return std::make_unique<SystemKeyring>();
}
