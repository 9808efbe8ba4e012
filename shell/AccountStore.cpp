#include "shell/AccountStore.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AccountStore {
namespace {
const QString kApplication = QStringLiteral("Tavlo");
const QString kSection = QStringLiteral("SignIn");

QSettings settings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, kApplication, kApplication);
}

// Create the file 0600 before anything is written into it, and keep it so:
// the password must never sit in a world-readable file, not even briefly.
void restrictFile(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    ::chmod(native.constData(), 0600);
}
} // namespace

QString filePath()
{
    return settings().fileName();
}

QString get(const QString& key, const QString& defaultValue)
{
    QSettings s = settings();
    return s.value(kSection + QLatin1Char('/') + key, defaultValue).toString();
}

void save(const QString& key, const QString& value)
{
    QSettings s = settings();
    restrictFile(s.fileName());
    s.setValue(kSection + QLatin1Char('/') + key, value);
    s.sync();
    restrictFile(s.fileName());
}

} // namespace AccountStore
