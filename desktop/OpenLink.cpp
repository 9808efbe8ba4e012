// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/OpenLink.h"

#include <QDesktopServices>
#include <QProcess>

namespace {
// The desktop's own answer to "which program takes this link?". xdg-open
// reports success once it has started, whether or not anything then opens
// the link, so a mail link with no mail program would pass unnoticed.
bool desktopHasHandler(const QString& scheme)
{
    QProcess query;
    query.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"),
                                             QStringLiteral("x-scheme-handler/") + scheme});
    if (!query.waitForFinished(3000)) {
        query.kill();
        query.waitForFinished(1000);
        // No xdg-mime, or it hung: let the opener itself decide.
        return query.error() == QProcess::FailedToStart;
    }
    return query.exitCode() == 0 && !query.readAllStandardOutput().trimmed().isEmpty();
}

bool desktopOpens(const QUrl& target)
{
    if (target.scheme() == QLatin1String("mailto") && !desktopHasHandler(target.scheme()))
        return false;
    return QDesktopServices::openUrl(target);
}
} // namespace

void Desktop::OpenLink(const QString& target, const QString&, const QString&, const QString&, int) const
{
    openLink(QUrl(target));
}

bool Desktop::openLink(const QUrl& target) const
{
    return m_opener ? m_opener(target) : desktopOpens(target);
}
