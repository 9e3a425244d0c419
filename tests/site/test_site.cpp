// The bundled site over real loopback HTTP: every kind of page, its own address in the texts it
// serves, the query strings of the configured templates mapped to the demo buyers, the data
// files' formats, and the demo buyers read page by page with the configured markers. Also: this
// site and the tests' fixture server answer while the thread that owns them blocks.

#include "demosite/demosite.h"
#include "demosite/sitepages.h"
#include "directfetch.h"
#include "engine/pagerules.h"
#include "engine/queryconfig.h"
#include "fixtureserver.h"
#include "querylookups.h"
#include "web/codepage936.h"
#include "web/fetchclock.h"
#include "web/fetchlimits.h"
#include "web/fetchpage.h"
#include "web/texthelpers.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <vector>

#include <unistd.h>

namespace {

// Entries of the query configuration that the page rules read, ours (71 to 76) included.
const QList<int> kConfigEntries = {0,  4,  5,  6,  7,  8,  9,  10, 14, 15, 16, 17, 18, 19, 24,
                                   25, 26, 27, 28, 29, 31, 32, 33, 34, 35, 36, 37, 38, 39, 61,
                                   62, 63, 64, 65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 75, 76};

// Reads an indexed list (value "#" index "#" ...) into a map; pairs with a bad index are skipped.
QMap<int, QString> readIndexedList(const QString &text, int maxIndex)
{
    QMap<int, QString> entries;
    const QStringList parts = text.split(u'#');
    for (qsizetype i = 0; i + 2 < parts.size(); i += 2) {
        bool ok = false;
        const int index = parts.at(i + 1).toInt(&ok);
        if (ok && index >= 0 && index <= maxIndex)
            entries.insert(index, parts.at(i));
    }
    return entries;
}

QString fetch(const QString &address)
{
    return FetchPage(address, FetchWait::Long, directFetch());
}

struct Raw
{
    int status = 0;
    QByteArray body;
};

// One GET with our own User-Agent, for what FetchPage does not show (status, browser pages).
Raw rawGet(const QString &address, const QByteArray &userAgent = QByteArray())
{
    QNetworkAccessManager nam;
    QNetworkRequest request{QUrl(address)};
    if (!userAgent.isEmpty())
        request.setHeader(QNetworkRequest::UserAgentHeader, userAgent);
    QNetworkReply *reply = nam.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    Raw r;
    r.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    r.body = reply->readAll();
    delete reply;
    return r;
}

const QByteArray kBrowserAgent = "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like "
                                 "Gecko) Chrome/108.0 Safari/537.36";

// How a browser writes the body back out: lower-case tag and attribute names, every attribute
// value in double quotes, "&" in attribute values as "&amp;".
QString asBrowserText(const QString &page)
{
    static const QRegularExpression tag(QStringLiteral("<(/?)([A-Za-z][A-Za-z0-9]*)([^>]*)>"));
    static const QRegularExpression attr(QStringLiteral("([A-Za-z-]+)=(\"[^\"]*\"|[^\\s>\"]+)"));
    const qsizetype bodyAt = page.indexOf(QLatin1String("<BODY>"), 0, Qt::CaseInsensitive);
    const QString body = page.mid(bodyAt + 6);
    QString out;
    qsizetype last = 0;
    auto it = tag.globalMatch(body);
    while (it.hasNext()) {
        const auto m = it.next();
        out += body.mid(last, m.capturedStart() - last);
        QString attrs = m.captured(3);
        QString rebuilt;
        auto at = attr.globalMatch(attrs);
        while (at.hasNext()) {
            const auto a = at.next();
            QString value = a.captured(2);
            if (value.startsWith(u'"'))
                value = value.mid(1, value.size() - 2);
            value.replace(QLatin1String("&amp;"), QLatin1String("&"));
            value.replace(QLatin1String("&"), QLatin1String("&amp;"));
            rebuilt += u' ' + a.captured(1).toLower() + QLatin1String("=\"") + value + u'"';
        }
        out += u'<' + m.captured(1) + m.captured(2).toLower() + rebuilt + u'>';
        last = m.capturedEnd();
    }
    out += body.mid(last);
    return out;
}

// The embedded browser's stand-in: fetches with a browser's User-Agent and hands back the
// body as a browser writes it.
class FakeBrowser : public DetailPageBrowser
{
public:
    QString loadBodyHtml(const QString &address, const CancelToken *) override
    {
        ++loads;
        return asBrowserText(decode936(rawGet(address, kBrowserAgent).body));
    }
    int loads = 0;
};

QStringList fields(const BuyerCreditRecord &r)
{
    return {r.buyerId,   r.nick,         r.regTime,  r.address,      r.verification, r.goodRate,
            r.goodCount, r.neutralCount, r.badCount, r.neutralGiven, r.badGiven,     r.creditUrl};
}

const QStringList kFieldNames = {"buyerId",      "nick",         "regTime",   "address",
                                 "verification", "goodRate",     "goodCount", "neutralCount",
                                 "badCount",     "neutralGiven", "badGiven",  "creditUrl"};

QString cut(const QString &page, const QueryConfig &cfg, int a, int b, int e)
{
    return CleanText(CutText(page, cfg.entry(a), cfg.entry(b), cfg.entry(e)));
}

// A GET by a client that blocks this thread: no event loop runs meanwhile.
QByteArray blockingGet(quint16 port, const QByteArray &target)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write("GET " + target + " HTTP/1.1\r\nConnection: close\r\n\r\n");
    QByteArray answer;
    while (socket.waitForReadyRead(5000))
        answer += socket.readAll();
    return answer + socket.readAll();
}

} // namespace

class TestSite : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void servesEveryKindOfPage_data();
    void servesEveryKindOfPage();
    void unknownPathsGet404_data();
    void unknownPathsGet404();
    void configurationHasEveryEntry();
    void startupListSlots();
    void startupListVersionOverride();
    void areaTableIsGbkWithCrlfLines();
    void searchMapsEncodedIds_data();
    void searchMapsEncodedIds();
    void tradeCardsMapEncodedIds_data();
    void tradeCardsMapEncodedIds();
    void browserOnlyDetailPage();
    void browserTextMarkers();
    void badRequests_data();
    void badRequests();
    void delayIsHonoured();
    void pipelinedRequests();
    void idleConnectionsClosed();
    void connectionLimit();
    void descriptorLimitKeepsCpuIdle();
    void serversAnswerWhileTheOwnerBlocks();
    void fixtureAnswerModes_data();
    void fixtureAnswerModes();
    void demoBuyerRecords_data();
    void demoBuyerRecords();
    void browserReadsTheBrowserOnlyPage();
    void rateLimitAndSilentHost();
    void budget_data();
    void budget();

private:
    DemoSite m_site;
    QString m_host;
    QString url(const QString &path) const { return QStringLiteral("http://") + m_host + path; }
    QueryConfig config() const
    {
        QueryConfig cfg;
        cfg.readIndexedList(fetch(url(QStringLiteral("/soft/qvdl/fmj2.htm"))));
        return cfg;
    }
    void checkRecord(const BuyerCreditRecord &record, QStringList expected) const;
};

void TestSite::initTestCase()
{
    QVERIFY(m_site.start());
    m_host = m_site.hostPort();
    QVERIFY(m_host.startsWith(QLatin1String("127.0.0.1:")));
    QCOMPARE(m_site.hostPort(), QStringLiteral("127.0.0.1:%1").arg(m_site.port()));
}

void TestSite::servesEveryKindOfPage_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");  // text the page holds
    QTest::addColumn<bool>("namesTheSite"); // the page links back to the site itself

    QTest::newRow("configuration") << "/soft/qvdl/fmj2.htm"
                                   << "Brelvon" << true;
    QTest::newRow("configuration fallback") << "/soft_set/fmj2.htm"
                                            << "Brelvon" << true;
    QTest::newRow("start-up list") << "/soft/qvdl/zkrap2.htm"
                                   << "使用教程" << true;
    QTest::newRow("start-up list fallback") << "/soft/wrub/zkrap2.htm"
                                            << "Brelvon" << true;
    QTest::newRow("area table") << "/soft/qvdl/city.txt"
                                << "440000#广东省\r\n"
                                << false;
    QTest::newRow("home") << "/"
                          << "Brelvon" << true;
    QTest::newRow("help") << "/soft/help.htm"
                          << "帮助" << true;
    QTest::newRow("style sheet") << "/css/market.css"
                                 << "member-item" << false;
    QTest::newRow("search") << "/member/search.htm?nick=xiaoyu&search_type=user"
                            << "共找到 <strong>1</strong> 位会员" << true;
    QTest::newRow("detail layout A") << "/rate/user-rate-UvGN8MGIyvFgT.htm"
                                     << "买家好评率：" << true;
    QTest::newRow("detail layout B") << "/rate/user-rate-UOmQ0MGH4OmcT.htm"
                                     << "收到好评" << true;
    QTest::newRow("neutral given") << "/rate/given_list.htm?user_id=51840922&result=0"
                                   << "title=\"中评\"" << true;
    QTest::newRow("bad given") << "/rate/given_list.htm?user_id=51840922&result=-1"
                               << "auctionPrice" << true;
    QTest::newRow("given, none") << "/rate/given_list.htm?user_id=63012877&result=-1"
                                 << "暂时没有评价" << true;
    QTest::newRow("name card") << "/tradecard/nameCard.htm?uid=cntaobaoxiaoyu_2008&type=0"
                               << "注册时间：2006-03-15<" << true;
    QTest::newRow("popup name card") << "/tradecard/popupNameCard.htm?uid=cntaobaoxiaoyu_2008"
                                     << "买家好评率：97.71%" << true;
    QTest::newRow("personal page") << "/i/member/home.htm?user_id=82735501"
                                   << "<h2 class=\"nick\">小宇</h2>" << true;
}

void TestSite::servesEveryKindOfPage()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QFETCH(bool, namesTheSite);
    const Raw raw = rawGet(url(path));
    QCOMPARE(raw.status, 200);
    const QString page = decode936(raw.body);
    QVERIFY2(page.contains(expected), qPrintable(page.left(400)));
    QVERIFY(!page.contains(QLatin1String("{SITE}")));
    QCOMPARE(page.contains(QLatin1String("http://") + m_host + u'/'), namesTheSite);
    QCOMPARE(fetch(url(path)), page);
}

void TestSite::unknownPathsGet404_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("unknown page") << "/nothing/here.htm";
    QTest::newRow("template folder") << "/market/search.htm";
    QTest::newRow("member data") << "/market/members.json";
    QTest::newRow("unknown rate page") << "/rate/user-rate-XXXXXXXXXXXXX.htm";
    QTest::newRow("decoy rate page") << "/rate/user-rate-UMGcWMFcYvmQ0.htm";
    QTest::newRow("unknown personal page") << "/i/member/home.htm?user_id=1";
    QTest::newRow("received list") << "/rate/given_list.htm?user_id=82735501&result=1";
}

void TestSite::unknownPathsGet404()
{
    QFETCH(QString, path);
    const Raw raw = rawGet(url(path));
    QCOMPARE(raw.status, 404);
    const QString page = decode936(raw.body);
    QVERIFY(page.contains(QStringLiteral("页面不存在")));
    QVERIFY(page.contains(QLatin1String("http://") + m_host + u'/'));
}

void TestSite::configurationHasEveryEntry()
{
    const QString text = fetch(url(QStringLiteral("/soft/qvdl/fmj2.htm")));
    QVERIFY(trimSpaces(text).contains(QLatin1String("Brelvon")));
    QCOMPARE(fetch(url(QStringLiteral("/soft_set/fmj2.htm"))), text);
    QueryConfig cfg;
    cfg.readIndexedList(text);
    for (int index : kConfigEntries) {
        QVERIFY2(!cfg.entry(index).isEmpty(), qPrintable(QString::number(index)));
        // A line break in a marker would have to be on the page too.
        QVERIFY2(!cfg.entry(index).contains(u'\n') && !cfg.entry(index).contains(u'\r'),
                 qPrintable(QString::number(index)));
    }
    const QString base = QLatin1String("http://") + m_host + u'/';
    QVERIFY(cfg.entry(0).startsWith(base) && cfg.entry(0).contains(QLatin1String("{mjna}")));
    QVERIFY(cfg.entry(4).startsWith(base) && cfg.entry(4).contains(QLatin1String("{xyid}")));
    QVERIFY(cfg.entry(37).startsWith(base) && cfg.entry(37).contains(QLatin1String("{urlno}")));
    QVERIFY(cfg.entry(39).startsWith(base) && cfg.entry(39).contains(QLatin1String("{urlno}")));
    QCOMPARE(cfg.entry(67).size(), 1);
}

void TestSite::startupListSlots()
{
    const QString text = fetch(url(QStringLiteral("/soft/qvdl/zkrap2.htm")));
    QVERIFY(trimSpaces(text).contains(QLatin1String("Brelvon")));
    QCOMPARE(fetch(url(QStringLiteral("/soft/wrub/zkrap2.htm"))), text);
    const QMap<int, QString> slotTexts = readIndexedList(text, 21);
    QCOMPARE(trimSpaces(slotTexts.value(0)), QStringLiteral("bb1.0"));
    for (int caption : {1, 3, 5, 7, 9, 11, 13, 17}) {
        QVERIFY(!isBlank(slotTexts.value(caption)));
        QVERIFY(!slotTexts.value(caption).contains(u'\n'));
    }
    for (int address : {2, 4, 6, 8, 10, 12, 14, 15, 16, 18}) {
        const QString a = slotTexts.value(address);
        QVERIFY2(a.startsWith(QLatin1String("http://") + m_host + u'/'), qPrintable(a));
        QCOMPARE(rawGet(a).status, 200);
    }
}

void TestSite::startupListVersionOverride()
{
    DemoSite site;
    site.setVersionText(QStringLiteral("bb2.0"));
    QVERIFY(site.start());
    const QString text = FetchPage(QLatin1String("http://") + site.hostPort() +
                                       QLatin1String("/soft/qvdl/zkrap2.htm"),
                                   FetchWait::Short, directFetch());
    const QMap<int, QString> slotTexts = readIndexedList(text, 21);
    QCOMPARE(slotTexts.value(0), QStringLiteral("bb2.0"));
    QCOMPARE(slotTexts.value(1), QStringLiteral("使用教程"));
}

void TestSite::areaTableIsGbkWithCrlfLines()
{
    const Raw raw = rawGet(url(QStringLiteral("/soft/qvdl/city.txt")));
    QCOMPARE(raw.status, 200);
    const QString table = decode936(raw.body);
    QVERIFY(!table.contains(QChar::ReplacementCharacter));
    QCOMPARE(encode936(table), raw.body); // nothing lost both ways: valid code page 936
    QVERIFY(table.endsWith(QLatin1String("\r\n")));
    const QStringList lines = table.split(QLatin1String("\r\n"));
    QVERIFY(lines.size() > 3000);
    static const QRegularExpression line(QStringLiteral("^[1-9][0-9]{5}#[^#\\r\\n]+$"));
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        QVERIFY2(line.match(lines.at(i)).hasMatch(), qPrintable(lines.at(i)));
    QVERIFY(table.contains(QStringLiteral("广东")));
    QCOMPARE(LookUpArea(QStringLiteral("440000"), table), QStringLiteral("广东省"));
    QCOMPARE(LookUpArea(QStringLiteral("440300"), table), QStringLiteral("深圳市"));
    QCOMPARE(LookUpArea(QStringLiteral("330106"), table), QStringLiteral("西湖区"));
}

void TestSite::searchMapsEncodedIds_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("detailId"); // the rate page the matching entry names, or ""
    QTest::newRow("latin") << "xiaoyu_2008"
                           << "UvGN8MGIyvFgT";
    QTest::newRow("space") << "blue sky88"
                           << "UOmQ0MGH4OmcT";
    QTest::newRow("chinese") << "快乐的小猫"
                             << "UOmc4MmxYMFQY";
    QTest::newRow("after a case-different entry") << "tom.wang"
                                                  << "UMGcWMFcYvmQ4";
    QTest::newRow("not listed") << "hidden_buyer"
                                << "";
    QTest::newRow("no member") << "nobody_at_all"
                               << "";
}

void TestSite::searchMapsEncodedIds()
{
    QFETCH(QString, id);
    QFETCH(QString, detailId);
    const QueryConfig cfg = config();
    const QString page =
        fetch(QString(cfg.entry(0)).replace(QLatin1String("{mjna}"), EncodeQuery(id)));
    QVERIFY(page.contains(QStringLiteral("搜索“") + id.toHtmlEscaped() + QStringLiteral("”")));
    const QString expected = detailId.isEmpty() ? QString()
                                                : QLatin1String("http://") + m_host +
                                                      QLatin1String("/rate/user-rate-") + detailId +
                                                      QLatin1String(".htm");
    QCOMPARE(searchPageRule(page, id, cfg).detailAddress, expected);
}

void TestSite::tradeCardsMapEncodedIds_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("regTime"); // "" for a member the site does not know
    QTest::newRow("latin") << "xiaoyu_2008"
                           << "2006-03-15";
    QTest::newRow("space") << "blue sky88"
                           << "2007-08-02";
    QTest::newRow("chinese") << "快乐的小猫"
                             << "2009-02-14";
    QTest::newRow("not listed") << "hidden_buyer"
                                << "2005-06-30";
    QTest::newRow("case differs") << "Xiaoyu_2008"
                                  << "";
    QTest::newRow("search-only member") << "Tom.Wang"
                                        << "";
}

void TestSite::tradeCardsMapEncodedIds()
{
    QFETCH(QString, id);
    QFETCH(QString, regTime);
    // The id as the program sends it: EncodeQuery's GBK escapes, "+" for a space.
    const QString card =
        fetch(url(QStringLiteral("/tradecard/nameCard.htm?jumpFrom=wwclient&"
                                 "signmode=im&loginId=cntaobaodemo&uid=cntaobao")) +
              EncodeQuery(id) + QStringLiteral("&type=0&showtype=1"));
    QVERIFY(!card.isEmpty());
    QCOMPARE(CleanText(CutText(card, QStringLiteral("注册时间"), QStringLiteral("："),
                               QStringLiteral("<"))),
             regTime);
    const QString popup = fetch(url(QStringLiteral("/tradecard/popupNameCard.htm?uid=cntaobao")) +
                                EncodeQuery(id) + QStringLiteral("&loginId=cntaobaodemo&type=1"));
    QCOMPARE(popup.contains(QStringLiteral("买家好评率")), !regTime.isEmpty());
    // UTF-8 escapes (as a browser sends the raw id) name the same member.
    const QString utf8 = fetch(url(QStringLiteral("/tradecard/popupNameCard.htm?uid=cntaobao")) +
                               QString::fromLatin1(QUrl::toPercentEncoding(id)) +
                               QStringLiteral("&loginId=cntaobaodemo&type=1"));
    QCOMPARE(utf8, popup);
}

void TestSite::browserOnlyDetailPage()
{
    const QString address = url(QStringLiteral("/rate/user-rate-UMFxbOmNGvGkY.htm"));
    QCOMPARE(fetch(address), QString());
    const Raw plain = rawGet(address, "Mozilla/5.0");
    QCOMPARE(plain.status, 200);
    QVERIFY(plain.body.isEmpty());
    const Raw browser = rawGet(address, kBrowserAgent);
    QCOMPARE(browser.status, 200);
    QVERIFY(decode936(browser.body).contains(QStringLiteral("<STRONG class=rate-num>96.92%<")));
}

void TestSite::browserTextMarkers()
{
    const QueryConfig cfg = config();
    struct Case
    {
        QString xyid, goodCount, verification, rate;
    };
    // A browser-only page and one page of each layout, as the browser writes them back.
    const QList<Case> cases = {{"UMFxbOmNGvGkY", "63", "支付宝认证", "96.92"},
                               {"UvGN8MGIyvFgT", "128", "支付宝认证", "97.71"},
                               {"UOmQ0MGH4OmcT", "356", "手机认证", "98.07"}};
    for (const Case &c : cases) {
        const QString raw = decode936(
            rawGet(url(QStringLiteral("/rate/user-rate-%1.htm").arg(c.xyid)), kBrowserAgent).body);
        const QString text = asBrowserText(raw);
        QVERIFY(text != raw);
        QCOMPARE(text.contains(cfg.entry(5)), raw.contains(cfg.entry(5))); // same layout
        // The fetched-text markers do not fit the browser's writing, and the other way round.
        QVERIFY(cut(text, cfg, 24, 25, 26).isEmpty() && cut(raw, cfg, 24, 32, 33).isEmpty());
        const DetailPageResult browser = detailPageRule(text, DetailSource::Browser, cfg);
        const DetailPageResult fetched = detailPageRule(raw, DetailSource::Fetched, cfg);
        QCOMPARE(browser.goodCount, c.goodCount);
        QCOMPARE(browser.verification, c.verification);
        QCOMPARE(browser.goodRatePercent, c.rate);
        QCOMPARE(browser.goodCount, fetched.goodCount);
        QCOMPARE(browser.verification, fetched.verification);
        QCOMPARE(browser.goodRatePercent, fetched.goodRatePercent);
        QCOMPARE(browser.ratingListNumber, fetched.ratingListNumber);
        QCOMPARE(browser.neutralCount, fetched.neutralCount);
        QCOMPARE(browser.badCount, fetched.badCount);
    }
}

void TestSite::badRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("statusLine");
    QTest::newRow("post") << QByteArray("POST /soft/help.htm HTTP/1.1\r\nHost: x\r\n\r\n")
                          << QByteArray("HTTP/1.1 405 ");
    QTest::newRow("no target") << QByteArray("GET\r\n\r\n") << QByteArray("HTTP/1.1 400 ");
    QTest::newRow("absolute-form")
        << QByteArray("GET http://x/ HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 400 ");
    QTest::newRow("head") << QByteArray("HEAD /soft/help.htm HTTP/1.1\r\nConnection: close\r\n\r\n")
                          << QByteArray("HTTP/1.1 200 ");
    // One connection, two requests: both answered, in order, then closed as the second asks.
    QTest::newRow("keep-alive") << QByteArray(
                                       "GET /soft/help.htm HTTP/1.1\r\n\r\nGET /nope HTTP/1.1\r\n"
                                       "Connection: close\r\n\r\n")
                                << QByteArray("HTTP/1.1 200 ");
    QTest::newRow("endless head") << QByteArray(70 * 1024, 'a') << QByteArray("HTTP/1.1 431 ");
    QTest::newRow("LF line ends")
        << QByteArray("GET /soft/help.htm HTTP/1.1\nHost: x\nConnection: close\n\n")
        << QByteArray("HTTP/1.1 200 ");
}

void TestSite::badRequests()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, statusLine);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_site.port());
    QVERIFY(socket.waitForConnected(5000));
    socket.write(request);
    QByteArray answer;
    QEventLoop loop;
    connect(&socket, &QTcpSocket::readyRead, &loop, [&] { answer += socket.readAll(); });
    connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    answer += socket.readAll();
    QVERIFY2(answer.startsWith(statusLine), answer.left(80).constData());
    QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState);
    if (QByteArray(QTest::currentDataTag()) == "keep-alive") {
        QVERIFY(answer.contains("Connection: keep-alive\r\n"));
        QVERIFY(answer.indexOf("HTTP/1.1 404 ") > answer.indexOf("HTTP/1.1 200 "));
    }
    if (request.startsWith("HEAD")) {
        QVERIFY(answer.endsWith("\r\n\r\n"));
        QVERIFY(!answer.contains("Content-Length: 0\r\n"));
    }
}

void TestSite::delayIsHonoured()
{
    DemoSite site;
    QVERIFY(site.start(0, 300));
    QElapsedTimer timer;
    timer.start();
    const QString page =
        FetchPage(QLatin1String("http://") + site.hostPort() + QLatin1String("/soft/help.htm"),
                  FetchWait::Short, directFetch());
    QVERIFY(timer.elapsed() >= 300);
    QVERIFY(page.contains(QStringLiteral("帮助")));
}

namespace {

// Reads what the site sends on the socket until it closes the connection or the time is up.
QByteArray readUntilClosed(QTcpSocket &socket, int timeoutMs)
{
    QByteArray answer;
    QEventLoop loop;
    QObject::connect(&socket, &QTcpSocket::readyRead, &loop, [&] { answer += socket.readAll(); });
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (socket.state() == QAbstractSocket::ConnectedState)
        loop.exec();
    answer += socket.readAll();
    return answer;
}

bool connectTo(QTcpSocket &socket, quint16 port)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(5000);
}

} // namespace

// Many requests in one write are answered one after another, in order, however many there are.
void TestSite::pipelinedRequests()
{
    const int count = 20000;
    QTcpSocket socket;
    QVERIFY(connectTo(socket, m_site.port()));
    socket.write(QByteArray("HEAD /soft/help.htm HTTP/1.1\r\n\r\n").repeated(count) +
                 "HEAD /soft/help.htm HTTP/1.1\r\nConnection: close\r\n\r\n");
    const QByteArray answer = readUntilClosed(socket, 60000);
    QCOMPARE(answer.count("HTTP/1.1 200 "), count + 1);
    QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState);
}

// A connection that sends no complete request within the idle time is closed; one that does is
// served as before.
void TestSite::idleConnectionsClosed()
{
    DemoSite site;
    DemoSite::Limits limits;
    limits.idleTimeoutMs = 300;
    site.setLimits(limits);
    QVERIFY(site.start());
    QTcpSocket silent;
    QTcpSocket unfinished;
    QVERIFY(connectTo(silent, site.port()));
    QVERIFY(connectTo(unfinished, site.port()));
    unfinished.write("GET /soft/help.htm HTTP/1.1\r\nHost: x\r\n");
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(readUntilClosed(unfinished, 10000), QByteArray());
    QCOMPARE(readUntilClosed(silent, 10000), QByteArray());
    QVERIFY(timer.elapsed() < 9000);
    QTcpSocket served;
    QVERIFY(connectTo(served, site.port()));
    served.write("GET /soft/help.htm HTTP/1.1\r\nConnection: close\r\n\r\n");
    QVERIFY(readUntilClosed(served, 10000).startsWith("HTTP/1.1 200 "));
}

// Beyond the connection limit a new client is turned away at once, not queued for ever; once a
// connection goes, the next client is served.
void TestSite::connectionLimit()
{
    DemoSite site;
    DemoSite::Limits limits;
    limits.maxConnections = 3;
    site.setLimits(limits);
    QVERIFY(site.start());
    QTcpSocket held[3];
    for (QTcpSocket &socket : held) {
        QVERIFY(connectTo(socket, site.port()));
        socket.write("GET /soft/help.htm HTTP/1.1\r\n\r\n"); // kept open: HTTP/1.1
        QTRY_VERIFY(socket.bytesAvailable() > 0);
    }
    QTcpSocket turnedAway;
    QVERIFY(connectTo(turnedAway, site.port()));
    turnedAway.write("GET /soft/help.htm HTTP/1.1\r\nConnection: close\r\n\r\n");
    const QByteArray refused = readUntilClosed(turnedAway, 10000);
    QCOMPARE(turnedAway.state(), QAbstractSocket::UnconnectedState);
    QVERIFY2(refused.isEmpty() || refused.startsWith("HTTP/1.1 503 "), refused.constData());
    held[0].disconnectFromHost();
    QTRY_VERIFY(held[0].state() == QAbstractSocket::UnconnectedState);
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            QTcpSocket next;
            if (!connectTo(next, site.port()))
                return false;
            next.write("GET /soft/help.htm HTTP/1.1\r\nConnection: close\r\n\r\n");
            return readUntilClosed(next, 5000).startsWith("HTTP/1.1 200 ");
        }(),
        10000);
}

namespace {

// User and system CPU time of a process so far, in clock ticks.
qint64 cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLongLong() + fields.value(12).toLongLong(); // utime, stime
}

} // namespace

// With every descriptor it may have in use, the site waits instead of spinning, and serves new
// clients again once descriptors are free.
void TestSite::descriptorLimitKeepsCpuIdle()
{
    QProcess site;
    const auto stop = qScopeGuard([&] {
        site.kill();
        site.waitForFinished(5000);
    });
    site.start(QStringLiteral("/bin/sh"),
               {QStringLiteral("-c"), QStringLiteral("ulimit -n 32 && exec \"$0\""),
                QCoreApplication::applicationDirPath() + QStringLiteral("/brelvon-site")});
    QVERIFY(site.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(site.canReadLine(), 10000);
    const quint16 port = site.readLine().trimmed().split(':').value(1).toUShort();
    QVERIFY(port != 0);
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 40; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        QVERIFY(connectTo(*clients.back(), port)); // the kernel's backlog takes the surplus
        clients.back()->write("GET /soft/help.htm HTTP/1.1\r\n\r\n");
    }
    QTest::qWait(1000); // the accepted ones are answered; the rest wait in the backlog
    const qint64 before = cpuTicks(site.processId());
    QTest::qWait(1000);
    const qint64 spent = cpuTicks(site.processId()) - before;
    QVERIFY2(spent < sysconf(_SC_CLK_TCK) / 4, qPrintable(QString::number(spent)));
    clients.clear();
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            QTcpSocket next;
            if (!connectTo(next, port))
                return false;
            next.write("GET /soft/help.htm HTTP/1.1\r\nConnection: close\r\n\r\n");
            return readUntilClosed(next, 3000).startsWith("HTTP/1.1 200 ");
        }(),
        15000);
}

void TestSite::serversAnswerWhileTheOwnerBlocks()
{
    FixtureServer fixture;
    QVERIFY(fixture.listen());
    fixture.setPage(QStringLiteral("/page"), "fixture page");
    FixtureResponse held;
    held.delayMs = 60000;
    fixture.setResponse(QStringLiteral("/held"), held);
    // An answer held back holds up no other connection; the server stops with it still pending.
    QTcpSocket waiting;
    waiting.connectToHost(QHostAddress::LocalHost, fixture.port());
    QVERIFY(waiting.waitForConnected(5000));
    waiting.write("GET /held HTTP/1.1\r\n\r\n");
    QVERIFY(waiting.waitForBytesWritten(5000));
    const QByteArray answer = blockingGet(fixture.port(), "/page");
    QVERIFY2(answer.startsWith("HTTP/1.1 200 ") && answer.endsWith("fixture page"),
             answer.constData());

    DemoSite site;
    QVERIFY(site.start(0, 100));
    QVERIFY(blockingGet(site.port(), "/soft/help.htm").startsWith("HTTP/1.1 200 "));
}

// How the fixture server's answers arrive: the body after the head, and who closes.
void TestSite::fixtureAnswerModes_data()
{
    QTest::addColumn<FixtureResponse>("response");
    QTest::addColumn<QByteArray>("userAgent");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("closed");
    FixtureResponse page;
    page.body = "0123456789";
    FixtureResponse browserOnly = page;
    browserOnly.browserOnly = true;
    QTest::newRow("browser only, to a browser")
        << browserOnly << kBrowserAgent << page.body << true;
    QTest::newRow("browser only, to another client")
        << browserOnly << QByteArray("Brelvon") << QByteArray() << true;
    FixtureResponse cut = page;
    cut.closeMidBody = true;
    QTest::newRow("closed mid-body") << cut << QByteArray() << QByteArray("01234") << true;
    FixtureResponse stalled = page;
    stalled.stallMidBody = true;
    QTest::newRow("stalled mid-body") << stalled << QByteArray() << QByteArray("01234") << false;
}

void TestSite::fixtureAnswerModes()
{
    QFETCH(FixtureResponse, response);
    QFETCH(QByteArray, userAgent);
    QFETCH(QByteArray, body);
    QFETCH(bool, closed);
    FixtureServer fixture;
    QVERIFY(fixture.listen());
    fixture.setResponse(QStringLiteral("/page"), response);
    QTcpSocket socket;
    QVERIFY(connectTo(socket, fixture.port()));
    socket.write("GET /page HTTP/1.1\r\nUser-Agent: " + userAgent + "\r\n\r\n");
    const QByteArray answer = readUntilClosed(socket, 1000);
    QCOMPARE(answer.mid(answer.indexOf("\r\n\r\n") + 4), body);
    QCOMPARE(socket.state() == QAbstractSocket::UnconnectedState, closed);
    QCOMPARE(fixture.userAgents(), QList<QByteArray>{userAgent});
}

void TestSite::demoBuyerRecords_data()
{
    QTest::addColumn<QStringList>("expected"); // the twelve fields; {H} is the site's host:port
    auto row = [](const char *name, QStringList fields) { QTest::newRow(name) << fields; };
    row("Alipay verified, layout A",
        {"xiaoyu_2008", "小宇", "2006-03-15", "广东省深圳市", "支付宝认证", "97.71", "128", "2",
         "1", "2", "1", "http://{H}/rate/user-rate-UvGN8MGIyvFgT.htm"});
    row("phone verified, layout B, id with a space",
        {"blue sky88", "蓝天", "2007-08-02", "浙江省西湖区", "手机认证", "98.07", "356", "5", "2",
         "1", "0", "http://{H}/rate/user-rate-UOmQ0MGH4OmcT.htm"});
    row("not verified, no area code, rate from the detail page",
        {"tom.wang", "汤姆", "2008-11-20", "上海 浦东新区", "没有认证", "100.00", "12", "0", "0",
         "3", "2", "http://{H}/rate/user-rate-UMGcWMFcYvmQ4.htm"});
    row("not listed on the search page", {"hidden_buyer", "隐士", "2005-06-30", "北京市朝阳区", "",
                                          "98.88", "", "", "", "", "", ""});
    row("chinese member id",
        {"快乐的小猫", "小猫咪", "2009-02-14", "四川省锦江区", "支付宝认证", "97.92", "47", "1",
         "0", "0", "1", "http://{H}/rate/user-rate-UOmc4MmxYMFQY.htm"});
    row("detail page only for a browser",
        {"night_owl", "夜猫子", "2007-01-09", "辽宁省和平区", "", "96.92", "", "", "", "", "", ""});
    row("bad ratings given as a habit, date written in Chinese",
        {"bargain_hunter", "砍价王", "2009年5月20日", "江苏省鼓楼区", "没有认证", "62.50", "5", "1",
         "2", "1", "4", "http://{H}/rate/user-rate-UMmcYOmFYvmQ8.htm"});
    row("good rate on the rate page only, the --find example",
        {"careful_buyer", "细心人", "2008-04-18", "湖北省江岸区", "支付宝认证", "99.45", "181", "1",
         "0", "0", "0", "http://{H}/rate/user-rate-UOmNcMGFYvGQ2.htm"});
}

void TestSite::checkRecord(const BuyerCreditRecord &record, QStringList expected) const
{
    for (QString &field : expected)
        field.replace(QLatin1String("{H}"), m_host);
    const QStringList actual = fields(record);
    for (int i = 0; i < 12; ++i)
        QVERIFY2(actual.at(i) == expected.at(i),
                 qPrintable(kFieldNames.at(i) + QLatin1String(": ") + actual.at(i)));
}

void TestSite::demoBuyerRecords()
{
    QFETCH(QStringList, expected);
    QueryLookups query(demoSettings(m_host));
    checkRecord(query.run(expected.at(0)).record, expected);
    QVERIFY(!QTest::currentTestFailed());
    // A second query in the same run reads the same (configuration and area table kept).
    checkRecord(query.run(expected.at(0)).record, expected);
}

void TestSite::browserReadsTheBrowserOnlyPage()
{
    FakeBrowser browser;
    QueryLookups query(demoSettings(m_host));
    query.setBrowser(&browser);
    checkRecord(query.run(QStringLiteral("night_owl")).record,
                {"night_owl", "夜猫子", "2007-01-09", "辽宁省和平区", "支付宝认证", "96.92", "63",
                 "1", "1", "1", "1", "http://{H}/rate/user-rate-UMFxbOmNGvGkY.htm"});
    QCOMPARE(browser.loads, 1);
    // Pages the plain fetch reads never go to the browser.
    query.run(QStringLiteral("xiaoyu_2008"));
    QCOMPARE(browser.loads, 1);
}

// The site misbehaves on request: past its rate limit every marketplace page is the login page
// for a while (our own documents are never throttled), and its silent host accepts a request
// and never answers.
void TestSite::rateLimitAndSilentHost()
{
    DemoSite site;
    site.setRateLimit(1);
    QVERIFY(site.start());
    QVERIFY(site.startSilentHost());
    const QString search =
        "http://" + site.hostPort() + "/member/search.htm?nick=tom.wang&search_type=user";
    QVERIFY(!FetchPage(search, FetchWait::Short, directFetch()).contains(QStringLiteral("滑块")));
    QVERIFY(FetchPage(search, FetchWait::Short, directFetch()).contains(QStringLiteral("滑块")));
    QVERIFY(FetchPage(search, FetchWait::Short, directFetch()).contains(QStringLiteral("滑块")));
    QCOMPARE(site.rateLimitBlocks(), 1);
    QVERIFY(FetchPage("http://" + site.hostPort() + "/soft/qvdl/fmj2.htm", FetchWait::Short,
                      directFetch())
                .contains("Brelvon"));

    FetchLimits limits(fetchClockNow() + 200);
    FetchContext context = directFetch();
    context.limits = &limits;
    const PageResult silent = fetchPageResult(
        "http://" + site.silentHostPort() + "/tradecard/nameCard.htm", FetchWait::Long, context);
    QCOMPARE(silent.outcome, PageOutcome::Timeout);
    QCOMPARE(silent.attempts, 1);
}

QTEST_GUILESS_MAIN(TestSite)
// A budget serves its pages, then the login page; brelvon-site refuses a budget it cannot read.
void TestSite::budget_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("refusal"); // empty: starts
    QTest::newRow("two numbers") << QStringList{"--budget", "2/60"} << "--budget: not N/W/B";
    QTest::newRow("zero pages") << QStringList{"--budget", "0/60/5"} << "--budget: not N/W/B";
    QTest::newRow("words") << QStringList{"--budget", "a/b/c"} << "--budget: not N/W/B";
    QTest::newRow("with --rate-limit")
        << QStringList{"--budget", "2/60/5", "--rate-limit", "3"} << "one or the other";
    QTest::newRow("good") << QStringList{"--budget", "2/60/5"} << "";
}

void TestSite::budget()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, refusal);
    QProcess process;
    process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/brelvon-site"),
                  arguments);
    const auto stop = qScopeGuard([&] {
        process.kill();
        process.waitForFinished(5000);
    });
    if (!refusal.isEmpty()) {
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(QString::fromUtf8(process.readAllStandardError()).contains(refusal));
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(process.canReadLine(), 10000);
    const QString search = "http://" + QString::fromUtf8(process.readLine()).trimmed() +
                           "/member/search.htm?nick=tom.wang&search_type=user";
    QVERIFY(!FetchPage(search, FetchWait::Short, directFetch()).contains(QStringLiteral("滑块")));
    QVERIFY(!FetchPage(search, FetchWait::Short, directFetch()).contains(QStringLiteral("滑块")));
    QVERIFY(FetchPage(search, FetchWait::Short, directFetch()).contains(QStringLiteral("滑块")));
    QVERIFY(FetchPage(search, FetchWait::Short, directFetch())
                .contains(QStringLiteral("滑块"))); // blocked 5 s
}

#include "test_site.moc"
