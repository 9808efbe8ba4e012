#pragma once

#include <QString>
#include <QStringList>

class CheckDatabase;
struct LoadResult;

// What the main window tells the user in words of its own, beside the system's texts.
namespace Notices {

// What the load step has to tell; each notice adds to the others, none may hide another.
QStringList load(const LoadResult& result);
QString database(const CheckDatabase& database);
QString noClient();
QString saveFailed(const QString& error, bool leavingCalledOff);

} // namespace Notices
