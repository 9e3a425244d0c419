// The seller's database with 100,000 stored lookups (10,000 buyers, ten lookups each, spread
// over a year): the history questions the window and the command line ask, and one stored
// lookup. The file is filled once, through the program's own calls, in a temporary folder.
// Every call is carried out by the database's own thread: "CPU" is the whole process's time,
// which a busy machine inflates far less than the wall time.
#include "benchmain.h"
#include "files/historycsv.h"
#include "storage/historytext.h"
#include "storage/sellerdatabase.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

namespace {

constexpr int kBuyers = 10000;
constexpr int kLookups = 100000;

const QDateTime kEnd(QDate(2026, 11, 2), QTime(12, 0));

QString buyer(int i)
{
    return QStringLiteral("buyer_%1").arg(i);
}

BuyerQueryResult lookup(int i)
{
    BuyerQueryResult r;
    r.record.buyerId = buyer(i % kBuyers);
    r.record.nick = QStringLiteral("昵称%1").arg(i % kBuyers);
    r.record.regTime = QStringLiteral("2008-03-15");
    r.record.address = QStringLiteral("浙江 杭州");
    r.record.verification = QStringLiteral("支付宝认证");
    r.record.goodRate = QStringLiteral("99.5");
    r.record.goodCount = QString::number(100 + i / kBuyers);
    r.record.neutralCount = QStringLiteral("1");
    r.record.badCount = QStringLiteral("0");
    r.record.neutralGiven = QStringLiteral("0");
    r.record.badGiven = QStringLiteral("0");
    r.record.creditUrl = QStringLiteral("http://rate.example/user-rate-%1.htm").arg(i % kBuyers);
    for (int p = 0; p < 7; ++p) {
        PageResult page;
        page.outcome = PageOutcome::Ok;
        page.status = 200;
        page.bytes = 20000;
        page.elapsedMs = 80;
        page.address = QStringLiteral("http://market.example/page%1?id=%2").arg(p).arg(i);
        r.pages.append(page);
    }
    return r;
}

struct Filled
{
    QTemporaryDir dir;
    SellerDatabase db;
};

SellerDatabase &database()
{
    static std::unique_ptr<Filled> filled = [] {
        auto f = std::make_unique<Filled>();
        const QString path = f->dir.filePath(QStringLiteral("brelvon.sqlite"));
        f->db.open(path);
        QElapsedTimer timer;
        timer.start();
        // Oldest first, a lookup every ~5 minutes over the year before kEnd.
        const qint64 step = 365LL * 24 * 3600 * 1000 / kLookups;
        for (int i = 0; i < kLookups; ++i)
            f->db.addLookup(lookup(i), kEnd.addMSecs(-qint64(kLookups - i) * step));
        std::fprintf(stderr, "filled %d lookups in %.1f s (%.0f us each); file %lld MiB\n",
                     kLookups, double(timer.elapsed()) / 1000,
                     double(timer.nsecsElapsed()) / 1000 / kLookups,
                     QFileInfo(path).size() / (1024 * 1024));
        return f;
    }();
    return filled->db;
}

// The window's "上次查询" line: the newest lookup of one buyer.
void BM_LastLookup(benchmark::State &state)
{
    SellerDatabase &db = database();
    int i = 0;
    for (auto _ : state) {
        const auto last = db.lastLookup(buyer(i++ * 7919 % kBuyers));
        if (!last)
            state.SkipWithError("no lookup found");
    }
}
BENCHMARK(BM_LastLookup)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

// brelvon-cli history ID: every lookup of one buyer (ten).
void BM_HistoryOfOneBuyer(benchmark::State &state)
{
    SellerDatabase &db = database();
    int i = 0;
    for (auto _ : state) {
        HistoryFilter f;
        f.buyerIds = QStringList{buyer(i++ * 7919 % kBuyers)};
        if (db.history(f).size() != kLookups / kBuyers)
            state.SkipWithError("wrong number of lookups");
    }
}
BENCHMARK(BM_HistoryOfOneBuyer)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

// brelvon-cli history --since: the last day (about 270 lookups).
void BM_HistorySinceYesterday(benchmark::State &state)
{
    SellerDatabase &db = database();
    for (auto _ : state) {
        HistoryFilter f;
        f.since = kEnd.addDays(-1);
        state.counters["lookups"] = double(db.history(f).size());
    }
}
BENCHMARK(BM_HistorySinceYesterday)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

// The history dialog as it opens: the newest 1,000 (without their page outcomes, as the dialog
// asks; with them for comparison).
void BM_HistoryNewest1000(benchmark::State &state)
{
    SellerDatabase &db = database();
    for (auto _ : state) {
        HistoryFilter f;
        f.limit = 1000;
        f.withPages = state.range(0) != 0;
        benchmark::DoNotOptimize(db.history(f));
    }
}
BENCHMARK(BM_HistoryNewest1000)
    ->Arg(0)
    ->Arg(1)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

// The dialog's filter: part of an id or nick, searched through every lookup (no index helps).
void BM_HistoryTextFilter(benchmark::State &state)
{
    SellerDatabase &db = database();
    for (auto _ : state) {
        HistoryFilter f;
        f.text = QStringLiteral("_777");
        f.limit = 1000;
        f.withPages = false;
        state.counters["lookups"] = double(db.history(f).size());
    }
}
BENCHMARK(BM_HistoryTextFilter)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

// The whole history (100,000 lookups) read and written as CSV: the dialog's export of everything.
void BM_ExportAll(benchmark::State &state)
{
    SellerDatabase &db = database();
    for (auto _ : state) {
        const QByteArray csv = historyCsv(db.history());
        state.counters["MiB"] = double(csv.size()) / (1024 * 1024);
    }
}
BENCHMARK(BM_ExportAll)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_NoteOfOneBuyer(benchmark::State &state)
{
    SellerDatabase &db = database();
    int i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(db.note(buyer(i++ % kBuyers)));
}
BENCHMARK(BM_NoteOfOneBuyer)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);

// One more lookup stored (a commit in WAL mode) into the full file.
void BM_AddLookup(benchmark::State &state)
{
    SellerDatabase &db = database();
    int i = 0;
    for (auto _ : state) {
        if (!db.addLookup(lookup(i++), kEnd))
            state.SkipWithError("not stored");
    }
}
BENCHMARK(BM_AddLookup)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    return runBenchmarks<QCoreApplication>(argc, argv);
}
