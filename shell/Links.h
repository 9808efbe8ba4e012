// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Where the program's links lead.
namespace Links {
inline const QString kRegistration = QStringLiteral("https://accounts.example.com/register");
inline const QString kWebSite = QStringLiteral("http://www.example.com/velmora");
inline const QString kFirstProgrammerMail = QStringLiteral("mailto:sam@example.com");
inline const QString kSecondProgrammerMail = QStringLiteral("mailto:kim@example.org");
} // namespace Links
