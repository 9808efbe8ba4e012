// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "contacts/ContactLocation.h"
#include "desktop/OpenLink.h"
#include "shell/MainLayout.h"

#include <functional>

class CheckDatabase;
class CheckResults;
class CheckService;
class DesktopNotifications;
class Watcher;
class Watches;
class ContactStore;
class MainWindow;
class Messenger;
class Passwords;
class Shutdown;

// What the windows use of the program. The one place that builds the program makes and owns
// every part for the whole run; a window only borrows them.
struct ProgramParts {
    Shutdown& shutdown;
    Passwords& passwords;
    ContactStore& contacts; // the program's one store, shared by both layouts
    const ContactLocation::Placement& contactFile;
    CheckDatabase& database;
    CheckResults& results;
    CheckService& checks;
    Messenger& messenger;
    const Desktop& desktop;
    // The primary screen's width in twips (1/1440 inch).
    std::function<double()> screenTwips;
    // Whether a server to sign in at is named (command line, environment or settings).
    std::function<bool()> serverNamed;
    // Whether a tray exists. Without one, hiding minimises.
    std::function<bool()> trayExists;
    // The main window of the run, created and loaded when first asked for; later asks get the
    // same one, whatever layout they name.
    std::function<MainWindow*(Layout)> mainWindow;
    // The main window once there is one, else nullptr.
    std::function<MainWindow*()> existingMainWindow;
    Watches& watches;
    Watcher& watcher;
    DesktopNotifications& notifications;
};
