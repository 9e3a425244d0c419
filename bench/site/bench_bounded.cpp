// Lookups bounded in time and batches the marketplace tolerates, end to end: brelvon-cli (a
// process of its own) against the demo site served in this benchmark's process.
//
//   BM_SilentHostLookup   one lookup of a listed buyer whose trade-card host accepts and never
//                         answers, at the default settings: wall_ms, exit_code, pages_ok (the
//                         answering host's pages kept)
//   BM_SilentHostBatch    a batch of 10 such buyers: wall_ms, rows
//   BM_RateLimitedBatch   40 ids at --jobs 6 against a site that serves its login page for 3 s
//                         after more than 15 pages in one second, blockedPauseSec=3: wall_ms,
//                         pauses (the command's pause lines), site_blocks, rows, rows_blocked,
//                         rows_as_unlimited (rows equal to those of the same batch without the
//                         limit)
//   BM_KillAndResume      40 ids at --jobs 4 against a site that holds answers back 30 ms, killed
//                         with SIGKILL once 20 search pages were asked for, then --resume:
//                         rows_in_order, search_pages (both runs), search_before_kill
//   BM_DefaultPace        500 ids at the default settings (one buyer at a time, no pace): wall_ms
//
//   build/bin/bench_bounded

#include "benchmain.h"
#include "demosite/demosite.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>

namespace {

const QStringList kBuyers = {"xiaoyu_2008", "tom.wang", "blue sky88", "快乐的小猫",
                             "bargain_hunter"};

QStringList someIds(int count)
{
    QStringList ids;
    for (int j = 0; j < count; ++j) // demo buyers, and every sixth one the site does not know
        ids.append(j % 6 == 5 ? QStringLiteral("nobody_%1").arg(j) : kBuyers.at(j % 5));
    return ids;
}

struct Run
{
    int exitCode = -1;
    double wallMs = 0;
    QString err;
};

class Workbench
{
public:
    Workbench() { m_dir.setAutoRemove(true); }
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString write(const QString &name, const QByteArray &bytes) const
    {
        QFile f(path(name));
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
        return f.fileName();
    }
    QString settings(const QString &site, const QString &tradeCard, const QByteArray &extra = {})
    {
        return write("bench.conf", "[hosts]\nmain=" + site.toUtf8() + "\nsecond=" + site.toUtf8() +
                                       "\ntradecard=" + tradeCard.toUtf8() + "\n" + extra);
    }
    QString ids(const QStringList &ids) { return write("ids.txt", ids.join(u'\n').toUtf8()); }

    QStringList cli(const QStringList &args) const { return QStringList{"--no-history"} + args; }
    Run run(const QString &command, const QStringList &args)
    {
        QProcess process;
        QElapsedTimer timer;
        timer.start();
        process.start(QCoreApplication::applicationDirPath() + "/brelvon-cli",
                      QStringList{command} + cli(args));
        process.waitForFinished(-1);
        Run run;
        run.wallMs = double(timer.nsecsElapsed()) / 1e6;
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }
    QStringList tableRows(const QString &csv) const
    {
        QFile table(csv);
        if (!table.open(QIODevice::ReadOnly))
            return {};
        QStringList rows = QString::fromUtf8(table.readAll()).split("\r\n", Qt::SkipEmptyParts);
        if (!rows.isEmpty())
            rows.removeFirst(); // the header
        return rows;
    }

private:
    QTemporaryDir m_dir;
};

// A row without its credit address (it names the site's port) and without the page outcomes'
// timings: what the buyer's row says.
QString rowText(const QString &row)
{
    return row.left(row.indexOf(QLatin1String("http://")));
}

void BM_SilentHostLookup(benchmark::State &state)
{
    DemoSite site;
    if (!site.start() || !site.startSilentHost()) {
        state.SkipWithError("cannot start the demo site");
        return;
    }
    Workbench bench;
    const QString conf = bench.settings(site.hostPort(), site.silentHostPort());
    for (auto _ : state) {
        const Run run = bench.run("query", {"--settings", conf, "--verbose", "tom.wang"});
        state.SetIterationTime(run.wallMs / 1000);
        state.counters["wall_ms"] = run.wallMs;
        state.counters["exit_code"] = run.exitCode;
        state.counters["pages_ok"] = run.err.count(QLatin1String(": ok status=200"));
        state.counters["host_silent"] = run.err.count(QLatin1String(": host silent"));
    }
}
BENCHMARK(BM_SilentHostLookup)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_SilentHostBatch(benchmark::State &state)
{
    DemoSite site;
    if (!site.start() || !site.startSilentHost()) {
        state.SkipWithError("cannot start the demo site");
        return;
    }
    Workbench bench;
    const QString conf = bench.settings(site.hostPort(), site.silentHostPort());
    QStringList ids;
    for (int i = 0; i < 10; ++i)
        ids.append(kBuyers.at(i % 5));
    const QString idFile = bench.ids(ids);
    for (auto _ : state) {
        const Run run =
            bench.run("batch", {"--settings", conf, idFile, "--csv", bench.path("t.csv")});
        state.SetIterationTime(run.wallMs / 1000);
        state.counters["wall_ms"] = run.wallMs;
        state.counters["exit_code"] = run.exitCode;
        state.counters["rows"] = bench.tableRows(bench.path("t.csv")).size();
    }
}
BENCHMARK(BM_SilentHostBatch)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_RateLimitedBatch(benchmark::State &state)
{
    Workbench bench;
    const QString idFile = bench.ids(someIds(40));
    const auto batch = [&](DemoSite &site, const QString &csv) {
        const QString conf =
            bench.settings(site.hostPort(), site.hostPort(), "[batch]\nblockedPauseSec=3\n");
        return bench.run(
            "batch", {"--settings", conf, "--jobs", "6", "--extra-columns", idFile, "--csv", csv});
    };
    DemoSite unlimited;
    if (!unlimited.start()) {
        state.SkipWithError("cannot start the demo site");
        return;
    }
    batch(unlimited, bench.path("unlimited.csv"));
    const QStringList expected = bench.tableRows(bench.path("unlimited.csv"));
    for (auto _ : state) {
        DemoSite site;
        site.setRateLimit(15);
        if (!site.start()) {
            state.SkipWithError("cannot start the demo site");
            return;
        }
        const Run run = batch(site, bench.path("limited.csv"));
        state.SetIterationTime(run.wallMs / 1000);
        const QStringList rows = bench.tableRows(bench.path("limited.csv"));
        int same = 0;
        int blocked = 0;
        for (int i = 0; i < rows.size() && i < expected.size(); ++i) {
            same += rowText(rows[i]) == rowText(expected[i]) ? 1 : 0;
            blocked += rows[i].contains(QStringLiteral("页面被拦截")) ? 1 : 0;
        }
        state.counters["wall_ms"] = run.wallMs;
        state.counters["exit_code"] = run.exitCode;
        state.counters["pauses"] =
            run.err.count(QStringLiteral("暂停")) + run.err.count(QLatin1String("pausing"));
        state.counters["site_blocks"] = site.rateLimitBlocks();
        state.counters["rows"] = rows.size();
        state.counters["rows_blocked"] = blocked;
        state.counters["rows_as_unlimited"] = same;
    }
}
BENCHMARK(BM_RateLimitedBatch)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_KillAndResume(benchmark::State &state)
{
    for (auto _ : state) {
        DemoSite site;
        if (!site.start(0, 30)) {
            state.SkipWithError("cannot start the demo site");
            return;
        }
        Workbench bench;
        const QStringList ids = someIds(40);
        const QString idFile = bench.ids(ids);
        const QString conf = bench.settings(site.hostPort(), site.hostPort());
        const QString csv = bench.path("t.csv");
        const QStringList args = {"--settings", conf, "--jobs", "4", idFile, "--csv", csv};
        QElapsedTimer timer;
        timer.start();
        QProcess killed;
        killed.start(QCoreApplication::applicationDirPath() + "/brelvon-cli",
                     QStringList{"batch"} + bench.cli(args));
        while (site.searchRequests() < 20 && killed.state() != QProcess::NotRunning)
            QThread::msleep(5);
        ::kill(pid_t(killed.processId()), SIGKILL);
        killed.waitForFinished(-1);
        const qint64 beforeKill = site.searchRequests();
        const Run resumed = bench.run("batch", args + QStringList{"--resume"});
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        const QStringList rows = bench.tableRows(csv);
        bool inOrder = rows.size() == ids.size();
        for (int i = 0; inOrder && i < ids.size(); ++i)
            inOrder = rows[i].startsWith(ids[i] + u',') || rows[i].startsWith(u'"' + ids[i]);
        state.counters["exit_code"] = resumed.exitCode;
        state.counters["rows_in_order"] = inOrder ? 1 : 0;
        state.counters["search_before_kill"] = double(beforeKill);
        state.counters["search_pages"] = double(site.searchRequests());
    }
}
BENCHMARK(BM_KillAndResume)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_DefaultPace(benchmark::State &state)
{
    DemoSite site;
    if (!site.start()) {
        state.SkipWithError("cannot start the demo site");
        return;
    }
    Workbench bench;
    const QString idFile = bench.ids(someIds(500));
    const QString conf = bench.settings(site.hostPort(), site.hostPort());
    for (auto _ : state) {
        const Run run = bench.run("batch", {"--settings", conf, "--max-ids", "500", idFile, "--csv",
                                            bench.path("t.csv")});
        state.SetIterationTime(run.wallMs / 1000);
        state.counters["wall_ms"] = run.wallMs;
        state.counters["exit_code"] = run.exitCode;
        state.counters["rows"] = bench.tableRows(bench.path("t.csv")).size();
        state.counters["pages"] = double(site.marketplaceRequests());
    }
}
BENCHMARK(BM_DefaultPace)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return runBenchmarks<QCoreApplication>(argc, argv);
}
