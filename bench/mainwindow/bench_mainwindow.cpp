// The window against hosts that never answer: how long until it is shown (the start-up list is
// fetched in the background), and a query typed right afterwards against a trade-card host that
// answers. Runs offscreen unless a display is set.
//
//   build/bin/bench_mainwindow

#include "benchmain.h"
#include "fixtureserver.h"
#include "mainwindow/mainwindow.h"
#include "web/codepage936.h"
#include "windowonsession.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <benchmark/benchmark.h>

namespace {

void BM_WindowShownWithSilentHosts(benchmark::State &state)
{
    FixtureServer silentSite;
    FixtureServer tradeCard;
    if (!silentSite.listen() || !tradeCard.listen()) {
        state.SkipWithError("cannot listen");
        return;
    }
    FixtureResponse silent;
    silent.neverAnswer = true;
    silentSite.setResponse("/soft/qvdl/zkrap2.htm", silent);
    silentSite.setResponse("/soft/wrub/zkrap2.htm", silent);
    silentSite.setResponse("/soft/qvdl/fmj2.htm", silent);
    silentSite.setResponse("/soft_set/fmj2.htm", silent);
    tradeCard.setPage("/tradecard/nameCard.htm",
                      encode936(QStringLiteral("<p>注册时间：2005</p>")));
    QuerySettings settings;
    settings.mainHost = settings.secondHost = silentSite.hostPort();
    settings.tradeCardHost = tradeCard.hostPort();
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const std::unique_ptr<MainWindow> owned = windowOn(settings);
        MainWindow &window = *owned;
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            state.SkipWithError("the window was not shown");
        const double shownMs = double(timer.nsecsElapsed()) / 1e6;
        state.SetIterationTime(shownMs / 1000);
        state.counters["shown_ms"] = shownMs;
        state.counters["list_pending"] = window.startupListPending() ? 1 : 0;
        // The configuration's host is silent too: the query waits out its short waits (two
        // hosts, two attempts each), then reads the name card.
        window.findChild<QLineEdit *>("Text2")->setText("tom");
        timer.restart();
        window.findChild<QPushButton *>("Command7")->click();
        if (!QTest::qWaitFor([&] { return !window.queryRunning(); }, 120000))
            state.SkipWithError("the query never came back");
        state.counters["query_ms"] = double(timer.nsecsElapsed()) / 1e6;
        window.close();
    }
}
BENCHMARK(BM_WindowShownWithSilentHosts)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return runBenchmarks<QApplication>(argc, argv);
}
