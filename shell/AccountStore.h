// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>
#include <optional>

class QObject;

// The second account, remembered in the per-user settings store ("Tavlo" / "SignIn" / "Usrname"),
// and its password: in the desktop's keyring when one answers (see Keyring.h), else as "Psswrd" in
// the same file in plain text, which is why that file is kept readable by its owner only.
namespace AccountStore {

QString get(const QString& key, const QString& defaultValue);
void save(const QString& key, const QString& value);
void remove(const QString& key);
QString filePath();

// Asks the keyring for the account's password. answer gets it, or nullopt when the keyring holds
// none or cannot be asked; it is never called once context is gone, and may never be called at
// all when the keyring hangs: bound the wait with keyringWaitMs().
void fetchPassword(const QString& account, QObject* context,
                   std::function<void(const std::optional<QString>&)> answer);

// Keeps the password of the account that signs in. It goes to the keyring; once there, a "Psswrd"
// left in the file by an earlier version (or by a time without keyring) leaves the file, and so
// does the keyring's entry for a previous, different account. When the keyring fails or does not
// answer within keyringWaitMs(), "Psswrd" keeps it, and tell() is called with what to say about
// that, the first time only. An answer that comes late still moves the password out of the file.
// Without a program keyring it is "Psswrd" as before, and nothing is said.
void savePassword(const QString& account, const QString& password, const QString& previousAccount,
                  std::function<void(const QString&)> tell);

int keyringWaitMs();
void setKeyringWaitMs(int ms); // tests

} // namespace AccountStore
