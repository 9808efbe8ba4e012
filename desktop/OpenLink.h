// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QUrl>
#include <functional>

// Opens a web address or mail link with the desktop's default handler. The
// operation, parameters, directory and show value are kept for the callers'
// sake; the desktop handler takes none of them. Reports nothing: a link that
// cannot be opened fails silently.
void OpenLink(const QString& target, const QString& operation = QStringLiteral("Open"),
              const QString& parameters = {}, const QString& directory = {}, int show = 0);

// The same for callers that must tell the user when nothing opens: false when
// the desktop has no program for the link or could not start it.
bool openLink(const QUrl& target);

// Tests replace the desktop handler to see which links were opened and to
// play a desktop that cannot open them; an empty function restores it.
using LinkOpener = std::function<bool(const QUrl& target)>;
void setLinkOpener(LinkOpener opener);
