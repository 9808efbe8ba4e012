// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Program.h"

#include "messenger/PurpleMessenger.h"
#include "services/CommandLine.h"
#include "services/Keyring.h"
#include "services/ProgramSettings.h"
#include "session/Protocol.h"
#include "shell/SignInWindow.h"

#include <QApplication>
#include <QScreen>
#include <QSystemTrayIcon>

namespace {
// [Watch] EveryMinutes: a whole number of minutes, at least one.
int watchMinutes() {
    bool whole = false;
    const int minutes = programSettings().value(QStringLiteral("Watch/EveryMinutes")).toString().toInt(&whole);
    return whole ? std::max(1, minutes) : Watcher::DefaultMinutes;
}

// Qt's Wayland plugin activates a window with the token it finds here, and then forgets it.
void passActivationToken(const QString& token) {
    if (!token.isEmpty() && QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
}
} // namespace

Platform Platform::ofThisDesktop(const QString& server) {
    Platform p;
    p.contactFile = ContactLocation::placeForThisRun();
    p.server = server;
    p.messenger = std::make_unique<PurpleMessenger>(p.desktop);
    p.keyring = Keyring::makeSystem();
    p.screenTwips = [] {
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (!screen)
            return 12000.0; // no screen to ask: an ordinary 800-pixel display
        return screen->geometry().width() * 1440.0 / screen->logicalDotsPerInchX();
    };
    p.trayExists = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    return p;
}

Program::Program(Platform given)
    : platform(std::move(given)), shutdown(platform.endProgram),
      passwords(std::move(platform.keyring), platform.keyringWaitMs),
      database(checkDatabasePath(platform.contactFile.file)),
      results(database.usable() ? &database : nullptr),
      // The server is weighed at every sign-in: the settings file may name another by then.
      session(database.usable() ? &database : nullptr,
              [server = platform.server] { return CommandLine::currentServer(server).setting; }),
      checks(session, nullptr, platform.clock), watches(database.usable() ? &database : nullptr),
      watcher(checks, results, watches, platform.watchClock),
      parts{shutdown,
            passwords,
            contacts,
            platform.contactFile,
            database,
            results,
            checks,
            *platform.messenger,
            platform.desktop,
            platform.screenTwips,
            [server = platform.server] {
                return parseHostPort(CommandLine::currentServer(server).setting, kDispatchPort).has_value();
            },
            platform.trayExists,
            [this](Layout layout) { return mainWindow(layout); },
            [this] { return main.get(); },
            watches,
            watcher,
            notifications} {
    checks.setResults(&results);
    watcher.start(watchMinutes());
}

Program::~Program() {
    // The window goes first: it borrows everything else.
    main.reset();
}

void Program::start(bool inTray) {
    auto* signIn = new SignInWindow(parts);
    if (inTray)
        signIn->startInTray();
    else
        signIn->show();
}

MainWindow* Program::mainWindow(Layout layout) {
    if (!main) {
        main = std::make_unique<MainWindow>(layout, parts);
        main->Form_Load();
    }
    return main.get();
}

void Program::bringForward(const QString& activationToken) {
    QWidget* window = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("frmSignIn") && w->isVisible())
            window = w;
    if (!window && main) {
        window = main.get();
        if (main->isHidden())
            main->cSysTray2_MouseEvent(); // back from the tray, as its icon would do
    }
    // Under Wayland no window may take the focus by itself: only with the token the desktop gave
    // the later start, which goes to the window that ends up in front.
    QWidget* const modal = QApplication::activeModalWidget();
    if (window) {
        if (window->isMinimized())
            window->showNormal();
        window->raise();
        if (!modal)
            passActivationToken(activationToken);
        window->activateWindow();
    }
    if (modal) {
        modal->raise();
        passActivationToken(activationToken);
        modal->activateWindow();
    }
}
