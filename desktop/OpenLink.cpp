#include "shell/OpenLink.h"

#include <QDesktopServices>
#include <QUrl>

namespace {
LinkOpener& opener()
{
    static LinkOpener o;
    return o;
}
} // namespace

void OpenLink(const QString& target, const QString&, const QString&, const QString&, int)
{
    if (opener())
        opener()(target);
    else
        QDesktopServices::openUrl(QUrl(target));
}

void setLinkOpener(LinkOpener o)
{
    opener() = std::move(o);
}
