// SPDX-License-Identifier: GPL-3.0-or-later
// The contact actions of the main window against a real messenger client:
// finch on a private bus, signed in to a local IRC server.
#include "contacts/ContactFile.h"
#include "messenger/PurpleMessenger.h"
#include "shell/MainWindow.h"
#include "tests/support/PurpleFixture.h"
#include "tests/support/ShellHarness.h"

#include <QAbstractItemView>
#include <QDBusConnection>
#include <QtTest>

class ContactActionsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<PurpleFixture> purple;
    QStringList profilesShown;

    // A window over a list of the buddy, the client's own account, and the
    // own account in other letters; the program's real messenger client.
    MainWindow* open(ShellHarness& h)
    {
        h.client = std::make_unique<PurpleMessenger>(h.desktop);
        h.writeContactFile(encodeRecord("Buddy", purple->buddy()) + encodeRecord("Me", purple->account()) +
                           encodeRecord("Me again", purple->account().toUpper()));
        MainWindow* w = h.mainWindow(Layout::Full);
        w->show();
        // What a user who reads the window first waits for.
        (void)QTest::qWaitFor([&] { return !h.parts().messenger.statusPending(); }, 5000);
        return w;
    }
    static void select(MainWindow* w, int row)
    {
        auto* v = w->findChild<QAbstractItemView*>("lvEmail");
        v->selectionModel()->select(v->model()->index(row, 0), QItemSelectionModel::ClearAndSelect);
    }

public slots:
    void displayingUserinfo(int, const QString& who, int) { profilesShown << who; }

private slots:
    void initTestCase()
    {
        QString why;
        if (!PurpleFixture::available(&why))
            QSKIP(qPrintable(why));
        purple = PurpleFixture::start(&why);
        QVERIFY2(purple, qPrintable(why));
        QVERIFY(purple->bus().connect(QString(), QStringLiteral("/im/pidgin/purple/PurpleObject"),
                                      QStringLiteral("im.pidgin.purple.PurpleInterface"),
                                      QStringLiteral("DisplayingUserinfo"), this,
                                      SLOT(displayingUserinfo(int, QString, int))));
    }
    void cleanupTestCase()
    {
        purple.reset();
    }

    void withTheClientOfflineOnlyDoubleClickAndVoiceAsk()
    {
        QVERIFY(purple->goOffline());
        ShellHarness h;
        MainWindow* w = open(h);
        QTRY_VERIFY(!h.dialogs.shown.empty()); // the load step's offline message
        h.dialogs.shown.clear();

        // Nothing selected, and still nothing: the status is read first.
        w->mnuConvo_Click();
        w->mnuEmail_Click();
        w->mnuProfile_Click();
        QVERIFY(h.dialogs.shown.empty());
        select(w, 0);
        w->mnuEmail_Click();
        w->mnuProfile_Click();
        QVERIFY(h.dialogs.shown.empty());
        QVERIFY(h.openedLinks.isEmpty());

        // A client with no account signed in cannot take a conversation or a call: the desktop's
        // handler of msnim: links gets it.
        w->mnuConvo_Click();
        w->lvEmail_DblClick();
        w->mnuVConvo_Click();
        const QString buddy = purple->buddy();
        QTRY_COMPARE(h.openedLinks, (QStringList{"msnim:chat?contact=" + buddy, "msnim:chat?contact=" + buddy,
                                                 "msnim:voice?contact=" + buddy}));
        QVERIFY(h.dialogs.shown.empty());
        QVERIFY(purple->imConversationNames().isEmpty());
    }

    void doubleClickOpensAConversationWithTheSelectedContact()
    {
        QVERIFY(purple->bringOnline());
        purple->closeConversations();
        ShellHarness h;
        MainWindow* w = open(h);
        select(w, 0);
        w->lvEmail_DblClick();
        QTRY_COMPARE(purple->imConversationNames(), QStringList{purple->buddy()});
        QVERIFY2(h.dialogs.shown.empty(), qPrintable(h.dialogs.prompts().join('|')));
    }

    void ownAddressIsRefusedOnlyInItsExactForm()
    {
        QVERIFY(purple->bringOnline());
        purple->closeConversations();
        ShellHarness h;
        MainWindow* w = open(h);
        select(w, 1);
        w->lvEmail_DblClick();
        QCOMPARE(h.dialogs.prompts(), QStringList{"You cant send a msg to yourself."});
        QVERIFY(purple->imConversationNames().isEmpty());

        // The same address in capitals is somebody else to the program; no buddy of the client's
        // IRC account, it goes to the desktop's msnim: handler.
        select(w, 2);
        w->lvEmail_DblClick();
        QTRY_COMPARE(h.openedLinks, QStringList{"msnim:chat?contact=" + purple->account().toUpper()});
        QCOMPARE(h.dialogs.prompts().size(), 1);
    }

    void menuActionsReachTheClient()
    {
        QVERIFY(purple->bringOnline());
        purple->closeConversations();
        profilesShown.clear();
        ShellHarness h;
        MainWindow* w = open(h);
        select(w, 0);
        w->mnuProfile_Click();
        QTRY_COMPARE_WITH_TIMEOUT(profilesShown, QStringList{purple->buddy()}, 5000);
        w->mnuEmail_Click();
        QCOMPARE(h.openedLinks, QStringList{"mailto:" + purple->buddy()});
        w->mnuConvo_Click();
        QTRY_COMPARE(purple->imConversationNames(), QStringList{purple->buddy()});
        w->mnuVConvo_Click(); // IRC has no audio: the user hears so, nothing breaks
        QTRY_COMPARE(h.dialogs.shown.size(), size_t(1));
        QVERIFY(h.dialogs.shown[0].prompt.contains("voice", Qt::CaseInsensitive));
    }
};

QTEST_MAIN(ContactActionsTest)
#include "test_contactactions.moc"
