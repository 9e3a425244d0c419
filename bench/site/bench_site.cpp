// Demo buyers' lookups against brelvon-site (started beside this benchmark) holding every answer
// back 50 ms. A lookup reads seven pages, so one after another it costs at least 350 ms of
// delay; delay_ms is that sum and mean_ms what the lookup or the batch took.
//
//   build/bin/bench_site                       # all of them
//   build/bin/bench_site --benchmark_filter=Batch

#include "benchmain.h"
#include "engine/taskpool.h"
#include "files/querysettings.h"
#include "files/spreadsheetexport.h"
#include "lookup/lookupservice.h"
#include "querylookups.h"
#include "siteprocess.h"
#include "web/canceltoken.h"

#include <QDir>

#include <atomic>
#include <thread>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr int kDelayMs = 50;

SiteProcess &site()
{
    static SiteProcess process(kDelayMs);
    return process;
}

const QStringList kBuyers = {QStringLiteral("xiaoyu_2008"), QStringLiteral("blue sky88"),
                             QStringLiteral("tom.wang"), QStringLiteral("快乐的小猫")};

// One lookup of a demo buyer whose seven pages all exist; argument 1: parallel pages.
void BM_DemoLookup(benchmark::State &state)
{
    if (site().hostPort().isEmpty()) {
        state.SkipWithError("cannot start brelvon-site");
        return;
    }
    QueryLookups query(demoSettings(site().hostPort()));
    query.setParallelPages(state.range(0) != 0);
    query.ensureConfiguration();
    const BuyerCreditRecord expected = query.queryBuyer(kBuyers.at(0)).record;
    double totalMs = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const BuyerCreditRecord r = query.queryBuyer(kBuyers.at(0)).record;
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        state.SetIterationTime(ms / 1000);
        totalMs += ms;
        if (r != expected || r.badGiven != QLatin1String("1"))
            state.SkipWithError("the lookups disagree");
    }
    state.counters["delay_ms"] = 7.0 * kDelayMs;
    state.counters["mean_ms"] = totalMs / double(state.iterations());
}
BENCHMARK(BM_DemoLookup)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

// A full batch of 101 ids, the table written as the command line writes it; argument: jobs.
// Every run's rows must equal the first run's.
void BM_DemoBatch101(benchmark::State &state)
{
    if (site().hostPort().isEmpty()) {
        state.SkipWithError("cannot start brelvon-site");
        return;
    }
    static QList<BatchRow> firstRows;
    QStringList ids;
    for (int j = 0; j < 101; ++j)
        ids.append(kBuyers.at(j % kBuyers.size()));
    QTemporaryDir dir;
    BatchOptions options;
    options.jobs = int(state.range(0));
    double totalMs = 0;
    for (auto _ : state) {
        LookupService service(demoSettings(site().hostPort()), options.jobs);
        CancelToken cancel;
        QElapsedTimer timer;
        timer.start();
        const QList<BatchRow> rows = batchRows(service.batch(ids, options, cancel));
        QString error;
        if (!writeBatchSpreadsheet(dir.filePath("batch.xlsx"), rows, &error))
            state.SkipWithError("the table could not be written");
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        state.SetIterationTime(ms / 1000);
        totalMs += ms;
        if (firstRows.isEmpty())
            firstRows = rows;
        bool same = rows.size() == firstRows.size();
        for (qsizetype i = 0; same && i < rows.size(); ++i)
            same = rows[i].id == firstRows[i].id && rows[i].record == firstRows[i].record;
        if (!same || rows.last().record.badGiven.isEmpty())
            state.SkipWithError("the table differs from the first run's");
    }
    // The configuration and the area table are two more requests.
    const double delayMs = (101.0 * 7 + 2) * kDelayMs;
    const double meanMs = totalMs / double(state.iterations());
    state.counters["delay_ms"] = delayMs;
    state.counters["mean_ms"] = meanMs;
    state.counters["over_percent"] = 100.0 * (meanMs - delayMs) / delayMs;
}
BENCHMARK(BM_DemoBatch101)
    ->Arg(1)
    ->Arg(6)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The threads of this process now: every one of them is ours (the site runs in a process of its
// own), Qt's own included.
int processThreads()
{
    return int(QDir(QStringLiteral("/proc/self/task"))
                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                   .size());
}

// The most threads the process holds during a batch of 101 ids with 8 buyers at once and each
// buyer's pages in parallel (sampled every millisecond by one more thread, not counted), and the
// most tasks the lookup service's executor ran at once, which bounds the fetches at once.
void BM_BatchPeakThreads(benchmark::State &state)
{
    if (site().hostPort().isEmpty()) {
        state.SkipWithError("cannot start brelvon-site");
        return;
    }
    QStringList ids;
    for (int j = 0; j < 101; ++j)
        ids.append(kBuyers.at(j % kBuyers.size()));
    QuerySettings settings = demoSettings(site().hostPort());
    settings.parallelPages = true;
    BatchOptions options;
    options.jobs = 8;
    int peak = 0;
    int running = 0;
    int before = 0;
    for (auto _ : state) {
        LookupService service(settings, options.jobs);
        CancelToken cancel;
        before = processThreads();
        std::atomic<bool> done{false};
        std::atomic<int> highest{0};
        std::thread sampler([&] {
            while (!done) {
                highest = std::max(highest.load(), processThreads() - 1);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        const QList<LookupOutcome> outcomes = service.batch(ids, options, cancel);
        done = true;
        sampler.join();
        peak = highest;
        running = service.pool().peakRunning();
        if (outcomes.size() != ids.size() || outcomes.last().result.record.badGiven.isEmpty())
            state.SkipWithError("the batch did not read every buyer");
    }
    state.counters["threads_before"] = before;
    state.counters["peak_threads"] = peak;
    state.counters["peak_fetching"] = running;
}
BENCHMARK(BM_BatchPeakThreads)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return runBenchmarks<QCoreApplication>(argc, argv);
}
