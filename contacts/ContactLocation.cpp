#include "contacts/ContactLocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

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

} // namespace

QString choose(const QString& programDir, const QString& xdgDataHome, const QString& home) {
    const QString beside = QDir::cleanPath(programDir + QStringLiteral("/data"));
    if (isWritableFolder(beside))
        return beside + QLatin1Char('/') + kFileName;
    return userDataHome(xdgDataHome, home) + QStringLiteral("/Velmora/data/") + kFileName;
}

QString forThisRun() {
    // Chosen once: a save must go to the file the list was read from, even if the folder beside
    // the program changes meanwhile.
    static const QString path = [] {
        const QString chosen = choose(QCoreApplication::applicationDirPath(),
                                      qEnvironmentVariable("XDG_DATA_HOME"), QDir::homePath());
        const QString folder = QDir::cleanPath(chosen + QStringLiteral("/.."));
        if (!isWritableFolder(folder)) {
            makeOwnFolder(QDir::cleanPath(folder + QStringLiteral("/..")));
            makeOwnFolder(folder);
        }
        return chosen;
    }();
    return path;
}

} // namespace ContactLocation
