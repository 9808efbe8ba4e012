// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/MainMenus.h"

#include "shell/Look.h"
#include "shell/MainWindow.h"

#include <QMenu>
#include <QMenuBar>
#include <QSystemTrayIcon>

namespace {

using Handler = void (MainWindow::*)();

QMenu* menu(QWidget* parent, const char* name, const QString& caption) {
    auto* m = new QMenu(caption, parent);
    m->setObjectName(QLatin1String(name));
    m->menuAction()->setObjectName(QLatin1String(name));
    m->setFont(Look::tahoma());
    return m;
}

QAction* item(MainWindow* window, QMenu* menu, const char* name, const QString& caption, Handler handler,
              const QKeySequence& key = {}) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(QLatin1String(name));
    a->setShortcut(key);
    QObject::connect(a, &QAction::triggered, window, handler);
    return a;
}

void separator(QMenu* menu, const char* name) {
    menu->addSeparator()->setObjectName(QLatin1String(name));
}

QMenu* fileMenu(MainWindow* w, const MainLayout& table, MainMenus& m) {
    QMenu* file = menu(w, "mnuFile", QStringLiteral("&File"));
    item(w, file, "mnuSave", QStringLiteral("&Save"), &MainWindow::mnuSave_Click,
         QKeySequence(Qt::CTRL | Qt::Key_S));
    m.mnuOpen = file->addAction(QStringLiteral("&Open"));
    m.mnuOpen->setObjectName(QStringLiteral("mnuOpen"));
    m.mnuOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    item(w, file, "mnuFind", QStringLiteral("Find\u2026"), &MainWindow::mnuFind_Click, QKeySequence(Qt::CTRL | Qt::Key_F));
    separator(file, table.sepAfterOpen);
    item(w, file, "mnuStats", QStringLiteral("Check User Status"), &MainWindow::mnuStats_Click,
         QKeySequence(Qt::Key_F2));
    m.mnuCheckAll = item(w, file, "mnuCheckAll", QStringLiteral("Check Everyone"), &MainWindow::mnuCheckAll_Click,
                         QKeySequence(Qt::SHIFT | Qt::Key_F2));
    m.mnuOnlineOnly = item(w, file, "mnuOnlineOnly", QStringLiteral("Show Online Only"),
                           &MainWindow::mnuOnlineOnly_Click);
    m.mnuOnlineOnly->setCheckable(true);
    m.mnuWatchedOnly = item(w, file, "mnuWatchedOnly", QStringLiteral("Watched Contacts Only"),
                            &MainWindow::mnuWatchedOnly_Click);
    m.mnuWatchedOnly->setCheckable(true);
    item(w, file, "mnuClearResults", QStringLiteral("Clear Check Results"), &MainWindow::mnuClearResults_Click);
    m.mnuSignInAgain = item(w, file, "mnuSignInAgain", QStringLiteral("Sign In Again"), &MainWindow::mnuSignInAgain_Click);
    m.mnuSignInAgain->setEnabled(false);
    separator(file, table.sepAfterStats);
    m.mnuUndoRemove = item(w, file, "mnuUndoRemove", QStringLiteral("Undo Remove"), &MainWindow::mnuUndoRemove_Click,
                           QKeySequence(Qt::CTRL | Qt::Key_Z));
    m.mnuUndoRemove->setEnabled(false);
    item(w, file, "mnuCleanUp", QStringLiteral("Clean Up List\u2026"), &MainWindow::mnuCleanUp_Click);
    item(w, file, "mnuImport", QStringLiteral("Import Contacts\u2026"), &MainWindow::mnuImport_Click);
    item(w, file, "mnuExport", QStringLiteral("Export Contacts\u2026"), &MainWindow::mnuExport_Click);
    separator(file, "sepAfterKeeping");
    item(w, file, "mnuSysTray", QLatin1String(table.sysTrayCaption), &MainWindow::mnuSysTray_Click,
         table.sysTrayKey);
    separator(file, table.sepBeforeExit);
    item(w, file, "mnuExit", QStringLiteral("E&xit"), &MainWindow::mnuExit_Click);
    return file;
}

QMenu* helpMenu(MainWindow* w) {
    QMenu* help = menu(w, "mnuHelp", QStringLiteral("&Help"));
    item(w, help, "mnuHelp1", QStringLiteral("&Help"), &MainWindow::mnuHelp1_Click, QKeySequence(Qt::Key_F1));
    separator(help, "mnuSep2");
    item(w, help, "mnuAbout", QStringLiteral("&About"), &MainWindow::mnuAbout_Click);
    return help;
}

QMenu* buildContactMenu(MainWindow* w, const MainLayout& table, MainMenus& m) {
    QMenu* contact = menu(w, table.contactMenuName, QLatin1String(table.contactMenuCaption));
    item(w, contact, "mnuConvo", QLatin1String(table.convoCaption), &MainWindow::mnuConvo_Click);
    separator(contact, "sep7");
    item(w, contact, "mnStats", QLatin1String(table.popupStatsCaption), &MainWindow::mnStats_Click);
    m.mnuWatch = item(w, contact, "mnuWatch", QStringLiteral("Watch"), &MainWindow::mnuWatch_Click);
    m.mnuWatch->setCheckable(true);
    separator(contact, "sep10");
    QMenu* view = menu(contact, table.viewMenuName, QStringLiteral("&View"));
    item(w, view, "mnuProfile", QStringLiteral("&View Profile"), &MainWindow::mnuProfile_Click);
    separator(view, table.viewSepFirst);
    item(w, view, "mnuVConvo", QLatin1String(table.vconvoCaption), &MainWindow::mnuVConvo_Click);
    separator(view, table.viewSepSecond);
    item(w, view, "mnuEmail", QStringLiteral("&Send an Email"), &MainWindow::mnuEmail_Click);
    contact->addMenu(view);
    separator(contact, "sep11");
    item(w, contact, "mnuEditContact", QStringLiteral("Edit Contact\u2026"), &MainWindow::mnuEditContact_Click);
    item(w, contact, "mnuRemoveContact", QStringLiteral("Remove Contact"), &MainWindow::mnuRemoveContact_Click);
    return contact;
}

QSystemTrayIcon* trayIcon(MainWindow* w, MainMenus& m) {
    auto* tray = new QSystemTrayIcon(QIcon(QStringLiteral(":/velmora32.png")), w);
    tray->setObjectName(QStringLiteral("cSysTray2"));
    tray->setToolTip(QStringLiteral("Velmora v" VELMORA_VERSION));
    // A right click asks for the icon's menu, not for the window.
    QObject::connect(tray, &QSystemTrayIcon::activated, w, [w](QSystemTrayIcon::ActivationReason why) {
        if (why != QSystemTrayIcon::Context)
            w->cSysTray2_MouseEvent();
    });
    QMenu* trayMenu = menu(w, "trayMenu", QString());
    m.trayMenu = trayMenu;
    m.trayRestore = trayMenu->addAction(QStringLiteral("Restore"), w, &MainWindow::cSysTray2_MouseEvent);
    m.trayRestore->setObjectName(QStringLiteral("trayRestore"));
    m.trayStartAtLogin = trayMenu->addAction(QStringLiteral("Start At Login"), w, &MainWindow::trayStartAtLogin_Click);
    m.trayStartAtLogin->setObjectName(QStringLiteral("trayStartAtLogin"));
    m.trayStartAtLogin->setCheckable(true);
    // Leaving from the tray asks the same question, over the window it concerns.
    trayMenu
        ->addAction(QStringLiteral("Exit"), w,
                    [w] {
                        w->cSysTray2_MouseEvent();
                        w->mnuExit_Click();
                    })
        ->setObjectName(QStringLiteral("trayExit"));
    tray->setContextMenu(trayMenu);
    return tray;
}

} // namespace

MainMenus MainMenus::build(MainWindow* window, const MainLayout& table) {
    MainMenus m;
    QMenuBar* bar = window->menuBar();
    bar->setFont(Look::tahoma());
    m.file = fileMenu(window, table, m);
    bar->addMenu(m.file);
    bar->addMenu(helpMenu(window));
    // The contact menu sits on the bar hidden: only its pop-up is ever seen.
    m.contactMenu = buildContactMenu(window, table, m);
    bar->addMenu(m.contactMenu);
    m.contactMenu->menuAction()->setVisible(false);
    m.cSysTray2 = trayIcon(window, m);
    return m;
}
