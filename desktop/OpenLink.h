// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QUrl>
#include <functional>

// What opens a link in place of the desktop: true when something took it.
using LinkOpener = std::function<bool(const QUrl& target)>;

// Web addresses and mail links, opened with the desktop's default handler, or with the opener
// given in its place.
class Desktop {
public:
    explicit Desktop(LinkOpener opener = {}) : m_opener(std::move(opener)) {}

    // The operation, parameters, directory and show value are kept for the callers' sake; the
    // desktop handler takes none of them. Reports nothing: a link that cannot be opened fails
    // silently.
    void OpenLink(const QString& target, const QString& operation = QStringLiteral("Open"),
                  const QString& parameters = {}, const QString& directory = {}, int show = 0) const;

    // The same for callers that must tell the user when nothing opens: false when the desktop has
    // no program for the link or could not start it.
    bool openLink(const QUrl& target) const;

private:
    LinkOpener m_opener;
};
