
#include "engine/batchengine.h"
#include "engine/taskpool.h"
#include "files/batchjournal.h"
#include "fixtures.h"
#include "fixtureserver.h"
#include "hostileserver.h"
#include "querylookups.h"
#include "storage/sellerdatabase.h"
#include "web/canceltoken.h"
#include "web/codepage936.h"
#include "web/fetchclock.h"
#include "web/httpsession.h"

#include <QtTest>

#include <thread>

#include <sys/stat.h>

namespace {

// As it arrives: the HTTP client writes the query's %-escapes with upper-case digits.
const QString kNameCardTail =
    "&type=0&imgFolderPath=d%3A%2FProgram%20Files%2FAliWangWang%2F7.10.07T%2FHeadImgShow%2F"
    "&imgFileName=&showtype=1&filehashcode=&ver=7.10.07T&edition=1&cssname=default";

// A detail page loader standing in for the embedded browser: serves one page, records calls.
class FakeBrowser : public DetailPageBrowser
{
public:
    QString page;
    QStringList loaded;
    bool tooLarge = false; // the page was given up for its size
    QString loadBodyHtml(const QString &address, const CancelToken *) override
    {
        loaded.append(address);
        return page;
    }
    Read loadBody(const QString &address, const CancelToken *cancel) override
    {
        return {loadBodyHtml(address, cancel), tooLarge};
    }
};

// The fetch clock running `factor` times faster than the wall clock while it lives, so the
// lookup's deadline, the pages' waits and a batch's pauses pass in milliseconds.
class FastClock
{
public:
    explicit FastClock(int factor)
    {
        m_timer.start();
        const qint64 start = QDateTime::currentMSecsSinceEpoch();
        setFetchClock(
            [start, factor, timer = m_timer] { return start + timer.elapsed() * factor; });
    }
    ~FastClock() { setFetchClock({}); }

private:
    QElapsedTimer m_timer;
};

const PageResult *pageNamed(const PageResults &pages, const QString &name)
{
    for (const PageResult &page : pages) {
        if (page.page == name)
            return &page;
    }
    return nullptr;
}

} // namespace

class TestBuyerQuery : public QObject
{
    Q_OBJECT

    FixtureServer *m_site = nullptr;   // main host, trade-card host and the marketplace
    FixtureServer *m_second = nullptr; // the fallback host of our site
    QuerySettings m_settings;

    QString configText() const
    {
        const QString host = "http://" + m_site->hostPort();
        // Beyond the marketplace's: the good rate, the upper-case fetched text, highlighted nicks.
        return indexedListText(ConfigEntries{{90, "Brelvon query configuration"},
                                             {0, host + "/search?q={mjna}&from=brelvon"},
                                             {6, "好评率："},
                                             {7, "%"},
                                             {29, "id=credit"},
                                             {32, "<SPAN>"},
                                             {33, "</SPAN>"},
                                             {69, "<em>"},
                                             {70, "</em>"}} +
                               marketplaceEntries(host));
    }

    static QString areaTable()
    {
        return "110000#北京市\r\n440000#广东省\r\n440300#深圳市\r\n440305#南山区\r\n";
    }

    QString nameCardTarget(const QString &rawId) const
    {
        return "/tradecard/nameCard.htm?jumpFrom=wwclient&signmode=im&loginId=cntaobaoviewer1"
               "&uid=cntaobao" +
               rawId + kNameCardTail;
    }
    static QString popupTarget(const QString &rawId)
    {
        return "/tradecard/popupNameCard.htm?uid=cntaobao" + rawId +
               "&loginId=cntaobaoviewer2&type=1&jumpFrom=aliwwserver";
    }

    // Every page of a buyer "tom" whose detail page is layout A.
    void serveAll()
    {
        const QString host = "http://" + m_site->hostPort();
        m_site->setPage("/soft/qvdl/fmj2.htm", gbk(configText()));
        m_site->setPage("/soft/qvdl/city.txt", gbk(areaTable()));
        m_site->setPage("/search?q=tom&from=brelvon",
                        gbk("<ul><li class=\"member\"><a href=\"/u?uid=111\">TOM</a></li>"
                            "<li class=\"member\"><a href=\"/u?uid=222\"><em>to</em>m</a></li>"
                            "</ul>"));
        m_site->setPage("/detail/222.htm",
                        gbk("<div class=\"rateA\"><p>好评率：99.5%</p><b id=\"credit\">1,234</b>"
                            "<p>认证：<span>支付宝个人认证</span></p><p>中评：3<br>差评：1</p>"
                            "<a href=\"/given?rateListNo=778899\">给他人的评价</a></div>"));
        m_site->setPage("/given/neutral?no=778899",
                        gbk("<tr class=\"rate-neutral\"></tr><tr class=\"rate-neutral\"></tr>"));
        m_site->setPage("/given/bad?no=778899", gbk("auctionPrice auctionPrice auctionPrice"));
        m_site->setPage("/tradecard/nameCard.htm",
                        gbk("<p>注册时间：2005-03-12</p><p>来自：广东&nbsp;深圳</p>"
                            "<a class=\"icon-jianghu\" href=\"" +
                            host + "/jianghu/person.htm?id=9\">江湖</a>"));
        m_site->setPage(
            "/i/person.htm",
            gbk("<span class=\"nick\">小明</span><script>var areaCode=440305;</script>"));
        m_site->setPage("/tradecard/popupNameCard.htm", gbk("<p>买家好评率：98.76%</p>"));
    }

    QStringList pageTargets(const QString &rawId) const
    {
        return {"/search?q=tom&from=brelvon",
                "/detail/222.htm",
                "/given/neutral?no=778899",
                "/given/bad?no=778899",
                nameCardTarget(rawId),
                "/i/person.htm?id=9",
                popupTarget(rawId)};
    }

    static BuyerCreditRecord fullRecord()
    {
        BuyerCreditRecord r;
        r.buyerId = "tom";
        r.nick = "小明";
        r.regTime = "2005-03-12";
        r.address = "广东省南山区";
        r.verification = "支付宝认证";
        r.goodRate = "98.76";
        r.goodCount = "1,234";
        r.neutralCount = "3";
        r.badCount = "1";
        r.neutralGiven = "2";
        r.badGiven = "3";
        return r;
    }

private slots:
    void init()
    {
        m_site = new FixtureServer(this);
        m_second = new FixtureServer(this);
        QVERIFY(m_site->listen());
        QVERIFY(m_second->listen());
        m_settings = QuerySettings{m_site->hostPort(), m_second->hostPort(), m_site->hostPort(),
                                   "cntaobaoviewer1", "cntaobaoviewer2"};
        serveAll();
    }
    void cleanup()
    {
        delete m_site;
        delete m_second;
    }

    void firstAndLaterQueries()
    {
        QueryLookups query(m_settings);
        BuyerCreditRecord expected = fullRecord();
        expected.creditUrl = "http://" + m_site->hostPort() + "/detail/222.htm";

        QCOMPARE(query.run(" tom ").record, expected);
        QCOMPARE(m_site->requests(),
                 QStringList({"/soft/qvdl/fmj2.htm", "/soft/qvdl/city.txt"}) + pageTargets("tom"));
        QCOMPARE(m_second->totalRequests(), 0);

        m_site->clearRequests();
        QCOMPARE(query.run("tom").record, expected);
        QCOMPARE(m_site->requests(), pageTargets("tom"));
    }

    void buyerMissingFromSearchPage()
    {
        m_site->setPage("/search?q=tom&from=brelvon",
                        gbk("<li class=\"member\"><a href=\"/u?uid=111\">TOM</a></li>"));
        QueryLookups query(m_settings);
        query.ensureConfiguration();
        m_site->clearRequests();
        BuyerCreditRecord expected;
        expected.buyerId = "tom";
        expected.nick = "小明";
        expected.regTime = "2005-03-12";
        expected.address = "广东省南山区";
        expected.goodRate = "98.76";
        QCOMPARE(query.queryBuyer("tom").record, expected);
        QCOMPARE(m_site->requests(),
                 QStringList({"/search?q=tom&from=brelvon", nameCardTarget("tom"),
                              "/i/person.htm?id=9", popupTarget("tom")}));
    }

    void configurationFallbackHost()
    {
        m_site->setPage("/soft/qvdl/fmj2.htm", QByteArray()); // answers, but with nothing
        m_second->setPage("/soft_set/fmj2.htm", gbk(configText()));
        QueryLookups query(m_settings);
        QCOMPARE(query.run("tom").record.verification, "支付宝认证");
        QCOMPARE(m_second->requests(), QStringList{"/soft_set/fmj2.htm"});
        QCOMPARE(m_site->requests().mid(0, 3),
                 QStringList(
                     {"/soft/qvdl/fmj2.htm", "/soft/qvdl/city.txt", "/search?q=tom&from=brelvon"}));
    }

    void configurationWithoutBrelvonIgnored()
    {
        // A page that is not ours is not blank, so the fallback host is not asked either.
        m_site->setPage("/soft/qvdl/fmj2.htm", gbk(configText().replace("Brelvon", "Other")));
        QueryLookups query(m_settings);
        BuyerCreditRecord r = query.run("tom").record;
        QCOMPARE(r.creditUrl, "");
        QCOMPARE(r.goodRate, "98.76");
        // The area table is loaded all the same, but the area code's markers are configured.
        QCOMPARE(query.areaTable(), areaTable());
        QCOMPARE(r.address, "广东 深圳");
        QCOMPARE(query.config().entry(0), "");
        QCOMPARE(m_site->requests(),
                 QStringList({"/soft/qvdl/fmj2.htm", "/soft/qvdl/city.txt", nameCardTarget("tom"),
                              "/i/person.htm?id=9", popupTarget("tom")}));
        QCOMPARE(m_second->totalRequests(), 0);

        // Tried again on the next query, and taken once it is ours. Only the lookup that says
        // something about the buyer goes into the history.
        QTemporaryDir dir;
        SellerDatabase database;
        QVERIFY(database.open(dir.filePath("history.sqlite")));
        query.service().setDatabase(&database, true);
        QCOMPARE(query.lookup("tom").status, LookupStatus::NoConfiguration);
        QCOMPARE(database.lookupCount(), 0);
        serveAll();
        m_site->clearRequests();
        const LookupOutcome found = query.lookup("tom");
        QCOMPARE(found.status, LookupStatus::Found);
        QCOMPARE(database.lookupCount(), 1);
        r = found.result.record;
        QCOMPARE(r.verification, "支付宝认证");
        QCOMPARE(m_site->requests().mid(0, 3),
                 QStringList(
                     {"/soft/qvdl/fmj2.htm", "/soft/qvdl/city.txt", "/search?q=tom&from=brelvon"}));
        QCOMPARE(m_site->totalRequests(), 9);
        QCOMPARE(query.lookup("tom").previous->record, r); // the stored lookup comes back
    }

    void areaTableFallback_data()
    {
        QTest::addColumn<QByteArray>("secondTable");
        QTest::addColumn<QString>("address");
        QTest::newRow("fallback has it") << gbk(areaTable()) << "广东省南山区";
        QTest::newRow("both fail: name card address") << QByteArray() << "广东 深圳";
    }
    void areaTableFallback()
    {
        QFETCH(QByteArray, secondTable);
        QFETCH(QString, address);
        m_site->setPage("/soft/qvdl/city.txt", gbk("110000#北京市\r\n"));
        m_second->setPage("/soft/qvdl/city.txt", secondTable);
        QueryLookups query(m_settings);
        QCOMPARE(query.run("tom").record.address, address);
        QCOMPARE(m_second->requests(), QStringList{"/soft/qvdl/city.txt"});
        QCOMPARE(query.areaTable(), secondTable.isEmpty() ? QString() : areaTable());
    }

    void emptyDetailPage()
    {
        m_site->setPage("/detail/222.htm", QByteArray());
        QueryLookups query(m_settings);
        query.ensureConfiguration();
        m_site->clearRequests();
        const BuyerCreditRecord r = query.queryBuyer("tom").record;
        QCOMPARE((QStringList{r.goodCount, r.verification, r.creditUrl, r.neutralGiven, r.badGiven,
                              r.neutralCount, r.badCount}),
                 QStringList(7, QString()));
        QCOMPARE(r.goodRate, "98.76");
        QCOMPARE(m_site->requests(),
                 QStringList({"/search?q=tom&from=brelvon", "/detail/222.htm",
                              nameCardTarget("tom"), "/i/person.htm?id=9", popupTarget("tom")}));
    }

    void browserFallback()
    {
        m_site->setPage("/detail/222.htm", QByteArray());
        m_site->setPage("/tradecard/popupNameCard.htm", gbk("<p>买家好评率：--%</p>"));
        FakeBrowser browser;
        browser.page = "<DIV class=rateA><P>好评率：97.5%</P><B id=credit>88</B>"
                       "<P>认证：<SPAN>手机认证</SPAN></P><A href=\"/given?rateListNo=778899\">";
        QueryLookups query(m_settings);
        query.setBrowser(&browser);
        const BuyerCreditRecord r = query.run("tom").record;
        const QString detail = "http://" + m_site->hostPort() + "/detail/222.htm";
        QCOMPARE(browser.loaded, QStringList{detail});
        QCOMPARE(r.goodCount, "88");
        QCOMPARE(r.verification, "手机认证");
        QCOMPARE(r.creditUrl, detail);
        QCOMPARE(r.neutralGiven, "2");
        QCOMPARE(r.badGiven, "3");
        QCOMPARE(r.goodRate, "97.5"); // the popup name card gave none
    }

    // A page the browser gave up for its size says so, and the query goes on without it.
    void browserTooLarge()
    {
        m_site->setPage("/detail/222.htm", QByteArray());
        FakeBrowser browser;
        browser.tooLarge = true;
        QueryLookups query(m_settings);
        query.setBrowser(&browser);
        const BuyerQueryResult r = query.run("tom");
        QCOMPARE(browser.loaded.size(), 1);
        QCOMPARE(r.record.verification, "");
        QVERIFY(std::any_of(r.pages.begin(), r.pages.end(), [](const PageResult &p) {
            return p.browser && p.summary().startsWith("browser too large ");
        }));
    }

    void noDetailAddressNoBrowser()
    {
        m_site->setPage("/search?q=tom&from=brelvon", QByteArray());
        FakeBrowser browser;
        browser.page = "<DIV class=rateA>";
        QueryLookups query(m_settings);
        query.setBrowser(&browser);
        QCOMPARE(query.run("tom").record.verification, "");
        QVERIFY(browser.loaded.isEmpty());
    }

    void idWithSpace()
    {
        m_site->setPage("/search?q=tom+cat&from=brelvon",
                        gbk("<li class=\"member\"><a href=\"/u?uid=222\">tom cat</a></li>"));
        QueryLookups query(m_settings);
        query.ensureConfiguration();
        m_site->clearRequests();
        const BuyerCreditRecord r = query.queryBuyer("tom cat").record;
        QCOMPARE(r.buyerId, "tom cat");
        QCOMPARE(r.goodCount, "1,234");
        // Every address carries the id in the search page's form.
        QStringList expected = pageTargets("tom+cat");
        expected[0] = "/search?q=tom+cat&from=brelvon";
        QCOMPARE(m_site->requests(), expected);
    }

    void chineseId()
    {
        // 淘宝 in code page 936 is CC D4 B1 A6.
        m_site->setPage("/search?q=%CC%D4%B1%A6&from=brelvon",
                        gbk("<li class=\"member\"><a href=\"/u?uid=222\">淘宝</a></li>"));
        QueryLookups query(m_settings);
        QCOMPARE(query.run("淘宝").record.goodCount, "1,234");
        QCOMPARE(m_site->requests().at(2), "/search?q=%CC%D4%B1%A6&from=brelvon");
        QVERIFY(m_site->requests().contains(nameCardTarget("%CC%D4%B1%A6")));
        QVERIFY(m_site->requests().contains(popupTarget("%CC%D4%B1%A6")));
    }

    // Whatever an id holds, it stays one value of the trade-card addresses: it adds no
    // parameter, cuts nothing off and is not read as an escape.
    void tradeCardIdsEncoded_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("sent");
        QTest::newRow("ampersand") << "tom&x=1"
                                   << "tom%26x%3D1";
        QTest::newRow("parameter") << "x&loginId=attacker"
                                   << "x%26loginId%3Dattacker";
        QTest::newRow("escape") << "tom%5f2008"
                                << "tom%255f2008";
        QTest::newRow("fragment") << "a#frag"
                                  << "a%23frag";
        QTest::newRow("stray percent") << "50%"
                                       << "50%25";
        QTest::newRow("plain") << "tb_01-a.b"
                               << "tb_01-a.b";
    }
    void tradeCardIdsEncoded()
    {
        QFETCH(QString, id);
        QFETCH(QString, sent);
        QueryLookups query(m_settings);
        query.ensureConfiguration();
        m_site->clearRequests();
        query.queryBuyer(id);
        const QStringList requests = m_site->requests();
        QVERIFY2(requests.contains(nameCardTarget(sent)), qPrintable(requests.join('\n')));
        QVERIFY2(requests.contains(popupTarget(sent)), qPrintable(requests.join('\n')));
    }

    // Addresses made from the configuration and from values cut out of pages are bounded: one
    // that would be longer than 8 KiB is never built nor requested, and the rest of the query
    // goes on.
    void oversizedAddressesNotRequested_data()
    {
        QTest::addColumn<QString>("entries"); // appended to the configuration
        QTest::addColumn<QString>("searchPage");
        QTest::addColumn<QString>("missingPath");
        const QString host = "http://{HOST}"; // the server of each test function
        const QString normalSearch = "<li class=\"member\"><a href=\"/u?uid=222\">tom</a></li>";
        const QString longNumber(2000, u'7');
        const QString longSearch =
            "<li class=\"member\"><a href=\"/u?uid=" + longNumber + "\">tom</a></li>";
        QTest::newRow("search: many {mjna}")
            << host + "/search?" + QString("q={mjna}&").repeated(20000) + "#0#" << normalSearch
            << "/search";
        QTest::newRow("detail: many {xyid}, long user number")
            << host + "/detail/" + QString("{xyid}").repeated(10000) + "#4#" << longSearch
            << "/detail/";
        QTest::newRow("detail: user number longer than an address")
            << QString()
            << "<li class=\"member\"><a href=\"/u?uid=" + QString(9000, u'7') + "\">tom</a></li>"
            << "/detail/";
        QTest::newRow("ratings given: many {urlno}")
            << host + "/given/neutral?" + QString("n={urlno}&").repeated(10000) + "#37#" + host +
                   "/given/bad?" + QString("n={urlno}&").repeated(10000) + "#39#"
            << normalSearch << "/given/";
    }
    void oversizedAddressesNotRequested()
    {
        QFETCH(QString, entries);
        QFETCH(QString, searchPage);
        QFETCH(QString, missingPath);
        m_site->setPage("/soft/qvdl/fmj2.htm",
                        gbk(configText() + QString(entries).replace("{HOST}", m_site->hostPort())));
        for (const QString &target : {QString("/search"), QString("/search?q=tom&from=brelvon")})
            m_site->setPage(target, gbk(searchPage));
        QueryLookups query(m_settings);
        const BuyerQueryResult result = query.run("tom");
        for (const PageResult &page : result.pages)
            QVERIFY2(page.address.size() <= 8192, qPrintable(page.address.left(80)));
        for (const QString &target : m_site->requests())
            QVERIFY2(!target.startsWith(missingPath), qPrintable(target.left(80)));
        // The trade-card pages are read all the same.
        QCOMPARE(result.record.regTime, "2005-03-12");
        QCOMPARE(result.record.goodRate, "98.76");
    }

    void noHosts()
    {
        QueryLookups query(QuerySettings{});
        const LookupOutcome outcome = query.lookup("tom");
        QCOMPARE(outcome.status, LookupStatus::NotConfigured);
        const BuyerCreditRecord r = outcome.result.record;
        BuyerCreditRecord expected;
        expected.buyerId = "tom";
        QCOMPARE(r, expected);
        QCOMPARE(m_site->totalRequests(), 0);
    }

    // The three chains at once give the same record from the same pages, and the page results
    // still come in the defined order.
    void parallelPagesSameRecord()
    {
        QueryLookups query(m_settings);
        query.setParallelPages(true);
        query.ensureConfiguration();
        m_site->clearRequests();
        const BuyerQueryResult result = query.queryBuyer("tom");
        BuyerCreditRecord expected = fullRecord();
        expected.creditUrl = "http://" + m_site->hostPort() + "/detail/222.htm";
        QCOMPARE(result.record, expected);
        QStringList sent = m_site->requests();
        QStringList targets = pageTargets("tom");
        sent.sort();
        targets.sort();
        QCOMPARE(sent, targets);
        QStringList order;
        QStringList expectedOrder;
        for (const PageResult &page : result.pages) {
            QCOMPARE(page.outcome, PageOutcome::Ok);
            order.append(QUrl(page.address).path());
        }
        for (const QString &target : pageTargets("tom"))
            expectedOrder.append(QUrl(target).path());
        QCOMPARE(order, expectedOrder);
    }

    // A search page that never ends, whatever its framing: the fetch gives up within its
    // bounds, memory stays small, and the buyer's other pages are still read.
    void hostileSearchPage_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("endless chunked body") << int(HostileServer::EndlessChunkedBody);
        QTest::newRow("endless header line") << int(HostileServer::EndlessHeaderLine);
    }
    void hostileSearchPage()
    {
        QFETCH(int, kind);
        HostileServer hostile{HostileServer::Kind(kind)};
        QVERIFY(hostile.listening());
        m_site->setPage("/soft/qvdl/fmj2.htm",
                        gbk(configText().replace("http://" + m_site->hostPort() + "/search",
                                                 hostile.url("/search"))));
        QueryLookups query(m_settings);
        const qint64 peakBefore = peakResidentKiB();
        const BuyerQueryResult result = query.run("tom");
        QVERIFY2(peakResidentKiB() - peakBefore < 100 * 1024,
                 qPrintable(QString::number(peakResidentKiB() - peakBefore)));
        QCOMPARE(result.record.regTime, "2005-03-12");
        QCOMPARE(result.record.goodRate, "98.76");
        QCOMPARE(result.pages.size(), 2 + 4); // configuration, area; search, card, personal, popup
        QCOMPARE(result.pages.at(2).outcome, PageOutcome::TooLarge);
        QVERIFY(result.pages.at(2).bytes <= kMaxFetchBodyBytes);
    }

    // A page that is the marketplace's login or check page is noted as blocked and not read, and
    // ends the buyer's query: its later pages are not asked for (the good rate falls back to the
    // detail page's own). A page that has its rule's markers is read whatever else it says.
    void blockedPages_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("configExtra");
        QTest::addColumn<QString>("blockedPage");
        QTest::addColumn<QStringList>("emptied");
        QTest::addColumn<QString>("goodRate");
        const QStringList card = {"regTime", "nick", "address"};
        QTest::newRow("name card is the login page") << "/tradecard/nameCard.htm"
                                                     << "<h3>亲，请登录</h3>"
                                                     << ""
                                                     << "nameCard" << card << "99.5";
        QTest::newRow("search page with a login link in its bar")
            << "/search?q=tom&from=brelvon"
            << "<a>请登录</a><li class=\"member\"><a href=\"/u?uid=222\">tom</a></li>"
            << ""
            << "" << QStringList{} << "98.76";
        QTest::newRow("detail page is a slider check, not for the browser")
            << "/detail/222.htm"
            << "请按住滑块，拖动到最右边"
            << ""
            << "detail"
            << QStringList{"goodCount", "verification", "creditUrl", "neutralGiven",
                           "badGiven",  "neutralCount", "badCount"} +
                   card
            << "";
        QTest::newRow("bad ratings given: a captcha counts nothing")
            << "/given/bad?no=778899"
            << "请输入验证码"
            << ""
            << "badGiven" << QStringList{"badGiven"} + card << "99.5";
        QTest::newRow("the configuration's own marker") << "/tradecard/popupNameCard.htm"
                                                        << "<p>安全检查中</p>"
                                                        << "安全检查#77#"
                                                        << "popup" << QStringList{} << "99.5";
    }
    void blockedPages()
    {
        QFETCH(QString, path);
        QFETCH(QString, body);
        QFETCH(QString, configExtra);
        QFETCH(QString, blockedPage);
        QFETCH(QStringList, emptied);
        QFETCH(QString, goodRate);
        m_site->setPage("/soft/qvdl/fmj2.htm", gbk(configText() + configExtra));
        m_site->setPage(path, gbk(body));
        FakeBrowser browser;
        browser.page = "<DIV class=rateA>";
        QueryLookups query(m_settings);
        query.setBrowser(&browser);
        query.ensureConfiguration();
        const BuyerQueryResult result = query.queryBuyer("tom");

        BuyerCreditRecord expected = fullRecord();
        expected.creditUrl = "http://" + m_site->hostPort() + "/detail/222.htm";
        expected.goodRate = goodRate;
        QString *fields[] = {&expected.regTime,      &expected.nick,         &expected.address,
                             &expected.goodCount,    &expected.verification, &expected.creditUrl,
                             &expected.neutralGiven, &expected.badGiven,     &expected.neutralCount,
                             &expected.badCount};
        const QStringList names = {"regTime",      "nick",      "address",      "goodCount",
                                   "verification", "creditUrl", "neutralGiven", "badGiven",
                                   "neutralCount", "badCount"};
        for (const QString &name : emptied)
            fields[names.indexOf(name)]->clear();
        QCOMPARE(result.record, expected);
        QVERIFY(browser.loaded.isEmpty());
        for (const PageResult &page : result.pages) {
            if (page.page == blockedPage) {
                QCOMPARE(page.outcome, PageOutcome::Blocked);
                QVERIFY(!page.error.isEmpty());
            } else {
                QCOMPARE(page.outcome, PageOutcome::Ok);
            }
        }
        const bool blockedSeen =
            std::any_of(result.pages.cbegin(), result.pages.cend(),
                        [](const PageResult &p) { return p.outcome == PageOutcome::Blocked; });
        QCOMPARE(blockedSeen, !blockedPage.isEmpty());
        if (!blockedPage.isEmpty()) // one page at a time: the blocked one was the last asked for
            QCOMPARE(result.pages.constLast().page, blockedPage);
    }

    // A page that was not read is no fact: an error status, a blank page or a page never asked
    // for leaves its fields unknown, and a search page that fails fails the lookup.
    void failedPagesStayUnknown_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<LookupStatus>("lookup");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QStringList>("emptied");
        const QStringList detailFields = {"goodCount", "verification", "creditUrl", "neutralGiven",
                                          "badGiven",  "neutralCount", "badCount"};
        QTest::newRow("search page 404")
            << "/search?q=tom&from=brelvon" << 404 << gbk("<p>页面不存在</p>")
            << LookupStatus::PagesFailed << "搜索页 HTTP 404" << detailFields;
        QTest::newRow("detail page 404")
            << "/detail/222.htm" << 404 << gbk("<p>认证：<span>没有认证</span></p>")
            << LookupStatus::PagesFailed << "信用页 HTTP 404" << detailFields;
        QTest::newRow("neutral given 500")
            << "/given/neutral?no=778899" << 500 << QByteArray("oops") << LookupStatus::PagesFailed
            << "HTTP 500" << QStringList{"neutralGiven"};
        QTest::newRow("bad given redirect not followed")
            << "/given/bad?no=778899" << 302 << QByteArray() << LookupStatus::PagesFailed
            << "HTTP 302" << QStringList{"badGiven"};
        QTest::newRow("bad given blank")
            << "/given/bad?no=778899" << 200 << QByteArray() << LookupStatus::PagesFailed << "空白"
            << QStringList{"badGiven"};
    }
    void failedPagesStayUnknown()
    {
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(LookupStatus, lookup);
        QFETCH(QString, said);
        QFETCH(QStringList, emptied);
        m_site->setPage(path, body, status);
        QueryLookups query(m_settings);
        const LookupOutcome outcome = query.lookup("tom");
        QCOMPARE(outcome.status, lookup);
        QVERIFY2(outcome.statusDetail.contains(said), qPrintable(outcome.statusDetail));

        BuyerCreditRecord expected = fullRecord();
        expected.creditUrl = "http://" + m_site->hostPort() + "/detail/222.htm";
        const QHash<QString, QString *> fields = {
            {"goodCount", &expected.goodCount}, {"verification", &expected.verification},
            {"creditUrl", &expected.creditUrl}, {"neutralGiven", &expected.neutralGiven},
            {"badGiven", &expected.badGiven},   {"neutralCount", &expected.neutralCount},
            {"badCount", &expected.badCount}};
        for (const QString &name : emptied)
            fields.value(name)->clear();
        QCOMPARE(outcome.result.record, expected);
        QVERIFY(!outcome.assessment.risk.reasons.contains("没有认证"));
    }

    // Pages in another encoding than code page 936 read the same, as they declare it.
    void declaredEncodingsReadTheSame_data()
    {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<bool>("utf8");
        QTest::addColumn<QString>("encoding");
        QTest::newRow("header utf-8")
            << QByteArray("text/html; charset=UTF-8") << QByteArray() << true << "utf-8";
        QTest::newRow("meta charset")
            << QByteArray("text/html") << QByteArray("<head><meta charset=\"utf-8\"></head>")
            << true << "utf-8";
        QTest::newRow("meta http-equiv")
            << QByteArray()
            << QByteArray("<meta http-equiv=\"Content-Type\" content=\"text/html; "
                          "charset=utf-8\">")
            << true << "utf-8";
        QTest::newRow("header wins over meta")
            << QByteArray("text/html;charset=gbk") << QByteArray("<meta charset=\"utf-8\">")
            << false << "gbk";
        QTest::newRow("gb18030") << QByteArray("text/html; charset=GB18030") << QByteArray()
                                 << false << "gb18030";
    }
    void declaredEncodingsReadTheSame()
    {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, head);
        QFETCH(bool, utf8);
        QFETCH(QString, encoding);
        // Every page served again in the encoding the row declares.
        const QString host = "http://" + m_site->hostPort();
        m_site->setPage("/soft/qvdl/fmj2.htm", gbk(configText()));
        const auto serve = [&](const QString &target, const QString &text) {
            FixtureResponse r;
            if (!contentType.isEmpty())
                r.headers.append({"Content-Type", contentType});
            r.body = head + (utf8 ? text.toUtf8() : gbk(text));
            m_site->setResponse(target, r);
        };
        serve("/search?q=tom&from=brelvon",
              "<ul><li class=\"member\"><a href=\"/u?uid=222\">tom</a></li></ul>");
        serve("/detail/222.htm",
              "<div class=\"rateA\"><p>好评率：99.5%</p><b id=\"credit\">1,234</b>"
              "<p>认证：<span>支付宝个人认证</span></p><p>中评：3<br>差评：1</p>"
              "<a href=\"/given?rateListNo=778899\">给他人的评价</a></div>");
        serve("/tradecard/nameCard.htm", "<p>注册时间：2005-03-12</p><p>来自：广东&nbsp;深圳</p>"
                                         "<a class=\"icon-jianghu\" href=\"" +
                                             host + "/jianghu/person.htm?id=9\">江湖</a>");
        serve("/i/person.htm",
              "<span class=\"nick\">小明</span><script>var areaCode=440305;</script>");
        serve("/tradecard/popupNameCard.htm", "<p>买家好评率：98.76%</p>");
        QueryLookups query(m_settings);
        const LookupOutcome outcome = query.lookup("tom");
        BuyerCreditRecord expected = fullRecord();
        expected.creditUrl = host + "/detail/222.htm";
        QCOMPARE(outcome.result.record, expected);
        QCOMPARE(outcome.status, LookupStatus::Found);
        for (const QString &page : {BuyerPage::Search, BuyerPage::Detail, BuyerPage::Personal}) {
            QCOMPARE(pageNamed(outcome.result.pages, page)->encoding, encoding);
            QCOMPARE(pageNamed(outcome.result.pages, page)->undecodable, 0);
        }
    }

    // Our site's configuration address hangs past its short wait and the fallback serves it: the
    // marketplace's pages on the same host are still read.
    void hangingConfigurationAddress()
    {
        FixtureResponse silent;
        silent.neverAnswer = true;
        m_site->setResponse("/soft/qvdl/fmj2.htm", silent);
        m_second->setPage("/soft_set/fmj2.htm", gbk(configText()));
        const FastClock clock(20);
        QueryLookups query(m_settings);
        const LookupOutcome outcome = query.lookup("tom");
        QCOMPARE(outcome.status, LookupStatus::Found);
        QCOMPARE(outcome.result.record.verification, "支付宝认证");
        QCOMPARE(m_site->requestCount("/soft/qvdl/fmj2.htm"), 2);
    }

    // The browser may be shown a login page where the fetch got nothing.
    void browserShownLoginPage()
    {
        m_site->setPage("/detail/222.htm", QByteArray());
        FakeBrowser browser;
        browser.page = "<DIV>请登录</DIV>";
        QueryLookups query(m_settings);
        query.setBrowser(&browser);
        const BuyerQueryResult result = query.run("tom");
        QCOMPARE(browser.loaded.size(), 1);
        QCOMPARE(result.record.verification, "");
        const auto detail = std::find_if(result.pages.cbegin(), result.pages.cend(),
                                         [](const PageResult &p) { return p.page == "detail"; });
        QVERIFY(detail != result.pages.cend());
        QCOMPARE(detail->outcome, PageOutcome::Blocked);
    }

    // Several buyers in flight finish in any order; the rows keep the order of the ids and equal
    // what one buyer at a time gives.
    void batchRowsInIdOrder()
    {
        const QStringList ids = {"slow", "quick", "middle", " last"};
        const int delays[] = {600, 0, 300, 0};
        for (int i = 0; i < ids.size(); ++i) {
            FixtureResponse card;
            card.body = gbk("<p>注册时间：200" + QString::number(i) + "-01-01</p>");
            card.delayMs = delays[i];
            m_site->setResponse(nameCardTarget(ids[i].trimmed()), card);
        }
        QList<LookupOutcome> oneByOne;
        for (int jobs : {1, 3}) {
            QueryLookups query(m_settings);
            BatchOptions options;
            options.jobs = jobs;
            CancelToken cancel;
            QStringList finishedOrder;
            LookupService::BatchProgress progress;
            progress.done = [&](int index, const LookupOutcome &) {
                finishedOrder.append(ids.at(index));
            };
            bool cancelled = true;
            const QList<LookupOutcome> rows =
                query.service().batch(ids, options, cancel, progress, &cancelled);
            QVERIFY(!cancelled);
            QCOMPARE(rows.size(), ids.size());
            for (int i = 0; i < ids.size(); ++i) {
                QCOMPARE(rows[i].id, ids[i]);
                QCOMPARE(rows[i].result.record.regTime, "200" + QString::number(i) + "-01-01");
            }
            if (jobs == 1) {
                oneByOne = rows;
                QCOMPARE(finishedOrder, ids);
            } else {
                QVERIFY2(finishedOrder != ids, qPrintable(finishedOrder.join(',')));
                for (int i = 0; i < ids.size(); ++i)
                    QCOMPARE(rows[i].result.record, oneByOne[i].result.record);
            }
        }
    }

    // Jobs that wait for tasks of their own never hold the pool up, however few threads it may
    // start, and it never starts more than it may.
    void taskPoolNestedWork_data()
    {
        QTest::addColumn<int>("maxThreads");
        QTest::newRow("one thread") << 1;
        QTest::newRow("three threads") << 3;
    }
    void taskPoolNestedWork()
    {
        QFETCH(int, maxThreads);
        TaskPool pool(maxThreads);
        std::atomic<int> leaves{0};
        std::vector<TaskPool::TaskHandle> jobs;
        for (int j = 0; j < 4; ++j)
            jobs.push_back(pool.submit([&] {
                std::vector<TaskPool::TaskHandle> chains;
                for (int c = 0; c < 3; ++c)
                    chains.push_back(pool.submit([&] {
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                        ++leaves;
                    }));
                for (const TaskPool::TaskHandle &chain : chains)
                    pool.wait(chain);
            }));
        for (const TaskPool::TaskHandle &job : jobs)
            pool.wait(job);
        QCOMPARE(leaves.load(), 12);
        QVERIFY(pool.threadCount() <= maxThreads);
        QVERIFY(pool.peakRunning() <= maxThreads);
    }

    // A trade-card host that accepts and never answers: the lookup ends by its deadline with what
    // the answering host gave kept, its name card a time-out and its popup card not waited on;
    // in a batch the later buyers probe the host with one request each and never ask the popup.
    void silentTradeCardHost()
    {
        FixtureResponse silent;
        silent.neverAnswer = true;
        FixtureServer card; // a host of its own: one that answered the lookup is never silent
        QVERIFY(card.listen());
        card.setResponse("/tradecard/nameCard.htm", silent);
        card.setResponse("/tradecard/popupNameCard.htm", silent);
        m_settings.tradeCardHost = card.hostPort();
        const FastClock clock(20);
        m_settings.lookupTimeoutSec = 10;
        QueryLookups query(m_settings);
        const LookupOutcome one = query.lookup("tom");
        QCOMPARE(one.status, LookupStatus::PagesFailed);
        QCOMPARE(one.result.record.goodCount, "1,234"); // the answering host's pages are kept
        QCOMPARE(pageNamed(one.result.pages, BuyerPage::NameCard)->outcome, PageOutcome::Timeout);
        QCOMPARE(pageNamed(one.result.pages, BuyerPage::Popup)->outcome, PageOutcome::HostSilent);
        QVERIFY(one.statusDetail.contains("主机无响应"));
        QCOMPARE(card.requestCount("/tradecard/popupNameCard.htm"), 0);

        card.clearRequests();
        CancelToken cancel;
        const QList<LookupOutcome> rows =
            query.service().batch({"tom", "tom", "tom", "tom"}, BatchOptions{}, cancel);
        QCOMPARE(rows.size(), 4);
        for (const LookupOutcome &row : rows) {
            QCOMPARE(row.result.record.goodCount, "1,234");
            QCOMPARE(pageNamed(row.result.pages, BuyerPage::Popup)->outcome,
                     PageOutcome::HostSilent);
        }
        // The first buyer waits out the host (at most two requests), each later one probes it once.
        QVERIFY(card.requestCount("/tradecard/nameCard.htm") <= 2 + 3);
        QCOMPARE(card.requestCount("/tradecard/popupNameCard.htm"), 0);
    }

    // A batch the marketplace blocks (its login page, HTTP 429, HTTP 503) pauses, tries the
    // blocked buyers again after the pause and ends with every row as without the block; a
    // marketplace that stays blocked leaves blocked rows after three tries.
    void blockedBatchTriesAgain_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("staysBlocked");
        const QByteArray login = gbk("<p>请登录后继续，拖动滑块完成验证</p>");
        QTest::newRow("login page") << 200 << login << false;
        QTest::newRow("HTTP 429") << 429 << QByteArray("slow down") << false;
        QTest::newRow("HTTP 503") << 503 << QByteArray() << false;
        QTest::newRow("stays blocked") << 200 << login << true;
    }
    void blockedBatchTriesAgain()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, staysBlocked);
        const QString search = "/search?q=tom&from=brelvon";
        FixtureResponse normal;
        normal.body = gbk("<ul><li class=\"member\"><a href=\"/u?uid=111\">TOM</a></li>"
                          "<li class=\"member\"><a href=\"/u?uid=222\"><em>to</em>m</a></li>"
                          "</ul>");
        m_site->setPage(search, body, status);
        const FastClock clock(100);
        m_settings.blockedPauseSec = 1;
        QueryLookups query(m_settings);
        BatchOptions options;
        options.jobs = 2;
        CancelToken cancel;
        QList<int> pauses;
        LookupService::BatchProgress progress;
        progress.paused = [&](int seconds, const QString &) {
            pauses.append(seconds);
            if (!staysBlocked)
                m_site->setResponse(search, normal); // the marketplace lets us in again
        };
        const QList<LookupOutcome> rows =
            query.service().batch({"tom", "tom", "tom"}, options, cancel, progress);
        QCOMPARE(rows.size(), 3);
        for (const LookupOutcome &row : rows)
            QCOMPARE(row.status, staysBlocked ? LookupStatus::Blocked : LookupStatus::Found);
        QVERIFY(!pauses.isEmpty());
        if (staysBlocked)
            QCOMPARE(m_site->requestCount(search), 3 * 3); // three tries each
    }

    // The pacing's answer to blocks: a pause that doubles for each block in a row (a block of a
    // request sent before the pause ended is the same block), half the buyers in flight; a clean
    // page ends the row, a clean buyer lets one more into flight.
    void batchPacingBacksOff()
    {
        qint64 now = 1000000;
        setFetchClock([&now] { return now; });
        const auto pacer = std::make_shared<RequestPacer>(0, 60);
        BatchPacing pacing(4, pacer);
        QList<int> pauses;
        pacing.setPausedListener([&](int seconds, const QString &) { pauses.append(seconds); });
        const auto page = [&](PageOutcome outcome, qint64 sentAt) {
            PageResult p;
            p.address = "http://market.test/x";
            p.outcome = outcome;
            p.sentAtMs = sentAt;
            pacer->pageRead(p);
        };
        page(PageOutcome::Blocked, now);
        page(PageOutcome::Blocked, now); // asked before the pause: the same block
        QCOMPARE(pauses, QList<int>{60});
        QCOMPARE(pacing.allowed(), 2);
        now += 61000;
        page(PageOutcome::Blocked, now);
        QCOMPARE(pauses, (QList<int>{60, 120}));
        QCOMPARE(pacing.allowed(), 1);
        now += 121000;
        page(PageOutcome::Ok, now);
        page(PageOutcome::Blocked, now);
        QCOMPARE(pauses.constLast(), 60);
        QCOMPARE(pacing.allowed(), 1); // never below one
        pacing.buyerDone(true);
        QCOMPARE(pacing.allowed(), 2);
        setFetchClock({});
    }

    // A batch given a journal takes the rows it holds and looks up only the others, adding each
    // as it finishes; the rows come in the order of the ids.
    void journalledBatchResumes()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("out.xlsx.journal");
        const QStringList ids = {"tom", "nobody", "tom"};
        BatchInputIdentity input;
        input.idCount = int(ids.size());
        BatchJournal journal;
        QString error;
        QVERIFY2(journal.create(path, input, {}, &error), qPrintable(error));
        JournalRow kept;
        kept.index = 1;
        kept.id = "nobody";
        kept.status = LookupStatus::NotFound;
        kept.result.record.buyerId = "nobody";
        kept.result.record.nick = "kept";
        QVERIFY(journal.append(kept));
        // A torn last line, as a kill while writing leaves it.
        QFile torn(path);
        QVERIFY(torn.open(QIODevice::Append));
        torn.write("{\"index\":0,\"id\":\"to");
        torn.close();

        BatchJournal resumed;
        QVERIFY2(resumed.open(path, &error), qPrintable(error));
        QCOMPARE(resumed.rows().size(), 1);
        QueryLookups query(m_settings);
        BatchOptions options;
        options.journal = &resumed;
        CancelToken cancel;
        const QList<LookupOutcome> rows = query.service().batch(ids, options, cancel);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[1].result.record.nick, "kept");
        QCOMPARE(rows[0].status, LookupStatus::Found);
        QCOMPARE(m_site->requestCount("/search"), 2);
        BatchJournal after;
        QVERIFY(after.open(path, &error));
        QCOMPARE(after.rows().size(), 3);
        QCOMPARE(after.rows().value(2).result.record, rows[2].result.record);
    }

    // Another program may plant a link or a pipe at the journal's name: a new journal is not
    // written through it, and an unfinished one is not read from it (a pipe would block the batch
    // for ever, a link to a device never end).
    void journalRefusesWhatIsNoFile_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::newRow("link to a file") << "file";
        QTest::newRow("link to nothing") << "dangling";
        QTest::newRow("link to /dev/zero") << "/dev/zero";
        QTest::newRow("pipe") << "fifo";
    }
    void journalRefusesWhatIsNoFile()
    {
        QFETCH(QString, planted);
        QTemporaryDir dir;
        const QString path = dir.filePath("out.xlsx.journal");
        const QString victim = dir.filePath("victim");
        if (planted == "fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else {
            if (planted == "file") {
                QFile file(victim);
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write("the seller's own");
            }
            QVERIFY(QFile::link(planted.startsWith('/') ? planted : victim, path));
        }
        BatchJournal journal;
        QString error;
        QVERIFY(!journal.open(path, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!journal.create(path, BatchInputIdentity{}, {}, &error));
        if (planted == "file") {
            QFile file(victim);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray("the seller's own"));
        } else {
            QVERIFY(!QFileInfo::exists(victim));
        }
    }

    // With reuseWithinMinutes, a batch takes a buyer found (or not found) that recently from the
    // history instead of asking the marketplace again, and its row says so.
    void batchReusesRecentLookups()
    {
        QTemporaryDir dir;
        SellerDatabase database;
        QVERIFY(database.open(dir.filePath("history.sqlite")));
        m_settings.reuseWithinMinutes = 10;
        m_site->setPage("/search?q=nobody&from=brelvon", gbk("<ul></ul>"));
        QueryLookups query(m_settings);
        query.service().setDatabase(&database, true);
        CancelToken cancel;
        const QList<LookupOutcome> first =
            query.service().batch({"tom", "nobody"}, BatchOptions{}, cancel);
        QCOMPARE(first[0].reusedMinutes, -1);
        m_site->clearRequests();
        const QList<LookupOutcome> again =
            query.service().batch({"tom", "nobody"}, BatchOptions{}, cancel);
        QCOMPARE(m_site->requestCount("/search"), 0);
        QCOMPARE(again[0].status, LookupStatus::Found);
        QCOMPARE(again[0].result.record, first[0].result.record);
        QCOMPARE(again[1].status, LookupStatus::NotFound);
        QCOMPARE(again[0].reusedMinutes, 0);
        QCOMPARE(batchRows(again)[0].reusedMinutes, 0);
    }

    // A cancelled batch stops starting buyers and reports it; a buyer cut short is no row.
    void batchCancelled()
    {
        FixtureResponse silent;
        silent.neverAnswer = true;
        m_site->setResponse("/tradecard/popupNameCard.htm", silent);
        QueryLookups query(m_settings);
        BatchOptions options;
        options.jobs = 2;
        CancelToken cancel;
        int started = 0;
        LookupService::BatchProgress progress;
        progress.started = [&](int, int, const QString &) { ++started; };
        std::thread owner([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            cancel.cancel();
        });
        bool cancelled = false;
        const QList<LookupOutcome> rows =
            query.service().batch({"a", "b", "c", "d", "e"}, options, cancel, progress, &cancelled);
        owner.join();
        QVERIFY(cancelled);
        QVERIFY(rows.isEmpty());
        QCOMPARE(started, 2);
    }
};

QTEST_MAIN(TestBuyerQuery)

#include "test_buyerquery.moc"
