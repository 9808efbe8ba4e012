// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "shell/MainLayout.h"

class MainWindow;
class QAction;
class QMenu;
class QSystemTrayIcon;

// The main window's menu bar, its contact menu (on the bar but never shown there) and its tray
// icon with its menu, each item wired to the window's handler of the same name.
struct MainMenus {
    QMenu* file = nullptr;
    QMenu* contactMenu = nullptr;
    QAction* mnuOpen = nullptr;
    QAction* mnuCheckAll = nullptr;   // "Check Everyone", or "Stop Checking" while a run goes
    QAction* mnuOnlineOnly = nullptr; // checkable
    QAction* mnuSignInAgain = nullptr; // only while the session has stopped for good
    QAction* mnuWatchedOnly = nullptr; // checkable
    QAction* mnuWatch = nullptr;       // checkable: whether the selected contact is watched
    QAction* mnuUndoRemove = nullptr;  // only while a removal can be put back
    QSystemTrayIcon* cSysTray2 = nullptr;
    QMenu* trayMenu = nullptr;
    QAction* trayRestore = nullptr;    // the watched contacts online go above it
    QAction* trayStartAtLogin = nullptr; // checkable

    static MainMenus build(MainWindow* window, const MainLayout& table);
};
