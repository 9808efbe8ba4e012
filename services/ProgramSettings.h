// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSettings>

// The per-user settings file every part of the program keeps its settings in, the account included
// (see AccountStore.h).
inline QSettings programSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tavlo"), QStringLiteral("Tavlo"));
}
