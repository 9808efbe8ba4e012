#pragma once

#include "messenger/Messenger.h"

#include <QObject>

// The libpurple client (Pidgin or Finch) on the session bus.
class PurpleMessenger : public QObject, public Messenger {
    Q_OBJECT
public:
    explicit PurpleMessenger(QObject* parent = nullptr);
    ~PurpleMessenger() override;

    int MyStatus() override;
    std::optional<QString> MySigninName() override;
    ClientResult InstantMessage(const QString& contact) override;
    ClientResult StartVoice(const QString& contact) override;
    ClientResult SendMail(const QString& contact) override;
    ClientResult ViewProfile(const QString& contact) override;
};
