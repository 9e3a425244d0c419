#include "testsuites.h"

#include "blockmarkers.h"
#include "buyerassessment.h"
#include "querysettings.h"

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
        QTest::newRow("3: none") << "3"
                                 << ""
                                 << "3"
                                 << "";
        QTest::newRow("4: one heart") << "4"
                                      << ""
                                      << "4"
                                      << "1心";
        QTest::newRow("10") << "10"
                            << ""
                            << "10"
                            << "1心";
        QTest::newRow("11") << "11"
                            << ""
                            << "11"
                            << "2心";
        QTest::newRow("250") << "250"
                             << ""
                             << "250"
                             << "5心";
        QTest::newRow("251") << "251"
                             << ""
                             << "251"
                             << "1钻";
        QTest::newRow("10000") << "10,000"
                               << ""
                               << "10000"
                               << "5钻";
        QTest::newRow("10001") << "10,001"
                               << ""
                               << "10001"
                               << "1冠";
        QTest::newRow("500000") << "500000"
                                << ""
                                << "500000"
                                << "5冠";
        QTest::newRow("500001") << "500001"
                                << ""
                                << "500001"
                                << "1金冠";
        QTest::newRow("10000000") << "10,000,000"
                                  << ""
                                  << "10000000"
                                  << "4金冠";
        QTest::newRow("10000001") << "10,000,001"
                                  << ""
                                  << "10000001"
                                  << "5金冠";
        QTest::newRow("good minus bad") << "1,234"
                                        << "34"
                                        << "1200"
                                        << "3钻";
        QTest::newRow("negative") << "2"
                                  << "7"
                                  << "-5"
                                  << "";
        QTest::newRow("blanks around") << " 12 "
                                       << " 1 "
                                       << "11"
                                       << "2心";
        QTest::newRow("bad count not a count") << "12"
                                               << "--"
                                               << "12"
                                               << "2心";
        QTest::newRow("empty good count") << ""
                                          << "1"
                                          << ""
                                          << "";
        QTest::newRow("not numeric") << "十二"
                                     << ""
                                     << ""
                                     << "";
        QTest::newRow("misplaced separator") << "1,23"
                                             << ""
                                             << ""
                                             << "";
        QTest::newRow("separator first") << ",123"
                                         << ""
                                         << ""
                                         << "";
        QTest::newRow("decimal") << "12.5"
                                 << ""
                                 << ""
                                 << "";
        QTest::newRow("signed") << "+12"
                                << ""
                                << ""
                                << "";
        QTest::newRow("past the range") << "99999999999999999999"
                                        << ""
                                        << ""
                                        << "";
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
        const auto regDaysAgo = [](int days) {
            return Change([days](BuyerCreditRecord &r) {
                r.regTime = kToday.addDays(-days).toString(QStringLiteral("yyyy年M月d日"));
            });
        };
        QTest::newRow("registered 89 days ago")
            << regDaysAgo(89) << QStringList{"注册仅89天，不足90天"};
        QTest::newRow("registered 90 days ago") << regDaysAgo(90) << QStringList{};
        QTest::newRow("registered tomorrow") << regDaysAgo(-1) << QStringList{};
        QTest::newRow("unreadable date")
            << Change([](BuyerCreditRecord &r) { r.regTime = "很久以前"; }) << QStringList{};
        QTest::newRow("good rate 96.99")
            << Change([](BuyerCreditRecord &r) { r.goodRate = "96.99"; })
            << QStringList{"好评率96.99%，低于97%"};
        QTest::newRow("good rate 97")
            << Change([](BuyerCreditRecord &r) { r.goodRate = "97.00"; }) << QStringList{};
        QTest::newRow("3 bad ratings given")
            << Change([](BuyerCreditRecord &r) { r.badGiven = "3"; })
            << QStringList{"给他人差评3个（3个及以上），常给卖家差评"};
        QTest::newRow("2 bad ratings given")
            << Change([](BuyerCreditRecord &r) { r.badGiven = "2"; }) << QStringList{};
        QTest::newRow("not verified")
            << Change([](BuyerCreditRecord &r) { r.verification = "没有认证"; })
            << QStringList{"没有认证"};
        QTest::newRow("phone verified")
            << Change([](BuyerCreditRecord &r) { r.verification = "手机认证"; }) << QStringList{};
        QTest::newRow("credit score 3") << Change([](BuyerCreditRecord &r) { r.goodCount = "4"; })
                                        << QStringList{"信用积分3，低于4"};
        QTest::newRow("credit score 4")
            << Change([](BuyerCreditRecord &r) { r.goodCount = "5"; }) << QStringList{};
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

    void blockMarker_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("anchors");
        QTest::addColumn<QString>("found");
        const QStringList markers = builtInBlockMarkers();
        QTest::newRow("login page") << "<h3>亲，请登录</h3>" << QStringList{"注册时间"} << "请登录";
        QTest::newRow("slider") << "请按住滑块" << QStringList{"注册时间"} << "滑块";
        QTest::newRow("real page with a login link") << "<a>请登录</a><li>注册时间：2008-01-01</li>"
                                                     << QStringList{"来自", "注册时间"} << "";
        QTest::newRow("empty anchor guards nothing") << "验证码" << QStringList{""} << "验证码";
        QTest::newRow("ordinary page") << "<p>好评</p>" << QStringList{"x"} << "";
    }
    void blockMarker()
    {
        QFETCH(QString, page);
        QFETCH(QStringList, anchors);
        QFETCH(QString, found);
        QCOMPARE(findBlockMarker(page, anchors, builtInBlockMarkers() + QStringList{""}), found);
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
        const RiskSettings defaults;
        QCOMPARE(s.blockMarkers, builtInBlockMarkers());
        QCOMPARE(s.risk.newAccountDays, defaults.newAccountDays);
        QCOMPARE(s.risk.minGoodRate, defaults.minGoodRate);
        QCOMPARE(s.risk.badGivenAtLeast, defaults.badGivenAtLeast);
        QCOMPARE(s.risk.minCreditScore, defaults.minCreditScore);
        QCOMPARE(s.risk.requireVerification, defaults.requireVerification);
        QCOMPARE(s.risk.highAtReasons, defaults.highAtReasons);
        QCOMPARE(s.extraColumns, false);
    }

    void settingsValues_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QStringList>("markers");
        QTest::addColumn<double>("minGoodRate");
        QTest::newRow("no keys: built-in markers") << QByteArray() << builtInBlockMarkers() << 97.0;
        QTest::newRow("own markers replace them")
            << QByteArray("[query]\nblockMarkers= 安全验证 ||人机识别\n[risk]\nminGoodRate=98.5\n")
            << QStringList{"安全验证", "人机识别"} << 98.5;
        QTest::newRow("empty: none")
            << QByteArray("[query]\nblockMarkers=\n") << QStringList{} << 97.0;
    }
    void settingsValues()
    {
        QFETCH(QByteArray, lines);
        QFETCH(QStringList, markers);
        QFETCH(double, minGoodRate);
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("s.conf")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[hosts]\nmain=example.com\n" + lines);
        file.close();
        QuerySettings s;
        QString error;
        QVERIFY2(loadQuerySettings(file.fileName(), &s, &error), qPrintable(error));
        QCOMPARE(s.blockMarkers, markers);
        QCOMPARE(s.risk.minGoodRate, minGoodRate);
    }
};

int runAssessmentTests(int argc, char **argv)
{
    TestAssessment t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_assessment.moc"
