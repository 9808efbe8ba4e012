// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

class QLocalServer;

// One running copy per user: two would each append to the same contact file without seeing the
// other's contacts, and sign the same second account in twice. The first start holds a lock file
// beside the settings and listens on a local socket; a later start asks it to come forward and
// ends. A lock left by a copy that was killed names a process that is gone, and is taken over.
class SingleCopy : public QObject {
    Q_OBJECT
public:
    enum class Claim {
        First,      // this is the running copy now: it listens for later starts
        HandedOver, // another copy runs and is coming forward: end this one
        NoAnswer,   // another copy holds the lock but did not answer in time
        Unguarded,  // the lock cannot be written (a read-only settings folder): run without it
    };

    explicit SingleCopy(const QString& lockPath, QObject* parent = nullptr);
    ~SingleCopy() override;

    // Beside the settings file of the account (~/.config/Tavlo).
    static QString defaultLockPath();
    // Where a lock file's copy listens: in the user's runtime folder, named after the lock; empty
    // without one, and the copy then runs unguarded.
    static QString socketPathFor(const QString& lockPath);

    // Blocks for at most waitMs, before any window exists.
    Claim claim(int waitMs = 5000);
    qint64 holderPid(); // the copy that holds the lock, 0 when unknown

signals:
    // activationToken: what the desktop gave the later start to let its window take the focus
    // (Wayland's XDG_ACTIVATION_TOKEN), empty when it gave none.
    void comeForward(const QString& activationToken);

private:
    bool askToComeForward(int waitMs);
    void listen();

    QString m_lockPath;
    QString m_socketPath;
    QLockFile m_lock;
    QLocalServer* m_server = nullptr;
};
