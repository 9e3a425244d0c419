
#include "engine/pagerules.h"
#include "engine/queryconfig.h"

#include <QtTest>

namespace {

using Entries = QMap<int, QString>;

QueryConfig makeConfig(const Entries &entries)
{
    QueryConfig config;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        config.setEntry(it.key(), it.value());
    return config;
}

// Markers of the search page below: <li class="member"><a href="...?uid=N">NICK</a></li>
Entries searchEntries()
{
    return {{4, "http://market/detail/{xyid}.htm?u={xyid}"},
            {64, "<li class=\"member\">"},
            {65, "uid="},
            {66, "\""},
            {67, ">"},
            {68, "</a>"},
            {69, "<em>"},
            {70, "</em>"}};
}

QString member(const QString &number, const QString &nick)
{
    return QStringLiteral("<li class=\"member\"><a href=\"http://market/u?uid=%1\">%2</a></li>\n")
        .arg(number, nick);
}

// Markers of the detail pages below.
Entries detailEntries()
{
    return {{5, "rateA"},
            {6, "好评率："},
            {7, "%"},
            {8, "id=\"credit\""},
            {29, "id=credit"},
            {9, ">"},
            {10, "<"},
            {14, "好评率："},
            {31, "好评率(B)："},
            {15, ""},
            {16, "%"},
            {17, "好评数"},
            {18, "："},
            {19, "<"},
            {24, "认证："},
            {25, "<span>"},
            {26, "</span>"},
            {32, "<SPAN>"},
            {33, "</SPAN>"},
            {27, "支付宝"},
            {28, "手机"},
            {34, "rateListNo="},
            {36, "\""},
            {71, "中评"},
            {72, "："},
            {73, "<"},
            {74, "差评"},
            {75, "："},
            {76, "<"}};
}

} // namespace

class TestPageRules : public QObject
{
    Q_OBJECT
private slots:
    void indexedList_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<Entries>("expected"); // entries not named stay empty

        QTest::newRow("two pairs") << "a#0#b#4#" << Entries{{0, "a"}, {4, "b"}};
        QTest::newRow("later pair wins") << "x#3#y#3#" << Entries{{3, "y"}};
        QTest::newRow("line breaks belong to the value")
            << "a#1#\r\nb\r\nc#2#" << Entries{{1, "a"}, {2, "\r\nb\r\nc"}};
        QTest::newRow("text after the last # ignored") << "a#1#tail" << Entries{{1, "a"}};
        QTest::newRow("value without index skipped") << "a#1#b#" << Entries{{1, "a"}};
        QTest::newRow("index not a number skipped") << "a#x#b#2#" << Entries{{2, "b"}};
        QTest::newRow("index 91 skipped") << "a#91#b#90#" << Entries{{90, "b"}};
        QTest::newRow("negative index skipped") << "a#-1#b#0#" << Entries{{0, "b"}};
        QTest::newRow("empty index skipped") << "a##b#5#" << Entries{{5, "b"}};
        QTest::newRow("huge index skipped") << "a#99999999999#b#5#" << Entries{{5, "b"}};
        QTest::newRow("index with spaces and zeros") << "a# 07 #" << Entries{{7, "a"}};
        QTest::newRow("no # at all") << "Brelvon" << Entries{};
        QTest::newRow("empty value") << "#8#" << Entries{};
    }
    void indexedList()
    {
        QFETCH(QString, list);
        QFETCH(Entries, expected);
        QueryConfig config;
        config.setEntry(8, "before");
        config.readIndexedList(list);
        if (!list.contains("#8#"))
            expected.insert(8, "before");
        for (int i = 0; i < QueryConfig::kSize; ++i)
            QCOMPARE(config.entry(i), expected.value(i));
        QCOMPARE(config.entry(-1), QString());
        QCOMPARE(config.entry(91), QString());
    }

    void searchPage_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("buyerId");
        QTest::addColumn<Entries>("changes");
        QTest::addColumn<QString>("number");

        const QString two = member("111", "Tom") + member("222", "tom");
        QTest::newRow("first entry") << member("9", "tom") << "tom" << Entries{} << "9";
        QTest::newRow("case differs, later entry matches") << two << "tom" << Entries{} << "222";
        QTest::newRow("entries 69 and 70 removed")
            << member("5", "<em>to</em>m") << "tom" << Entries{} << "5";
        QTest::newRow("69 removed before 70")
            << member("5", "t</<em>em>om") << "tom" << Entries{} << "5";
        QTest::newRow("blank around nick does not match")
            << member("5", " tom") + member("6", "tom ") << "tom" << Entries{} << "";
        QTest::newRow("chinese nick")
            << member("77", "淘宝小店") << "淘宝小店" << Entries{} << "77";
        QTest::newRow("no entry") << "<html>nothing</html>"
                                  << "tom" << Entries{} << "";
        QTest::newRow("empty entry 64 finds nothing")
            << member("9", "tom") << "tom" << Entries{{64, ""}} << "";
        QTest::newRow("entry without 65 skipped")
            << "<li class=\"member\">advert</li>" + member("4", "tom") << "tom" << Entries{} << "4";
        QTest::newRow("entry 66 missing: no match")
            << member("9", "tom") << "tom" << Entries{{66, "|"}} << "";
        QTest::newRow("entry 68 before 67: no nick")
            << member("9", "tom") << "tom" << Entries{{68, "\""}} << "";
        QTest::newRow("first match wins")
            << member("1", "tom") + member("2", "tom") << "tom" << Entries{} << "1";
        QTest::newRow("empty page") << ""
                                    << "tom" << Entries{} << "";
        // A nick ends within its own entry: one without an end marker does not run on into the
        // next entry, which is read as usual.
        const QString unclosed = "<li class=\"member\"><a href=\"http://market/u?uid=1\">x";
        QTest::newRow("nick does not run into the next entry")
            << unclosed + member("2", "y")
            << unclosed.mid(unclosed.lastIndexOf("\">") + 2) +
                   member("2", "y").section("</a>", 0, 0)
            << Entries{} << "";
        QTest::newRow("next entry after an unclosed nick")
            << unclosed + member("2", "y") << "y" << Entries{} << "2";
    }
    void searchPage()
    {
        QFETCH(QString, page);
        QFETCH(QString, buyerId);
        QFETCH(Entries, changes);
        QFETCH(QString, number);
        Entries entries = searchEntries();
        entries.insert(changes);
        const SearchPageResult r = searchPageRule(page, buyerId, makeConfig(entries));
        QCOMPARE(r.userNumber, number);
        QCOMPARE(r.detailAddress,
                 number.isEmpty() ? QString()
                                  : QStringLiteral("http://market/detail/%1.htm?u=%1").arg(number));
    }

    void detailPage_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<bool>("browser");
        QTest::addColumn<Entries>("changes");
        QTest::addColumn<QStringList>("expected"); // goodCount, verification, list no, rate

        const QString a = "<div class=\"rateA\"><p>好评率：99.5%</p><b id=\"credit\">1,234</b>"
                          "<p>认证：<span>支付宝个人认证</span></p>"
                          "<a href=\"given.htm?rateListNo=778899\">rates</a>";
        const QString aBrowser = "<DIV class=rateA><P>好评率：99.5%</P><B id=credit>88</B>"
                                 "<P>认证：<SPAN>手机认证</SPAN></P>"
                                 "<A href=\"given.htm?rateListNo=42\">rates</A>";
        const QString b = "<p>好评率：97%</p><p>好评数：12</p><p>认证：<span>未认证</span></p>";

        QTest::newRow("layout A fetched")
            << a << false << Entries{} << QStringList{"1,234", "支付宝认证", "778899", "99.5"};
        QTest::newRow("layout A browser")
            << aBrowser << true << Entries{} << QStringList{"88", "手机认证", "42", "99.5"};
        QTest::newRow("layout A good count unchanged")
            << QString(a).replace("1,234", "lots") << false << Entries{}
            << QStringList{"lots", "支付宝认证", "778899", "99.5"};
        QTest::newRow("layout B") << b << false << Entries{}
                                  << QStringList{"12", "没有认证", "", "97"};
        QTest::newRow("layout B count not numeric")
            << QString(b).replace("12<", "12个<") << false << Entries{}
            << QStringList{"", "没有认证", "", "97"};
        QTest::newRow("layout B browser percentage")
            << "<p>好评率(B)：96%</p>好评率：1%" << true << Entries{}
            << QStringList{"", "没有认证", "", "96"};
        QTest::newRow("percentage not numeric")
            << "<p>好评率：--%</p>" << false << Entries{} << QStringList{"", "没有认证", "", ""};
        QTest::newRow("both 27 and 28") << "认证：<span>支付宝 手机</span>" << false << Entries{}
                                        << QStringList{"", "支付宝认证", "", ""};
        QTest::newRow("empty 27: any verification text")
            << "认证：<span>x</span>" << false << Entries{{27, ""}}
            << QStringList{"", "支付宝认证", "", ""};
        QTest::newRow("empty 27, no verification text")
            << "nothing" << false << Entries{{27, ""}} << QStringList{"", "没有认证", "", ""};
        QTest::newRow("empty 5: layout A")
            << "<b id=\"credit\">7</b>好评数：12<" << false << Entries{{5, ""}}
            << QStringList{"7", "没有认证", "", ""};
        QTest::newRow("entry 5 anywhere") << b + "<div class=\"rateA\">" << false << Entries{}
                                          << QStringList{"", "没有认证", "", ""};
    }
    void detailPage()
    {
        QFETCH(QString, page);
        QFETCH(bool, browser);
        QFETCH(Entries, changes);
        QFETCH(QStringList, expected);
        Entries entries = detailEntries();
        entries.insert(changes);
        const DetailPageResult r = detailPageRule(
            page, browser ? DetailSource::Browser : DetailSource::Fetched, makeConfig(entries));
        QCOMPARE((QStringList{r.goodCount, r.verification, r.ratingListNumber, r.goodRatePercent}),
                 expected);
    }

    void detailCounts()
    {
        const QString page = "<p>中评：3<br>差评：1</p>";
        QueryConfig config = makeConfig(detailEntries());
        DetailPageResult r = detailPageRule(page, DetailSource::Fetched, config);
        QCOMPARE(r.neutralCount, "3");
        QCOMPARE(r.badCount, "1");
        for (int i = 71; i <= 76; ++i)
            config.setEntry(i, "");
        r = detailPageRule(page, DetailSource::Fetched, config);
        QCOMPARE(r.neutralCount, "");
        QCOMPARE(r.badCount, "");
    }

    void ratingsGiven_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("marker");
        QTest::addColumn<QString>("count");
        QTest::newRow("three") << "auctionPrice x auctionPriceauctionPrice"
                               << kBadRatingsGivenMarker << "3";
        QTest::newRow("empty page") << "" << kBadRatingsGivenMarker << "0";
        QTest::newRow("blank page") << "   "
                                    << "x"
                                    << "0";
        QTest::newRow("none") << "<html></html>" << kBadRatingsGivenMarker << "0";
        QTest::newRow("not overlapping") << "aaaaa"
                                         << "aa"
                                         << "2";
        QTest::newRow("case sensitive") << "AuctionPrice" << kBadRatingsGivenMarker << "0";
        QTest::newRow("empty marker") << "abc"
                                      << ""
                                      << "0";
    }
    void ratingsGiven()
    {
        QFETCH(QString, page);
        QFETCH(QString, marker);
        QFETCH(QString, count);
        QCOMPARE(ratingsGivenCount(page, marker), count);
    }

    void nameCard_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("expected"); // regTime, address, personal page
        QTest::newRow("all")
            << "<p>注册时间：2005-03-12 </p><p>来自：广东&nbsp;深圳&nbsp;&nbsp;南山</p>"
               "<a class=\"icon-jianghu\" title=x href=\"http://jianghu.market/"
               "jianghu/p.htm\">江湖</a>"
            << QStringList{"2005-03-12", "广东 深圳  南山", "http://i.market/i/p.htm"};
        QTest::newRow("ascii colon") << "注册时间:2005<" << QStringList{"", "", ""};
        QTest::newRow("no icon") << "<a href=\"http://x/\">" << QStringList{"", "", ""};
        QTest::newRow("empty") << "" << QStringList{"", "", ""};
    }
    void nameCard()
    {
        QFETCH(QString, page);
        QFETCH(QStringList, expected);
        const NameCardResult r = nameCardRule(page);
        QCOMPARE((QStringList{r.regTime, r.address, r.personalUrl}), expected);
    }

    void personalPage_data()
    {
        QTest::addColumn<QString>("areaCode");
        QTest::addColumn<QString>("areaName");
        QTest::newRow("county") << "440305"
                                << "广东省南山区";
        QTest::newRow("province twice") << "440000"
                                        << "广东省广东省";
        QTest::newRow("unknown county") << "449999"
                                        << "广东省";
        QTest::newRow("not numeric") << "44x305"
                                     << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void personalPage()
    {
        QFETCH(QString, areaCode);
        QFETCH(QString, areaName);
        const QString table =
            "110000#北京市\r\n440000#广东省\r\n440300#深圳市\r\n440305#南山区\r\n";
        const QueryConfig config = makeConfig({{61, "areaCode"}, {62, "="}, {63, ";"}});
        const PersonalPageResult r = personalPageRule(
            "<span class=\"nick\"> 小明 </span><script>var areaCode=" + areaCode + ";</script>",
            config, table);
        QCOMPARE(r.nick, "小明");
        QCOMPARE(r.areaName, areaName);
    }

    void popupNameCard_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("goodRate");
        QTest::newRow("rate") << "<p>买家好评率： 98.76%</p>"
                              << "98.76";
        QTest::newRow("not numeric") << "买家好评率：--%"
                                     << "";
        QTest::newRow("ascii colon") << "买家好评率:98%"
                                     << "";
        QTest::newRow("none") << ""
                              << "";
    }
    void popupNameCard()
    {
        QFETCH(QString, page);
        QFETCH(QString, goodRate);
        QCOMPARE(popupNameCardRule(page), goodRate);
    }
};

QTEST_MAIN(TestPageRules)

#include "test_pagerules.moc"
