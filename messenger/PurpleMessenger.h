// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "messenger/Messenger.h"

#include <QObject>
#include <memory>

// The libpurple client (Pidgin or Finch) on the session bus.
//
// The session bus is the one QtDBus opens on first use of QDBusConnection::sessionBus(),
// from DBUS_SESSION_BUS_ADDRESS as it is at that moment, and keeps for the whole process.
class PurpleMessenger : public QObject, public Messenger {
    Q_OBJECT
public:
    explicit PurpleMessenger(QObject* parent = nullptr);
    ~PurpleMessenger() override;

    bool present() override;
    int MyStatus() override;
    bool answering() override;
    std::optional<QString> MySigninName() override;
    ClientResult InstantMessage(const QString& contact) override;
    ClientResult StartVoice(const QString& contact) override;
    ClientResult SendMail(const QString& contact) override;
    ClientResult ViewProfile(const QString& contact) override;
    bool reportsStatusChanges() const override { return true; }

private slots:
    void forgetStatus();

private:
    struct Client;
    std::unique_ptr<Client> client;
};
