// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "contacts/ContactLocation.h"
#include "contacts/ContactStore.h"
#include "messenger/Messenger.h"
#include "services/AccountStore.h"
#include "services/Keyring.h"
#include "session/CheckDatabase.h"
#include "session/CheckResults.h"
#include "session/CheckService.h"
#include "session/ServiceSession.h"
#include "session/Watcher.h"
#include "session/Watches.h"
#include "desktop/DesktopNotifications.h"
#include "shell/MainWindow.h"
#include "shell/ProgramParts.h"
#include "shell/Shutdown.h"

#include <functional>
#include <memory>

// What the program is built from that is not the same on every desktop, nor in a test.
struct Platform {
    ContactLocation::Placement contactFile; // where the list is kept
    QString server;                         // --server as given; empty when not
    Desktop desktop;                        // where links go
    std::unique_ptr<Messenger> messenger;   // the user's messenger client
    std::unique_ptr<Keyring> keyring;       // nullptr: the password stays in the settings file
    int keyringWaitMs = 5000;
    std::function<double()> screenTwips; // the primary screen's width in twips (1/1440 inch)
    std::function<bool()> trayExists;
    std::function<void()> endProgram; // how the program ends at once; empty leaves the event loop
    RunClock* clock = nullptr;        // the run's pace; nullptr keeps the system's
    RunClock* watchClock = nullptr;   // the watch's rounds, outliving the program; nullptr keeps the system's

    // This desktop: the list placed for this run, its default link handlers, libpurple's client,
    // the desktop's keyring, the primary screen and the tray as they are.
    static Platform ofThisDesktop(const QString& server);
};

// The one place that builds the program. Every part is made here, in this order, and lives for the
// whole run; the windows borrow what they use. The main window is made, and loaded, when the
// sign-in step first asks for it.
class Program {
public:
    explicit Program(Platform platform);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Shows the sign-in window; the rest follows from what the user does. In the tray: signed in
    // with the stored account, the window hidden.
    void start(bool inTray = false);
    // Shows whichever window of the program the user works in, in front: the sign-in window until
    // the account is handed over, then the main window (back from the tray if need be), and an open
    // modal box above it. activationToken: what the desktop gave a later start (Wayland).
    void bringForward(const QString& activationToken = QString());

    Platform platform;
    Shutdown shutdown;
    Passwords passwords;
    ContactStore contacts;
    CheckDatabase database;
    CheckResults results;
    ServiceSession session;
    CheckService checks;
    Watches watches;
    Watcher watcher;
    DesktopNotifications notifications;
    const ProgramParts parts;

private:
    MainWindow* mainWindow(Layout layout);

    std::unique_ptr<MainWindow> main;
};
