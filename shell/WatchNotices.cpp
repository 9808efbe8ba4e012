// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/WatchNotices.h"

#include "desktop/DesktopNotifications.h"
#include "session/CheckResults.h"
#include "session/Watcher.h"
#include "session/Watches.h"
#include "shell/ListChecks.h"
#include "shell/MainMenus.h"
#include "shell/ProgramParts.h"

#include <QAction>
#include <QCollator>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTime>
#include <QTimer>

WatchNotices::WatchNotices(QObject* parent, const ProgramParts& parts, ListChecks& lists, MainMenus& menus,
                           ContactCall conversation, ContactCall show)
    : QObject(parent), m_parts(parts), m_lists(lists), m_menus(menus), m_conversation(std::move(conversation)),
      m_show(std::move(show)), m_trayNews(new QTimer(this)) {
    connect(&parts.watcher, &Watcher::cameOnline, this, &WatchNotices::cameOnline);
    connect(&parts.watcher, &Watcher::stopped, this, &WatchNotices::stopped);
    // The tray's list follows the results of the watched contacts, told together.
    m_trayNews->setSingleShot(true);
    m_trayNews->setInterval(0);
    connect(m_trayNews, &QTimer::timeout, this, &WatchNotices::rebuildTrayList);
    connect(&parts.results, &CheckResults::recorded, this, [this](const QString& address) {
        if (m_parts.watches.contains(address))
            m_trayNews->start();
    });
    connect(&parts.watches, &Watches::changed, m_trayNews, qOverload<>(&QTimer::start));
    connect(menus.trayMenu, &QMenu::aboutToShow, this, &WatchNotices::rebuildTrayList);
    rebuildTrayList();
}

void WatchNotices::cameOnline(const QStringList& addresses) {
    if (addresses.size() <= OneByOne) {
        for (const QString& address : addresses)
            tell(QStringLiteral("%1 is online").arg(m_lists.nameOf(address)), address, address, true);
        return;
    }
    const QString summary = QStringLiteral("%1, %2 and %3 more are online")
                                .arg(m_lists.nameOf(addresses[0]), m_lists.nameOf(addresses[1]))
                                .arg(addresses.size() - 2);
    tell(summary, addresses.join(QStringLiteral(", ")), addresses[0], false);
}

void WatchNotices::stopped(SessionProblem why) {
    const QString body =
        why == SessionProblem::SignedInElsewhere
            ? QStringLiteral("Your second account was signed in somewhere else. Once it is signed out there, "
                             "choose File, Sign In Again.")
            : QStringLiteral("The service refused the password of your second account. Choose File, Sign In "
                             "Again.");
    tell(QStringLiteral("Watching has stopped"), body, QString(), false);
}

void WatchNotices::tell(const QString& summary, const QString& body, const QString& address, bool canConverse) {
    QList<DesktopNotifications::Action> actions{{QStringLiteral("default"), QStringLiteral("Show")}};
    if (canConverse)
        actions << DesktopNotifications::Action{QStringLiteral("conversation"), QStringLiteral("Start A Conversation")};
    actions << DesktopNotifications::Action{QStringLiteral("show"), QStringLiteral("Show")};
    QPointer<WatchNotices> self = this;
    m_parts.notifications.notify(
        summary, body, actions,
        [self, summary, body](bool shown) {
            if (!self || shown)
                return;
            QSystemTrayIcon* tray = self->m_menus.cSysTray2;
            if (tray->isVisible() && QSystemTrayIcon::supportsMessages())
                tray->showMessage(summary, body, QSystemTrayIcon::Information);
            else
                self->m_lists.setNote(QStringLiteral("%1 · %2").arg(summary, QTime::currentTime().toString(QStringLiteral("HH:mm"))));
        },
        [self, address](const QString& key) {
            if (!self)
                return;
            if (key == QLatin1String("conversation"))
                self->m_conversation(address);
            else
                self->m_show(address);
        });
}

void WatchNotices::rebuildTrayList() {
    m_trayNews->stop();
    qDeleteAll(std::exchange(m_trayItems, {}));
    QList<std::pair<QString, QString>> online; // name, address
    // Asked of the online ones, not of each watched one: nothing is kept for the watched on the way.
    if (m_parts.watches.count() > 0)
        for (const QString& address : m_parts.results.online())
            if (m_parts.watches.contains(address))
                online.append({m_lists.nameOf(address), address});
    if (online.isEmpty())
        return;
    QCollator order;
    std::sort(online.begin(), online.end(), [&](const auto& a, const auto& b) { return order(a.first, b.first); });
    QMenu* menu = m_menus.trayMenu;
    QAction* before = m_menus.trayRestore;
    for (qsizetype i = 0; i < std::min<qsizetype>(online.size(), TrayItems); ++i) {
        const auto& [name, address] = online[i];
        auto* item = new QAction(QStringLiteral("%1 (%2)").arg(name, address), menu);
        item->setObjectName(QStringLiteral("trayWatched"));
        connect(item, &QAction::triggered, this, [this, address = address] { m_conversation(address); });
        menu->insertAction(before, item);
        m_trayItems << item;
    }
    if (online.size() > TrayItems) {
        auto* more = new QAction(QStringLiteral("and %1 more").arg(online.size() - TrayItems), menu);
        more->setObjectName(QStringLiteral("trayWatchedMore"));
        more->setEnabled(false);
        menu->insertAction(before, more);
        m_trayItems << more;
    }
    auto* line = new QAction(menu);
    line->setSeparator(true);
    menu->insertAction(before, line);
    m_trayItems << line;
}
