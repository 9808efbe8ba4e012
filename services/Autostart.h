// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The desktop's autostart entry that starts Velmora in the tray at login (XDG autostart).
namespace Autostart {

QString entryPath(); // $XDG_CONFIG_HOME/autostart/velmora.desktop
bool enabled();
// Writes the entry for this program, or removes it; false, with what went wrong, when it could not.
bool set(bool on, QString* error);

} // namespace Autostart
