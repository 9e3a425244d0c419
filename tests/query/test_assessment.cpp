#include "files/querysettings.h"
#include "model/buyerassessment.h"
#include "model/lookupstatus.h"

#include <QtTest>

namespace {

const QDate kToday(2024, 6, 30);

// A buyer with nothing against them: every figure read, each clear of its threshold.
BuyerCreditRecord cleanRecord()
{
    BuyerCreditRecord r;
    r.buyerId = QStringLiteral("buyer");
    r.regTime = QStringLiteral("2020-01-01");
    r.verification = QStringLiteral("支付宝认证");
    r.goodRate = QStringLiteral("99.50");
    r.goodCount = QStringLiteral("200");
    r.badCount = QStringLiteral("1");
    r.neutralGiven = QStringLiteral("0");
    r.badGiven = QStringLiteral("0");
    return r;
}

using Change = std::function<void(BuyerCreditRecord &)>;

} // namespace

Q_DECLARE_METATYPE(Change)

class TestAssessment : public QObject
{
    Q_OBJECT

private slots:
    void creditLevel_data()
    {
        QTest::addColumn<QString>("good");
        QTest::addColumn<QString>("bad");
        QTest::addColumn<QString>("score");
        QTest::addColumn<QString>("level");
        const auto row = [](const char *good, const char *bad, const char *score,
                            const char *level) {
            QTest::addRow("%s-%s", good, bad) << good << bad << score << level;
        };
        // Each step's edges, then the counts as pages write them.
        row("3", "", "3", "");
        row("4", "", "4", "1心");
        row("10", "", "10", "1心");
        row("11", "", "11", "2心");
        row("250", "", "250", "5心");
        row("251", "", "251", "1钻");
        row("10,000", "", "10000", "5钻");
        row("10,001", "", "10001", "1冠");
        row("500000", "", "500000", "5冠");
        row("500001", "", "500001", "1金冠");
        row("10,000,000", "", "10000000", "4金冠");
        row("10,000,001", "", "10000001", "5金冠");
        row("1,234", "34", "1200", "3钻");
        row("2", "7", "-5", "");                 // negative
        row(" 12 ", " 1 ", "11", "2心");         // blanks around
        row("12", "--", "12", "2心");            // a bad count that is none counts 0
        row("", "1", "", "");                    // empty
        row("十二", "", "", "");                 // not numeric
        row("1,23", "", "", "");                 // misplaced separator
        row("12.5", "", "", "");                 // not a count
        row("99999999999999999999", "", "", ""); // past the range
    }
    void creditLevel()
    {
        QFETCH(QString, good);
        QFETCH(QString, bad);
        QFETCH(QString, score);
        QFETCH(QString, level);
        BuyerQueryResult result;
        result.record.goodCount = good;
        result.record.badCount = bad;
        const BuyerAssessment a = assessBuyer(result, RiskSettings{}, kToday);
        QCOMPARE(a.creditScoreText(), score);
        QCOMPARE(creditLevelText(a.creditLevel), level);
    }

    void registrationDate_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("date");
        QTest::newRow("dashes") << "2008-03-15" << QDate(2008, 3, 15);
        QTest::newRow("Chinese") << "2008年3月15日" << QDate(2008, 3, 15);
        QTest::newRow("slashes") << "2008/3/15" << QDate(2008, 3, 15);
        QTest::newRow("with a time") << " 2008-03-15 10:20:30" << QDate(2008, 3, 15);
        QTest::newRow("no such day") << "2008-02-30" << QDate();
        QTest::newRow("mixed separators") << "2008/3-15" << QDate();
        QTest::newRow("no 日") << "2008年3月15" << QDate();
        QTest::newRow("trailing text") << "2008-03-15abc" << QDate();
        QTest::newRow("garbage") << "三年前" << QDate();
        QTest::newRow("empty") << "" << QDate();
    }
    void registrationDate()
    {
        QFETCH(QString, text);
        QFETCH(QDate, date);
        QCOMPARE(parseRegistrationDate(text), date);
    }

    // Each threshold just on either side: one reason and 中, or none and 低.
    void riskThresholds_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<QStringList>("reasons");
        using R = BuyerCreditRecord;
        const auto row = [](const char *name, QString R::*field, const QString &value,
                            const QStringList &reasons) {
            QTest::newRow(name) << Change([=](R &r) { r.*field = value; }) << reasons;
        };
        const auto ago = [](int days) {
            return kToday.addDays(-days).toString(QStringLiteral("yyyy年M月d日"));
        };
        row("registered 89 days ago", &R::regTime, ago(89), {"注册仅89天，不足90天"});
        row("registered 90 days ago", &R::regTime, ago(90), {});
        row("registered tomorrow", &R::regTime, ago(-1), {});
        row("unreadable date", &R::regTime, "很久以前", {});
        row("good rate 96.99", &R::goodRate, "96.99", {"好评率96.99%，低于97%"});
        row("good rate 97", &R::goodRate, "97.00", {});
        row("3 bad ratings given", &R::badGiven, "3", {"给他人差评3个（3个及以上），常给卖家差评"});
        row("2 bad ratings given", &R::badGiven, "2", {});
        row("not verified", &R::verification, "没有认证", {"没有认证"});
        row("phone verified", &R::verification, "手机认证", {});
        row("credit score 3", &R::goodCount, "4", {"信用积分3，低于4"});
        row("credit score 4", &R::goodCount, "5", {});
    }
    void riskThresholds()
    {
        QFETCH(Change, change);
        QFETCH(QStringList, reasons);
        BuyerCreditRecord record = cleanRecord();
        change(record);
        const RiskVerdict v = assessRisk(record, {}, RiskSettings{}, kToday);
        QCOMPARE(v.reasons, reasons);
        QCOMPARE(v.level, reasons.isEmpty() ? RiskLevel::Low : RiskLevel::Medium);
    }

    // How the level comes out of reasons, missing figures, blocked pages and the seller's list.
    void riskLevels()
    {
        RiskSettings settings;
        BuyerCreditRecord twoReasons = cleanRecord();
        twoReasons.verification = QStringLiteral("没有认证");
        twoReasons.badGiven = QStringLiteral("5");
        QCOMPARE(assessRisk(twoReasons, {}, settings, kToday).level, RiskLevel::High);
        settings.highAtReasons = 3;
        QCOMPARE(assessRisk(twoReasons, {}, settings, kToday).level, RiskLevel::Medium);

        // A blocked page: never low, whatever the rest shows.
        PageResult blocked;
        blocked.page = BuyerPage::Popup;
        blocked.outcome = PageOutcome::Blocked;
        PageResult fine;
        fine.page = BuyerPage::NameCard;
        fine.outcome = PageOutcome::Ok;
        RiskVerdict v = assessRisk(cleanRecord(), {fine, blocked}, RiskSettings{}, kToday);
        QCOMPARE(v.level, RiskLevel::Unknown);
        QVERIFY(v.blocked);
        QCOMPARE(v.reasons, QStringList{"页面被拦截：弹出名片页"});

        // Missing figures: unknown, unless the figures read are already enough for high.
        BuyerCreditRecord unread = cleanRecord();
        unread.verification.clear();
        unread.badGiven.clear();
        unread.goodCount.clear();
        v = assessRisk(unread, {}, RiskSettings{}, kToday);
        QCOMPARE(v.level, RiskLevel::Unknown);
        QCOMPARE(v.reasons, QStringList{"未读到给他人差评、认证信息、信用积分"});
        unread.goodRate = QStringLiteral("80");
        unread.regTime = kToday.toString(Qt::ISODate);
        QCOMPARE(assessRisk(unread, {}, RiskSettings{}, kToday).level, RiskLevel::High);

        // A check that is off needs no figure.
        RiskSettings off;
        off.newAccountDays = 0;
        off.requireVerification = false;
        BuyerCreditRecord noDate = cleanRecord();
        noDate.regTime.clear();
        noDate.verification.clear();
        QCOMPARE(assessRisk(noDate, {}, off, kToday).level, RiskLevel::Low);

        // A buyer on the seller's list is high, with the note as the first reason.
        SellerNotes notes;
        notes.listed = true;
        notes.note = QStringLiteral("拒收");
        v = assessRisk(cleanRecord(), {}, RiskSettings{}, kToday, &notes);
        QCOMPARE(v.level, RiskLevel::High);
        QCOMPARE(v.reasons, QStringList{"在黑名单中：拒收"});
    }

    // The template's values are the defaults: a user who fills in a host gets what a missing
    // key gives.
    void templateHoldsDefaults()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("brelvon.conf"));
        QString error;
        QVERIFY2(writeSettingsTemplate(path, &error), qPrintable(error));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        const QByteArray text = file.readAll().replace("\nmain=\n", "\nmain=example.com\n");
        QVERIFY(text.contains("blockMarkers=请登录|滑块|验证码"));
        file.seek(0);
        file.write(text);
        file.close();

        QuerySettings s;
        QStringList problems;
        QVERIFY2(loadQuerySettings(path, &s, &error, &problems), qPrintable(error));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
        const RiskSettings d;
        const RiskSettings &r = s.risk;
        QCOMPARE(s.blockMarkers, builtInBlockMarkers());
        QCOMPARE((QList<double>{double(r.newAccountDays), r.minGoodRate, double(r.badGivenAtLeast),
                                double(r.minCreditScore), double(r.requireVerification),
                                double(r.highAtReasons)}),
                 (QList<double>{double(d.newAccountDays), d.minGoodRate, double(d.badGivenAtLeast),
                                double(d.minCreditScore), double(d.requireVerification),
                                double(d.highAtReasons)}));
    }

    // Markers of one's own replace the built-in ones; blanks around pieces and empty pieces go.
    // What a lookup came to, from its pages: a failure never reads as an empty buyer.
    void lookupStatus_data()
    {
        QTest::addColumn<QStringList>("pages"); // "page outcome" pairs; "- ok" is a browser read
        QTest::addColumn<bool>("listed");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("detail");
        const QStringList all = {"search ok",   "detail ok",   "neutralGiven ok", "badGiven ok",
                                 "nameCard ok", "personal ok", "popup ok"};
        QTest::newRow("every page") << all << true << "found"
                                    << "";
        QTest::newRow("not listed")
            << QStringList{"search ok", "nameCard ok", "popup ok"} << false << "notFound"
            << "";
        QTest::newRow("not listed, card failed")
            << QStringList{"search ok", "nameCard timeout"} << false << "notFound"
            << "";
        QTest::newRow("search timed out")
            << QStringList{"search timeout", "nameCard ok"} << false << "pagesFailed"
            << "搜索页 超时";
        QTest::newRow("no search address") << QStringList{"nameCard ok"} << false << "pagesFailed"
                                           << "搜索页 未请求";
        QTest::newRow("detail empty")
            << QStringList{"search ok", "detail empty", "popup error"} << true << "pagesFailed"
            << "信用页 空白，弹出名片页 网络错误";
        QTest::newRow("detail read by the browser")
            << QStringList{"search ok", "detail empty", "- ok", "nameCard ok"} << true << "found"
            << "";
        QTest::newRow("blocked wins")
            << QStringList{"search ok", "detail timeout", "popup blocked"} << true << "blocked"
            << "弹出名片页 被拦截";
        QTest::newRow("configuration pages do not count")
            << QStringList{"config timeout", "areaTable timeout", "search ok"} << true << "found"
            << "";
    }
    void lookupStatus()
    {
        QFETCH(QStringList, pages);
        QFETCH(bool, listed);
        QFETCH(QString, status);
        QFETCH(QString, detail);
        const QHash<QString, PageOutcome> outcomes = {{"ok", PageOutcome::Ok},
                                                      {"empty", PageOutcome::Empty},
                                                      {"timeout", PageOutcome::Timeout},
                                                      {"error", PageOutcome::NetworkError},
                                                      {"blocked", PageOutcome::Blocked}};
        PageResults results;
        for (const QString &text : pages) {
            PageResult page;
            page.page = text.section(' ', 0, 0);
            page.browser = page.page == "-";
            if (page.browser)
                page.page.clear();
            page.outcome = outcomes.value(text.section(' ', 1, 1));
            results.append(page);
        }
        QString said;
        QCOMPARE(lookupStatusName(buyerPagesStatus(results, listed, &said)), status);
        QCOMPARE(said, detail);
    }

    void ownBlockMarkers()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("s.conf")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[hosts]\nmain=example.com\n[query]\nblockMarkers= 安全验证 ||人机识别\n");
        file.close();
        QuerySettings s;
        QString error;
        QVERIFY2(loadQuerySettings(file.fileName(), &s, &error), qPrintable(error));
        QCOMPARE(s.blockMarkers, QStringList({"安全验证", "人机识别"}));
    }
};

QTEST_GUILESS_MAIN(TestAssessment)

#include "test_assessment.moc"
