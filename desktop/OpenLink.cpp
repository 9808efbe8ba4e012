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
    // xdg-open hands a link nobody takes to a web browser: these go only where a handler is set.
    const bool mustHaveHandler = target.scheme() == QLatin1String("mailto") || target.scheme() == QLatin1String("msnim");
    if (!mustHaveHandler)
        return QDesktopServices::openUrl(target);
    if (!desktopHasHandler(target.scheme()))
        return false;
    // The handler just found is the one xdg-open starts, whatever Qt's platform plugin offers.
    return QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromUtf8(target.toEncoded())}) ||
           QDesktopServices::openUrl(target);
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
