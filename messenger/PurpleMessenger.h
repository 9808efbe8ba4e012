// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "desktop/OpenLink.h"
#include "messenger/Messenger.h"

#include <QObject>
#include <memory>

// The libpurple client (Pidgin or Finch) on the session bus, asked without waiting for it.
//
// The session bus is the one QtDBus opens on first use of QDBusConnection::sessionBus(),
// from DBUS_SESSION_BUS_ADDRESS as it is at that moment, and keeps for the whole process.
class PurpleMessenger : public QObject, public Messenger {
    Q_OBJECT
public:
    // Mail goes to the desktop, not to the client.
    explicit PurpleMessenger(Desktop desktop = Desktop(), QObject* parent = nullptr);
    ~PurpleMessenger() override;

    bool present() override;
    int MyStatus() override;
    bool statusPending() override;
    bool answering() override;
    std::optional<QString> MySigninName() override;
    // With a signed-in account of an MSN protocol, or one that has the contact as a buddy.
    void takesContact(const QString& contact, std::function<void(bool takes)> then) override;
    void InstantMessage(const QString& contact, Done done) override;
    void StartVoice(const QString& contact, Done done) override;
    void SendMail(const QString& contact, Done done) override;
    void ViewProfile(const QString& contact, Done done) override;
    bool reportsStatusChanges() const override { return true; }

private slots:
    void forgetStatus();

private:
    struct Client;
    Desktop desktop;
    std::unique_ptr<Client> client;
};
