#pragma once

#include <QString>
#include <functional>

// Opens a web address or mail link with the desktop's default handler. The
// operation, parameters, directory and show value are kept for the callers'
// sake; the desktop handler takes none of them. Reports nothing: a link that
// cannot be opened fails silently.
void OpenLink(const QString& target, const QString& operation = QStringLiteral("Open"),
              const QString& parameters = {}, const QString& directory = {}, int show = 0);

// Tests replace the desktop handler to see which links were opened; an empty
// function restores it.
using LinkOpener = std::function<void(const QString& target)>;
void setLinkOpener(LinkOpener opener);
