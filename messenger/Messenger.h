// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QString>
#include <functional>
#include <optional>

// What Velmora asks of the user's installed messenger client. The rest of the
// program sees only these six operations; how a backend reaches its client is
// its own business.
struct ClientResult {
    bool ok = true;
    QString error; // for the user, when !ok

    static ClientResult failure(QString why) { return {false, std::move(why)}; }
};

// Nothing here waits on the client: the status and the sign-in name are what it said last, and
// an action's answer comes later.
class Messenger {
public:
    static constexpr int MISTATUS_OFFLINE = 1;
    // An action's answer, on the UI thread; possibly before the action's call returns.
    using Done = std::function<void(const ClientResult&)>;

    virtual ~Messenger() = default;

    // Whether a client answers at all. None running is not the same as one that is offline:
    // the program's own status checks need no client.
    virtual bool present() { return true; }
    // 1 (MISTATUS_OFFLINE) when the client is not signed in or cannot be asked. A status that
    // may be out of date is asked for again; the listener hears when the answer is in.
    virtual int MyStatus() = 0;
    // True until the client has answered the first question about its status.
    virtual bool statusPending() { return false; }
    // False while the client is there but did not answer the latest question in time: a hung
    // client is not a reason to wait for it.
    virtual bool answering() { return true; }
    // The address the client is signed in with, as it said with its status; nullopt when it
    // cannot tell.
    virtual std::optional<QString> MySigninName() = 0;

    // Whether this client can reach the contact at all, answered later: a client that cannot is
    // passed over for whatever else the desktop has.
    virtual void takesContact(const QString& contact, std::function<void(bool takes)> then) {
        then(!contact.isEmpty());
    }

    virtual void InstantMessage(const QString& contact, Done done) = 0;
    virtual void StartVoice(const QString& contact, Done done) = 0;
    virtual void SendMail(const QString& contact, Done done) = 0;
    virtual void ViewProfile(const QString& contact, Done done) = 0;

    // Whether this client says when MyStatus() may have changed. One that does need not be asked
    // again until it has said so; one that does not must be asked again and again.
    virtual bool reportsStatusChanges() const { return false; }
    // The one listener told of such changes, on the UI thread, for as long as context lives.
    void setStatusListener(QObject* context, std::function<void()> listener);

protected:
    void statusMayHaveChanged();

private:
    QPointer<QObject> listenerContext;
    std::function<void()> listener;
};
