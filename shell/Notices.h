// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "contacts/ContactLocation.h"

#include <QString>
#include <QStringList>

class CheckDatabase;
struct LoadResult;

// What the main window tells the user in words of its own, beside the system's texts.
namespace Notices {

// What the load step has to tell; each notice adds to the others, none may hide another.
QStringList load(const LoadResult& result, const QString& contactFile);
// What became of the program's own database, when it is not simply open; empty otherwise.
QString database(const CheckDatabase& database);
QString noClient();
// A contact action with no row selected.
QString selectFirst();
// A name or address the contact file could not hold.
QString unstorable();
QString saveFailed(const QString& error, bool leavingCalledOff);
// A list beside the program that Velmora cannot write there, told once; empty once told.
QString readOnlyContactFile(const ContactLocation::Placement& placement);
// A data/ beside the program that others own or may write, and so is not used; told once.
QString sharedDataFolder(const ContactLocation::Placement& placement);

} // namespace Notices
