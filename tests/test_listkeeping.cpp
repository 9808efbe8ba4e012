// SPDX-License-Identifier: GPL-3.0-or-later
// Keeping the list in the window: removing, putting back and cleaning up, with the check results
// and watches that go with an address's last row; and contacts to and from other files.

#include "app/Program.h"
#include "contacts/ContactListModel.h"
#include "contacts/ContactStore.h"
#include "session/CheckResults.h"
#include "session/Watches.h"
#include "shell/MainWindow.h"
#include "tests/support/ShellHarness.h"

#include <QAction>
#include <QDateTime>
#include <QLabel>
#include <QAbstractItemView>
#include <QTest>

namespace {

QStringList emails(MainWindow* w) {
    auto* list = w->findChild<QAbstractItemView*>("lvEmail");
    QStringList out;
    for (int row = 0; row < list->model()->rowCount(); ++row)
        out << list->model()->index(row, 0).data().toString();
    return out;
}

QString label6(MainWindow* w) {
    w->Timer3_Timer();
    return w->findChild<QLabel*>("Label6")->text();
}

void select(MainWindow* w, int row) {
    auto* list = w->findChild<QAbstractItemView*>("lvEmail");
    list->setCurrentIndex(list->model()->index(row, 0));
}

} // namespace

class ListKeepingTest : public QObject {
    Q_OBJECT

private slots:
    void cleanUpTakesDuplicatesAndDeadAddressesAndUndoBringsThemBack()
    {
        ShellHarness h;
        h.writeContactFile("\"Ann\",\"ann@x\"\r\n\"Bob\",\"bob@x\"\r\n\"Ann again\",\"ANN@x\"\r\n"
                           "\"Gone\",\"gone@x\"\r\n\"Cy\",\"cy@x\"\r\n\"Gone too\",\"gone@x\"\r\n");
        CheckResults& results = h.program().results;
        results.record("gone@x", ResultKind::NoSuchUser, 1000);
        results.record("ann@x", ResultKind::Online, 1000);
        // Never seen online, but known for a day only: not "not seen for 12 months".
        results.record("cy@x", ResultKind::Offline, QDateTime::currentMSecsSinceEpoch() - 86'400'000);
        h.program().watches.add("gone@x", false);
        h.program().watches.add("ann@x", true);
        MainWindow* w = h.mainWindow(Layout::Full);
        w->show();
        QCOMPARE(label6(w), QString("You have 6 enteries in your database."));

        QStringList shownChoices;
        Dialogs::setValuesResponder([&](const Dialogs::Request&, const QStringList& shown) {
            shownChoices = shown;
            return std::optional(shown); // the box as it comes: its default button
        });
        w->mnuCleanUp_Click();
        QCOMPARE(shownChoices,
                 (QStringList{"Duplicates: 2 rows whose address an earlier row holds=1",
                              "No account: 2 contacts whose latest result is \"No such user\"=1",
                              "Not seen online for more than 12 months: 2 contacts=0"}));
        QCOMPARE(emails(w), (QStringList{"ann@x", "bob@x", "cy@x"}));
        QCOMPARE(label6(w), QString("You have 3 enteries in your database."));
        // Ann keeps her result and her watch: a row of her address is still there.
        QVERIFY(!results.find("gone@x"));
        QVERIFY(!h.program().watches.contains("gone@x"));
        QCOMPARE(results.find("ann@x")->kind, ResultKind::Online);
        QVERIFY(h.program().watches.contains("ann@x"));

        w->findChild<QAction*>("mnuUndoRemove")->trigger();
        QCOMPARE(emails(w), (QStringList{"ann@x", "bob@x", "ANN@x", "gone@x", "cy@x", "gone@x"}));
        QCOMPARE(results.find("gone@x")->kind, ResultKind::NoSuchUser);
        QVERIFY(h.program().watches.contains("gone@x"));
        QVERIFY(!h.program().contacts.hasUnsavedChanges());

        // Delete on the list asks once, naming the contact; the next row takes the selection.
        select(w, 1);
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        auto* list = w->findChild<QAbstractItemView*>("lvEmail");
        list->setFocus();
        h.dialogs.answers = {Dialogs::Answer::Yes};
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(h.dialogs.prompts().value(0), QString("Remove Bob (bob@x) from your list?"));
        QCOMPARE(emails(w), (QStringList{"ann@x", "ANN@x", "gone@x", "cy@x", "gone@x"}));
        QCOMPARE(list->currentIndex().row(), 1);

        w->mnuCleanUp_Click();
        w->mnuSave_Click();
        QCOMPARE(h.contactFileBytes(), QByteArray("\"Ann\",\"ann@x\"\r\n\"Cy\",\"cy@x\"\r\n"));
        QCOMPARE(QFile::exists(h.contactFile() + ".bak"), true);
        Dialogs::setValuesResponder({});
        // "No" at the exit question leaves the file as the last save left it.
        select(w, 1);
        h.dialogs.answers = {Dialogs::Answer::Yes, Dialogs::Answer::No};
        w->mnuRemoveContact_Click();
        QCOMPARE(emails(w), QStringList{"ann@x"});
        w->close();
        QCOMPARE(h.contactFileBytes(), QByteArray("\"Ann\",\"ann@x\"\r\n\"Cy\",\"cy@x\"\r\n"));
        h.restart();
        QCOMPARE(emails(h.mainWindow(Layout::Compact)), (QStringList{"ann@x", "cy@x"}));
    }
};

QTEST_MAIN(ListKeepingTest)
#include "test_listkeeping.moc"
