// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/AccountStore.h"

#include "shell/Keyring.h"
#include "shell/ProgramSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace AccountStore {
namespace {
const QString kSection = QStringLiteral("SignIn");
const QString kPassword = QStringLiteral("Psswrd");
// Set once the user has been told that the file holds the password.
const QString kToldKey = QStringLiteral("PsswrdInFileTold");

int g_keyringWaitMs = 5000;

// Create the file 0600 before anything is written into it, and keep it so:
// the password must never sit in a world-readable file, not even briefly.
void restrictFile(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    ::chmod(native.constData(), 0600);
}

// Lives as long as the program: a keyring answer may come after the sign-in window is gone.
QObject* programContext() {
    return QCoreApplication::instance();
}
} // namespace

QString filePath() {
    return programSettings().fileName();
}

QString get(const QString& key, const QString& defaultValue) {
    QSettings s = programSettings();
    return s.value(kSection + QLatin1Char('/') + key, defaultValue).toString();
}

void save(const QString& key, const QString& value) {
    QSettings s = programSettings();
    restrictFile(s.fileName());
    s.setValue(kSection + QLatin1Char('/') + key, value);
    s.sync();
    restrictFile(s.fileName());
}

void remove(const QString& key) {
    QSettings s = programSettings();
    if (!s.contains(kSection + QLatin1Char('/') + key))
        return;
    s.remove(kSection + QLatin1Char('/') + key);
    s.sync();
    restrictFile(s.fileName());
}

void fetchPassword(const QString& account, QObject* context,
                   std::function<void(const std::optional<QString>&)> answer) {
    Keyring* keyring = Keyring::program();
    if (!keyring || account.isEmpty()) {
        answer(std::nullopt);
        return;
    }
    keyring->read(account, context, [answer = std::move(answer)](const Keyring::Answer& a) {
        answer(a.outcome == Keyring::Outcome::Done ? std::optional<QString>(a.secret) : std::nullopt);
    });
}

void savePassword(const QString& account, const QString& password, const QString& previousAccount,
                  std::function<void(const QString&)> tell) {
    Keyring* keyring = Keyring::program();
    if (!keyring) {
        save(kPassword, password);
        return;
    }
    struct State {
        bool inKeyring = false;
        bool inFile = false;
    };
    auto state = std::make_shared<State>();
    auto keepInFile = [state, password, tell](const QString& why) {
        if (state->inKeyring || state->inFile)
            return;
        state->inFile = true;
        save(kPassword, password);
        if (!get(kToldKey, QString()).isEmpty())
            return;
        save(kToldKey, QStringLiteral("1"));
        if (tell)
            tell(QStringLiteral("Your password could not be stored in the desktop's keyring (%1).\n\n"
                                "It is kept in plain text in %2, readable by you only. It moves to the "
                                "keyring at a sign-in when one answers.")
                     .arg(why, filePath()));
    };
    QTimer::singleShot(g_keyringWaitMs, programContext(),
                       [keepInFile] { keepInFile(QStringLiteral("it did not answer")); });
    keyring->write(account, password, programContext(),
                   [state, keepInFile, account, previousAccount](const Keyring::Answer& a) {
                       if (a.outcome != Keyring::Outcome::Done) {
                           keepInFile(a.error.isEmpty() ? QStringLiteral("it refused") : a.error);
                           return;
                       }
                       state->inKeyring = true;
                       remove(kPassword);
                       remove(kToldKey);
                       Keyring* now = Keyring::program();
                       if (now && !previousAccount.isEmpty() && previousAccount != account)
                           now->remove(previousAccount, programContext(), [](const Keyring::Answer&) {});
                   });
}

int keyringWaitMs() {
    return g_keyringWaitMs;
}

void setKeyringWaitMs(int ms) {
    g_keyringWaitMs = ms;
}

} // namespace AccountStore
