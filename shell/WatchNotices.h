// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/CheckOutcome.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <functional>

class ListChecks;
class QAction;
class QTimer;
struct MainMenus;
struct ProgramParts;

// What the window tells of the watch: a desktop notification when watched contacts come online,
// or when the watch stops for good; where no notification service answers, the tray icon's
// message; without a tray icon shown, the line under the lists. And the tray menu's list of the
// watched contacts online now, each item starting a conversation.
class WatchNotices : public QObject {
    Q_OBJECT
public:
    using ContactCall = std::function<void(const QString& address)>;
    // conversation: the hand-off of a contact; show: the window in front with the contact's row.
    WatchNotices(QObject* parent, const ProgramParts& parts, ListChecks& lists, MainMenus& menus,
                 ContactCall conversation, ContactCall show);

    static constexpr int TrayItems = 10;
    static constexpr int OneByOne = 3; // more coming online at once are told in one notification

private:
    void cameOnline(const QStringList& addresses);
    void stopped(SessionProblem why);
    void tell(const QString& summary, const QString& body, const QString& address, bool canConverse);
    void rebuildTrayList();

    const ProgramParts& m_parts;
    ListChecks& m_lists;
    MainMenus& m_menus;
    ContactCall m_conversation;
    ContactCall m_show;
    QList<QAction*> m_trayItems;
    QTimer* m_trayNews;
};
