// Long batches end to end: brelvon-cli batch --jobs 8 --max-ids N over N ids against brelvon-site
// --delay 20 (both started beside this benchmark, each a process of its own), the table written
// as CSV. Argument: N (500, 1000, 2000), to see time and memory grow with the batch.
//
// Counters: wall_ms (the command from start to exit), roundtrips_ms (the sum of the milliseconds
// of every page fetch, as --verbose reports them), ideal_ms (that sum divided by the 8 jobs: no
// batch of 8 at once can be quicker), over_ideal (wall_ms / ideal_ms), pages, peak_rss_mb (the
// command's peak resident memory, from wait4) and rows_in_order (1 when row i of the table is id
// i and every row of one buyer is the same).
//
//   build/bin/bench_batch_cli
//   build/bin/bench_batch_cli --benchmark_filter=/2000

#include "benchmain.h"
#include "siteprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char **environ;

namespace {

constexpr int kDelayMs = 20;
constexpr int kJobs = 8;

// Runs a program with stdout and stderr to files; its exit status and rusage.
bool runMeasured(const QStringList &args, const QString &out, const QString &err, int *status,
                 struct rusage *usage)
{
    QList<QByteArray> bytes;
    for (const QString &a : args)
        bytes.append(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray outPath = QFile::encodeName(out);
    const QByteArray errPath = QFile::encodeName(err);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    return wait4(pid, status, 0, usage) == pid;
}

void BM_CliBatch(benchmark::State &state)
{
    static SiteProcess site(kDelayMs);
    if (site.hostPort().isEmpty()) {
        state.SkipWithError("cannot start brelvon-site");
        return;
    }
    const int count = int(state.range(0));
    const QStringList buyers = {"xiaoyu_2008", "blue sky88", "tom.wang", "快乐的小猫"};
    QStringList ids;
    for (int j = 0; j < count; ++j) // demo buyers, and every fifth one the site does not know
        ids.append(j % 5 == 4 ? QStringLiteral("nobody_%1").arg(j) : buyers.at(j % 4));
    QTemporaryDir dir;
    QFile idFile(dir.filePath("ids.txt"));
    QFile conf(dir.filePath("bench.conf"));
    if (!idFile.open(QIODevice::WriteOnly) || !conf.open(QIODevice::WriteOnly)) {
        state.SkipWithError("cannot write the input");
        return;
    }
    idFile.write(ids.join(u'\n').toUtf8());
    idFile.close();
    const QByteArray host = site.hostPort().toUtf8();
    conf.write("[hosts]\nmain=" + host + "\nsecond=" + host + "\ntradecard=" + host + "\n");
    conf.close();
    const QString csv = dir.filePath("table.csv");
    const QStringList args = {QCoreApplication::applicationDirPath() + "/brelvon-cli",
                              "batch",
                              "--settings",
                              conf.fileName(),
                              "--no-history",
                              "--verbose",
                              "--jobs",
                              QString::number(kJobs),
                              "--max-ids",
                              QString::number(count),
                              idFile.fileName(),
                              "--csv",
                              csv};
    for (auto _ : state) {
        int status = 0;
        struct rusage usage = {};
        QElapsedTimer timer;
        timer.start();
        if (!runMeasured(args, dir.filePath("out"), dir.filePath("err"), &status, &usage) ||
            !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("brelvon-cli batch failed");
            return;
        }
        const double wallMs = double(timer.nsecsElapsed()) / 1e6;
        state.SetIterationTime(wallMs / 1000);

        QFile err(dir.filePath("err"));
        err.open(QIODevice::ReadOnly);
        static const QRegularExpression pageMs(QStringLiteral("^brelvon-cli: page .* ms=(\\d+) "),
                                               QRegularExpression::MultilineOption);
        double roundTrips = 0;
        int pages = 0;
        for (auto it = pageMs.globalMatch(QString::fromUtf8(err.readAll())); it.hasNext();) {
            roundTrips += it.next().captured(1).toDouble();
            ++pages;
        }
        QFile table(csv);
        table.open(QIODevice::ReadOnly);
        const QList<QByteArray> lines = table.readAll().split('\n');
        bool inOrder = lines.size() == count + 2; // header, rows, and the empty rest
        QHash<QString, QByteArray> firstRow;
        for (int j = 0; inOrder && j < count; ++j) {
            const QByteArray &line = lines[j + 1];
            const QString id = QString::fromUtf8(line.left(line.indexOf(',')));
            inOrder = id == ids[j] || id == u'"' + ids[j] + u'"';
            // The site's answers are the same for one buyer every time, but for the address.
            const QByteArray row = line.left(line.lastIndexOf("http"));
            inOrder = inOrder && firstRow.value(id, row) == row;
            firstRow.insert(id, row);
        }
        const double ideal = roundTrips / kJobs;
        state.counters["wall_ms"] = wallMs;
        state.counters["roundtrips_ms"] = roundTrips;
        state.counters["pages"] = pages;
        state.counters["ideal_ms"] = ideal;
        state.counters["over_ideal"] = ideal > 0 ? wallMs / ideal : 0;
        state.counters["peak_rss_mb"] = double(usage.ru_maxrss) / 1024.0;
        state.counters["rows_in_order"] = inOrder ? 1 : 0;
        if (!inOrder)
            state.SkipWithError("the table's rows are not the ids in order");
    }
}
BENCHMARK(BM_CliBatch)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(2000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return runBenchmarks<QCoreApplication>(argc, argv);
}
