// The page rules at page scale (256 KiB to 1 MiB, to show they grow linearly; the search page's
// worst case up to 16 MiB), and one whole buyer query against a site that holds every answer
// back 20 ms.
#include "benchmain.h"
#include "engine/pagerules.h"
#include "fixtureserver.h"
#include "querylookups.h"
#include "web/codepage936.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

namespace {

// A page of about `bytes` bytes (UTF-16 code units * 2) made of `row` repeated, then `tail`.
QString pageOf(qsizetype bytes, const QString &row, const QString &tail = {})
{
    QString page;
    page.reserve(bytes / 2 + tail.size() + row.size());
    while (page.size() * 2 < bytes)
        page += row;
    return page + tail;
}

QueryConfig searchConfig()
{
    QueryConfig c;
    c.setEntry(4, "http://market/detail/{xyid}.htm");
    c.setEntry(64, "<li class=\"member\">");
    c.setEntry(65, "uid=");
    c.setEntry(66, "\"");
    c.setEntry(67, ">");
    c.setEntry(68, "</a>");
    c.setEntry(69, "<em>");
    c.setEntry(70, "</em>");
    return c;
}

void setRange(benchmark::internal::Benchmark *b)
{
    b->RangeMultiplier(2)->Range(256 << 10, 1 << 20)->Complexity(benchmark::oN);
}

template <typename Rule> void runRule(benchmark::State &state, const QString &page, Rule rule)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(rule(page));
    state.SetBytesProcessed(state.iterations() * page.size() * 2);
    state.SetComplexityN(state.range(0));
}

// Thousands of members, the buyer last: every entry is cut and compared.
void BM_SearchPage(benchmark::State &state)
{
    const QueryConfig config = searchConfig();
    const QString page = pageOf(
        state.range(0),
        "<li class=\"member\"><a href=\"http://market/u?uid=10086\"><em>淘宝</em>店主</a></li>\n",
        "<li class=\"member\"><a href=\"http://market/u?uid=42\">buyer</a></li>");
    runRule(state, page, [&](const QString &p) { return searchPageRule(p, "buyer", config); });
}
BENCHMARK(BM_SearchPage)->Apply(setRange);

// Entries whose markers 66 to 68 never come: the markers are looked for once, not per entry.
void BM_SearchPageMissingMarkers(benchmark::State &state)
{
    const QueryConfig config = searchConfig();
    const QString page =
        pageOf(state.range(0), "<li class=\"member\"><span>uid=10086</span></li>\n");
    runRule(state, page, [&](const QString &p) { return searchPageRule(p, "buyer", config); });
}
BENCHMARK(BM_SearchPageMissingMarkers)->Apply(setRange);

// The worst case a hostile search page can make: every entry opens a nick, and the nick's end
// marker comes once, at the very end of the page. Up to 16 MiB, the largest body a fetch takes.
void BM_SearchPageNickEndAtTheEnd(benchmark::State &state)
{
    const QueryConfig config = searchConfig();
    const QString page =
        pageOf(state.range(0),
               "<li class=\"member\"><a href=\"http://market/u?uid=10086\"><em>店主\n", "</a>");
    runRule(state, page, [&](const QString &p) { return searchPageRule(p, "buyer", config); });
}
BENCHMARK(BM_SearchPageNickEndAtTheEnd)
    ->RangeMultiplier(4)
    ->Range(1 << 20, 16 << 20)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

void BM_DetailPage(benchmark::State &state)
{
    QueryConfig c;
    const QList<QPair<int, QString>> entries = {
        {5, "rateA"},    {6, "好评率："}, {7, "%"},       {8, "id=\"credit\""},
        {9, ">"},        {10, "<"},       {24, "认证："}, {25, "<span>"},
        {26, "</span>"}, {27, "支付宝"},  {28, "手机"},   {34, "rateListNo="},
        {36, "\""},      {71, "中评"},    {72, "："},     {73, "<"},
        {74, "差评"},    {75, "："},      {76, "<"}};
    for (const auto &[i, v] : entries)
        c.setEntry(i, v);
    const QString page =
        pageOf(state.range(0), "<tr><td>买家信用评价</td><td>好评 中评 差评 认证</td></tr>\n",
               "<div class=\"rateA\">好评率：99%<b id=\"credit\">12</b>认证：<span>支付宝</span>"
               "中评：1<差评：2<a href=\"x?rateListNo=7\">");
    runRule(state, page,
            [&](const QString &p) { return detailPageRule(p, DetailSource::Fetched, c); });
}
BENCHMARK(BM_DetailPage)->Apply(setRange);

void BM_RatingsGiven(benchmark::State &state)
{
    const QString page =
        pageOf(state.range(0), "<tr><td class=\"auctionPrice\">12.00</td><td>中评</td></tr>\n");
    runRule(state, page,
            [](const QString &p) { return ratingsGivenCount(p, kBadRatingsGivenMarker); });
}
BENCHMARK(BM_RatingsGiven)->Apply(setRange);

void BM_NameCard(benchmark::State &state)
{
    const QString page = pageOf(state.range(0), "<p>旺旺名片 来自 淘宝 jianghu</p>\n",
                                "<p>注册时间：2005-03-12</p><p>来自：广东&nbsp;深圳</p>"
                                "<a class=\"icon-jianghu\" href=\"http://jianghu.market/p\">");
    runRule(state, page, [](const QString &p) { return nameCardRule(p); });
}
BENCHMARK(BM_NameCard)->Apply(setRange);

void BM_PersonalPage(benchmark::State &state)
{
    QueryConfig c;
    c.setEntry(61, "areaCode");
    c.setEntry(62, "=");
    c.setEntry(63, ";");
    const QString table = "440000#广东省\r\n440305#南山区\r\n";
    const QString page = pageOf(state.range(0), "<div>个人空间 nickname area</div>\n",
                                "<span class=\"nick\">小明</span>var areaCode=440305;");
    runRule(state, page, [&](const QString &p) { return personalPageRule(p, c, table); });
}
BENCHMARK(BM_PersonalPage)->Apply(setRange);

void BM_PopupNameCard(benchmark::State &state)
{
    const QString page =
        pageOf(state.range(0), "<p>卖家好评率 买家 好评率</p>\n", "<p>买家好评率：98.5%</p>");
    runRule(state, page, [](const QString &p) { return popupNameCardRule(p); });
}
BENCHMARK(BM_PopupNameCard)->Apply(setRange);

void BM_IndexedList(benchmark::State &state)
{
    const QString list = pageOf(state.range(0), "<td class=\"nick\">买家</td>#64#");
    for (auto _ : state) {
        QueryConfig c;
        c.readIndexedList(list);
        benchmark::DoNotOptimize(c);
    }
    state.SetBytesProcessed(state.iterations() * list.size() * 2);
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_IndexedList)->Apply(setRange);

// One query (configuration already loaded) with every answer held back 20 ms: seven requests,
// so 140 ms of added delay. delay_ms is that sum, overhead_ms what the query adds to it.
void BM_WholeQueryDelayed(benchmark::State &state)
{
    constexpr int kDelayMs = 20;
    FixtureServer server;
    server.listen();
    const QString host = "http://" + server.hostPort();
    auto serve = [&](const QString &target, const QString &text) {
        FixtureResponse r;
        r.body = encode936(text);
        r.delayMs = kDelayMs;
        server.setResponse(target, r);
    };
    serve("/soft/qvdl/fmj2.htm", "Brelvon#90#" + host + "/search?q={mjna}#0#" + host +
                                     "/detail/{xyid}.htm#4#rateA#5#"
                                     "id=\"credit\"#8#>#9#<#10#rateListNo=#34#\"#36#" +
                                     host +
                                     "/given/n?no={urlno}#37#"
                                     "neutral#38#" +
                                     host +
                                     "/given/b?no={urlno}#39#<li>#64#uid=#65#\"#66#>#67#</a>#68#"
                                     "areaCode#61#=#62#;#63#");
    serve("/soft/qvdl/city.txt", "440000#广东省\r\n440305#南山区\r\n");
    serve("/search", "<li><a href=\"/u?uid=42\">buyer</a></li>");
    serve("/detail/42.htm", "rateA<b id=\"credit\">12</b><a href=\"?rateListNo=7\">");
    serve("/given/n", "neutral neutral");
    serve("/given/b", "auctionPrice");
    serve("/tradecard/nameCard.htm",
          "注册时间：2005<来自：广东<a class=\"icon-jianghu\" href=\"" + host + "/p.htm\">");
    serve("/p.htm", "<span class=\"nick\">小明</span>areaCode=440305;");
    serve("/tradecard/popupNameCard.htm", "买家好评率：98%");

    QueryLookups query(demoSettings(server.hostPort()));
    query.ensureConfiguration();
    double totalMs = 0;
    for (auto _ : state) {
        server.clearRequests();
        QElapsedTimer timer;
        timer.start();
        const BuyerCreditRecord r = query.queryBuyer("buyer").record;
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        state.SetIterationTime(ms / 1000);
        totalMs += ms;
        if (r.goodRate != "98" || r.neutralGiven != "2" || server.totalRequests() != 7)
            state.SkipWithError("the query did not read every page");
    }
    const double delayMs = 7.0 * kDelayMs;
    const double meanMs = totalMs / double(state.iterations());
    state.counters["delay_ms"] = delayMs;
    state.counters["mean_ms"] = meanMs;
    state.counters["overhead_ms"] = meanMs - delayMs;
}
BENCHMARK(BM_WholeQueryDelayed)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return runBenchmarks<QCoreApplication>(argc, argv);
}
