// Page helpers at page scale, and what a fetch costs while it waits on a silent server.
#include "benchmain.h"
#include "directfetch.h"
#include "fixtureserver.h"
#include "web/codepage936.h"
#include "web/fetchpage.h"
#include "web/texthelpers.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

namespace {

constexpr int kPageBytes = 1024 * 1024;

// A page of about 1 MiB of Chinese and ASCII markup with the wanted value near the end.
QString bigPage()
{
    QString page;
    const QString row =
        QStringLiteral("<tr><td class=\"nick\">买家信用评价</td><td>好评</td></tr>\n");
    while (page.size() < kPageBytes / 2)
        page += row;
    page += QStringLiteral("注册时间：2005-01-01<br>");
    return page;
}

void BM_CutText1MiB(benchmark::State &state)
{
    const QString page = bigPage();
    for (auto _ : state) {
        QString v = CutText(page, QStringLiteral("注册时间"), QStringLiteral("："), "<");
        benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(state.iterations() * page.size() * 2);
}
BENCHMARK(BM_CutText1MiB);

void BM_Decode936_1MiB(benchmark::State &state)
{
    QByteArray bytes = encode936(bigPage());
    bytes.truncate(kPageBytes);
    for (auto _ : state) {
        QString s = decode936(bytes);
        benchmark::DoNotOptimize(s);
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_Decode936_1MiB);

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Both short-wait attempts against a server that never answers: about ten seconds of waiting.
void BM_FetchSilentServerCpu(benchmark::State &state)
{
    FixtureServer server;
    server.listen();
    FixtureResponse silent;
    silent.neverAnswer = true;
    server.setResponse("/silent", silent);
    for (auto _ : state) {
        QElapsedTimer wall;
        wall.start();
        const double cpu0 = cpuSeconds();
        QString s = FetchPage(server.url("/silent"), FetchWait::Short, directFetch());
        const double cpu = cpuSeconds() - cpu0;
        benchmark::DoNotOptimize(s);
        state.counters["wall_s"] = double(wall.elapsed()) / 1000.0;
        state.counters["cpu_percent"] = 100.0 * cpu / (double(wall.elapsed()) / 1000.0);
        state.counters["requests"] = server.totalRequests();
    }
}
BENCHMARK(BM_FetchSilentServerCpu)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    return runBenchmarks<QCoreApplication>(argc, argv);
}
