// The pace against marketplaces that limit: brelvon-cli batch (a process of its own) over 40 ids
// at --jobs 6 against the demo site with a burst limit (10, 15, 30 pages in one second, a 3 s
// block) or a budget per address (120, 60, 20 pages a minute, blocks of 20, 30, 60 s), with
// [batch] blockedPauseSec set to the block's length and a data folder of its own (no kept pace);
// then a second batch right after it as a new process, which starts at the pace kept.
//
// Counters, for the first batch and (second_*) the second: wall_ms, ideal_ms (the marketplace
// pages of the same batch without a limit, divided by the limit's rate), over_ideal (wall_ms /
// ideal_ms), blocks (the site's), thrown_away (marketplace pages beyond those of the batch
// without a limit), bursts (times three requests left within 50 ms after the first block),
// rows_as_unlimited and rows_blocked.
//
// The counters of the second batch that look back (bursts) count both batches.
//
//   build/bin/bench_pacing                                  every case, about an hour
//   build/bin/bench_pacing --benchmark_filter='/1/'         the burst limits, a few minutes

#include "benchmain.h"
#include "demosite/demosite.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

const QStringList kBuyers = {"xiaoyu_2008", "tom.wang", "blue sky88", "快乐的小猫",
                             "bargain_hunter"};

struct Run
{
    double wallMs = 0;
    QStringList rows;
};

class Workbench
{
public:
    Workbench()
    {
        QStringList ids;
        for (int j = 0; j < 40; ++j) // demo buyers, and every sixth one the site does not know
            ids.append(j % 6 == 5 ? QStringLiteral("nobody_%1").arg(j) : kBuyers.at(j % 5));
        write("ids.txt", ids.join(u'\n').toUtf8());
    }
    QString path(const QString &name) const { return m_dir.filePath(name); }
    void write(const QString &name, const QByteArray &bytes) const
    {
        QFile f(path(name));
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
    }
    // One batch as a new process, with the data folder `data` (the kept pace) of its own.
    Run batch(const DemoSite &site, int pauseSec, const QString &data)
    {
        const QByteArray host = site.hostPort().toUtf8();
        write("bench.conf", "[hosts]\nmain=" + host + "\nsecond=" + host + "\ntradecard=" + host +
                                "\n[batch]\nblockedPauseSec=" + QByteArray::number(pauseSec) +
                                "\n");
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", path(data));
        process.setProcessEnvironment(env);
        const QString csv = path("t.csv");
        QFile::remove(csv);
        QElapsedTimer timer;
        timer.start();
        process.start(QCoreApplication::applicationDirPath() + "/brelvon-cli",
                      {"batch", "--no-history", "--settings", path("bench.conf"), "--jobs", "6",
                       "--extra-columns", path("ids.txt"), "--csv", csv});
        process.waitForFinished(-1);
        Run run;
        run.wallMs = double(timer.nsecsElapsed()) / 1e6;
        QFile table(csv);
        if (table.open(QIODevice::ReadOnly)) {
            run.rows = QString::fromUtf8(table.readAll()).split("\r\n", Qt::SkipEmptyParts);
            if (!run.rows.isEmpty())
                run.rows.removeFirst(); // the header
        }
        return run;
    }

private:
    QTemporaryDir m_dir;
};

// A row without its credit address (it names the site's port) and the pages' timings.
QString rowText(const QString &row)
{
    return row.left(row.indexOf(QLatin1String("http://")));
}

// Times three requests left within 50 ms of each other after the first block (those sent within
// 50 ms of it left before the program could know of it).
int burstsAfterFirstBlock(const DemoSite &site)
{
    const std::vector<qint64> blocks = site.blockTimes();
    const std::vector<qint64> times = site.marketplaceRequestTimes();
    if (blocks.empty())
        return 0;
    int bursts = 0;
    for (size_t i = 0; i + 2 < times.size(); ++i) {
        if (times[i] > blocks.front() + 50 && times[i + 2] - times[i] < 50)
            ++bursts;
    }
    return bursts;
}

// Arguments: pages, window in seconds, block in seconds.
void BM_PacedBatch(benchmark::State &state)
{
    const int pages = int(state.range(0));
    const int windowSec = int(state.range(1));
    const int blockSec = int(state.range(2));
    Workbench bench;
    DemoSite unlimited;
    if (!unlimited.start()) {
        state.SkipWithError("cannot start the demo site");
        return;
    }
    const QStringList expected = bench.batch(unlimited, blockSec, "unlimited-data").rows;
    const double pagesUnlimited = double(unlimited.marketplaceRequests());
    const double idealMs = pagesUnlimited * 1000.0 * windowSec / pages;
    for (auto _ : state) {
        DemoSite site;
        site.setBudget(pages, windowSec, blockSec);
        if (!site.start()) {
            state.SkipWithError("cannot start the demo site");
            return;
        }
        const auto count = [&](const Run &run, const QString &prefix, double pagesBefore,
                               int blocksBefore) {
            int same = 0;
            int blocked = 0;
            for (int i = 0; i < run.rows.size() && i < expected.size(); ++i) {
                same += rowText(run.rows[i]) == rowText(expected[i]) ? 1 : 0;
                blocked += run.rows[i].contains(QStringLiteral("页面被拦截")) ? 1 : 0;
            }
            const double asked = double(site.marketplaceRequests()) - pagesBefore;
            state.counters[(prefix + "wall_ms").toStdString()] = run.wallMs;
            state.counters[(prefix + "ideal_ms").toStdString()] = idealMs;
            state.counters[(prefix + "over_ideal").toStdString()] = run.wallMs / idealMs;
            state.counters[(prefix + "blocks").toStdString()] =
                site.rateLimitBlocks() - blocksBefore;
            state.counters[(prefix + "thrown_away").toStdString()] = asked - pagesUnlimited;
            state.counters[(prefix + "rows_as_unlimited").toStdString()] = same;
            state.counters[(prefix + "rows_blocked").toStdString()] = blocked;
        };
        const Run first = bench.batch(site, blockSec, "data");
        state.SetIterationTime(first.wallMs / 1000);
        count(first, "", 0, 0);
        state.counters["bursts"] = burstsAfterFirstBlock(site);
        const double pagesBefore = double(site.marketplaceRequests());
        const int blocksBefore = site.rateLimitBlocks();
        const Run second = bench.batch(site, blockSec, "data");
        count(second, "second_", pagesBefore, blocksBefore);
        state.counters["second_bursts"] = burstsAfterFirstBlock(site);
    }
}
BENCHMARK(BM_PacedBatch)
    ->Args({10, 1, 3})
    ->Args({15, 1, 3})
    ->Args({30, 1, 3})
    ->Args({120, 60, 20})
    ->Args({60, 60, 30})
    ->Args({20, 60, 60})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return runBenchmarks<QCoreApplication>(argc, argv);
}
