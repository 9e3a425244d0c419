#include "demosite/demosite.h"
#include "files/querysettings.h"
#include "forwardingproxy.h"
#include "lookup/lookuprunner.h"
#include "lookup/lookupsession.h"
#include "lookup/pacememory.h"
#include "web/fetchclock.h"
#include "web/pageresult.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// One session under several front ends: what one of them changes or looks up, the others hear,
// and a lookup under way is not mixed up by new settings.
class TestLookup : public QObject
{
    Q_OBJECT

    static LookupOutcome lookUp(LookupRunner &runner, const QString &id)
    {
        std::optional<LookupOutcome> outcome;
        if (!runner.lookup(id, [&](const LookupOutcome &o) { outcome = o; }))
            return {};
        if (!QTest::qWaitFor([&] { return outcome.has_value(); }, 60000))
            return {};
        return *outcome;
    }

private slots:
    // The pace a service learnt is kept for the next run (another process: another service on
    // the same file), unless the hosts changed, it is older than paceMemoryHours, keeping is off
    // or the file is damaged; then the next run starts without a limit.
    void paceKeptForNextRun_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("kept");
        QTest::newRow("next run") << "" << true;
        QTest::newRow("other hosts") << "hosts" << false;
        QTest::newRow("older than paceMemoryHours") << "age" << false;
        QTest::newRow("not kept") << "off" << false;
        QTest::newRow("damaged file") << "damaged" << false;
        QTest::newRow("reset") << "reset" << false;
    }
    void paceKeptForNextRun()
    {
        QFETCH(QString, change);
        QFETCH(bool, kept);
        QTemporaryDir dir;
        const QString path = dir.filePath("data/pace.json");
        qint64 now = 1'700'000'000'000;
        setFetchClock([&now] { return now; });
        QuerySettings settings;
        settings.mainHost = settings.secondHost = settings.tradeCardHost = "market.test";
        settings.paceMemoryHours = change == "off" ? 0 : 24;
        HostPace learnt;
        {
            LookupService first(settings);
            first.keepPace(path);
            PageResult page;
            page.address = "http://market.test/member/search.htm";
            for (int i = 0; i < 10; ++i) { // ten pages in a tenth of a second, then a block
                page.sentAtMs = now + 10 * i;
                page.outcome = PageOutcome::Ok;
                first.pacer()->pageRead(page);
            }
            page.outcome = PageOutcome::Blocked;
            QVERIFY(first.pacer()->pageRead(page) > 0);
            learnt = first.pacer()->pace("market.test");
            QVERIFY(learnt.isLearnt());
        }
        if (change == "hosts")
            settings.tradeCardHost = "cards.test";
        if (change == "age")
            now += 25 * 3600 * 1000LL;
        if (change == "damaged") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("{\"hosts\": 7, \"paces\": [");
        }
        if (change == "reset") {
            QString error;
            QVERIFY(PaceMemory(path).forget(&error));
        }
        LookupService second(settings);
        second.keepPace(path);
        const HostPace pace = second.pacer()->pace("market.test");
        QCOMPARE(pace.isLearnt(), kept);
        if (kept) {
            QVERIFY(qAbs(pace.pagesPerSecond - learnt.pagesPerSecond) < 1e-6);
            QVERIFY(qAbs(pace.ceilingPagesPerSecond - learnt.ceilingPagesPerSecond) < 1e-6);
            QCOMPARE(pace.learntAtMs, learnt.learntAtMs);
        }
        setFetchClock({});
    }

    void settingsReachEveryListener()
    {
        LookupSession session(demoSettings(QStringLiteral("127.0.0.1:1")));
        QObject window;
        QObject watcher;
        QList<int> heard;
        for (QObject *listener : {&window, &watcher})
            connect(&session, &LookupSession::settingsChanged, listener,
                    [&heard](const QuerySettings &s, const StorageSettings &) {
                        heard.append(s.lookupTimeoutSec);
                    });
        QuerySettings changed = session.settings();
        changed.lookupTimeoutSec = 45;
        session.applySettings(changed, session.storage());
        QCOMPARE(heard, QList<int>({45, 45}));
        QCOMPARE(session.service().settings().lookupTimeoutSec, 45);
        QCOMPARE(session.settings().lookupTimeoutSec, 45);
    }

    // Two front ends (a window and a watcher, say) look up at once through one session: each gets
    // its own buyer, and both lookups are heard by every listener.
    void twoFrontEndsOnOneSession()
    {
        DemoSite site;
        QVERIFY(site.start());
        LookupSession session(demoSettings(site.hostPort()));
        QSignalSpy finished(&session, &LookupSession::lookupFinished);
        LookupRunner window(&session.service());
        LookupRunner watcher(&session.service());
        std::optional<LookupOutcome> first;
        std::optional<LookupOutcome> second;
        QVERIFY(window.lookup(QStringLiteral(" xiaoyu_2008 "),
                              [&](const LookupOutcome &o) { first = o; }));
        QVERIFY(watcher.lookup(QStringLiteral("hidden_buyer"),
                               [&](const LookupOutcome &o) { second = o; }));
        QVERIFY(QTest::qWaitFor([&] { return first && second; }, 60000));
        QCOMPARE(first->id, QStringLiteral("xiaoyu_2008"));
        QCOMPARE(first->result.record.nick, QStringLiteral("小宇"));
        QCOMPARE(second->result.record.nick, QStringLiteral("隐士"));
        QVERIFY(QTest::qWaitFor([&] { return finished.size() == 2; }, 5000));
    }

    // New settings while a lookup is under way: that lookup ends on the settings it started
    // with, the next one uses the new ones (the setup made for the old hosts is not kept).
    void lookupWhileSettingsChange()
    {
        DemoSite before;
        DemoSite after;
        QVERIFY(before.start(0, 150)); // slow enough for the change to land mid-lookup
        QVERIFY(after.start());
        LookupSession session(demoSettings(before.hostPort()));
        LookupRunner runner(&session.service());
        std::optional<LookupOutcome> during;
        QVERIFY(runner.lookup(QStringLiteral("xiaoyu_2008"),
                              [&](const LookupOutcome &o) { during = o; }));
        QTest::qWait(300);
        session.applySettings(demoSettings(after.hostPort()), session.storage());
        QVERIFY(QTest::qWaitFor([&] { return during.has_value(); }, 60000));
        QCOMPARE(during->result.record.nick, QStringLiteral("小宇"));
        QVERIFY(during->result.record.creditUrl.contains(before.hostPort()));

        const LookupOutcome next = lookUp(runner, QStringLiteral("xiaoyu_2008"));
        QCOMPARE(next.result.record.nick, QStringLiteral("小宇"));
        QVERIFY2(next.result.record.creditUrl.contains(after.hostPort()),
                 qPrintable(next.result.record.creditUrl));
    }

    // A new proxy reaches the next lookup without a restart.
    void proxyChangeReachesNextLookup()
    {
        DemoSite site;
        QVERIFY(site.start());
        ForwardingProxy refusing;
        refusing.setAskPassword(true);
        ForwardingProxy working;
        working.map(QStringLiteral("brelvon.invalid"), site.hostPort());
        QVERIFY(refusing.listen() && working.listen());
        QuerySettings settings = demoSettings(QStringLiteral("brelvon.invalid"));
        QVERIFY(NetworkSettings::fromProxyText(refusing.address(), &settings.network));
        LookupSession session(settings);
        LookupRunner runner(&session.service());
        QCOMPARE(lookUp(runner, QStringLiteral("xiaoyu_2008")).status,
                 LookupStatus::NoConfiguration);
        const qsizetype refused = refusing.requestLines().size();
        QVERIFY(refused > 0);

        QVERIFY(NetworkSettings::fromProxyText(working.address(), &settings.network));
        session.applySettings(settings, session.storage());
        const LookupOutcome next = lookUp(runner, QStringLiteral("xiaoyu_2008"));
        QCOMPARE(next.result.record.nick, QStringLiteral("小宇"));
        QCOMPARE(refusing.requestLines().size(), refused);
    }
};

QTEST_MAIN(TestLookup)
#include "test_lookup.moc"
