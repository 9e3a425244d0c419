// One demo buyer's query against the bundled site with every answer held back 20 ms: seven
// requests, so 140 ms of added delay. overhead_ms is what the site and the query add to it.

#include "buyerquery.h"
#include "demosite.h"
#include "spreadsheetexport.h"

#include <QTemporaryDir>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

namespace {

void BM_DemoBuyerQueryDelayed(benchmark::State &state)
{
    constexpr int kDelayMs = 20;
    DemoSite site;
    if (!site.start(0, kDelayMs)) {
        state.SkipWithError("cannot start the demo site");
        return;
    }
    BuyerQuery query(demoSettings(site.hostPort()));
    query.ensureConfiguration();
    double totalMs = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const BuyerCreditRecord r = query.queryBuyer(QStringLiteral("xiaoyu_2008"));
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        state.SetIterationTime(ms / 1000);
        totalMs += ms;
        if (r.badGiven != QLatin1String("1") || r.goodRate != QLatin1String("97.71"))
            state.SkipWithError("the query did not read every page");
    }
    const double delayMs = 7.0 * kDelayMs;
    const double meanMs = totalMs / double(state.iterations());
    state.counters["delay_ms"] = delayMs;
    state.counters["mean_ms"] = meanMs;
    state.counters["overhead_ms"] = meanMs - delayMs;
}
BENCHMARK(BM_DemoBuyerQueryDelayed)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

// A full batch: 101 ids of the four demo buyers that have every page (seven requests each), the
// table written as the command line writes it. delay_ms is the sum of the added delays.
void BM_DemoBatch101Delayed(benchmark::State &state)
{
    constexpr int kDelayMs = 20;
    DemoSite site;
    if (!site.start(0, kDelayMs)) {
        state.SkipWithError("cannot start the demo site");
        return;
    }
    const QStringList buyers = {QStringLiteral("xiaoyu_2008"), QStringLiteral("blue sky88"),
                                QStringLiteral("tom.wang"), QStringLiteral("快乐的小猫")};
    QTemporaryDir dir;
    double totalMs = 0;
    for (auto _ : state) {
        BuyerQuery query(demoSettings(site.hostPort()));
        query.ensureConfiguration(); // once per program run, not per id
        QElapsedTimer timer;
        timer.start();
        QList<BatchRow> rows;
        for (int j = 0; j < 101; ++j) {
            const QString &id = buyers.at(j % buyers.size());
            rows.append({id, query.run(id)});
        }
        QString error;
        if (!writeBatchSpreadsheet(dir.filePath("batch.xlsx"), rows, &error))
            state.SkipWithError("the table could not be written");
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        state.SetIterationTime(ms / 1000);
        totalMs += ms;
        if (rows.last().record.badGiven.isEmpty())
            state.SkipWithError("the query did not read every page");
    }
    const double delayMs = 101.0 * 7 * kDelayMs;
    const double meanMs = totalMs / double(state.iterations());
    state.counters["delay_ms"] = delayMs;
    state.counters["mean_ms"] = meanMs;
    state.counters["over_percent"] = 100.0 * (meanMs - delayMs) / delayMs;
}
BENCHMARK(BM_DemoBatch101Delayed)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
