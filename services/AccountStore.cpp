// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/AccountStore.h"

#include "services/Keyring.h"
#include "services/ProgramSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString kSection = QStringLiteral("SignIn");
const QString kPassword = QStringLiteral("Psswrd");
// Set once the user has been told that the file holds the password.
const QString kToldKey = QStringLiteral("PsswrdInFileTold");

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
} // namespace

namespace AccountStore {

QString filePath() {
    return programSettings().fileName();
}

void keepPrivate() {
    const QByteArray native = QFile::encodeName(filePath());
    struct stat st;
    if (::lstat(native.constData(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0)
        ::chmod(native.constData(), 0600);
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

} // namespace AccountStore

Passwords::Passwords(std::unique_ptr<Keyring> keyring, int keyringWaitMs)
    : m_keyring(std::move(keyring)), m_keyringWaitMs(keyringWaitMs), m_context(std::make_unique<QObject>()) {
    // The file may hold a password from an earlier version.
    AccountStore::keepPrivate();
}

Passwords::~Passwords() = default;

void Passwords::fetch(const QString& account, QObject* context,
                      std::function<void(const std::optional<QString>&)> answer) {
    if (!m_keyring || account.isEmpty()) {
        answer(std::nullopt);
        return;
    }
    m_keyring->read(account, context, [answer = std::move(answer)](const Keyring::Answer& a) {
        answer(a.outcome == Keyring::Outcome::Done ? std::optional<QString>(a.secret) : std::nullopt);
    });
}

void Passwords::save(const QString& account, const QString& password, const QString& previousAccount,
                     std::function<void(const QString&)> tell) {
    if (!m_keyring) {
        AccountStore::save(kPassword, password);
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
        AccountStore::save(kPassword, password);
        if (!AccountStore::get(kToldKey, QString()).isEmpty())
            return;
        AccountStore::save(kToldKey, QStringLiteral("1"));
        if (tell)
            tell(QStringLiteral("Your password could not be stored in the desktop's keyring (%1).\n\n"
                                "It is kept in plain text in %2, readable by you only. It moves to the "
                                "keyring at a sign-in when one answers.")
                     .arg(why, AccountStore::filePath()));
    };
    QTimer::singleShot(m_keyringWaitMs, m_context.get(),
                       [keepInFile] { keepInFile(QStringLiteral("it did not answer")); });
    m_keyring->write(account, password, m_context.get(),
                     [this, state, keepInFile, account, previousAccount](const Keyring::Answer& a) {
                       if (a.outcome != Keyring::Outcome::Done) {
                           keepInFile(a.error.isEmpty() ? QStringLiteral("it refused") : a.error);
                           return;
                       }
                       state->inKeyring = true;
                       AccountStore::remove(kPassword);
                       AccountStore::remove(kToldKey);
                       if (!previousAccount.isEmpty() && previousAccount != account)
                           m_keyring->remove(previousAccount, m_context.get(), [](const Keyring::Answer&) {});
                   });
}
