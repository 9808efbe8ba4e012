// SPDX-License-Identifier: GPL-3.0-or-later
#include "contacts/ContactLocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace ContactLocation {
namespace {

const QString kFileName = QStringLiteral("database.dat");

bool isWritableFolder(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    return ::stat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(native.constData(), W_OK | X_OK) == 0;
}

// A folder beside the program that someone else owns, or may write, is theirs to plant files in:
// a link where the list or the database will be, a database of their making.
bool sharedWithOthers(const QString& path) {
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 &&
           (st.st_uid != ::getuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0);
}

bool isOwnFolder(const QString& path) {
    return isWritableFolder(path) && !sharedWithOthers(path);
}

QString userDataHome(const QString& xdgDataHome, const QString& home) {
    // A relative XDG_DATA_HOME is to be ignored: it would follow the working directory around.
    if (!xdgDataHome.isEmpty() && QDir::isAbsolutePath(xdgDataHome))
        return QDir::cleanPath(xdgDataHome);
    return QDir::cleanPath(home + QStringLiteral("/.local/share"));
}

// Folders the program makes for itself hold a contact list: nobody else's business.
void makeOwnFolder(const QString& path) {
    if (QDir(path).exists())
        return;
    QDir().mkpath(QDir::cleanPath(path + QStringLiteral("/..")));
    ::mkdir(QFile::encodeName(path).constData(), 0700);
}

QString besideTheProgram(const QString& programDir) {
    return QDir::cleanPath(programDir + QStringLiteral("/data"));
}

QString inTheUsersFolder(const QString& xdgDataHome, const QString& home) {
    return userDataHome(xdgDataHome, home) + QStringLiteral("/Velmora/data/") + kFileName;
}

} // namespace

QString choose(const QString& programDir, const QString& xdgDataHome, const QString& home) {
    const QString beside = besideTheProgram(programDir);
    if (isOwnFolder(beside))
        return beside + QLatin1Char('/') + kFileName;
    return inTheUsersFolder(xdgDataHome, home);
}

Placement place(const QString& programDir, const QString& xdgDataHome, const QString& home,
                const std::function<bool(const QString&)>& writable) {
    const auto canWrite = writable ? writable : isWritableFolder;
    const QString beside = besideTheProgram(programDir);
    const bool shared = QFileInfo::exists(beside) && sharedWithOthers(beside);
    if (canWrite(beside) && !shared)
        return {beside + QLatin1Char('/') + kFileName, {}, false, {}};
    Placement placement{inTheUsersFolder(xdgDataHome, home), {}, false, {}};
    const QString folder = QDir::cleanPath(placement.file + QStringLiteral("/.."));
    if (!isWritableFolder(folder)) {
        makeOwnFolder(QDir::cleanPath(folder + QStringLiteral("/..")));
        makeOwnFolder(folder);
    }
    if (shared) {
        // Nothing in it is used, nor copied: whatever is there may have been planted.
        placement.sharedFolder = beside;
        return placement;
    }
    const QString readOnly = beside + QLatin1Char('/') + kFileName;
    if (!QFileInfo(readOnly).isFile())
        return placement;
    placement.readOnlyFile = readOnly;
    // The copy is the user's to save to, whatever the mode of the file it came from.
    if (!QFileInfo::exists(placement.file) && QFile::copy(readOnly, placement.file)) {
        QFile::setPermissions(placement.file,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        placement.copied = true;
    }
    return placement;
}

Placement placeForThisRun() {
    return place(QCoreApplication::applicationDirPath(), qEnvironmentVariable("XDG_DATA_HOME"), QDir::homePath());
}

} // namespace ContactLocation
