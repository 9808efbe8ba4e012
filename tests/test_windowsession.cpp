// SPDX-License-Identifier: GPL-3.0-or-later
// A new user signs in, checks a contact with F2 and reads the answer, through
// the real windows against a scripted service on 127.0.0.1; and watches a contact, with a
// notification service of the test's own on a bus of its own.
#include "contacts/ContactFile.h"
#include "session/CheckOutcome.h"
#include "session/ServiceSession.h"
#include "shell/SessionText.h"
#include "shell/MainWindow.h"
#include "shell/Marks.h"
#include "shell/SignInWindow.h"
#include "tests/support/ScriptedMsnpServer.h"
#include "tests/support/SessionTestSupport.h"
#include "tests/support/ShellHarness.h"

#include <QAbstractItemView>
#include <QAction>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QtTest>

using Lines = QList<QByteArray>;
using Reply = ScriptedMsnpServer::Reply;

namespace {
constexpr int Patience = 5000;

QByteArray trid(const Lines& f) { return f.value(1, "0"); }

// One server that signs the account in on the first connection, without a
// redirect, and hands out a switchboard that answers the call with callReply.
void scriptService(ScriptedMsnpServer& service, ScriptedMsnpServer& switchboard, const QByteArray& callReply)
{
    service.on("VER", [](const Lines& f) { return Reply{"VER " + trid(f) + " MSNP5\r\n"}; });
    service.on("INF", [](const Lines& f) { return Reply{"INF " + trid(f) + " MD5\r\n"}; });
    service.on("USR", [](const Lines& f) {
        if (f.value(3) == "I")
            return Reply{"USR " + trid(f) + " MD5 S 1013928519.693957190\r\n"};
        // MD5 of the challenge followed by "password"
        return f.value(4) == "7f919fab309532df353c901430df36fa" ? Reply{"USR " + trid(f) + " OK a@b A\r\n"}
                                                                  : Reply{"911 " + trid(f) + "\r\n"};
    });
    service.on("CHG", [](const Lines& f) { return Reply{"CHG " + trid(f) + " NLN 0\r\n"}; });
    service.on("SYN", [](const Lines& f) {
        // Everyone on the forward list, so that "not online" means what it says.
        QByteArray sync = "SYN " + trid(f) + " 1\r\n";
        const QList<QByteArray> following{"bob@x", "carol@x", "dave@x"};
        for (int i = 0; i < following.size(); ++i)
            sync += "LST " + trid(f) + " FL 1 3 " + QByteArray::number(i + 1) + " " + following[i] + " X\r\n";
        for (const char* list : {"AL", "BL", "RL"})
            sync += "LST " + trid(f) + " " + list + " 1 0 0\r\n";
        return Reply{sync + "NLN NLN carol@x Carol\r\n"};
    });
    const QByteArray where = switchboard.address().toLatin1();
    service.on("XFR", [where](const Lines& f) { return Reply{"XFR " + trid(f) + " SB " + where + " CKI 17.25\r\n"}; });
    switchboard.on("USR", [](const Lines&) { return Reply{"USR 1 OK a@b A\r\n"}; });
    switchboard.on("CAL", [callReply](const Lines&) { return Reply{callReply}; });
}
// org.freedesktop.Notifications as a desktop offers it: what it is asked to show, and the user's
// choice of an action sent back.
class NotificationService : public QDBusVirtualObject {
public:
    struct Shown {
        QString icon, summary, body;
        QStringList actions;
    };
    QList<Shown> shown; // the id of each is its place here, from 1

    bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
        const QVariantList a = m.arguments();
        if (m.member() == "Notify" && a.size() == 8) {
            shown << Shown{a[2].toString(), a[3].toString(), a[4].toString(), a[5].toStringList()};
            return bus.send(m.createReply(QVariant::fromValue(uint(shown.size()))));
        }
        if (m.member() == "GetCapabilities")
            return bus.send(m.createReply(QStringList{"actions", "body"}));
        return false;
    }
    QString introspect(const QString&) const override { return {}; }

    static void invoke(QDBusConnection bus, uint id, const QString& key) {
        QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/Notifications",
                                                         "org.freedesktop.Notifications", "ActionInvoked");
        signal << id << key;
        bus.send(signal);
    }
};

} // namespace

class WindowSessionTest : public QObject {
    Q_OBJECT

    QTemporaryDir busDir;
    QProcess bus;
    NotificationService notifications;

    static void select(MainWindow* w, int row)
    {
        auto* list = w->findChild<QAbstractItemView*>("lvEmail");
        list->selectionModel()->select(list->model()->index(row, 0), QItemSelectionModel::ClearAndSelect);
    }
    static QString label(MainWindow* w, const char* name) { return w->findChild<QLabel*>(name)->text(); }

    static MainWindow* signIn(ShellHarness& h, const QString& password)
    {
        auto* w = new SignInWindow(h.parts());
        w->findChild<QLineEdit*>("Text1")->setText("a@b");
        w->findChild<QLineEdit*>("Text2")->setText(password);
        w->show();
        w->Command1_Click();
        return h.existingMainWindow();
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable("dbus-daemon").isEmpty())
            return;
        // A session bus that starts no service of its own: no notification daemon installed here
        // may stand in for the test's.
        QFile standard("/usr/share/dbus-1/session.conf");
        QFile config(busDir.filePath("bus.conf"));
        QVERIFY(standard.open(QIODevice::ReadOnly) && config.open(QIODevice::WriteOnly));
        config.write(standard.readAll().replace("<standard_session_servicedirs />", ""));
        config.close();
        bus.start("dbus-daemon", {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
        QVERIFY(bus.waitForStarted(5000) && bus.waitForReadyRead(5000));
        const QByteArray address = bus.readLine().trimmed();
        // Before anything in this process opens the session bus.
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        QDBusConnection own = QDBusConnection::connectToBus(QString::fromLatin1(address), "notifications");
        QVERIFY(own.registerVirtualObject("/org/freedesktop/Notifications", &notifications));
        QVERIFY(own.registerService("org.freedesktop.Notifications"));
    }
    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus("notifications");
        bus.terminate();
        bus.waitForFinished(5000);
    }
    void cleanup() { qunsetenv("VELMORA_DISPATCH_SERVER"); }

    void signsInAndChecksAContact_data()
    {
        QTest::addColumn<QByteArray>("callReply");
        QTest::addColumn<QString>("answer");
        QTest::newRow("ringing") << QByteArray("CAL 2 RINGING 11752013\r\n") << "Online";
        QTest::newRow("not there") << QByteArray("217 2\r\n") << "Offline";
    }
    void signsInAndChecksAContact()
    {
        QFETCH(QByteArray, callReply);
        QFETCH(QString, answer);
        ShellHarness h;
        h.writeContactFile(encodeRecord("Bob", "bob@x") + encodeRecord("Carol", "carol@x"));
        ScriptedMsnpServer service, switchboard;
        scriptService(service, switchboard, callReply);
        qputenv("VELMORA_DISPATCH_SERVER", service.address().toLatin1());

        MainWindow* w = signIn(h, "password");
        auto* label1 = w->findChild<QLabel*>("Label1");
        QTRY_COMPARE_WITH_TIMEOUT(label1->text(), QString("MSN (Online)"), Patience);
        QTRY_COMPARE_WITH_TIMEOUT(service.lines().value(5), QByteArray("SYN 5 0"), Patience);
        QCOMPARE(service.lines().value(2), QByteArray("USR 3 MD5 I a@b"));

        auto* list = w->findChild<QAbstractItemView*>("lvEmail");
        list->selectionModel()->select(list->model()->index(1, 0), QItemSelectionModel::ClearAndSelect);
        QVERIFY(QTest::qWaitForWindowActive(w));
        QTest::keyClick(w, Qt::Key_F2);
        QCOMPARE(w->findChild<QLabel*>("Label2")->text(), QString("carol@x's Status: "));
        QTRY_COMPARE_WITH_TIMEOUT(label1->text(), answer, Patience);
        QCOMPARE(service.lines().last(), QByteArray("XFR 6 SB"));
        QCOMPARE(switchboard.linesOn(0).value(0), QByteArray("USR 1 a@b 17.25"));
        QCOMPARE(switchboard.linesOn(0).value(1), QByteArray("CAL 2 carol@x"));
        QVERIFY(!w->findChild<QTimer*>("Timer1")->isActive());
    }

    void aRefusedPasswordStaysOnScreen()
    {
        ShellHarness h;
        ScriptedMsnpServer service, switchboard;
        scriptService(service, switchboard, {});
        qputenv("VELMORA_DISPATCH_SERVER", service.address().toLatin1());
        MainWindow* w = signIn(h, "wrong");
        auto* label1 = w->findChild<QLabel*>("Label1");
        QTRY_COMPARE_WITH_TIMEOUT(label1->text(), QString(SessionText::SignInRefused), Patience);
        QTest::qWait(300); // Timer1 must not paint over it
        QCOMPARE(label1->text(), QString(SessionText::SignInRefused));
        // File, Sign In Again asks for the password first; cancelled, nothing is tried.
        auto* again = w->findChild<QAction*>("mnuSignInAgain");
        QVERIFY(again->isEnabled());
        std::optional<QString> typed;
        QStringList asked;
        Dialogs::setPasswordResponder([&](const Dialogs::Request& r) {
            asked << r.prompt;
            return typed;
        });
        again->trigger();
        QTest::qWait(300);
        QCOMPARE(service.connectionCount(), 1);
        typed = QStringLiteral("password");
        again->trigger();
        Dialogs::setPasswordResponder({});
        QCOMPARE(asked.size(), 2);
        QVERIFY(asked.first().contains("a@b"));
        QTRY_COMPARE_WITH_TIMEOUT(label1->text(), QString("MSN (Online)"), Patience);
        QVERIFY(!again->isEnabled());
    }

    // Signed in somewhere else, the session stops without fighting back, says so once, and
    // File, Sign In Again takes it up when the user wants.
    void signedInElsewhere()
    {
        ShellHarness h;
        ScriptedMsnpServer service, switchboard;
        scriptService(service, switchboard, {});
        qputenv("VELMORA_DISPATCH_SERVER", service.address().toLatin1());
        MainWindow* w = signIn(h, "password");
        auto* again = w->findChild<QAction*>("mnuSignInAgain");
        QTRY_COMPARE_WITH_TIMEOUT(label(w, "Label1"), QString("MSN (Online)"), Patience);
        QVERIFY(!again->isEnabled());
        service.send("OUT OTH\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(label(w, "Label1"), QString(SessionText::SignedInElsewhere), Patience);
        QTRY_COMPARE_WITH_TIMEOUT(h.dialogs.prompts().filter("signed in somewhere else").size(), 1, Patience);
        QVERIFY(again->isEnabled());
        QTest::qWait(2500); // past the first wait before signing in again after a loss
        QCOMPARE(service.connectionCount(), 1);
        QCOMPARE(h.dialogs.prompts().filter("signed in somewhere else").size(), 1);
        again->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(label(w, "Label1"), QString("MSN (Online)"), Patience);
        QCOMPARE(service.connectionCount(), 2);
        QVERIFY(!again->isEnabled());
    }

    // The answer is for the contact named beside "My Status", whoever is selected meanwhile.
    void theCheckCallsTheContactItWasStartedFor()
    {
        ShellHarness h;
        h.writeContactFile(encodeRecord("Bob", "bob@x") + encodeRecord("Carol", "carol@x"));
        ScriptedMsnpServer service, switchboard;
        scriptService(service, switchboard, "CAL 2 RINGING 11752013\r\n");
        switchboard.setChunkDelay(400);
        switchboard.on("USR", [](const Lines&) { return Reply{"", "USR 1 OK a@b A\r\n"}; });
        qputenv("VELMORA_DISPATCH_SERVER", service.address().toLatin1());
        MainWindow* w = signIn(h, "password");
        QTRY_COMPARE_WITH_TIMEOUT(label(w, "Label1"), QString("MSN (Online)"), Patience);
        select(w, 0);
        w->mnuStats_Click();
        QTRY_COMPARE_WITH_TIMEOUT(switchboard.lines().size(), 1, Patience);
        select(w, 1);
        QTRY_COMPARE_WITH_TIMEOUT(label(w, "Label1"), QString("Online"), Patience);
        QCOMPARE(switchboard.lines().value(1), QByteArray("CAL 2 bob@x"));
        QCOMPARE(label(w, "Label2"), QString("bob@x's Status: "));
    }

    // A new check ends the one before it: its answer never lands under the new contact's name.
    void anOlderChecksAnswerNeverShows()
    {
        ShellHarness h;
        h.writeContactFile(encodeRecord("Bob", "bob@x") + encodeRecord("Carol", "carol@x"));
        ScriptedMsnpServer service, switchboard;
        scriptService(service, switchboard, {});
        const QByteArray where = switchboard.address().toLatin1();
        service.on("XFR", [where, count = std::make_shared<int>(0)](const Lines& f) {
            return ++*count == 1 ? Reply{"XFR " + trid(f) + " SB " + where + " CKI 17.25\r\n"}
                                 : Reply{"502 " + trid(f) + "\r\n"};
        });
        switchboard.setChunkDelay(600);
        switchboard.on("CAL", [](const Lines&) { return Reply{"", "CAL 2 RINGING 11752013\r\n"}; });
        qputenv("VELMORA_DISPATCH_SERVER", service.address().toLatin1());
        MainWindow* w = signIn(h, "password");
        QTRY_COMPARE_WITH_TIMEOUT(label(w, "Label1"), QString("MSN (Online)"), Patience);
        QTRY_COMPARE_WITH_TIMEOUT(service.lines().value(5), QByteArray("SYN 5 0"), Patience);
        select(w, 0);
        w->mnuStats_Click();
        QTRY_VERIFY_WITH_TIMEOUT(switchboard.lines().contains("CAL 2 bob@x"), Patience);
        select(w, 1);
        w->mnuStats_Click();
        QCOMPARE(label(w, "Label2"), QString("carol@x's Status: "));
        QTRY_COMPARE_WITH_TIMEOUT(label(w, "Label1"), QString("Check refused"), Patience);
        QTest::qWait(900); // when bob's ring would have come
        QCOMPARE(label(w, "Label1"), QString("Check refused"));
        QCOMPARE(service.lines().mid(6), (Lines{"XFR 6 SB", "XFR 7 SB"}));
    }

    // A client offline at load gets its session once it signs in; with no client at all the
    // session starts at once, and the user hears once what needs a client.
    void theSessionStartsWhenItCan_data()
    {
        QTest::addColumn<bool>("clientRunning");
        QTest::addColumn<bool>("clientHung");
        QTest::newRow("client offline, then online") << true << false;
        QTest::newRow("no client running") << false << false;
        QTest::newRow("a client that never answers") << true << true;
    }
    void theSessionStartsWhenItCan()
    {
        QFETCH(bool, clientRunning);
        QFETCH(bool, clientHung);
        ShellHarness h;
        h.messenger->running = clientRunning;
        h.messenger->hung = clientHung;
        h.messenger->setStatus(Messenger::MISTATUS_OFFLINE);
        const bool waits = clientRunning && !clientHung; // for the client to sign in
        ScriptedMsnpServer service, switchboard;
        scriptService(service, switchboard, {});
        qputenv("VELMORA_DISPATCH_SERVER", service.address().toLatin1());
        MainWindow* w = signIn(h, "password");
        if (waits) {
            QVERIFY(h.dialogs.prompts().contains("MSN Is currently not connected.\r\nPlease connect to MSN"));
            QTest::qWait(300);
            QCOMPARE(service.connectionCount(), 0);
            h.messenger->setStatus(2);
        }
        QTRY_COMPARE_WITH_TIMEOUT(label(w, "Label1"), QString("MSN (Online)"), Patience);
        // No client running is told under the lists, where it does not take the first click.
        QVERIFY(h.dialogs.prompts().filter("No messenger client is running").isEmpty());
        QCOMPARE(label(w, "lblListInfo").contains("No messenger client is running"), !clientRunning);
        QCOMPARE(h.dialogs.prompts().contains("MSN Is currently not connected.\r\nPlease connect to MSN"), waits);
    }

    // A dropped connection comes back by itself, and the status line says so on the way.
    void theStatusLineFollowsAReconnect()
    {
        ShellHarness h;
        ScriptedMsnpServer service, switchboard;
        scriptService(service, switchboard, {});
        qputenv("VELMORA_DISPATCH_SERVER", service.address().toLatin1());
        MainWindow* w = signIn(h, "password");
        QTRY_COMPARE_WITH_TIMEOUT(label(w, "Label1"), QString("MSN (Online)"), Patience);
        // The way back takes a while, so it can be seen.
        service.setChunkDelay(800);
        service.on("VER", [](const Lines& f) { return Reply{"", "VER " + trid(f) + " MSNP5\r\n"}; });
        service.drop();
        QTRY_COMPARE_WITH_TIMEOUT(label(w, "Label1"), QString("Connection lost"), Patience);
        QTRY_COMPARE_WITH_TIMEOUT(label(w, "Label1"), QString("Reconnecting..."), Patience);
        QTRY_COMPARE_WITH_TIMEOUT(label(w, "Label1"), QString("MSN (Online)"), Patience);
        QCOMPARE(service.connectionCount(), 2);
    }

    // A run over the list marks every row, a single check goes ahead of it, and "Show Online Only"
    // leaves both lists with the online contacts, where the actions work on what is shown.
    void checkingEveryone()
    {
        ShellHarness h;
        h.writeContactFile(encodeRecord("Bob", "bob@x") + encodeRecord("Dave", "dave@x") +
                           encodeRecord("Carol", "carol@x") + encodeRecord("Bob again", "BOB@x"));
        ScriptedMsnpServer service, switchboard;
        scriptService(service, switchboard, {});
        switchboard.setChunkDelay(150); // each answer takes a while, so the run is still going below
        switchboard.on("CAL", [](const Lines& f) {
            return f.value(2).toLower() == "dave@x" ? Reply{"", "217 2\r\n"} : Reply{"", "CAL 2 RINGING 1\r\n"};
        });
        qputenv("VELMORA_DISPATCH_SERVER", service.address().toLatin1());
        MainWindow* w = signIn(h, "password");
        QTRY_COMPARE_WITH_TIMEOUT(label(w, "Label1"), QString("MSN (Online)"), Patience);
        QTRY_COMPARE_WITH_TIMEOUT(service.lines().value(5), QByteArray("SYN 5 0"), Patience);

        w->mnuCheckAll_Click();
        auto* checkAll = w->findChild<QAction*>("mnuCheckAll");
        QCOMPARE(checkAll->text(), QString("Stop Checking"));
        select(w, 2);
        w->mnuStats_Click(); // ahead of the run's queue
        QTRY_COMPARE_WITH_TIMEOUT(label(w, "Label1"), QString("Online"), Patience);
        QTRY_COMPARE_WITH_TIMEOUT(checkAll->text(), QString("Check Everyone"), 3 * Patience);
        QCOMPARE(label(w, "Label2"), QString("carol@x's Status: "));
        // The run's summary stays under the lists, the single check's answer counted in.
        const QString summary = label(w, "lblListInfo");
        QVERIFY2(QRegularExpression("^3 checked at \\d\\d:\\d\\d · 2 online$").match(summary).hasMatch(),
                 qPrintable(summary));
        // Every address once, carol's only by the single check: the run did not ask again.
        QCOMPARE(switchboard.lines().count("CAL 2 carol@x"), 1);
        QCOMPARE(switchboard.lines().count("CAL 2 bob@x") + switchboard.lines().count("CAL 2 dave@x"), 2);

        auto* emails = w->findChild<QAbstractItemView*>("lvEmail")->model();
        const QList<int> kinds{int(ResultKind::Online), int(ResultKind::Offline), int(ResultKind::Online),
                               int(ResultKind::Online)};
        for (int row = 0; row < 4; ++row) {
            QTRY_COMPARE_WITH_TIMEOUT(emails->index(row, 0).data(Qt::UserRole + 1).toInt(), kinds[row], Patience);
            QVERIFY(emails->index(row, 0).data(Qt::ToolTipRole).toString().contains(row == 1 ? "Offline, " : "Online, "));
        }

        auto* onlineOnly = w->findChild<QAction*>("mnuOnlineOnly");
        onlineOnly->trigger();
        QVERIFY(onlineOnly->isChecked());
        auto* names = w->findChild<QAbstractItemView*>("lvName")->model();
        QCOMPARE(emails->rowCount(), 3);
        QCOMPARE(names->index(1, 0).data().toString(), QString("Carol"));
        QCOMPARE(emails->index(1, 0).data().toString(), QString("carol@x"));
        QCOMPARE(label(w, "lblListInfo"), summary + "\n3 of 4 shown");
        select(w, 2);
        w->mnuConvo_Click();
        QCOMPARE(h.messenger->calls, QStringList{"InstantMessage:BOB@x"});
        onlineOnly->trigger();
        QCOMPARE(emails->rowCount(), 4);
    }

    // A watched contact found online after offline is told once, by a notification whose actions
    // reach the client and bring the window back; again after offline; under the lists when no
    // notification service answers. The watch outlives the run.
    void aWatchedContactComingOnlineIsTold()
    {
        if (bus.state() != QProcess::Running)
            QSKIP("dbus-daemon is not installed");
        ManualClock rounds; // outlives the program that uses it
        ShellHarness h;
        h.tray = true;
        h.watchClock = &rounds;
        h.writeContactFile(encodeRecord("Bob", "bob@x") + encodeRecord("Carol", "carol@x"));
        ScriptedMsnpServer service, switchboard;
        scriptService(service, switchboard, {});
        QByteArray carol = "217 2\r\n";
        switchboard.on("CAL", [&carol](const Lines&) { return Reply{carol}; });
        qputenv("VELMORA_DISPATCH_SERVER", service.address().toLatin1());
        MainWindow* w = signIn(h, "password");
        QTRY_COMPARE_WITH_TIMEOUT(label(w, "Label1"), QString("MSN (Online)"), Patience);
        auto* emails = w->findChild<QAbstractItemView*>("lvEmail");
        select(w, 1);
        w->mnuWatch_Click();
        QVERIFY(emails->model()->index(1, 0).data(Marks::WatchedRole).toBool());
        QCOMPARE(emails->model()->index(1, 0).data(Qt::AccessibleTextRole).toString(), QString("carol@x, watched"));

        auto round = [&](const QByteArray& reply) {
            carol = reply;
            const qsizetype asked = switchboard.lines().count("CAL 2 carol@x");
            rounds.fire();
            QTRY_COMPARE_WITH_TIMEOUT(switchboard.lines().count("CAL 2 carol@x"), asked + 1, Patience);
            QTRY_VERIFY_WITH_TIMEOUT(rounds.wake, Patience);
            QTest::qWait(50); // what the answer brings
        };
        round("217 2\r\n");
        QCOMPARE(emails->model()->index(1, 0).data(Qt::AccessibleTextRole).toString(),
                 QString("carol@x, Offline, watched"));
        QVERIFY(notifications.shown.isEmpty());
        round("CAL 2 RINGING 1\r\n");
        QCOMPARE(notifications.shown.size(), 1);
        QCOMPARE(notifications.shown[0].summary, QString("Carol is online"));
        QCOMPARE(notifications.shown[0].body, QString("carol@x"));
        QCOMPARE(notifications.shown[0].icon, QString("velmora"));
        QCOMPARE(notifications.shown[0].actions,
                 (QStringList{"default", "Show", "conversation", "Start A Conversation", "show", "Show"}));

        // In the tray, its menu lists her; the notification's conversation reaches the client.
        w->mnuSysTray_Click();
        QMenu* trayMenu = w->findChild<QSystemTrayIcon*>("cSysTray2")->contextMenu();
        QCOMPARE(trayMenu->actions().value(0)->text(), QString("Carol (carol@x)"));
        NotificationService::invoke(QDBusConnection("notifications"), 1, "conversation");
        QTRY_COMPARE_WITH_TIMEOUT(h.messenger->calls, QStringList{"InstantMessage:carol@x"}, Patience);

        round("CAL 2 RINGING 1\r\n"); // still online: nothing new
        round("217 2\r\n");
        QCOMPARE(notifications.shown.size(), 1);
        round("CAL 2 RINGING 1\r\n");
        QCOMPARE(notifications.shown.size(), 2);
        select(w, 0);
        NotificationService::invoke(QDBusConnection("notifications"), 2, "default");
        QTRY_VERIFY_WITH_TIMEOUT(w->isVisible(), Patience);
        QCOMPARE(emails->selectionModel()->selectedRows().value(0).row(), 1);

        // No service: the line under the lists says it.
        QDBusConnection("notifications").unregisterService("org.freedesktop.Notifications");
        round("217 2\r\n");
        round("CAL 2 RINGING 1\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(label(w, "lblListInfo").contains("Carol is online"), Patience);
        QVERIFY(QDBusConnection("notifications").registerService("org.freedesktop.Notifications"));

        auto* watchedOnly = w->findChild<QAction*>("mnuWatchedOnly");
        watchedOnly->trigger();
        QCOMPARE(emails->model()->rowCount(), 1);
        QCOMPARE(emails->model()->index(0, 0).data().toString(), QString("carol@x"));
        watchedOnly->trigger();
        QCOMPARE(emails->model()->rowCount(), 2);

        h.restart();
        QVERIFY(h.mainWindow(Layout::Full)
                    ->findChild<QAbstractItemView*>("lvEmail")
                    ->model()
                    ->index(1, 0)
                    .data(Marks::WatchedRole)
                    .toBool());
    }
};

QTEST_MAIN(WindowSessionTest)
#include "test_windowsession.moc"
