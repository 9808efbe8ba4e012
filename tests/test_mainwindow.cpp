// SPDX-License-Identifier: GPL-3.0-or-later
#include "contacts/ContactFile.h"
#include "contacts/ContactStore.h"
#include "session/ServiceSession.h"
#include "shell/MainWindow.h"
#include "shell/StatusLine.h"
#include "tests/support/ShellHarness.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTextDocument>
#include <QProgressBar>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

Q_DECLARE_METATYPE(Layout)

namespace {

template <class T = QWidget> T* child(MainWindow* w, const char* name)
{
    T* c = w->findChild<T*>(QLatin1String(name));
    if (!c)
        qFatal("no control %s", name);
    return c;
}

QAction* action(MainWindow* w, const char* name)
{
    for (QAction* a : w->findChildren<QAction*>(QLatin1String(name)))
        return a;
    qFatal("no menu item %s", name);
}

QStringList column(MainWindow* w, const char* list)
{
    QStringList out;
    auto* model = child<QAbstractItemView>(w, list)->model();
    for (int r = 0; r < model->rowCount(); ++r)
        out << model->index(r, 0).data().toString();
    return out;
}

// The rows the window counts, as it says them (the full layout's Label6) or shows them.
int entryCount(MainWindow* w)
{
    if (auto* label = w->findChild<QLabel*>("Label6")) {
        w->Timer3_Timer();
        return label->text().section(' ', 2, 2).toInt();
    }
    return w->findChild<QAbstractItemView*>("lvEmail")->model()->rowCount();
}

void select(MainWindow* w, int row)
{
    auto* v = child<QAbstractItemView>(w, "lvEmail");
    v->selectionModel()->select(v->model()->index(row, 0), QItemSelectionModel::ClearAndSelect);
}

void addLayoutRows()
{
    QTest::addColumn<Layout>("layout");
    QTest::newRow("full") << Layout::Full;
    QTest::newRow("compact") << Layout::Compact;
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    MainWindow* open(ShellHarness& h, Layout layout, bool show = true)
    {
        MainWindow* w = h.mainWindow(layout);
        if (show)
            w->show();
        return w;
    }

    // Runs a contact through the entry panel, answering Yes.
    void add(ShellHarness& h, MainWindow* w, const QString& name, const QString& email)
    {
        w->lblAdd_Click();
        child<QLineEdit>(w, "txtName")->setText(name);
        child<QLineEdit>(w, "txtEmail")->setText(email);
        h.dialogs.answers.push_back(Dialogs::Answer::Yes);
        w->cmdAdd_Click();
    }

private slots:
    void init() { qputenv("VELMORA_DISPATCH_SERVER", "127.0.0.1:9"); }

    void layoutsComeFromTheirTable_data() { addLayoutRows(); }
    void layoutsComeFromTheirTable()
    {
        QFETCH(Layout, layout);
        ShellHarness h;
        MainWindow* w = open(h, layout, false);
        const bool full = layout == Layout::Full;

        QCOMPARE(w->windowTitle(), QString("Velmora"));
        QCOMPARE(w->centralWidget()->size(), full ? QSize(396, 446) : QSize(396, 316));
        QCOMPARE(child(w, "lvName")->geometry(), full ? QRect(48, 72, 161, 305) : QRect(56, 64, 161, 193));
        QCOMPARE(child(w, "lvEmail")->geometry(), full ? QRect(208, 72, 169, 305) : QRect(216, 64, 161, 193));
        QCOMPARE(child(w, "Label1")->geometry(), full ? QRect(221, 24, 89, 13) : QRect(264, 24, 89, 13));
        QCOMPARE(child(w, "pb1")->geometry(), full ? QRect(56, 392, 321, 17) : QRect(56, 264, 321, 17));
        QCOMPARE(child(w, "lblAdd")->geometry(), full ? QRect(48, 416, 97, 25) : QRect(48, 288, 97, 25));
        QCOMPARE(child<QLabel>(w, "Label1")->text(), full ? QString("MSN    (Offline)") : QString("MSN    (Online)"));
        QCOMPARE(child<QLabel>(w, "Label1")->font().family(), full ? QString("Verdana") : QString("Tahoma"));
        QCOMPARE(child<QLabel>(w, "Label2")->text(), QString("My Status: "));
        QCOMPARE(child<QLineEdit>(w, "txtName")->text(), QString("John Doe"));
        QCOMPARE(child<QPushButton>(w, "cmdAdd")->text(), QString("Add Contact"));
        QCOMPARE(child(w, "lblAdd")->toolTip(), QString("Click Here to Add Contacts"));
        QCOMPARE(child(w, "Image4")->toolTip(), QString("Close Contact Addition"));
        QCOMPARE(child<QAbstractItemView>(w, "lvName")->model()->headerData(0, Qt::Horizontal).toString(), QString("Name:"));
        QCOMPARE(child<QAbstractItemView>(w, "lvEmail")->model()->headerData(0, Qt::Horizontal).toString(),
                 QString("E-Mail:"));

        // What exists in one layout only
        QCOMPARE(bool(w->findChild<QLabel*>("Label6")), full);
        QCOMPARE(bool(w->findChild<QTimer*>("Timer3")), full);
        QCOMPARE(bool(w->findChild<QLabel*>("Image5")), !full);
        QVERIFY(w->findChild<QLineEdit*>(full ? "txtsigninn" : "txtsigninu"));
        QVERIFY(w->findChild<QLineEdit*>(full ? "txtsigninp" : "txtsigninw"));
        QVERIFY(!child(w, full ? "txtsigninn" : "txtsigninu")->isVisibleTo(w));

        // Backgrounds swap names between the layouts
        QCOMPARE(child(w, "Image1")->isVisibleTo(w), full);
        QCOMPARE(child(w, "Image2")->isVisibleTo(w), !full);
        QCOMPARE(child(w, "Image1")->size(), full ? QSize(397, 447) : QSize(397, 318));

        QCOMPARE(child<QTimer>(w, "Timer1")->interval(), full ? 100 : 10);
        QCOMPARE(child<QTimer>(w, "tpb")->interval(), 100);
        QCOMPARE(child<QTimer>(w, "tpb1")->interval(), full ? 100 : 50);
        QVERIFY(child<QTimer>(w, "Timer1")->isActive());
        QVERIFY(!child<QTimer>(w, "tpb")->isActive());
        QVERIFY(!child(w, "pb1")->isVisibleTo(w));
        QCOMPARE(child<QProgressBar>(w, "pb1")->value(), 0);
        QCOMPARE(w->windowIcon().isNull(), !full);
    }

    void windowKeepsTheSizeItIsDrawnFor_data() { addLayoutRows(); }
    void windowKeepsTheSizeItIsDrawnFor()
    {
        QFETCH(Layout, layout);
        ShellHarness h;
        MainWindow* w = open(h, layout);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        const QSize drawn = w->size();
        QCOMPARE(w->minimumSize(), drawn);
        QCOMPARE(w->maximumSize(), drawn);
        w->resize(drawn + QSize(300, 200));
        QCOMPARE(w->size(), drawn);
    }

    void stackingAndFocusOrder()
    {
        ShellHarness h;
        MainWindow* w = open(h, Layout::Full);
        QWidget* next = child(w, "lvName")->nextInFocusChain();
        while (!(next->focusPolicy() & Qt::TabFocus) || !next->isVisibleTo(w))
            next = next->nextInFocusChain();
        QCOMPARE(next, child(w, "lvEmail"));
        // While the open-panel background shows, it covers the hot spot.
        w->lblAdd_Click();
        const QPoint spot = child(w, "lblAdd")->geometry().center();
        QCOMPARE(w->centralWidget()->childAt(spot), child(w, "Image2"));
        w->Image4_Click();
        QCOMPARE(w->centralWidget()->childAt(spot), child(w, "lblAdd"));
    }

    void offlineClientGetsTheMessageAndNoConnection()
    {
        ShellHarness h;
        h.messenger->setStatus(Messenger::MISTATUS_OFFLINE);
        h.writeContactFile(encodeRecord("A", "a@x"));
        MainWindow* w = open(h, Layout::Full);
        QCOMPARE(h.dialogs.prompts(), QStringList{"MSN Is currently not connected.\r\nPlease connect to MSN"});
        QCOMPARE(h.dialogs.shown[0].icon, Dialogs::Icon::None);
        QCOMPARE(h.program().session.findChild<QTcpSocket*>("wsConnect")->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(column(w, "lvEmail"), QStringList{"a@x"});
        QVERIFY(!action(w, "mnuOpen")->isEnabled());
    }

    void onlineClientStartsTheSession()
    {
        ShellHarness h;
        MainWindow* w = open(h, Layout::Compact);
        QVERIFY(h.dialogs.shown.empty());
        QCOMPARE(h.program().session.TrID(), 1);
        QVERIFY(h.program().session.findChild<QTcpSocket*>("wsConnect")->state() != QAbstractSocket::UnconnectedState ||
                child<QLabel>(w, "Label1")->text() != QString("MSN    (Online)"));
    }

    // The status line follows the client until the session has news: a client that says when its
    // status changed is asked then, one that cannot say is asked at every tick.
    void statusLineFollowsTheClient_data()
    {
        QTest::addColumn<bool>("polled");
        QTest::newRow("a client that tells") << false;
        QTest::newRow("a client that must be asked") << true;
    }
    void statusLineFollowsTheClient()
    {
        QFETCH(bool, polled);
        ShellHarness h;
        h.messenger->polled = polled;
        h.messenger->setStatus(Messenger::MISTATUS_OFFLINE);
        MainWindow* w = open(h, Layout::Full);
        auto* label1 = child<QLabel>(w, "Label1");
        auto* timer1 = child<QTimer>(w, "Timer1");
        QTRY_COMPARE(label1->text(), QString("MSN  (Offline)"));
        QCOMPARE(timer1->isActive(), polled);
        h.messenger->setStatus(2);
        w->Timer1_Timer();
        QCOMPARE(label1->text(), QString("Signing You In..."));
        QCOMPARE(timer1->isActive(), polled);
        // From the session's first news on, the line is the session's.
        QTRY_COMPARE(label1->text(), QString("Cannot connect"));
        h.messenger->setStatus(Messenger::MISTATUS_OFFLINE);
        w->Timer1_Timer();
        QCOMPARE(label1->text(), QString("Cannot connect"));
        QVERIFY(!timer1->isActive());
    }

    // Every text the status line can show is read whole in both layouts, inside the window.
    void statusTextsFitTheirLabel_data() { addLayoutRows(); }
    void statusTextsFitTheirLabel()
    {
        QFETCH(Layout, layout);
        ShellHarness h;
        MainWindow* w = open(h, layout);
        auto* label1 = child<QLabel>(w, "Label1");
        const QRect drawn = label1->geometry();
        StatusLine line(label1, child<QLabel>(w, "Label2"));
        auto shown = [&](const QString& text) {
            QCOMPARE(label1->text(), text);
            QVERIFY2(label1->fontMetrics().horizontalAdvance(text) <= label1->contentsRect().width(),
                     qPrintable(text));
            QVERIFY2(label1->geometry().left() >= 0 && label1->geometry().right() < label1->parentWidget()->width(),
                     qPrintable(text));
        };
        for (bool offline : {true, false}) {
            line.showClient(offline);
            shown(offline ? "MSN  (Offline)" : "Signing You In...");
        }
        for (int p = int(SessionProblem::CannotConnect); p <= int(SessionProblem::SignedInElsewhere); ++p) {
            const SessionStatus status{SessionState::GaveUp, SessionProblem(p)};
            line.showSession(status);
            shown(StatusLine::sessionText(status));
        }
        for (int o = int(Outcome::Online); o <= int(Outcome::Uncertain); ++o) {
            if (Outcome(o) == Outcome::Cancelled)
                continue;
            line.showOutcome(Outcome(o));
            shown(StatusLine::outcomeText(Outcome(o)));
        }
        line.showOutcome(Outcome::Online);
        QCOMPARE(label1->geometry(), drawn); // a short text is where the layout puts it
    }

    // ---- menus -------------------------------------------------------------

    void menuTreeOfBothLayouts_data() { addLayoutRows(); }
    void menuTreeOfBothLayouts()
    {
        QFETCH(Layout, layout);
        ShellHarness h;
        MainWindow* w = open(h, layout, false);
        const bool full = layout == Layout::Full;

        auto items = [](QMenu* m) {
            QStringList out;
            for (QAction* a : m->actions())
                out << (a->isSeparator() ? "-" + a->objectName()
                                         : a->objectName() + "|" + a->text() + "|" + a->shortcut().toString());
            return out;
        };
        QCOMPARE(items(child<QMenu>(w, "mnuFile")),
                 (QStringList{"mnuSave|&Save|Ctrl+S", "mnuOpen|&Open|Ctrl+O", "mnuFind|Find\u2026|Ctrl+F",
                              full ? "-sep4" : "-sep3",
                              "mnuStats|Check User Status|F2", "mnuCheckAll|Check Everyone|Shift+F2",
                              "mnuOnlineOnly|Show Online Only|", "mnuWatchedOnly|Watched Contacts Only|",
                              "mnuClearResults|Clear Check Results|",
                              "mnuSignInAgain|Sign In Again|",
                              full ? "-sep5" : "-sep4",
                              "mnuUndoRemove|Undo Remove|Ctrl+Z", "mnuCleanUp|Clean Up List\u2026|",
                              "mnuImport|Import Contacts\u2026|", "mnuExport|Export Contacts\u2026|",
                              "-sepAfterKeeping",
                              full ? "mnuSysTray|&Hide In SysTray|F7" : "mnuSysTray|&Hide to SysTray|F3",
                              full ? "-sep1" : "-mnuSep", "mnuExit|E&xit|"}));
        QCOMPARE(items(child<QMenu>(w, "mnuHelp")),
                 (QStringList{"mnuHelp1|&Help|F1", "-mnuSep2", "mnuAbout|&About|"}));
        auto* contact = child<QMenu>(w, full ? "gfg" : "fd");
        QCOMPARE(contact->title(), full ? QString("g") : QString("gfd"));
        QCOMPARE(items(contact),
                 (QStringList{full ? "mnuConvo|&Start A Conversation|" : "mnuConvo|&Start Conversation|", "-sep7",
                              full ? "mnStats|&Check User Status|" : "mnStats|&View User Status|", "mnuWatch|Watch|", "-sep10",
                              full ? "mView|&View|" : "mnView|&View|", "-sep11",
                              "mnuEditContact|Edit Contact\u2026|", "mnuRemoveContact|Remove Contact|"}));
        QCOMPARE(items(child<QMenu>(w, full ? "mView" : "mnView")),
                 (QStringList{"mnuProfile|&View Profile|", full ? "-sep6" : "-sep8",
                              full ? "mnuVConvo|&Start A Voice Conversation|" : "mnuVConvo|&Start Voice Conversation|",
                              full ? "-sep8" : "-sep9", "mnuEmail|&Send an Email|"}));

        QStringList onBar;
        for (QAction* a : w->menuBar()->actions())
            if (a->isVisible())
                onBar << a->text();
        QCOMPARE(onBar, (QStringList{"&File", "&Help"}));
        QVERIFY(!action(w, "mnuOpen")->isEnabled());
        QVERIFY(!action(w, "mnuSignInAgain")->isEnabled()); // only once the session has stopped for good
        for (QAction* a : w->findChildren<QAction*>())
            // A hidden action reads as disabled; the contact menu's top item is hidden on purpose.
            if (a->objectName() != "mnuOpen" && a->objectName() != "mnuSignInAgain" &&
                a->objectName() != "mnuUndoRemove" && a != contact->menuAction())
                QVERIFY2(a->isEnabled() && !a->isChecked(), qPrintable(a->objectName()));
        QCOMPARE(child<QMenu>(w, "mnuFile")->font().family(), QString("Tahoma"));
        QCOMPARE(child<QMenu>(w, "mnuFile")->font().pointSizeF(), 8.25);
    }

    void shortcutsReachTheirCommands()
    {
        ShellHarness h;
        MainWindow* w = open(h, Layout::Full);
        QVERIFY(QTest::qWaitForWindowActive(w));
        QTest::keyClick(w, Qt::Key_O, Qt::ControlModifier);
        QVERIFY(h.dialogs.shown.empty()); // Open is disabled: nothing happens
        QTest::keyClick(w, Qt::Key_S, Qt::ControlModifier);
        QVERIFY(child(w, "pb1")->isVisible());
        QVERIFY(child<QTimer>(w, "tpb")->isActive());
    }

    // A double-click that opens a box: its button is let go while the box is up, so the list
    // never sees that release. The next click on the list is a click all the same.
    void aClickAfterADoubleClickThatOpenedABox()
    {
        ShellHarness h;
        h.writeContactFile(encodeRecord("Me", "me@example.com") + encodeRecord("Ann", "ann@x"));
        MainWindow* w = open(h, Layout::Full);
        auto* list = child<QAbstractItemView>(w, "lvEmail");
        auto* menu = child<QMenu>(w, "gfg");
        const QPoint own = list->visualRect(list->model()->index(0, 0)).center();
        select(w, 0);
        h.dialogs.onShow = [&](const Dialogs::Request&) {
            QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, own); // under the box
        };
        QTest::mousePress(list->viewport(), Qt::LeftButton, {}, own);
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, own);
        QTest::mousePress(list->viewport(), Qt::LeftButton, {}, own);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, own);
        QCOMPARE(h.dialogs.prompts(), QStringList{"You cant send a msg to yourself."});
        h.dialogs.onShow = {};
        QTRY_VERIFY(!child<QTimer>(w, "popupDelay")->isActive());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(1, 0)).center());
        QTRY_VERIFY_WITH_TIMEOUT(menu->isVisible(), 3000);
        menu->hide();
    }

    // The hot spot's focus frame is for the keyboard user: closing the panel with the mouse hands
    // it the focus, and draws nothing.
    void theHotSpotFrameIsForTheKeyboard()
    {
        ShellHarness h;
        MainWindow* w = open(h, Layout::Full);
        QVERIFY(QTest::qWaitForWindowActive(w));
        QWidget* hotSpot = child(w, "lblAdd");
        const QImage plain = hotSpot->grab().toImage();
        QTest::mouseClick(hotSpot, Qt::LeftButton);
        QTest::mouseClick(child(w, "Image4"), Qt::LeftButton);
        QVERIFY(hotSpot->hasFocus());
        QCOMPARE(hotSpot->grab().toImage(), plain);
        child(w, "lvEmail")->setFocus(Qt::TabFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(hotSpot->hasFocus());
        QVERIFY(hotSpot->grab().toImage() != plain);
    }

    // Finding: both lists show what holds the text, in step, and say how many; Enter goes on into
    // the e-mail list, where the actions work on what is shown; Esc gives the lists back.
    void findingContacts()
    {
        ShellHarness h;
        h.writeContactFile(encodeRecord("Ann Smith", "ann@x") + encodeRecord("Bob", "bob@smith.example") +
                           encodeRecord("Z\u00e9 Smithers", "ze@x") + encodeRecord("Carol", "carol@x"));
        MainWindow* w = open(h, Layout::Full);
        QVERIFY(QTest::qWaitForWindowActive(w));
        auto* list = child<QAbstractItemView>(w, "lvEmail");
        const QRect lists = list->geometry();
        QTest::keyClick(w, Qt::Key_F, Qt::ControlModifier);
        auto* box = child<QLineEdit>(w, "txtFind");
        QVERIFY(box->isVisible() && box->hasFocus());
        QVERIFY(list->y() >= box->geometry().bottom()); // the lists gave up height, the window did not grow
        QTest::keyClicks(box, "SMITH");
        QCOMPARE(column(w, "lvName"), (QStringList{"Ann Smith", "Bob", "Z\u00e9 Smithers"}));
        QCOMPARE(column(w, "lvEmail"), (QStringList{"ann@x", "bob@smith.example", "ze@x"}));
        QCOMPARE(child<QLabel>(w, "lblListInfo")->text(), QString("3 of 4 shown"));
        QTest::keyClick(box, Qt::Key_Backspace);
        QTest::keyClicks(box, "hers");
        QCOMPARE(column(w, "lvEmail"), QStringList{"ze@x"});
        QTest::keyClick(box, Qt::Key_Return);
        QVERIFY(list->hasFocus());
        QTest::keyClick(list, Qt::Key_Return); // a conversation with what is shown
        QCOMPARE(h.messenger->calls, QStringList{"InstantMessage:ze@x"});
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Escape);
        QVERIFY(!box->isVisible());
        QCOMPARE(column(w, "lvEmail").size(), 4);
        QCOMPARE(list->geometry(), lists);
        QVERIFY(!child(w, "lblListInfo")->isVisible());
    }

    void contactMenuPopsUpOnEveryClick()
    {
        ShellHarness h;
        MainWindow* w = open(h, Layout::Full);
        auto* menu = child<QMenu>(w, "gfg");
        QVERIFY(!menu->isVisible());
        // An empty list, a click on its empty area; the pointer moves on before the menu opens.
        QWidget* list = child<QAbstractItemView>(w, "lvEmail")->viewport();
        QTest::mouseClick(list, Qt::LeftButton, {}, QPoint(20, 100));
        QTest::mouseMove(list, QPoint(60, 10));
        QTRY_VERIFY_WITH_TIMEOUT(menu->isVisible(), 3000);
        QCOMPARE(menu->pos(), list->mapToGlobal(QPoint(20, 100)));
        menu->hide();
    }

    void doubleClickIsNotTakenForAClick()
    {
        ShellHarness h;
        h.writeContactFile(encodeRecord("B", "b@x"));
        MainWindow* w = open(h, Layout::Full);
        select(w, 0);
        doubleClick(child<QAbstractItemView>(w, "lvEmail")->viewport(), QPoint(10, 5));
        QCOMPARE(h.messenger->calls, QStringList{"InstantMessage:b@x"});
        // Nothing is left pending that would pop the menu up over the conversation.
        auto* popupDelay = w->findChild<QTimer*>("popupDelay");
        QVERIFY(popupDelay && !popupDelay->isActive());
        QVERIFY(!child<QMenu>(w, "gfg")->isVisible());
    }

    // ---- tray ----------------------------------------------------------------

    void hidesToTheTrayAndComesBack_data() { addLayoutRows(); }
    void hidesToTheTrayAndComesBack()
    {
        QFETCH(Layout, layout);
        ShellHarness h;
        h.tray = true;
        MainWindow* w = open(h, layout);
        auto* tray = w->findChild<QSystemTrayIcon*>("cSysTray2");
        QVERIFY(!tray->isVisible());
        w->mnuSysTray_Click();
        QVERIFY(!w->isVisible());
        QVERIFY(tray->isVisible());
        QCOMPARE(tray->toolTip(), QString("Velmora v2.6"));
        emit tray->activated(QSystemTrayIcon::Trigger);
        QVERIFY(w->isVisible());
        QVERIFY(!tray->isVisible());
    }

    void withoutATrayTheWindowIsMinimisedNotLost()
    {
        ShellHarness h;
        h.tray = false;
        MainWindow* w = open(h, Layout::Full);
        w->mnuSysTray_Click();
        QVERIFY(w->isVisible());
        QVERIFY(w->isMinimized());
        QVERIFY(!w->findChild<QSystemTrayIcon*>("cSysTray2")->isVisible());
    }

    void trayIconHasRestoreAndExit()
    {
        ShellHarness h;
        h.tray = true;
        MainWindow* w = open(h, Layout::Full);
        auto* tray = w->findChild<QSystemTrayIcon*>("cSysTray2");
        w->mnuSysTray_Click();
        QMenu* menu = tray->contextMenu();
        QVERIFY(menu);
        QCOMPARE(menu->actions().size(), 3);
        QAction* restore = menu->actions()[0];
        QCOMPARE(menu->actions()[1]->text(), QString("Start At Login"));
        QAction* leave = menu->actions()[2];
        QCOMPARE(restore->text(), QString("Restore"));
        QCOMPARE(leave->text(), QString("Exit"));

        emit tray->activated(QSystemTrayIcon::Context); // the right click that opens the menu
        QVERIFY(!w->isVisible());
        restore->trigger();
        QVERIFY(w->isVisible());
        QVERIFY(!tray->isVisible());

        w->mnuSysTray_Click();
        h.dialogs.answers = {Dialogs::Answer::Closed};
        leave->trigger(); // the same question as File › Exit
        QCOMPARE(
            h.dialogs.prompts(),
            QStringList{
                "You will lose all your information of you don't save.\r\nDo You want to save your list?"});
        QCOMPARE(h.programEnds, 0);
        h.dialogs.answers = {Dialogs::Answer::No};
        leave->trigger();
        QCOMPARE(h.programEnds, 1);
    }

    // ---- save progress ---------------------------------------------------------

    void saveRunTakes101TicksThenOneOnceFull()
    {
        ShellHarness h;
        MainWindow* w = open(h, Layout::Full);
        auto* bar = child<QProgressBar>(w, "pb1");
        auto* tpb = child<QTimer>(w, "tpb");
        w->mnuSave_Click();
        tpb->stop(); // driven tick by tick below
        QVERIFY(QFile::exists(h.contactFile())); // the file work came first
        for (int i = 1; i <= 100; ++i) {
            w->tpb_Timer();
            QCOMPARE(bar->value(), i);
        }
        QVERIFY(h.dialogs.shown.empty());
        tpb->start();
        w->tpb_Timer();
        QCOMPARE(h.dialogs.prompts(), QStringList{"Save Complete"});
        QCOMPARE(h.dialogs.shown[0].caption, QString("Complete"));
        QVERIFY(!tpb->isActive());
        QVERIFY(!bar->isVisible());

        w->mnuSave_Click(); // the bar is never set back
        QCOMPARE(bar->value(), 100);
        w->tpb_Timer();
        QCOMPARE(h.dialogs.prompts().size(), 2);
        QCOMPARE(h.programEnds, 0);
    }

    void bothRunsShareTheBarAndEachReportsOnce()
    {
        ShellHarness h;
        MainWindow* w = open(h, Layout::Compact);
        h.dialogs.answers = {Dialogs::Answer::Yes};
        w->mnuExit_Click();
        w->mnuSave_Click();
        auto* tpb = child<QTimer>(w, "tpb");
        auto* tpb1 = child<QTimer>(w, "tpb1");
        QVERIFY(tpb->isActive() && tpb1->isActive());
        tpb->stop();
        tpb1->stop();
        for (int i = 0; i < 50; ++i) {
            w->tpb_Timer();
            w->tpb1_Timer();
        }
        QCOMPARE(child<QProgressBar>(w, "pb1")->value(), 100);
        int endsAtMessage = -1;
        h.dialogs.onShow = [&](const Dialogs::Request&) { endsAtMessage = h.programEnds; };
        w->tpb_Timer();
        QCOMPARE(h.dialogs.prompts().count("Save Complete"), 1);
        QCOMPARE(h.programEnds, 0);
        w->tpb1_Timer();
        QCOMPARE(h.dialogs.prompts().count("Save Complete"), 2);
        QCOMPARE(endsAtMessage, 0); // the program ends only once the box is dismissed
        QCOMPARE(h.programEnds, 1);
        w->tpb_Timer();
        w->tpb1_Timer();
        QCOMPARE(child<QProgressBar>(w, "pb1")->value(), 100);
    }

    void failedSaveNeverReportsSaveComplete()
    {
        ShellHarness h(false); // no data folder
        MainWindow* w = open(h, Layout::Full);
        add(h, w, "Ann", "ann@x");
        h.dialogs.shown.clear();
        w->mnuSave_Click();
        QCOMPARE(h.dialogs.shown.size(), size_t(1));
        QVERIFY(h.dialogs.shown[0].prompt.contains(h.contactFile()));
        QVERIFY(!child<QTimer>(w, "tpb")->isActive());
        QVERIFY(!child(w, "pb1")->isVisible());

        h.dialogs.answers = {Dialogs::Answer::Yes};
        w->mnuExit_Click();
        QVERIFY(!child<QTimer>(w, "tpb1")->isActive());
        QCOMPARE(h.programEnds, 0);
        QVERIFY(!h.dialogs.prompts().contains("Save Complete"));

        // Once the folder is back, the same contact is saved.
        QDir(h.dir.path()).mkpath("data");
        w->mnuSave_Click();
        QCOMPARE(h.contactFileBytes(), encodeRecord("Ann", "ann@x"));
    }

    void failedSaveWithTheBarFullNeitherCompletesNorEnds()
    {
        ShellHarness h;
        MainWindow* w = open(h, Layout::Full);
        w->mnuSave_Click();
        for (int i = 0; i < 101; ++i) // an earlier run leaves the bar full
            w->tpb_Timer();
        QCOMPARE(h.dialogs.prompts(), QStringList{"Save Complete"});

        add(h, w, "Ann", "ann@x");
        QVERIFY(QDir(h.dataDir()).removeRecursively());
        h.dialogs.shown.clear();
        w->mnuSave_Click(); // the run ticks under the failure box, as under a user's
        QCOMPARE(h.dialogs.shown.size(), size_t(1));
        QVERIFY(h.dialogs.shown[0].prompt.startsWith("Your contacts were not saved."));

        h.dialogs.answers = {Dialogs::Answer::Yes};
        w->mnuExit_Click();
        QCOMPARE(h.dialogs.prompts().count("Save Complete"), 0);
        QCOMPARE(h.programEnds, 0);
        QVERIFY(!child<QTimer>(w, "tpb")->isActive());
        QVERIFY(!child<QTimer>(w, "tpb1")->isActive());
    }

    // ---- leaving -----------------------------------------------------------------

    void exitAnsweredNoEndsWithoutWriting()
    {
        ShellHarness h;
        h.writeContactFile(encodeRecord("Old", "old@x"));
        MainWindow* w = open(h, Layout::Full);
        add(h, w, "New", "new@x");
        h.dialogs.shown.clear();
        h.dialogs.answers = {Dialogs::Answer::No};
        w->mnuExit_Click();
        QCOMPARE(h.dialogs.prompts(),
                 QStringList{"You will lose all your information of you don't save.\r\nDo You want to save your list?"});
        QCOMPARE(h.dialogs.shown[0].caption, QString("Do you want to..."));
        QCOMPARE(h.dialogs.shown[0].icon, Dialogs::Icon::Question);
        QCOMPARE(h.programEnds, 1);
        QCOMPARE(h.contactFileBytes(), encodeRecord("Old", "old@x"));
    }

    void closeBoxYesAppendsAndEndsWithoutAMessage()
    {
        ShellHarness h;
        MainWindow* w = open(h, Layout::Full);
        add(h, w, "New", "new@x");
        h.dialogs.shown.clear();
        h.dialogs.answers = {Dialogs::Answer::Yes};
        QVERIFY(w->close());
        QCOMPARE(h.contactFileBytes(), encodeRecord("New", "new@x"));
        QCOMPARE(h.dialogs.shown.size(), size_t(1)); // the prompt only, no "Save Complete"
        QCOMPARE(h.programEnds, 1);
    }

    void closeDuringExitSaveAsksAgainAndSavesOnce()
    {
        ShellHarness h;
        MainWindow* w = open(h, Layout::Full);
        add(h, w, "New", "new@x");
        h.dialogs.shown.clear();
        h.dialogs.answers = {Dialogs::Answer::Yes, Dialogs::Answer::Yes};
        w->mnuExit_Click();
        QVERIFY(child<QTimer>(w, "tpb1")->isActive());
        QVERIFY(w->close());
        QCOMPARE(h.dialogs.prompts().size(), 2);
        QVERIFY(!h.dialogs.prompts().contains("Save Complete"));
        QVERIFY(!child<QTimer>(w, "tpb1")->isActive());
        QCOMPARE(h.contactFileBytes(), encodeRecord("New", "new@x"));
    }

    void closeBoxNoEndsAtOnce()
    {
        ShellHarness h;
        MainWindow* w = open(h, Layout::Compact);
        add(h, w, "New", "new@x");
        h.dialogs.answers = {Dialogs::Answer::No};
        w->close();
        QCOMPARE(h.programEnds, 1);
        QVERIFY(!QFile::exists(h.contactFile()));
    }

    void nothingToSaveIsASuccessfulSave()
    {
        ShellHarness h(false); // no data folder, and nothing added
        MainWindow* w = open(h, Layout::Full);
        QTRY_COMPARE(h.dialogs.shown.size(), size_t(1)); // told of the folder at start
        h.dialogs.answers = {Dialogs::Answer::Yes};
        w->mnuExit_Click();
        QVERIFY(child<QTimer>(w, "tpb1")->isActive());
        h.dialogs.answers = {Dialogs::Answer::Yes};
        QVERIFY(w->close());
        QCOMPARE(h.programEnds, 1);
        for (const QString& p : h.dialogs.prompts())
            QVERIFY2(!p.contains("not saved"), qPrintable(p));
    }

    void turningTheLeavePromptAwayKeepsTheWindow()
    {
        ShellHarness h;
        MainWindow* w = open(h, Layout::Full);
        add(h, w, "New", "new@x");
        h.dialogs.answers = {Dialogs::Answer::Closed};
        QVERIFY(!w->close());
        h.dialogs.answers = {Dialogs::Answer::Closed};
        w->mnuExit_Click();
        QCOMPARE(h.programEnds, 0);
        QVERIFY(!child<QTimer>(w, "tpb1")->isActive());

        // The real box: Esc, then its close button.
        Dialogs::setResponder({});
        for (bool esc : {true, false}) {
            QTimer user;
            connect(&user, &QTimer::timeout, this, [&] {
                QWidget* box = QApplication::activeModalWidget();
                if (!box)
                    return;
                user.stop();
                if (esc) {
                    QTest::keyClick(box, Qt::Key_Escape);
                } else {
                    QCloseEvent fromTheWindowManager;
                    QSpontaneKeyEvent::setSpontaneous(&fromTheWindowManager);
                    QApplication::instance()->notify(box, &fromTheWindowManager);
                }
            });
            user.start(10);
            QVERIFY(!w->close());
            QVERIFY(!user.isActive());
        }
        QCOMPARE(h.programEnds, 0);
        QVERIFY(w->isVisible());
        QVERIFY(!QFile::exists(h.contactFile()));
    }

    void contactsAddedDuringTheExitRunAreSavedBeforeTheEnd()
    {
        {
            ShellHarness h;
            MainWindow* w = open(h, Layout::Compact);
            add(h, w, "Ann", "ann@x");
            h.dialogs.answers = {Dialogs::Answer::Yes};
            w->mnuExit_Click();
            child<QTimer>(w, "tpb1")->stop(); // driven tick by tick below
            add(h, w, "Bob", "bob@x");
            for (int i = 0; i < 101; ++i)
                w->tpb1_Timer();
            QCOMPARE(h.programEnds, 1);
            QCOMPARE(h.contactFileBytes(), encodeRecord("Ann", "ann@x") + encodeRecord("Bob", "bob@x"));
            QCOMPARE(h.dialogs.prompts().last(), QString("Save Complete"));
        }
        {
            ShellHarness h;
            MainWindow* w = open(h, Layout::Compact);
            h.dialogs.answers = {Dialogs::Answer::Yes};
            w->mnuExit_Click();
            child<QTimer>(w, "tpb1")->stop();
            add(h, w, "Cid", "cid@x");
            QVERIFY(QDir(h.dataDir()).removeRecursively());
            for (int i = 0; i < 101; ++i)
                w->tpb1_Timer();
            QCOMPARE(h.programEnds, 0); // Cid exists nowhere else
            QVERIFY(h.dialogs.prompts().last().startsWith("Your contacts were not saved."));
            QVERIFY(!h.dialogs.prompts().contains("Save Complete"));
            QVERIFY(!child(w, "pb1")->isVisible());
        }
    }

    // A box still up when the exit run would end may yet add a contact: the run waits for it,
    // saves what it added, and only then says "Save Complete" and ends.
    void theExitRunWaitsForAnOpenBox()
    {
        ShellHarness h;
        MainWindow* w = open(h, Layout::Full);
        h.dialogs.answers = {Dialogs::Answer::Yes};
        w->mnuExit_Click();
        child<QTimer>(w, "tpb1")->stop(); // driven tick by tick below
        for (int i = 0; i < 100; ++i)
            w->tpb1_Timer();
        w->lblAdd_Click();
        child<QLineEdit>(w, "txtName")->setText("Ann");
        child<QLineEdit>(w, "txtEmail")->setText("ann@x");
        h.dialogs.answers = {Dialogs::Answer::Yes};
        h.dialogs.onShow = [&](const Dialogs::Request& r) {
            if (r.caption == "Is this correct?")
                w->tpb1_Timer(); // the run's last tick, under the confirmation
        };
        w->cmdAdd_Click();
        QCOMPARE(h.programEnds, 0);
        QVERIFY(!h.dialogs.prompts().contains("Save Complete"));
        w->tpb1_Timer();
        QCOMPARE(h.dialogs.prompts().last(), QString("Save Complete"));
        QCOMPARE(h.programEnds, 1);
        QCOMPARE(h.contactFileBytes(), encodeRecord("Ann", "ann@x"));
    }

    // A save that fails while the exit run goes on stops leaving too, and says so.
    void aFailedSaveDuringTheExitRunCallsLeavingOff()
    {
        ShellHarness h;
        MainWindow* w = open(h, Layout::Compact);
        h.dialogs.answers = {Dialogs::Answer::Yes};
        w->mnuExit_Click();
        QVERIFY(child<QTimer>(w, "tpb1")->isActive());
        add(h, w, "Ann", "ann@x");
        QVERIFY(QDir(h.dataDir()).removeRecursively());
        h.dialogs.shown.clear();
        w->mnuSave_Click();
        QVERIFY(!child<QTimer>(w, "tpb1")->isActive());
        QCOMPARE(h.dialogs.shown.size(), size_t(1));
        const QString told = h.dialogs.shown[0].prompt;
        QVERIFY2(told.startsWith("Your contacts were not saved.") && told.contains("leaving was called off"),
                 qPrintable(told));
        QCOMPARE(h.programEnds, 0);
    }

    void closeWithAFailedSaveKeepsTheWindow()
    {
        ShellHarness h(false);
        MainWindow* w = open(h, Layout::Full);
        add(h, w, "New", "new@x");
        h.dialogs.answers = {Dialogs::Answer::Yes};
        QVERIFY(!w->close());
        QVERIFY(w->isVisible());
        QCOMPARE(h.programEnds, 0);
    }

    // ---- contact list, file and entry panel -----------------------------------------

    void listsShowTheFileInOrder()
    {
        ShellHarness h;
        h.writeContactFile(encodeRecord("Ann", "ann@x") + encodeRecord("Smith, Bob", "bob@x") +
                           encodeRecord("Ann", "ann@x"));
        MainWindow* w = open(h, Layout::Full);
        QCOMPARE(column(w, "lvName"), (QStringList{"Ann", "Smith, Bob", "Ann"}));
        QCOMPARE(column(w, "lvEmail"), (QStringList{"ann@x", "bob@x", "ann@x"}));
        QCOMPARE(h.program().contacts.ContactCount(), 3);
        QCOMPARE(entryCount(w), 3);
        w->Timer3_Timer();
        QCOMPARE(child<QLabel>(w, "Label6")->text(), QString("You have 3 enteries in your database."));
        add(h, w, "Dee", "dee@x"); // the line follows by itself
        QTRY_COMPARE(child<QLabel>(w, "Label6")->text(), QString("You have 4 enteries in your database."));
        // The lists are not linked.
        select(w, 1);
        QVERIFY(!child<QAbstractItemView>(w, "lvName")->selectionModel()->hasSelection());
    }

    void missingFileIsAnEmptyListMissingFolderIsTold()
    {
        {
            ShellHarness h;
            MainWindow* w = open(h, Layout::Full);
            QApplication::processEvents();
            QVERIFY(h.dialogs.shown.empty());
            w->Timer3_Timer();
            QCOMPARE(child<QLabel>(w, "Label6")->text(), QString("You have 0 enteries in your database."));
        }
        {
            ShellHarness h(false);
            MainWindow* w = h.mainWindow(Layout::Full);
            QVERIFY(h.dialogs.shown.empty()); // not inside the load step
            w->show();
            QTRY_COMPARE(h.dialogs.shown.size(), size_t(1));
            QVERIFY(h.dialogs.shown[0].prompt.contains("folder"));
        }
    }

    void damagedLinesAreSkippedAndTold()
    {
        ShellHarness h;
        h.writeContactFile(encodeRecord("Ann", "ann@x") + "\"Torn\",\"to\r\n" + encodeRecord("Bob", "bob@x"));
        MainWindow* w = open(h, Layout::Full);
        QCOMPARE(column(w, "lvEmail"), (QStringList{"ann@x", "bob@x"}));
        QTRY_COMPARE(h.dialogs.shown.size(), size_t(1));
        QVERIFY(h.dialogs.shown[0].prompt.startsWith("1 damaged line"));
    }

    // A damaged database of the program's own is set aside and a new one started; the user is
    // told, and the contact list is loaded as ever.
    void aDamagedDatabaseIsSetAsideAndTold()
    {
        ShellHarness h;
        h.writeContactFile(encodeRecord("Ann", "ann@x"));
        QFile damaged(h.dataDir() + "/velmora.db");
        QVERIFY(damaged.open(QIODevice::WriteOnly) && damaged.write(QByteArray("not a database ").repeated(500)) > 0);
        damaged.close();
        MainWindow* w = open(h, Layout::Full);
        QTRY_COMPARE(h.dialogs.shown.size(), size_t(1));
        QVERIFY2(h.dialogs.shown[0].prompt.contains("was damaged"), qPrintable(h.dialogs.shown[0].prompt));
        QCOMPARE(column(w, "lvEmail"), QStringList{"ann@x"});
        QCOMPARE(QDir(h.dataDir()).entryList({"velmora.db.damaged-*"}).size(), 1);
    }

    void everyNoticeAtLoadIsShown()
    {
        ShellHarness h;
        h.writeContactFile(encodeRecord("Ann", "ann@x") + "\"Torn\",\"to\r\n" + encodeRecord("Bob", "bob@x") +
                           encodeRecord("Cid", "cid@x"));
        // A store with one slot left.
        const QString full = h.dir.filePath(QStringLiteral("full.dat"));
        QFile fill(full);
        QVERIFY(fill.open(QIODevice::WriteOnly) && fill.write(encodeRecord("n", "e").repeated(kContactSlots - 1)) > 0);
        fill.close();
        QCOMPARE(h.program().contacts.load(full).status, LoadStatus::Loaded);
        open(h, Layout::Full);
        QTRY_COMPARE(h.dialogs.shown.size(), size_t(1));
        const QString told = h.dialogs.shown[0].prompt;
        QVERIFY2(told.contains("1 damaged line"), qPrintable(told));
        QVERIFY2(told.contains("2 were left out"), qPrintable(told));
    }

    void entryPanelOpensAndCloses_data() { addLayoutRows(); }
    void entryPanelOpensAndCloses()
    {
        QFETCH(Layout, layout);
        ShellHarness h;
        MainWindow* w = open(h, layout);
        const bool full = layout == Layout::Full;
        auto shown = [w](const char* n) { return child(w, n)->isVisibleTo(w); };

        w->lblAdd_Click();
        QCOMPARE(child(w, "lvName")->height(), full ? 217 : 84);
        QCOMPARE(child(w, "lvEmail")->height(), full ? 217 : 84);
        for (const char* n : {"Label3", "Label4", "txtName", "txtEmail", "cmdAdd", "Image4", "Image3"})
            QVERIFY2(shown(n), n);
        QVERIFY(!shown("Label5"));
        QCOMPARE(shown("Image1"), !full);
        QCOMPARE(shown("Image2"), full);
        if (!full)
            QVERIFY(shown("Image5"));
        QVERIFY(child<QLineEdit>(w, "txtName")->text().isEmpty()); // the focus emptied it
        QCOMPARE(child<QLineEdit>(w, "txtEmail")->text(), QString("someone@example.com"));
        QCOMPARE(child(w, "txtName")->nextInFocusChain(), child(w, "txtEmail"));

        child<QLineEdit>(w, "txtName")->setText("kept");
        w->Image4_Click();
        QCOMPARE(child(w, "lvName")->height(), full ? 305 : 193);
        for (const char* n : {"Label3", "Label4", "txtName", "txtEmail", "cmdAdd", "Image4", "Image3"})
            QVERIFY2(!shown(n), n);
        QVERIFY(shown("Image1"));
        QCOMPARE(shown("Image2"), !full);
        if (!full)
            QVERIFY(!shown("Image5"));
        QCOMPARE(child<QLineEdit>(w, "txtName")->text(), QString("kept"));
    }

    void addingAContact_data() { addLayoutRows(); }
    void addingAContact()
    {
        QFETCH(Layout, layout);
        ShellHarness h;
        MainWindow* w = open(h, layout);
        w->lblAdd_Click();
        child<QLineEdit>(w, "txtName")->setText("Zoë, Q");
        // the e-mail box never had the focus: its sample address is taken as typed
        h.dialogs.answers = {Dialogs::Answer::Yes};
        w->cmdAdd_Click();
        QCOMPARE(h.dialogs.prompts(), QStringList{"Zoë, Q: someone@example.com\r\nIs this correct?"});
        QCOMPARE(h.dialogs.shown[0].caption, QString("Is this correct?"));
        QCOMPARE(h.dialogs.shown[0].buttons, Dialogs::Buttons::YesNo);
        QCOMPARE(column(w, "lvName"), QStringList{"Zoë, Q"});
        QCOMPARE(column(w, "lvEmail"), QStringList{"someone@example.com"});
        QCOMPARE(h.program().contacts.NewContactCount(), 1);
        QCOMPARE(entryCount(w), 1);
        QCOMPARE(h.program().contacts.ContactName(1), QString("Zoë, Q"));
        QVERIFY(!child(w, "txtName")->isVisibleTo(w));

        // Reopened: the name box empties, the address box still offers the last one.
        w->lblAdd_Click();
        QVERIFY(child<QLineEdit>(w, "txtName")->text().isEmpty());
        QCOMPARE(child<QLineEdit>(w, "txtEmail")->text(), QString("someone@example.com"));
    }

    void addingIsRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("message");
        const QString sorry = "Sorry, we cant add that email to your database.";
        QTest::newRow("empty address") << "Ann" << "" << sorry;
        QTest::newRow("own address") << "Me" << "me@example.com" << sorry;
        QTest::newRow("quote in name") << "A \"nick\"" << "a@x" << "double quote";
        QTest::newRow("line break in address") << "Ann" << "a@x\r\nb" << "double quote";
    }
    void addingIsRefused()
    {
        QFETCH(QString, name);
        QFETCH(QString, email);
        QFETCH(QString, message);
        ShellHarness h;
        MainWindow* w = open(h, Layout::Full);
        add(h, w, name, email);
        QCOMPARE(h.dialogs.shown.size(), size_t(2));
        QVERIFY2(h.dialogs.shown[1].prompt.contains(message), qPrintable(h.dialogs.shown[1].prompt));
        QCOMPARE(h.dialogs.shown[1].buttons, Dialogs::Buttons::Ok);
        QCOMPARE(h.program().contacts.NewContactCount(), 0);
        QVERIFY(column(w, "lvEmail").isEmpty());
        QVERIFY(child(w, "txtName")->isVisibleTo(w)); // the panel stays open, texts as they were
        QCOMPARE(child<QLineEdit>(w, "txtName")->text(), name);
        QCOMPARE(child<QLineEdit>(w, "txtEmail")->text(), email);
    }

    void ownAddressIsExactAndOptional()
    {
        ShellHarness h;
        MainWindow* w = open(h, Layout::Full);
        add(h, w, "Me", "Me@Example.com"); // other letter case: not the user's own
        QCOMPARE(h.program().contacts.NewContactCount(), 1);
        h.messenger->signinName.reset(); // a client that cannot tell
        add(h, w, "Me", "me@example.com");
        QCOMPARE(h.program().contacts.NewContactCount(), 2);
    }

    void answeringNoEmptiesTheNameOnly()
    {
        ShellHarness h;
        MainWindow* w = open(h, Layout::Full);
        w->lblAdd_Click();
        child<QLineEdit>(w, "txtName")->setText("Ann");
        child<QLineEdit>(w, "txtEmail")->setText("ann@x");
        h.dialogs.answers = {Dialogs::Answer::No};
        w->cmdAdd_Click();
        QVERIFY(child<QLineEdit>(w, "txtName")->text().isEmpty());
        QCOMPARE(child<QLineEdit>(w, "txtEmail")->text(), QString("ann@x"));
        QVERIFY(child(w, "cmdAdd")->isVisibleTo(w));
        QCOMPARE(h.program().contacts.NewContactCount(), 0);
    }

    void typedTextSurvivesFocusComingBack()
    {
        ShellHarness h;
        MainWindow* w = open(h, Layout::Full);
        QVERIFY(QTest::qWaitForWindowActive(w));
        w->lblAdd_Click();
        auto* name = child<QLineEdit>(w, "txtName");
        QTest::keyClicks(name, "Ann");

        QWidget elsewhere;
        elsewhere.show();
        elsewhere.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QTRY_VERIFY(name->hasFocus());
        QCOMPARE(name->text(), QString("Ann"));

        // The box's own context menu, opened and closed with Esc.
        QTimer user;
        connect(&user, &QTimer::timeout, this, [&] {
            if (QWidget* popup = QApplication::activePopupWidget()) {
                user.stop();
                QTest::keyClick(popup, Qt::Key_Escape);
            }
        });
        user.start(10);
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(5, 5), name->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(name, &menuKey);
        QTRY_VERIFY(name->hasFocus());
        QCOMPARE(name->text(), QString("Ann"));

        // The user's own way back into the box still empties it.
        QTest::keyClick(name, Qt::Key_Tab);
        QTRY_VERIFY(child(w, "txtEmail")->hasFocus());
        QTest::keyClick(child(w, "txtEmail"), Qt::Key_Backtab);
        QTRY_VERIFY(name->hasFocus());
        QCOMPARE(name->text(), QString());
    }

    void savesAppendEachContactOnce()
    {
        ShellHarness h;
        h.writeContactFile(encodeRecord("Old", "old@x"));
        MainWindow* w = open(h, Layout::Full);
        add(h, w, "", "empty@x");
        add(h, w, "Twin", "twin@x");
        add(h, w, "Twin", "twin@x");
        w->mnuSave_Click();
        const QByteArray once = encodeRecord("Old", "old@x") + "\"\",\"empty@x\"\r\n" + encodeRecord("Twin", "twin@x") +
                                encodeRecord("Twin", "twin@x");
        QCOMPARE(h.contactFileBytes(), once);
        QCOMPARE(column(w, "lvEmail").size(), 4);

        w->mnuSave_Click(); // nothing new: nothing written
        QCOMPARE(h.contactFileBytes(), once);
        add(h, w, "Late", "late@x");
        h.dialogs.answers = {Dialogs::Answer::Yes};
        w->close();
        QCOMPARE(h.contactFileBytes(), once + encodeRecord("Late", "late@x"));
    }

    // ---- keyboard and screen readers ------------------------------------------------------

    void keyboardAloneAddsAContactAndReachesItsMenu()
    {
        ShellHarness h;
        h.writeContactFile(encodeRecord("Ann", "ann@x"));
        MainWindow* w = open(h, Layout::Full);
        QVERIFY(QTest::qWaitForWindowActive(w));
        auto press = [w](Qt::Key key, Qt::KeyboardModifiers mods = {}) {
            QTest::keyClick(w->windowHandle(), key, mods);
        };
        auto type = [](const QString& text) { QTest::keyClicks(QApplication::focusWidget(), text); };
        auto* emails = child<QAbstractItemView>(w, "lvEmail");
        emails->setFocus(Qt::TabFocusReason);

        press(Qt::Key_Tab); // to the "Add a Contact" hot spot
        QCOMPARE(QApplication::focusWidget(), child(w, "lblAdd"));
        press(Qt::Key_Space);
        QCOMPARE(QApplication::focusWidget(), child(w, "txtName"));
        type("Bob");
        press(Qt::Key_Tab);
        type("bob@x");
        h.dialogs.answers = {Dialogs::Answer::Yes};
        press(Qt::Key_Return); // presses "Add Contact"
        QCOMPARE(column(w, "lvEmail"), (QStringList{"ann@x", "bob@x"}));

        press(Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), emails);
        press(Qt::Key_End);
        auto* menu = child<QMenu>(w, "gfg");
        for (const auto& [key, mods] : {std::pair{Qt::Key_Menu, Qt::KeyboardModifiers()},
                                        std::pair{Qt::Key_F10, Qt::KeyboardModifiers(Qt::ShiftModifier)}}) {
            press(key, mods);
            QTRY_VERIFY(menu->isVisible());
            // at the selected row, not wherever the mouse pointer happens to be
            const QRect row = emails->visualRect(emails->model()->index(1, 0));
            QVERIFY(menu->geometry().top() >= emails->viewport()->mapToGlobal(row.topLeft()).y());
            QTest::keyClick(menu, Qt::Key_Escape);
            QTRY_VERIFY(!menu->isVisible());
        }
        press(Qt::Key_Return); // starts a conversation, as a double-click does
        QCOMPARE(h.messenger->calls, QStringList{"InstantMessage:bob@x"});
    }

    void screenReadersGetNamesAndButtons()
    {
        ShellHarness h;
        MainWindow* w = open(h, Layout::Full);
        auto said = [w](const char* name) {
            return QAccessible::queryAccessibleInterface(child(w, name))->text(QAccessible::Name);
        };
        QCOMPARE(said("lblAdd"), QString("Add a Contact"));
        QCOMPARE(said("Image4"), QString("Close Contact Addition"));
        for (const char* hotSpot : {"lblAdd", "Image4"}) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(child(w, hotSpot));
            QCOMPARE(a->role(), QAccessible::Button);
            QVERIFY(a->actionInterface());
        }
        QAccessible::queryAccessibleInterface(child(w, "lblAdd"))
            ->actionInterface()
            ->doAction(QAccessibleActionInterface::pressAction());
        QVERIFY(child(w, "txtName")->isVisibleTo(w));

        QVERIFY(!said("lvName").isEmpty());
        QVERIFY(!said("lvEmail").isEmpty());
        // The status line is read with whose status it is.
        const QString status = said("Label1");
        QVERIFY2(status.startsWith("My Status: "), qPrintable(status));
        QVERIFY2(status.endsWith(child<QLabel>(w, "Label1")->text()), qPrintable(status));
    }

    // ---- status probe and contact actions ------------------------------------------------

    void probeNeedsAContact()
    {
        ShellHarness h;
        h.messenger->polled = true; // Timer1 runs for as long as the line follows the client
        h.messenger->setStatus(Messenger::MISTATUS_OFFLINE);
        MainWindow* w = open(h, Layout::Full);
        h.dialogs.shown.clear();
        w->mnuStats_Click(); // an empty list: nothing at all
        QVERIFY(h.dialogs.shown.empty());
        QVERIFY(child<QTimer>(w, "Timer1")->isActive());
        QCOMPARE(child<QLabel>(w, "Label2")->text(), QString("My Status: "));

        add(h, w, "Ann", "ann@x");
        h.dialogs.shown.clear();
        w->mnStats_Click(); // rows but none selected: asked to select, nothing sent
        QCOMPARE(h.dialogs.shown.size(), size_t(1));
        QVERIFY(h.dialogs.shown[0].prompt.contains("select"));
        QVERIFY(child<QTimer>(w, "Timer1")->isActive());

        select(w, 0);
        w->mnuStats_Click();
        QCOMPARE(child<QLabel>(w, "Label2")->text(), QString("ann@x's Status: "));
        QVERIFY(!child<QTimer>(w, "Timer1")->isActive());
    }

    // Names, addresses and servers' words are shown as they are: markup in them neither
    // disappears nor loads a picture.
    void textFromOutsideIsShownAsText()
    {
        ShellHarness h;
        const QString name = "<img src=/etc/x.png><b>Ann</b>", email = "<b>ann</b>@x";
        h.writeContactFile(encodeRecord(name, email));
        MainWindow* w = open(h, Layout::Full);
        auto* model = child<QAbstractItemView>(w, "lvName")->model();
        QTextDocument tip;
        tip.setHtml(model->index(0, 0).data(Qt::ToolTipRole).toString());
        QCOMPARE(tip.toPlainText(), name);

        select(w, 0);
        w->mnuStats_Click();
        for (const char* label : {"Label1", "Label2"})
            QCOMPARE(child<QLabel>(w, label)->textFormat(), Qt::PlainText);

        Dialogs::setResponder({}); // a real box
        Qt::TextFormat shown = Qt::AutoText;
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = box->textFormat();
                box->accept();
            }
        });
        Dialogs::show(w, email);
        QCOMPARE(shown, Qt::PlainText);
    }

    void doubleClickRefusesOnlyTheExactOwnAddress()
    {
        ShellHarness h;
        h.writeContactFile(encodeRecord("Me", "me@example.com") + encodeRecord("Me too", "ME@example.com"));
        MainWindow* w = open(h, Layout::Full);
        select(w, 0);
        w->lvEmail_DblClick();
        QCOMPARE(h.dialogs.prompts(), QStringList{"You cant send a msg to yourself."});
        QCOMPARE(h.dialogs.shown[0].caption, QString("Tavlo"));
        QVERIFY(h.messenger->calls.isEmpty());
        select(w, 1);
        w->lvEmail_DblClick();
        QCOMPARE(h.messenger->calls, QStringList{"InstantMessage:ME@example.com"});
    }

    void contactActionsWithTheClientOffline()
    {
        ShellHarness h;
        h.writeContactFile(encodeRecord("Ann", "ann@x"));
        h.messenger->setStatus(Messenger::MISTATUS_OFFLINE);
        MainWindow* w = open(h, Layout::Compact);
        h.dialogs.shown.clear();
        // Nothing selected, and still nothing shown: the status is read first.
        w->mnuConvo_Click();
        w->mnuEmail_Click();
        w->mnuProfile_Click();
        QVERIFY(h.dialogs.shown.empty());
        QVERIFY(h.messenger->calls.isEmpty());
        select(w, 0);
        w->mnuConvo_Click();
        w->mnuEmail_Click();
        w->mnuProfile_Click();
        QVERIFY(h.messenger->calls.isEmpty());
        w->mnuVConvo_Click();
        w->lvEmail_DblClick();
        QCOMPARE(h.messenger->calls, (QStringList{"StartVoice:ann@x", "InstantMessage:ann@x"}));
    }

    void contactActionsReachTheClient()
    {
        ShellHarness h;
        h.writeContactFile(encodeRecord("Ann", "ann@x"));
        MainWindow* w = open(h, Layout::Full);
        w->mnuConvo_Click(); // nothing selected
        QCOMPARE(h.dialogs.shown.size(), size_t(1));
        QVERIFY(h.messenger->calls.isEmpty());
        select(w, 0);
        w->mnuConvo_Click();
        w->mnuEmail_Click();
        w->mnuProfile_Click();
        w->mnuVConvo_Click();
        QCOMPARE(h.messenger->calls, (QStringList{"InstantMessage:ann@x", "SendMail:ann@x", "ViewProfile:ann@x",
                                                  "StartVoice:ann@x"}));
        h.messenger->answer = ClientResult::failure("The client said no.");
        h.dialogs.shown.clear();
        w->mnuProfile_Click();
        QCOMPARE(h.dialogs.prompts(), QStringList{"The client said no."});
    }

    void helpAndAboutAreModal()
    {
        ShellHarness h;
        MainWindow* w = open(h, Layout::Full);
        QStringList seen;
        auto inspect = [&] {
            QWidget* modal = QApplication::activeModalWidget();
            QVERIFY(modal);
            seen << modal->objectName() + "|" + modal->windowTitle();
            modal->close();
        };
        QTimer::singleShot(0, this, inspect);
        w->mnuHelp1_Click();
        QTimer::singleShot(0, this, inspect);
        w->mnuAbout_Click();
        QCOMPARE(seen, (QStringList{"frmHelp|Help for Velmora", "frmAbout|About Velmora v2.6"}));
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
