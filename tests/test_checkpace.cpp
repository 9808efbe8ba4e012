// SPDX-License-Identifier: GPL-3.0-or-later
// The run's pace and the watch's rounds on test time: an engine that answers when told and a
// clock the test moves.
#include "session/CheckDatabase.h"
#include "session/CheckService.h"
#include "session/Watcher.h"
#include "session/Watches.h"
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
    bool askedTwiceAtOnce = false;
    SessionStatus state{SessionState::SignedIn};

    void setCredentials(const QString&, const QString&) override {}
    void start() override {}
    void stop() override {}
    void check(int id, const QString& contact) override {
        for (const auto& [_, asked] : underWay)
            askedTwiceAtOnce |= asked.compare(contact, Qt::CaseInsensitive) == 0;
        underWay[id] = contact;
        started.emplace_back(*clock, contact);
        mostAtOnce = std::max(mostAtOnce, int(underWay.size()));
    }
    void cancel(int id) override { underWay.erase(id); }
    SessionStatus status() const override { return state; }
    void setStatus(SessionStatus s) {
        state = s;
        emit statusChanged(s);
    }

    // Answers the oldest check under way.
    void answer(Outcome outcome) {
        const auto [id, contact] = *underWay.begin();
        underWay.erase(underWay.begin());
        emit checkEnded(id, contact, outcome);
    }
    // Answers every check under way with what the contact is said to be; false when none was.
    bool answerAll(const std::function<Outcome(const QString&)>& outcomeOf) {
        if (underWay.empty())
            return false;
        while (!underWay.empty()) {
            const auto [id, contact] = *underWay.begin();
            underWay.erase(underWay.begin());
            emit checkEnded(id, contact, outcomeOf(contact));
        }
        return true;
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
    TestClock watchClock; // the watcher's own: a clock wakes one waiter
    // Moves both clocks to the time given, waking each waiter at its time, in order.
    void advanceBoth(qint64 to) {
        for (;;) {
            TestClock* first = nullptr;
            for (TestClock* c : {&clock, &watchClock})
                if (c->wake && c->wakeTime <= to && (!first || c->wakeTime < first->wakeTime))
                    first = c;
            if (!first)
                break;
            const qint64 at = std::max(first->time, first->wakeTime);
            clock.time = watchClock.time = at;
            std::exchange(first->wake, nullptr)();
        }
        clock.time = watchClock.time = to;
    }
    // Every 10 ms answers whatever is under way with what the contact is said to be, until the time given.
    void answerUntil(qint64 until, const std::function<Outcome(const QString&)>& outcomeOf) {
        while (clock.time < until) {
            advanceBoth(clock.time + 10);
            engine.answerAll(outcomeOf);
        }
    }
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
        engine.askedTwiceAtOnce = false;
        engine.state = {SessionState::SignedIn};
        engine.clock = &clock.time;
        answerMs = 150;
        clock = TestClock{};
        watchClock = TestClock{};
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

    // Rows removed behind a run's place and put back: every row still there is asked once.
    void aRunGoesOnFromItsRowWhenRowsGoOrComeBack() {
        CheckService service(engine, nullptr, &clock);
        service.checkEveryone(list);
        run(service, 3000);
        const qsizetype asked = engine.started.size();
        QVERIFY(asked > 5 && asked < 20);
        std::vector<qint32> gone;
        for (qint32 row = 0; row < 4; ++row)
            gone.push_back(row);
        const QStringList removed = list.list.mid(0, 4);
        list.list.remove(0, 4);
        service.rowsRemoved(gone);
        run(service, 8000);
        list.list = removed + list.list;
        service.rowsPutBack(gone);
        run(service, 1'000'000);
        QVERIFY(!service.runGoing());
        QMap<QString, int> times;
        for (const auto& [at, who] : engine.started)
            ++times[who];
        QCOMPARE(times.size(), list.list.size());
        QCOMPARE(times.key(2, QString()), QString()); // none twice
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

    // A watch round beside a whole-list run: the same switchboards and pace, never the same
    // contact twice at once, and the round ends once each watched contact has an answer.
    void aWatchRoundSharesTheRunsPace() {
        CheckService service(engine, nullptr, &clock);
        CheckResults results(nullptr);
        service.setResults(&results);
        answerMs = 500;
        service.checkEveryone(list);
        run(service, 3000);
        const QString underWay = engine.underWay.begin()->second;
        int ended = 0;
        connect(&service, &CheckService::watchRoundEnded, this, [&] { ++ended; });
        service.watchRound({underWay.toUpper(), "c900@example.com", "c901@example.com"});
        run(service, 30000);
        QCOMPARE(ended, 1);
        QVERIFY(!service.watchGoing());
        QVERIFY(!engine.askedTwiceAtOnce);
        QCOMPARE(engine.mostAtOnce, 2);
        QCOMPARE(mostInASecond(0, 30000), 3);
        for (const char* watched : {"c900@example.com", "c901@example.com"})
            QVERIFY(results.find(watched));
    }

    // Rounds every period from the first sign-in; one that outlasts the period is followed by the
    // next when it ends, never beside it. With the session down a round waits for it; stopped for
    // good, the watcher says so once.
    void watchRoundsKeepTheirPeriod() {
        CheckService service(engine, nullptr, &clock);
        CheckResults results(nullptr);
        service.setResults(&results);
        Watches watches(nullptr);
        for (int i = 0; i < 4; ++i)
            watches.add(QStringLiteral("w%1@example.com").arg(i), false);
        Watcher watcher(service, results, watches, &watchClock);
        engine.state = {SessionState::Connecting};
        watcher.start(1);
        answerUntil(30000, [](const QString&) { return Outcome::Offline; });
        QVERIFY(engine.started.empty()); // not signed in yet
        engine.setStatus({SessionState::SignedIn});
        answerUntil(200000, [](const QString&) { return Outcome::Offline; });
        QList<qint64> rounds; // when w0 was asked
        for (const auto& [at, who] : engine.started)
            if (who == "w0@example.com")
                rounds << at;
        QCOMPARE(rounds.size(), 3);
        QVERIFY(rounds[0] >= 30000 && rounds[0] < 32000);
        QCOMPARE(rounds[1] - rounds[0], 60000);
        QCOMPARE(rounds[2] - rounds[1], 60000);

        // A round slower than the period: one every five seconds.
        service.setPace({0.2, 1});
        for (int i = 4; i < 20; ++i)
            watches.add(QStringLiteral("w%1@example.com").arg(i), false);
        engine.started.clear();
        answerUntil(600000, [](const QString&) { return Outcome::Offline; });
        // Twenty at five seconds each: a round lasts 95 s at least, so no contact is asked sooner.
        std::map<QString, QList<qint64>> asked;
        for (const auto& [at, who] : engine.started)
            asked[who] << at;
        QCOMPARE(int(asked.size()), 20);
        for (const auto& [who, times] : asked) {
            QVERIFY2(times.size() >= 3, qPrintable(who));
            for (qsizetype i = 1; i < times.size(); ++i)
                QVERIFY2(times[i] - times[i - 1] >= 95000, qPrintable(who));
        }
        QVERIFY(!engine.askedTwiceAtOnce);
        QCOMPARE(mostInASecond(200000, 600000), 1);

        // Down in the middle of a round: the rest is asked once the session is back.
        engine.started.clear();
        answerUntil(clock.time + 12000, [](const QString&) { return Outcome::Offline; });
        engine.setStatus({SessionState::WaitingToRetry, SessionProblem::ConnectionLost});
        engine.answerAll([](const QString&) { return Outcome::Interrupted; });
        const size_t before = engine.started.size();
        answerUntil(clock.time + 60000, [](const QString&) { return Outcome::Offline; });
        QCOMPARE(engine.started.size(), before);
        QVERIFY(service.watchGoing());
        engine.setStatus({SessionState::SignedIn});
        answerUntil(clock.time + 10000, [](const QString&) { return Outcome::Offline; });
        QVERIFY(engine.started.size() > before);

        QList<SessionProblem> stopped;
        connect(&watcher, &Watcher::stopped, this, [&](SessionProblem why) { stopped << why; });
        engine.setStatus({SessionState::GaveUp, SessionProblem::SignedInElsewhere});
        engine.setStatus({SessionState::GaveUp, SessionProblem::SignedInElsewhere});
        QCOMPARE(stopped, QList<SessionProblem>{SessionProblem::SignedInElsewhere});
    }

    // One notification per change: told when found online after anything but online, not again
    // while online (nor after an answer that says nothing), again after offline; also across a
    // restart, from what the database kept.
    void comingOnlineIsToldOncePerChange() {
        QTemporaryDir dir;
        auto database = std::make_unique<CheckDatabase>(dir.filePath("velmora.db"));
        QVERIFY(database->usable());
        QList<QStringList> told;
        std::map<QString, Outcome> status;
        auto round = [&](CheckService& service, Watcher& watcher) {
            QSignalSpy ended(&service, &CheckService::watchRoundEnded);
            advanceBoth(clock.time + watcher.periodMs());
            while (ended.isEmpty()) {
                advanceBoth(clock.time + 10);
                engine.answerAll([&](const QString& c) { return status.at(c); });
            }
            QCoreApplication::processEvents();
        };
        const QStringList five = {"a@x.com", "b@x.com", "c@x.com", "d@x.com", "e@x.com"};
        {
            CheckService service(engine, nullptr, &clock);
            service.setPace({0, 2});
            CheckResults results(database.get());
            service.setResults(&results);
            Watches watches(database.get());
            watches.add("Ann@x.com", false);
            Watcher watcher(service, results, watches, &watchClock);
            connect(&watcher, &Watcher::cameOnline, this, [&](const QStringList& a) { told << a; });
            status["ann@x.com"] = Outcome::Offline;
            watcher.start(1);
            const std::vector<std::pair<Outcome, int>> steps = {
                {Outcome::Online, 1}, {Outcome::Online, 1}, {Outcome::NoAnswer, 1}, {Outcome::Online, 1},
                {Outcome::Offline, 1}, {Outcome::Online, 2}};
            for (const auto& [outcome, expected] : steps) {
                status["ann@x.com"] = outcome;
                round(service, watcher);
                QCOMPARE(told.size(), expected);
            }
            QCOMPARE(told.last(), QStringList{"ann@x.com"});
            // A single check that finds a watched contact online is told too.
            status["ann@x.com"] = Outcome::Offline;
            round(service, watcher);
            status["ann@x.com"] = Outcome::Online;
            service.check("ann@x.com");
            engine.answerAll([&](const QString& c) { return status.at(c); });
            QTRY_COMPARE(told.size(), 3);
            // Five at once are told together.
            for (const QString& a : five) {
                watches.add(a, false);
                status[a] = Outcome::Online;
            }
            round(service, watcher);
            QCOMPARE(told.size(), 4);
            QCOMPARE(QSet<QString>(told.last().begin(), told.last().end()), QSet<QString>(five.begin(), five.end()));
            QVERIFY(results.flush());
        }
        // The next start: still online, so nothing new to tell.
        database = std::make_unique<CheckDatabase>(dir.filePath("velmora.db"));
        CheckService service(engine, nullptr, &clock);
        CheckResults results(database.get());
        service.setResults(&results);
        Watches watches(database.get());
        QCOMPARE(watches.count(), 6);
        Watcher watcher(service, results, watches, &watchClock);
        connect(&watcher, &Watcher::cameOnline, this, [&](const QStringList& a) { told << a; });
        watcher.start(1);
        round(service, watcher);
        QCOMPARE(told.size(), 4);
    }
};

QTEST_GUILESS_MAIN(CheckPaceTest)
#include "test_checkpace.moc"
