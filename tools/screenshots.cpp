// SPDX-License-Identifier: GPL-3.0-or-later
// Draws each window of the program into docs/screenshots, as a person sees it
// on a 96 dpi screen. Run by scripts/screenshots.sh under Xvfb.
#include "contacts/ContactFile.h"
#include "session/CheckDatabase.h"
#include "session/CheckResults.h"
#include "shell/AboutWindow.h"
#include "shell/HelpWindow.h"
#include "shell/Look.h"
#include "shell/MainWindow.h"
#include "shell/SignInWindow.h"
#include "tests/support/ShellHarness.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>

static void save(QWidget* w, const QString& dir, const char* name)
{
    QApplication::processEvents();
    w->grab().save(dir + QLatin1Char('/') + QLatin1String(name));
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    Look::installFonts();
    QApplication::setFont(Look::tahoma());
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    QDir().mkpath(out);

    for (Layout layout : {Layout::Full, Layout::Compact}) {
        ShellHarness h;
        h.messenger->setStatus(Messenger::MISTATUS_OFFLINE);
        h.writeContactFile(encodeRecord("Ann Example", "ann@example.com") +
                           encodeRecord("Bob Sample", "bob@example.org") +
                           encodeRecord("Chloé Durand", "chloe@example.net") +
                           encodeRecord("Dan, the builder", "dan@example.com"));
        {
            // Results as a run over the list leaves them: a mark on every row.
            CheckDatabase database(checkDatabasePath(h.contactFile()));
            CheckResults results(&database);
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            results.record("ann@example.com", ResultKind::Online, now);
            results.record("bob@example.org", ResultKind::Offline, now);
            results.record("chloe@example.net", ResultKind::NoSuchUser, now);
            results.record("dan@example.com", ResultKind::Unknown, now);
        }
        if (layout == Layout::Full) {
            SignInWindow signIn(h.parts());
            signIn.findChild<QLineEdit*>("Text1")->setText("second.account@example.com");
            signIn.findChild<QLineEdit*>("Text2")->setText("password");
            signIn.show();
            save(&signIn, out, "signin.png");
        }
        MainWindow* w = h.mainWindow(layout);
        w->show();
        QTimer::singleShot(300, &app, &QApplication::quit);
        app.exec();
        const char* base = layout == Layout::Full ? "main-full" : "main-compact";
        save(w, out, (QByteArray(base) + ".png").constData());
        w->lblAdd_Click();
        save(w, out, (QByteArray(base) + "-add.png").constData());
        if (layout == Layout::Full) {
            w->Image4_Click();
            w->mnuFind_Click();
            QTest::keyClicks(w->findChild<QLineEdit*>("txtFind"), "an");
            save(w, out, "main-full-find.png");
            AboutWindow about(h.desktop, w);
            about.show();
            save(&about, out, "about.png");
            HelpWindow help(h.desktop, w);
            help.show();
            save(&help, out, "help.png");
        }
    }
    return 0;
}
