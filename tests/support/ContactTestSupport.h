// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Helpers for the contact file tests: whole-file reads and writes, and running a save in a forked
// child, where resource limits, signals and mount namespaces can be changed without touching the
// test program itself.

#include "contacts/ContactFile.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <functional>

#include <sys/wait.h>
#include <unistd.h>

namespace contacttest {

// Records as readable text, so a failed comparison shows what differs.
inline QStringList shown(const QList<ContactRecord>& records) {
    QStringList out;
    for (const ContactRecord& r : records)
        out << QStringLiteral("[%1] <%2>").arg(r.name, r.email);
    return out;
}

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

inline bool writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

struct ChildSave {
    QString setupError; // the child could not arrange its conditions; the case cannot run here
    bool ok = false;
    QString error;
    qint64 recordsWritten = 0;
    bool crashed = false;
};

// Runs setup() and then save() in a forked child with SIGXFSZ ignored, so exceeding a file size
// limit shows up as EFBIG instead of killing the process. setup() returns an empty string or why
// it could not set up.
inline ChildSave saveInChild(const std::function<QString()>& setup, const std::function<SaveResult()>& save) {
    int fds[2];
    if (::pipe(fds) != 0) {
        ChildSave failed;
        failed.setupError = QStringLiteral("pipe failed");
        return failed;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::signal(SIGXFSZ, SIG_IGN);
        QByteArray out;
        const QString why = setup ? setup() : QString();
        if (!why.isEmpty()) {
            out = "S" + why.toUtf8();
        } else {
            const SaveResult r = save();
            out = (r.ok ? "1" : "0") + QByteArray::number(r.recordsWritten) + '\n' + r.error.toUtf8();
        }
        const char* p = out.constData();
        qsizetype left = out.size();
        while (left > 0) {
            const ssize_t n = ::write(fds[1], p, size_t(left));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            p += n;
            left -= n;
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray in;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        in.append(buf, n);
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);

    ChildSave result;
    if (!WIFEXITED(status) || in.isEmpty()) {
        result.crashed = true;
        return result;
    }
    if (in.startsWith('S')) {
        result.setupError = QString::fromUtf8(in.mid(1));
        return result;
    }
    result.ok = in.startsWith('1');
    const qsizetype nl = in.indexOf('\n');
    result.recordsWritten = in.mid(1, nl - 1).toLongLong();
    result.error = QString::fromUtf8(in.mid(nl + 1));
    return result;
}

} // namespace contacttest
