// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/Startup.h"

#include "shell/Look.h"

#include <QApplication>

#include <csignal>

void prepareApplication()
{
    // A file-size limit must turn into a save error the user is told of, not
    // end the program with the contacts still unsaved.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    // Lets the desktop match the windows to the menu entry velmora.desktop.
    QGuiApplication::setDesktopFileName(QStringLiteral("velmora"));
    // Windows come and go in their own order (sign-in, then main, tray):
    // the program ends where it says so, not when a window closes.
    QApplication::setQuitOnLastWindowClosed(false);
    Look::installFonts();
    QApplication::setFont(Look::tahoma());
}
