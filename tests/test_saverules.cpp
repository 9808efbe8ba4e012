// SPDX-License-Identifier: GPL-3.0-or-later
// The save and leave rules against a display of the test's own: what must never happen is that the
// program ends, or says "Save Complete", while a contact exists nowhere but in the window.
#include "contacts/SaveRules.h"

#include <QTest>

namespace {
struct FakeDisplay : SaveRules::Display {
    bool runs[2] = {false, false};
    int boxes = 0;
    bool ended = false;
    QStringList told;

    bool& on(SaveRules::Run run) { return runs[run == SaveRules::Run::Exit]; }
    void showBar(bool, int) override {}
    void startRun(SaveRules::Run run) override { on(run) = true; }
    void stopRun(SaveRules::Run run) override { on(run) = false; }
    bool running(SaveRules::Run run) const override { return runs[run == SaveRules::Run::Exit]; }
    void tellSaveFailed(const QString& error, bool leaving) override {
        told << (leaving ? QStringLiteral("failed, leaving: ") : QStringLiteral("failed: ")) + error;
    }
    void tellSaveComplete() override { told << QStringLiteral("Save Complete"); }
    int boxesOpen() const override { return boxes; }
    bool ending() const override { return ended; }
    void endAtOnce() override { ended = true; }
};

// Contacts added and written; a write fails while failing is set.
struct File {
    int unsaved = 0;
    bool failing = false;
    int writes = 0;
    SaveResult append() {
        ++writes;
        if (failing)
            return {false, QStringLiteral("disk full"), 0};
        const int n = std::exchange(unsaved, 0);
        return {true, {}, n};
    }
};

void runToTheEnd(SaveRules& rules, FakeDisplay& d, SaveRules::Run run) {
    for (int i = 0; i < 200 && d.running(run); ++i)
        rules.tick(run);
}
} // namespace

class SaveRulesTest : public QObject {
    Q_OBJECT

    FakeDisplay d;
    File f;
    std::unique_ptr<SaveRules> rules;

private slots:
    void init() {
        d = {};
        f = {};
        rules = std::make_unique<SaveRules>(d, [this] { return f.append(); }, [this] { return f.unsaved > 0; });
    }

    // Added during the exit run and not writable at its end: the program stays, and says why.
    void theExitRunNeverEndsOverAContactItCouldNotWrite() {
        f.unsaved = 1;
        rules->exitAnswered(SaveRules::Answer::Yes);
        QVERIFY(d.running(SaveRules::Run::Exit));
        f.unsaved = 1; // added under the bar
        f.failing = true;
        runToTheEnd(*rules, d, SaveRules::Run::Exit);
        QVERIFY(!d.ended);
        QCOMPARE(d.told, QStringList{"failed, leaving: disk full"});
        QVERIFY(!d.running(SaveRules::Run::Exit));
    }

    // A box still up may add a contact: the end waits for it, then writes what it added.
    void theExitRunWaitsForEveryBox() {
        rules->exitAnswered(SaveRules::Answer::Yes);
        d.boxes = 1;
        for (int i = 0; i < 300; ++i)
            rules->tick(SaveRules::Run::Exit);
        QVERIFY(!d.ended);
        d.boxes = 0;
        f.unsaved = 2;
        rules->tick(SaveRules::Run::Exit);
        QVERIFY(d.ended);
        QCOMPARE(f.unsaved, 0);
        QCOMPARE(d.told, QStringList{"Save Complete"});
    }

    // Closing the window: only No throws contacts away; a save that fails keeps the window.
    void closingKeepsTheWindowUnlessTheContactsAreSafe() {
        f.unsaved = 1;
        QCOMPARE(rules->closeAnswered(SaveRules::Answer::TurnedAway), SaveRules::Leave::Stay);
        f.failing = true;
        QCOMPARE(rules->closeAnswered(SaveRules::Answer::Yes), SaveRules::Leave::Stay);
        QCOMPARE(f.unsaved, 1);
        f.failing = false;
        QCOMPARE(rules->closeAnswered(SaveRules::Answer::Yes), SaveRules::Leave::Saved);
        QCOMPARE(f.unsaved, 0);
    }

    // With nothing to write, a folder that will not take the file holds nobody back.
    void nothingToWriteIsNoFailure() {
        f.failing = true;
        rules->save();
        runToTheEnd(*rules, d, SaveRules::Run::Save);
        QCOMPARE(d.told, QStringList{"Save Complete"});
    }
};

QTEST_GUILESS_MAIN(SaveRulesTest)
#include "test_saverules.moc"
