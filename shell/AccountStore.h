#pragma once

#include <QString>

// The second account, remembered in the per-user settings store
// ("Tavlo" / "SignIn" / "Usrname", "Psswrd") in plain text, so the file is
// kept readable by its owner only.
namespace AccountStore {

QString get(const QString& key, const QString& defaultValue);
void save(const QString& key, const QString& value);
QString filePath();

} // namespace AccountStore
