#include "messenger/PurpleMessenger.h"

// Placeholder until the D-Bus backend lands: reads as an offline client.
PurpleMessenger::PurpleMessenger(QObject* parent) : QObject(parent) {}
PurpleMessenger::~PurpleMessenger() = default;
int PurpleMessenger::MyStatus() { return MISTATUS_OFFLINE; }
std::optional<QString> PurpleMessenger::MySigninName() { return std::nullopt; }
ClientResult PurpleMessenger::InstantMessage(const QString&) { return ClientResult::failure("No messenger client"); }
ClientResult PurpleMessenger::StartVoice(const QString&) { return ClientResult::failure("No messenger client"); }
ClientResult PurpleMessenger::SendMail(const QString&) { return ClientResult::failure("No messenger client"); }
ClientResult PurpleMessenger::ViewProfile(const QString&) { return ClientResult::failure("No messenger client"); }
