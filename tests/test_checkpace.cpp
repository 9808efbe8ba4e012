// SPDX-License-Identifier: GPL-3.0-or-later
// The run's pace on test time: an engine that answers when told and a clock the test moves.
#include "session/CheckService.h"
#include "tests/support/SessionTestSupport.h"

#include <QtTest>
#include <deque>
#include <map>

namespace {

class FakeEngine : public CheckEngine {
public:
    std::map<int, QString> underWay;
    std::vector<std::pair<qint64, QString>> started; // when, whom
    const qint64* clock = nullptr;
    int mostAtOnce = 0;

    void setCredentials(const QString&, const QString&) override {}
    void start() override {}
    void stop() override {}
    void check(int id, const QString& contact) override {
        underWay[id] = contact;
        started.emplace_back(*clock, contact);
        mostAtOnce = std::max(mostAtOnce, int(underWay.size()));
    }
    void cancel(int id) override { underWay.erase(id); }
    SessionStatus status() const override { return {SessionState::SignedIn}; }

    // Answers the oldest check under way.
    void answer(Outcome outcome) {
        const auto [id, contact] = *underWay.begin();
        underWay.erase(underWay.begin());
        emit checkEnded(id, contact, outcome);
    }
};

class TestClock : public RunClock {
public:
    qint64 time = 1000;
    qint64 wakeTime = -1;
    std::function<void()> wake;

    qint64 now() const override { return time; }
    void wakeAt(qint64 at, std::function<void()> w) override {
        wakeTime = at;
        wake = std::move(w);
    }
    void advanceTo(qint64 to) {
        while (wake && wakeTime <= to) {
            time = std::max(time, wakeTime);
            std::exchange(wake, nullptr)();
        }
        time = to;
    }
};

} // namespace

class CheckPaceTest : public QObject {
    Q_OBJECT

    FakeEngine engine;
    TestClock clock;
    Rows list;
    qint64 answerMs = 150;

    // Answers every check answerMs after it started, until the given time; the next busyAnswers
    // answers are "busy" (-1: all of them).
    void run(CheckService& service, qint64 until, int busyAnswers = 0) {
        while (clock.time < until && service.runGoing()) {
            clock.advanceTo(clock.time + 10);
            while (!engine.underWay.empty()) {
                const qint64 at = engine.started[engine.started.size() - engine.underWay.size()].first;
                if (clock.time - at < answerMs)
                    break;
                engine.answer(busyAnswers != 0 ? Outcome::Busy : Outcome::Online);
                if (busyAnswers > 0 && --busyAnswers == 0)
                    return;
            }
        }
    }
    // The most starts that fall in any second.
    int mostInASecond(qint64 from, qint64 to) const {
        int most = 0;
        for (const auto& [at, who] : engine.started) {
            if (at < from || at >= to)
                continue;
            int n = 0;
            for (const auto& [other, _] : engine.started)
                n += other >= at && other < at + 1000;
            most = std::max(most, n);
        }
        return most;
    }
    qint64 gapAfter(qint64 at) const {
        for (size_t i = 1; i < engine.started.size(); ++i)
            if (engine.started[i - 1].first >= at)
                return engine.started[i].first - engine.started[i - 1].first;
        return -1;
    }

private slots:
    void init() {
        engine.underWay.clear();
        engine.started.clear();
        engine.mostAtOnce = 0;
        engine.clock = &clock.time;
        answerMs = 150;
        clock = TestClock{};
        list.list.clear();
        for (int i = 0; i < 1000; ++i)
            list.list << QStringLiteral("c%1@example.com").arg(i);
    }

    // The default pace, kept for a user's account on a public server: no more than three starts
    // in any second and two under way.
    void theDefaultPaceHolds() {
        CheckService service(engine, nullptr, &clock);
        answerMs = 500;
        service.checkEveryone(list);
        run(service, 30000);
        QVERIFY(engine.started.size() > 50);
        QCOMPARE(mostInASecond(0, 30000), 3);
        QCOMPARE(engine.mostAtOnce, 2);
    }

    // A pace below one a second.
    void aFractionalPace() {
        CheckService service(engine, nullptr, &clock);
        service.setPace({0.2, 2});
        service.checkEveryone(list);
        run(service, 30000);
        QCOMPARE(int(engine.started.size()), 6);
        QCOMPARE(gapAfter(0), 5000);
    }

    // A busy answer halves the rate and puts the next start at least 5 s off; after a minute
    // without one, the rate doubles again, up to the set pace. The contact answered "busy" is
    // asked again, and no result is kept for it.
    void aBusyServerSlowsTheRun_data() {
        QTest::addColumn<double>("perSecond");
        QTest::addColumn<qint64>("ownGap");
        QTest::newRow("three a second") << 3.0 << qint64(334);
        QTest::newRow("no limit") << 0.0 << qint64(0);
    }
    void aBusyServerSlowsTheRun() {
        QFETCH(double, perSecond);
        QFETCH(qint64, ownGap);
        CheckService service(engine, nullptr, &clock);
        service.setPace({perSecond, 1});
        bool slowed = false;
        connect(&service, &CheckService::runChanged, this, [&](const RunProgress& p) { slowed |= p.slowed; });
        service.checkEveryone(list);
        run(service, 10000);
        run(service, 20000, 1); // the answer to the latest start is "busy"
        const size_t before = engine.started.size();
        QVERIFY(slowed);
        const qint64 busyAt = clock.time;
        run(service, 200000);
        // The next start waits at least 5 s and asks the same contact again; then the run goes at
        // half the rate it went before.
        const qint64 resumedAt = engine.started[before].first;
        QVERIFY2(resumedAt - busyAt >= 5000, qPrintable(QString::number(resumedAt - busyAt)));
        QCOMPARE(engine.started[before].second, engine.started[before - 1].second);
        const qint64 doubled = 2 * std::max<qint64>(ownGap, 1000 * (ownGap == 0));
        QVERIFY2(std::abs(gapAfter(resumedAt) - doubled) <= 10, qPrintable(QString::number(gapAfter(resumedAt))));
        // Two calm minutes later it is back at its own pace.
        const qint64 later = gapAfter(busyAt + 125000);
        QVERIFY2(later <= std::max<qint64>(ownGap, 150) + 10, qPrintable(QString::number(later)));
        QVERIFY(!service.progress().slowed);
    }

    // Busy answers one after another double the gap each time, up to a minute.
    void theGapHasACeiling() {
        CheckService service(engine, nullptr, &clock);
        service.setPace({3, 1});
        service.checkEveryone(list);
        run(service, 400000, -1);
        QVERIFY(engine.started.size() > 6);
        const qint64 last = engine.started.back().first - engine.started[engine.started.size() - 2].first;
        QVERIFY2(last >= 60000 && last <= 60200, qPrintable(QString::number(last)));
        QCOMPARE(engine.started.back().second, QString("c0@example.com")); // never answered, never passed over
    }
};

QTEST_GUILESS_MAIN(CheckPaceTest)
#include "test_checkpace.moc"
