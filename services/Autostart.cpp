// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/Autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {
// An argument of an Exec line: quoted, with the characters the desktop entry format reserves escaped.
QString execArgument(const QString& arg) {
    QString quoted = arg;
    for (const QChar c : {QLatin1Char('\\'), QLatin1Char('"'), QLatin1Char('`'), QLatin1Char('$')})
        quoted.replace(c, QStringLiteral("\\") + c);
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    // The file format escapes backslashes once more.
    return QLatin1Char('"') + quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\")) + QLatin1Char('"');
}
} // namespace

namespace Autostart {

QString entryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/velmora.desktop");
}

bool enabled() {
    return QFileInfo::exists(entryPath());
}

bool set(bool on, QString* error) {
    const QString path = entryPath();
    if (!on) {
        if (!QFileInfo::exists(path) || QFile::remove(path))
            return true;
        *error = QStringLiteral("%1 could not be removed.").arg(path);
        return false;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    const QByteArray entry = "[Desktop Entry]\nType=Application\nName=Velmora\n"
                             "Comment=Watch contacts from the tray\nExec=" +
                             execArgument(QCoreApplication::applicationFilePath()).toUtf8() +
                             " --tray\nIcon=velmora\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    if (file.open(QIODevice::WriteOnly) && file.write(entry) == entry.size() && file.commit())
        return true;
    *error = QStringLiteral("%1: %2").arg(path, file.errorString());
    return false;
}

} // namespace Autostart
