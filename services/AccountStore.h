// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class Keyring;
class QObject;

// The second account, remembered in the per-user settings store ("Tavlo" / "SignIn" / "Usrname"),
// and its password: in the desktop's keyring when one answers (see Keyring.h), else as "Psswrd" in
// the same file in plain text, which is why that file is kept readable by its owner only.
namespace AccountStore {

QString get(const QString& key, const QString& defaultValue);
void save(const QString& key, const QString& value);
void remove(const QString& key);
QString filePath();
// A settings file an older version left readable to others becomes the owner's alone.
void keepPrivate();

} // namespace AccountStore

// The account's password, kept in the keyring it is given. Without one, it is "Psswrd" in the
// settings file only, as the old program did.
class Passwords {
public:
    Passwords(std::unique_ptr<Keyring> keyring, int keyringWaitMs);
    ~Passwords();

    bool haveKeyring() const { return m_keyring != nullptr; }
    // How long a keyring that does not answer is waited for.
    int keyringWaitMs() const { return m_keyringWaitMs; }

    // Asks the keyring for the account's password. answer gets it, or nullopt when the keyring
    // holds none or cannot be asked; it is never called once context is gone, and may never be
    // called at all when the keyring hangs: bound the wait with keyringWaitMs().
    void fetch(const QString& account, QObject* context, std::function<void(const std::optional<QString>&)> answer);

    // Keeps the password of the account that signs in. It goes to the keyring; once there, a
    // "Psswrd" left in the file by an earlier version (or by a time without keyring) leaves the
    // file, and so does the keyring's entry for a previous, different account. When the keyring
    // fails or does not answer within keyringWaitMs(), "Psswrd" keeps it, and tell() is called
    // with what to say about that, the first time only. An answer that comes late still moves the
    // password out of the file.
    void save(const QString& account, const QString& password, const QString& previousAccount,
              std::function<void(const QString&)> tell);

private:
    std::unique_ptr<Keyring> m_keyring;
    int m_keyringWaitMs;
    // Lives as long as the program: a keyring answer may come after the window that asked is gone.
    std::unique_ptr<QObject> m_context;
};
