// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/OpenLink.h"

#include <QDesktopServices>
#include <QProcess>

namespace {
LinkOpener& opener()
{
    static LinkOpener o;
    return o;
}

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

void OpenLink(const QString& target, const QString&, const QString&, const QString&, int)
{
    openLink(QUrl(target));
}

bool openLink(const QUrl& target)
{
    return opener() ? opener()(target) : desktopOpens(target);
}

void setLinkOpener(LinkOpener o)
{
    opener() = std::move(o);
}
