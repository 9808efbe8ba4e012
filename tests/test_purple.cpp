// SPDX-License-Identifier: GPL-3.0-or-later
#include "messenger/PurpleMessenger.h"
#include "tests/support/ClientAnswer.h"
#include "tests/support/PurpleFixture.h"

#include <QProcess>
#include <QScopeGuard>
#include <QtTest>

// Everything here runs against a real finch. The messenger under test lives for the whole
// program, like the program's own, so its cached status has to follow every change.
class PurpleTest : public QObject {
    Q_OBJECT

    std::unique_ptr<PurpleFixture> purple;
    std::unique_ptr<PurpleMessenger> messenger;
    QStringList profilesShown;

    void online() {
        QVERIFY2(purple->bringOnline(), qPrintable(purple->finchLog().right(2000)));
        QTRY_VERIFY_WITH_TIMEOUT(messenger->MyStatus() != Messenger::MISTATUS_OFFLINE, 5000);
    }
    void offline() {
        QVERIFY(purple->goOffline());
        QTRY_COMPARE_WITH_TIMEOUT(messenger->MyStatus(), Messenger::MISTATUS_OFFLINE, 5000);
    }

public slots:
    void displayingUserinfo(int, const QString& who, int) { profilesShown << who; }

private slots:
    void initTestCase() {
        QString why;
        if (!PurpleFixture::available(&why))
            QSKIP(qPrintable(why));
        purple = PurpleFixture::start(&why);
        QVERIFY2(purple, qPrintable(why));
        messenger = std::make_unique<PurpleMessenger>();
    }

    void cleanupTestCase() {
        messenger.reset();
        purple.reset();
    }

    void aSignedOutClientIsOfflineButKnowsItsAccount() {
        offline();
        QTRY_COMPARE(messenger->MySigninName(), std::optional<QString>(QStringLiteral("fixtureme@127.0.0.1")));

        const ClientResult im = answerOf(*messenger, &Messenger::InstantMessage, purple->buddy());
        QVERIFY(!im.ok);
        QVERIFY2(im.error.contains(purple->buddy()), qPrintable(im.error));
        QCOMPARE(purple->imConversationNames(), QStringList());

        const ClientResult profile = answerOf(*messenger, &Messenger::ViewProfile, purple->buddy());
        QVERIFY(!profile.ok);
        QVERIFY(!profile.error.isEmpty());
    }

    void statusFollowsSavedStatusAndConnection() {
        QCOMPARE(messenger->MyStatus(), Messenger::MISTATUS_OFFLINE);
        online();
        offline();
        online();

        // The account drops while the saved status still says available: that is offline too.
        QString error;
        purple->call(QStringLiteral("PurpleAccountDisconnect"), {purple->accountId()}, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(messenger->MyStatus(), Messenger::MISTATUS_OFFLINE, 5000);
        const int saved = purple->call(QStringLiteral("PurpleSavedstatusGetCurrent")).toInt();
        QCOMPARE(purple->call(QStringLiteral("PurpleSavedstatusGetType"), {saved}).toInt(), 2);
    }

    // The window asks many times a second; the client hears from us only after a change.
    void statusIsAskedOnlyAfterAChange() {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-monitor")).isEmpty())
            QSKIP("dbus-monitor is not installed");
        online();
        // Signals finch sent so far reach the messenger before this answer does; the status
        // they invalidated is then asked again now, not during the count.
        QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            QStringLiteral("im.pidgin.purple.PurpleService"),
            QStringLiteral("/im/pidgin/purple/PurpleObject"),
            QStringLiteral("im.pidgin.purple.PurpleInterface"), QStringLiteral("PurpleAccountsGetAll")));
        QCoreApplication::processEvents();
        QCOMPARE_NE(messenger->MyStatus(), Messenger::MISTATUS_OFFLINE);

        QProcess monitor;
        monitor.start(QStringLiteral("dbus-monitor"),
                      {QStringLiteral("--address"), purple->busAddress(),
                       QStringLiteral("type='method_call',sender='%1'")
                           .arg(QDBusConnection::sessionBus().baseService())});
        QVERIFY(monitor.waitForStarted(5000));
        QString seen;
        const auto asked = [&](const QString& member) {
            seen += QString::fromUtf8(monitor.readAllStandardOutput());
            return seen.count(QStringLiteral("member=") + member);
        };
        // Until it shows a call of ours, a quiet monitor would prove nothing.
        const auto ping = [](const QString& member) {
            QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus"), member));
        };
        QTRY_VERIFY_WITH_TIMEOUT((ping(QStringLiteral("GetId")), asked(QStringLiteral("GetId")) > 0), 5000);

        for (int tick = 0; tick < 200; ++tick) {
            QCOMPARE_NE(messenger->MyStatus(), Messenger::MISTATUS_OFFLINE);
            QTest::qWait(2);
        }
        ping(QStringLiteral("ListNames")); // whatever we asked meanwhile shows before this
        QTRY_COMPARE_WITH_TIMEOUT(asked(QStringLiteral("ListNames")), 1, 5000);
        QCOMPARE(asked(QStringLiteral("PurpleSavedstatusGetCurrent")), 0);

        QVERIFY(purple->goOffline());
        QTRY_COMPARE_WITH_TIMEOUT(messenger->MyStatus(), Messenger::MISTATUS_OFFLINE, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(asked(QStringLiteral("PurpleSavedstatusGetCurrent")) > 0, 5000);

        monitor.terminate();
        if (!monitor.waitForFinished(3000))
            monitor.kill();
        monitor.waitForFinished(3000);
    }

    void instantMessageOpensAConversation() {
        online();
        purple->closeConversations();
        const ClientResult result = answerOf(*messenger, &Messenger::InstantMessage, purple->buddy());
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(purple->imConversationNames(), QStringList{purple->buddy()});
    }

    // With a second account signed in ahead of it, the conversation still goes to the
    // account that has the contact as a buddy.
    void conversationGoesToTheAccountWithTheBuddy() {
        online();
        const int mine = purple->accountId();
        const int port =
            purple->call(QStringLiteral("PurpleAccountGetInt"), {mine, QStringLiteral("port"), 0}).toInt();
        const int other = purple
                              ->call(QStringLiteral("PurpleAccountNew"),
                                     {QStringLiteral("other@127.0.0.1"), QStringLiteral("prpl-irc")})
                              .toInt();
        QVERIFY(other != 0);
        const auto removeOther = qScopeGuard([&] {
            purple->closeConversations();
            purple->call(QStringLiteral("PurpleAccountsDelete"), {other});
        });
        purple->call(QStringLiteral("PurpleAccountSetInt"), {other, QStringLiteral("port"), port});
        purple->call(QStringLiteral("PurpleAccountsAdd"), {other});
        purple->call(QStringLiteral("PurpleAccountsReorder"), {other, 0});
        purple->call(QStringLiteral("PurpleAccountSetEnabled"), {other, QStringLiteral("gnt-purple"), 1});
        purple->call(QStringLiteral("PurpleAccountConnect"), {other});
        QTRY_VERIFY_WITH_TIMEOUT(
            purple->call(QStringLiteral("PurpleAccountIsConnected"), {other}).toInt() != 0, 15000);
        QCOMPARE(purple->call(QStringLiteral("PurpleAccountsGetAllActive")).value<QList<int>>().value(0),
                 other);

        const ClientResult im = answerOf(*messenger, &Messenger::InstantMessage, purple->buddy());
        QVERIFY2(im.ok, qPrintable(im.error));
        const QList<int> ims = purple->call(QStringLiteral("PurpleGetIms")).value<QList<int>>();
        QCOMPARE(ims.size(), 1);
        QCOMPARE(purple->call(QStringLiteral("PurpleConversationGetAccount"), {ims.first()}).toInt(), mine);
    }

    void voiceOverIrcIsReportedUnavailable() {
        online();
        const ClientResult result = answerOf(*messenger, &Messenger::StartVoice, purple->buddy());
        QVERIFY(!result.ok);
        QVERIFY2(result.error.contains(QLatin1String("voice")) && result.error.contains(purple->buddy()),
                 qPrintable(result.error));
        QVERIFY(purple->accountId() != 0); // finch is still there
    }

    void viewProfileAsksTheClient() {
        online();
        profilesShown.clear();
        QVERIFY(purple->bus().connect(QStringLiteral("im.pidgin.purple.PurpleService"),
                                      QStringLiteral("/im/pidgin/purple/PurpleObject"),
                                      QStringLiteral("im.pidgin.purple.PurpleInterface"),
                                      QStringLiteral("DisplayingUserinfo"), this,
                                      SLOT(displayingUserinfo(int, QString, int))));
        const ClientResult result = answerOf(*messenger, &Messenger::ViewProfile, purple->buddy());
        QVERIFY2(result.ok, qPrintable(result.error));
        // The server answers the WHOIS and finch shows what it got.
        QTRY_COMPARE_WITH_TIMEOUT(profilesShown, QStringList{purple->buddy()}, 5000);
    }

    // A frozen client must not freeze the window: one short wait, then offline until it may
    // have thawed, and actions fail with a reason.
    void aFrozenClientReadsAsOfflineUntilItAnswersAgain() {
        online();
        QVERIFY(purple->freezeClient());
        auto thaw = qScopeGuard([&] { purple->thawClient(); });

        PurpleMessenger fresh; // nothing cached yet
        QCOMPARE(fresh.MyStatus(), Messenger::MISTATUS_OFFLINE);
        QTRY_VERIFY_WITH_TIMEOUT(!fresh.statusPending(), 5000);
        QVERIFY(!fresh.answering());
        const ClientResult result = answerOf(fresh, &Messenger::InstantMessage, purple->buddy());
        QVERIFY(!result.ok);
        QVERIFY2(result.error.contains(QLatin1String("did not answer")), qPrintable(result.error));

        QVERIFY(purple->thawClient());
        thaw.dismiss();
        QTRY_VERIFY_WITH_TIMEOUT(fresh.MyStatus() != Messenger::MISTATUS_OFFLINE, 15000);
    }

    void aClientThatGoesAwayIsOfflineAtOnce() {
        online();
        QVERIFY(purple->stopClient());
        QTRY_COMPARE_WITH_TIMEOUT(messenger->MyStatus(), Messenger::MISTATUS_OFFLINE, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(messenger->MySigninName(), std::nullopt, 3000);
        for (const ClientResult& result :
             {answerOf(*messenger, &Messenger::InstantMessage, purple->buddy()), answerOf(*messenger, &Messenger::StartVoice, purple->buddy()),
              answerOf(*messenger, &Messenger::ViewProfile, purple->buddy())}) {
            QVERIFY(!result.ok);
            QVERIFY(result.error.contains(QLatin1String("not running")));
        }

        // A new client is a new name owner: the status must follow it just the same.
        QVERIFY(purple->startClient());
        QTRY_COMPARE_WITH_TIMEOUT(messenger->MySigninName(), std::optional<QString>(purple->account()), 5000);
        QCOMPARE(messenger->MyStatus(), Messenger::MISTATUS_OFFLINE);
        online();
    }
};

QTEST_GUILESS_MAIN(PurpleTest)
#include "test_purple.moc"
