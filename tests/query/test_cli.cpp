
#include "demosite/demosite.h"
#include "directfetch.h"
#include "files/batchjournal.h"
#include "fixtureserver.h"
#include "forwardingproxy.h"
#include "interruptprocess.h"
#include "web/codepage936.h"
#include "web/fetchpage.h"
#include "xlsxsheet.h"

#include <QTcpServer>
#include <QtTest>

namespace {

struct CliRun
{
    int exitCode = -1;
    QByteArray out;
    QString err;
};

// Runs brelvon-cli (built beside this test) while this thread keeps serving fixture pages; in the
// locale lang when one is given.
CliRun runCli(const QStringList &args, const QString &configHome, const QString &dataHome = {},
              const QString &lang = {})
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", configHome);
    if (!dataHome.isEmpty())
        env.insert("XDG_DATA_HOME", dataHome);
    if (!lang.isEmpty()) {
        env.insert("LANG", lang);
        env.remove("LC_ALL");
        env.remove("LC_MESSAGES");
    }
    process.setProcessEnvironment(env);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(QCoreApplication::applicationDirPath() + "/brelvon-cli", args);
    CliRun run;
    if (!process.waitForStarted(10000) || !finished.wait(60000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    // On Windows a program's text output ends its lines with CR LF.
    run.out = process.readAllStandardOutput().replace("\r\n", "\n");
    run.err = QString::fromUtf8(process.readAllStandardError().replace("\r\n", "\n"));
    return run;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString writeFile(const QString &name, const QByteArray &content)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            return {};
        return path;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("no command") << QStringList{} << "no command given";
        QTest::newRow("unknown command") << QStringList{"lookup", "x"} << "unknown command lookup";
        QTest::newRow("no id") << QStringList{"query"} << "no buyer id given";
        QTest::newRow("only blank ids") << QStringList{"query", " ", ""} << "no buyer id to query";
        QTest::newRow("unknown option")
            << QStringList{"query", "--fast", "x"} << "unknown option --fast";
        QTest::newRow("settings without file")
            << QStringList{"query", "x", "--settings"} << "--settings needs a file name";
        QTest::newRow("settings twice")
            << QStringList{"query", "--settings=a", "--settings", "b", "x"} << "given twice";
        QTest::newRow("demo and settings")
            << QStringList{"query", "--demo", "--settings", "a", "x"} << "cannot be used together";
        QTest::newRow("missing settings file")
            << QStringList{"query", "--settings", "/nonexistent/brelvon.conf", "x"}
            << "/nonexistent/brelvon.conf does not exist";
        QTest::newRow("settings is a folder")
            << QStringList{"query", "--settings", "/tmp", "x"} << "cannot read the settings file";
#ifdef BRELVON_NO_BROWSER
        QTest::newRow("browser in a build without one")
            << QStringList{"query", "--demo", "--browser", "x"} << "no embedded browser";
#endif
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const CliRun run = runCli(args, m_dir.filePath("config"));
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(run.out, QByteArray());
    }

    void badSettings_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("message");
        QTest::newRow("no host") << QByteArray("[viewer]\npopupLogin=cntaobaox\n")
                                 << "names no host";
        QTest::newRow("scheme in host")
            << QByteArray("[hosts]\nmain=http://example.com\n") << "is not host or host:port";
        QTest::newRow("bad port") << QByteArray("[hosts]\ntradecard=example.com:99999\n")
                                  << "is not host or host:port";
        QTest::newRow("space in port")
            << QByteArray("[hosts]\nmain=127.0.0.1: 80\n") << "is not host or host:port";
        QTest::newRow("id file encoding")
            << QByteArray("[hosts]\nmain=a\n[batch]\nidFileEncoding=latin1\n")
            << "[batch] idFileEncoding=latin1 is not gbk, utf-8 or auto";
        QTest::newRow("jobs not a number") << QByteArray("[hosts]\nmain=a\n[batch]\njobs=abc\n")
                                           << "[batch] jobs=abc is not a number from 1 to 8";
        QTest::newRow("parallel pages not a boolean")
            << QByteArray("[hosts]\nmain=a\n[query]\nparallelPages=often\n")
            << "[query] parallelPages=often is not true or false";
        QTest::newRow("extra columns not a boolean")
            << QByteArray("[hosts]\nmain=a\n[batch]\nextraColumns=yes\n")
            << "[batch] extraColumns=yes is not true or false";
        QTest::newRow("max ids past 2000") << QByteArray("[hosts]\nmain=a\n[batch]\nmaxIds=5000\n")
                                           << "[batch] maxIds=5000 is not a number from 1 to 2000";
        QTest::newRow("unknown sort") << QByteArray("[hosts]\nmain=a\n[batch]\nsort=size\n")
                                      << "[batch] sort=size is not file or risk";
        QTest::newRow("good rate over 100")
            << QByteArray("[hosts]\nmain=a\n[risk]\nminGoodRate=101\n")
            << "[risk] minGoodRate=101 is not a percentage from 0 to 100";
        QTest::newRow("days not a number")
            << QByteArray("[hosts]\nmain=a\n[risk]\nnewAccountDays=ninety\n")
            << "[risk] newAccountDays=ninety is not a number of days";
        QTest::newRow("no reasons make it high")
            << QByteArray("[hosts]\nmain=a\n[risk]\nhighAtReasons=0\n")
            << "[risk] highAtReasons=0 is not a number from 1 to 6";
        // A proxy that cannot be used is refused, never quietly left out.
        QTest::newRow("proxy without a port")
            << QByteArray("[hosts]\nmain=a\n[network]\nproxy=http://proxy.example\n")
            << "[network] proxy=http://proxy.example is not empty, system,";
        QTest::newRow("proxy of another kind")
            << QByteArray("[hosts]\nmain=a\n[network]\nproxy=https://proxy.example:3128\n")
            << "[network] proxy=https://proxy.example:3128 is not empty, system,";
    }
    void badSettings()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        const QString path = writeFile("bad.conf", content);
        const CliRun run = runCli({"query", "--settings", path, "x"}, m_dir.filePath("config"));
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
    }

    void templateWhenNoSettings()
    {
        const QString home = m_dir.filePath("fresh");
        const QString path = home + "/Brelvon/brelvon.conf";
        CliRun run = runCli({"query", "tom"}, home);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(path), qPrintable(run.err));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.contains("[hosts]\n"));
        QVERIFY(text.contains("\ntradecard=\n"));

        // The untouched template names no host: a clear message, and the file stays as it is.
        run = runCli({"query", "tom"}, home);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains("names no host"), qPrintable(run.err));
        file.seek(0);
        QCOMPARE(file.readAll(), text);
    }

    void queryPrintsJsonLines()
    {
        FixtureServer server;
        QVERIFY(server.listen());
        server.setPage("/tradecard/nameCard.htm",
                       encode936(u"<p>注册时间：2005-03-12</p><p>来自：广东&nbsp;深圳</p>"));
        server.setPage("/tradecard/popupNameCard.htm", encode936(u"买家好评率：98.5%"));
        const QString settings =
            writeFile("good.conf", "[hosts]\ntradecard=" + server.hostPort().toUtf8() + "\n");

        const CliRun run =
            runCli({"query", "--settings", settings, "tom", "  ", "--", "-x\"y"}, m_dir.path());
        // Looked at, but without our web site's configuration nobody could be looked up.
        QCOMPARE(run.exitCode, 3);
        const QList<QByteArray> lines = run.out.split('\n');
        QCOMPARE(lines.size(), 3);
        const QString record = "{\"buyerId\":\"tom\",\"nick\":\"\",\"regTime\":\"2005-03-12\","
                               "\"address\":\"广东 深圳\",\"verification\":\"\","
                               "\"goodRate\":\"98.5\",\"goodCount\":\"\",\"neutralCount\":\"\","
                               "\"badCount\":\"\",\"neutralGiven\":\"\",\"badGiven\":\"\","
                               "\"creditUrl\":\"\"";
        // The record's twelve keys first, as they always were; the assessment after them.
        QCOMPARE(lines[0], (record + ",\"creditScore\":\"\",\"creditLevel\":\"\",\"risk\":\"未知\","
                                     "\"riskReasons\":[\"未读到给他人差评、认证信息、信用积分\"],"
                                     "\"pageOutcomes\":{\"nameCard\":\"ok\",\"popup\":\"ok\"},"
                                     "\"note\":\"\",\"listed\":\"\","
                                     "\"lookup\":\"noConfiguration\"}")
                               .toUtf8());
        QVERIFY(lines[1].startsWith("{\"buyerId\":\"-x\\\"y\",\"nick\":"));
        QCOMPARE(lines[2], QByteArray());
        QVERIFY2(run.err.contains("skipping id 2: it is blank"), qPrintable(run.err));
        QVERIFY2(run.err.contains("tom: noConfiguration (no host is set for our web site)"),
                 qPrintable(run.err));
        // No configuration host: only the trade-card pages, twice each.
        QCOMPARE(server.totalRequests(), 4);

        const CliRun plain =
            runCli({"query", "--plain", "--settings", settings, "tom"}, m_dir.path());
        QCOMPARE(plain.exitCode, 3);
        QCOMPARE(plain.out, (record + "}\n").toUtf8());
    }

    void batchErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        const QString ids = m_dir.filePath("ids.txt");
        QTest::newRow("no output") << QStringList{"batch", "--demo", ids} << "--xlsx OUT";
        QTest::newRow("no id file")
            << QStringList{"batch", "--demo", "--xlsx", "o.xlsx"} << "no id file given";
        QTest::newRow("two id files")
            << QStringList{"batch", "--demo", ids, ids, "--xlsx", "o.xlsx"} << "exactly one";
        QTest::newRow("xlsx without name")
            << QStringList{"batch", "--demo", ids, "--xlsx"} << "--xlsx needs a file name";
        QTest::newRow("unreadable id file")
            << QStringList{"batch", "--demo", m_dir.filePath("none.txt"), "--xlsx",
                           m_dir.filePath("o.xlsx")}
            << "none.txt";
        QTest::newRow("output folder missing")
            << QStringList{"batch", "--demo", ids, "--xlsx", m_dir.filePath("no/such/o.xlsx")}
            << "does not exist";
        QTest::newRow("output is a folder")
            << QStringList{"batch", "--demo", ids, "--xlsx", m_dir.path()} << "it is a folder";
        const QStringList out = {"batch", "--demo", ids, "--xlsx", m_dir.filePath("o.xlsx")};
        QTest::newRow("no jobs") << out + QStringList{"--jobs", "0"} << "--jobs must be";
        QTest::newRow("too many jobs") << out + QStringList{"--jobs", "99"} << "--jobs must be";
        QTest::newRow("negative pace") << out + QStringList{"--pace", "-1"} << "--pace must be";
        QTest::newRow("jobs twice")
            << out + QStringList{"--jobs", "2", "--jobs=3"} << "--jobs given twice";
        QTest::newRow("unknown encoding")
            << out + QStringList{"--encoding", "latin1"} << "--encoding must be gbk or utf-8";
        QTest::newRow("no ids") << out + QStringList{"--max-ids", "0"} << "--max-ids must be";
        QTest::newRow("past 2000 ids")
            << out + QStringList{"--max-ids", "2001"} << "from 1 to 2000";
        QTest::newRow("unknown order") << out + QStringList{"--sort", "size"} << "--sort must be";
        QTest::newRow("csv on the xlsx")
            << out + QStringList{"--csv", m_dir.filePath("o.xlsx")} << "name the same file";
        // One file under two names: the CSV would be written over the xlsx.
        const QString same = writeFile("same.out", "kept");
        QFile::link(same, m_dir.filePath("same-link.csv"));
        QTest::newRow("csv through a link to the xlsx")
            << QStringList{"batch",
                           "--demo",
                           ids,
                           "--xlsx",
                           same,
                           "--csv",
                           m_dir.filePath("same-link.csv")}
            << "name the same file";
        // Order files: a header without the buyer column names the columns it has.
        const QString noBuyer =
            writeFile("no buyer.csv", encode936(u"订单编号,收货人姓名\r\n1,王五\r\n"));
        QTest::newRow("order file without buyer column")
            << QStringList{"batch", "--demo", noBuyer, "--xlsx", m_dir.filePath("o.xlsx")}
            << QStringLiteral("its columns: 订单编号, 收货人姓名");
        QTest::newRow("column named missing")
            << QStringList{"batch", "--demo", ids, "--column", "买家", "--csv", "o.csv"}
            << QStringLiteral("no buyer column (买家)");
        QTest::newRow("empty order file")
            << QStringList{"batch", "--demo", writeFile("empty.xlsx", ""), "--xlsx", "o.xlsx"}
            << "no buyer in the order file";

        // Refused before the first page (what else may stand at OUT: with the export itself).
        QTest::newRow("output is the id file")
            << QStringList{"batch", "--demo", ids, "--xlsx", ids} << "is the id file";
        // UTF-16 without a byte order mark is refused like UTF-16 with one.
        const QString utf16 = writeFile(
            "utf16.txt", QByteArray(reinterpret_cast<const char *>(u"tom\r\nann\r\n"), 20));
        QTest::newRow("UTF-16 id file without BOM")
            << QStringList{"batch", "--demo", utf16, "--xlsx", m_dir.filePath("o.xlsx")}
            << "UTF-16";
    }
    void batchErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const QString ids = writeFile("ids.txt", "tom\n");
        QVERIFY(!ids.isEmpty());
        const CliRun run = runCli(args, m_dir.filePath("config"));
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QFile idFile(ids);
        QVERIFY(idFile.open(QIODevice::ReadOnly));
        QCOMPARE(idFile.readAll(), QByteArray("tom\n"));
    }

    // The id file's encoding: the user's choice (option, then settings) before the guess, which
    // takes bytes that are valid UTF-8 as UTF-8. Control characters of an id never reach the
    // terminal raw.
    void batchIdFileEncoding_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("id");
        // D6 B0 is 职 in GBK and also valid UTF-8 (U+05B0).
        QTest::newRow("guess") << QStringList{} << QByteArray() << QStringLiteral("\u05B0");
        QTest::newRow("option gbk")
            << QStringList{"--encoding", "gbk"} << QByteArray() << QStringLiteral("职");
        QTest::newRow("setting gbk")
            << QStringList{} << QByteArray("[batch]\nidFileEncoding=gbk\n") << QStringLiteral("职");
        QTest::newRow("option wins over setting")
            << QStringList{"--encoding", "utf-8"} << QByteArray("[batch]\nidFileEncoding=gbk\n")
            << QStringLiteral("\u05B0");
    }
    void batchIdFileEncoding()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, settings);
        QFETCH(QString, id);
        FixtureServer server;
        QVERIFY(server.listen());
        const QString conf = writeFile(
            "encoding.conf", "[hosts]\ntradecard=" + server.hostPort().toUtf8() + "\n" + settings);
        const QString ids = writeFile("encoded ids.txt", "\xD6\xB0\r\nred\x1B[31m\x07\r\n");
        const QString out = m_dir.filePath("encoded.xlsx");
        const CliRun run = runCli(
            QStringList{"batch", "--settings", conf, ids, "--xlsx", out} + options, m_dir.path());
        QCOMPARE(run.exitCode, 3); // no configuration: every row failed
        QVERIFY2(run.err.contains(QStringLiteral("正在查询第0个:") + id), qPrintable(run.err));
        QVERIFY2(run.err.contains(QStringLiteral("正在查询第1个:red\\x1B[31m\\x07")),
                 qPrintable(run.err));
        QVERIFY(!run.err.contains(u'\x1B') && !run.err.contains(u'\x07'));
        const XlsxSheet sheet = readXlsxSheet(out);
        QVERIFY2(sheet.error.isEmpty(), qPrintable(sheet.error));
        QCOMPARE(sheet.cells.value("A2").value, id);
    }

    // An order export: each buyer looked up once in order of first appearance, ids past
    // --max-ids said before the first lookup, the order columns, the summary sheet, the CSV.
    void batchOrderFile()
    {
        FixtureServer server;
        QVERIFY(server.listen());
        const QString settings =
            writeFile("orders.conf", "[hosts]\ntradecard=" + server.hostPort().toUtf8() + "\n");
        const QString orders = writeFile("orders.csv", encode936(u"订单编号,买家会员名,宝贝标题\r\n"
                                                                 u"=\"1001\",tom,\"杯子,红\"\r\n"
                                                                 u"=\"1002\",=\"tb_123\",x\r\n"
                                                                 u"=\"1003\",tom,x\r\n"
                                                                 u"=\"1004\",ann,x\r\n"
                                                                 u"=\"1005\",tom,x\r\n"));
        const QString out = m_dir.filePath("orders.xlsx");
        const QString csv = m_dir.filePath("orders out.csv");
        const CliRun run = runCli({"batch", "--settings", settings, orders, "--max-ids", "2",
                                   "--xlsx", out, "--csv", csv, "--sort", "risk"},
                                  m_dir.path());
        QCOMPARE(run.exitCode, 3); // no configuration: every row failed
        const qsizetype told = run.err.indexOf(QLatin1String("the other 1 left out"));
        QVERIFY2(told >= 0 && told < run.err.indexOf(QStringLiteral("正在查询第0个:tom")),
                 qPrintable(run.err));
        QCOMPARE(server.requestCount("/tradecard/nameCard.htm"), 2);
        const XlsxSheet sheet = readXlsxSheet(out);
        QCOMPARE(sheet.maxRow, 3);
        QCOMPARE(sheet.cells.value("A2").value, QStringLiteral("tom"));
        QCOMPARE(sheet.cells.value("M2").value, QStringLiteral("3"));
        QCOMPARE(sheet.cells.value("N2").value, QStringLiteral("1001；1003；1005"));
        QCOMPARE(sheet.cells.value("A3").value, QStringLiteral("tb_123"));
        QCOMPARE(readXlsxSheet(out, "sheet2.xml").cells.value("A1").value, QStringLiteral("风险"));
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[1].startsWith("tom,") && lines[1].endsWith(",3,1001；1003；1005\r"));
    }

    void batchWritesTable()
    {
        FixtureServer server;
        QVERIFY(server.listen());
        server.setPage("/tradecard/nameCard.htm", encode936(u"<p>注册时间：2005-03-12</p>"));
        const QString settings =
            writeFile("batch.conf", "[hosts]\ntradecard=" + server.hostPort().toUtf8() + "\n");
        // GBK id file: a quoted id with a comma, a blank line, a formula-looking id.
        const QString ids =
            writeFile("batch ids.txt", encode936(u"\"王,五\"\r\n\r\n=1+1, 007\r\n"));
        const QString out = m_dir.filePath("table.xlsx");
        const CliRun run =
            runCli({"batch", "--settings", settings, ids, "--xlsx", out}, m_dir.path());
        QCOMPARE(run.exitCode, 3); // no configuration: every row failed
        QVERIFY2(run.err.contains(QStringLiteral("共需要查询3个买家,正在查询第0个:王,五")),
                 qPrintable(run.err));
        QVERIFY(run.err.contains(QStringLiteral("共需要查询3个买家,正在查询第2个: 007")));
        QCOMPARE(server.requestCount("/tradecard/nameCard.htm"), 3);

        const XlsxSheet sheet = readXlsxSheet(out);
        QVERIFY2(sheet.error.isEmpty(), qPrintable(sheet.error));
        QCOMPARE(sheet.maxRow, 4);
        QCOMPARE(sheet.cells.value("A1").value, QStringLiteral("买家名称"));
        QCOMPARE(sheet.cells.value("A2").value, QStringLiteral("王,五"));
        QCOMPARE(sheet.cells.value("A3").value, QStringLiteral("=1+1"));
        QVERIFY(!sheet.cells.value("A3").hasFormula);
        QCOMPARE(sheet.cells.value("A4").value, QStringLiteral(" 007"));
        QCOMPARE(sheet.cells.value("C4").value, QStringLiteral("2005-03-12"));
        QCOMPARE(sheet.cells.value("L2").formula, QStringLiteral("HYPERLINK(\"\",\"\")"));
        QVERIFY(!sheet.cells.contains("M1"));
        QVERIFY(!readXlsxSheet(out, "sheet2.xml").error.isEmpty()); // no summary sheet

        const CliRun extra = runCli(
            {"batch", "--settings", settings, "--extra-columns", ids, "--xlsx", out}, m_dir.path());
        QCOMPARE(extra.exitCode, 3);
        QVERIFY2(extra.err.contains(QStringLiteral("3 个买家中 3 个未查到")) ||
                     extra.err.contains(QStringLiteral("3 of 3 buyer(s) not read")),
                 qPrintable(extra.err));
        const XlsxSheet wide = readXlsxSheet(out);
        QCOMPARE(wide.cells.value("M1").value, QStringLiteral("信用积分"));
        QCOMPARE(wide.cells.value("O4").value, QStringLiteral("未知"));
        QVERIFY(wide.cells.value("Q4").value.startsWith(
            QStringLiteral("无法获取查询配置：名片页 正常")));
    }

    // Each id says what its lookup came to; the exit status says whether every id could be
    // looked up.
    void lookupStatuses_data()
    {
        QTest::addColumn<bool>("demo");
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("found, not found") << true << QStringList{"xiaoyu_2008", "nobody_here"}
                                          << QStringList{"found", "notFound"} << 0;
        QTest::newRow("our site does not answer")
            << false << QStringList{"tom"} << QStringList{"noConfiguration"} << 3;
    }
    void lookupStatuses()
    {
        QFETCH(bool, demo);
        QFETCH(QStringList, ids);
        QFETCH(QStringList, statuses);
        QFETCH(int, exitCode);
        QStringList args = {"query", "--verbose", "--no-history"};
        if (demo) {
            args << "--demo";
        } else {
            // Hosts that refuse every connection: a port that was just free.
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            const QByteArray host = "127.0.0.1:" + QByteArray::number(closed.serverPort());
            closed.close();
            args << "--settings"
                 << writeFile("dead.conf", "[hosts]\nmain=" + host + "\nsecond=" + host +
                                               "\ntradecard=" + host + "\n");
        }
        const CliRun run = runCli(args + ids, m_dir.path());
        QCOMPARE(run.exitCode, exitCode);
        const QList<QByteArray> lines = run.out.split('\n');
        QCOMPARE(lines.size(), ids.size() + 1);
        for (int i = 0; i < ids.size(); ++i)
            QVERIFY2(lines[i].endsWith(",\"lookup\":\"" + statuses[i].toUtf8() + "\"}"),
                     lines[i].constData());
        QVERIFY2(run.err.contains("brelvon-cli: page " + ids[0] + ": "), qPrintable(run.err));
        if (!demo) // which downloads of the configuration were tried, and how each ended
            QVERIFY2(run.err.contains("/soft/qvdl/fmj2.htm: network error") &&
                         run.err.contains("/soft_set/fmj2.htm: network error"),
                     qPrintable(run.err));
    }

    // --verbose: one line per page that was requested, saying how it went.
    void verbosePageLines()
    {
        FixtureServer server;
        QVERIFY(server.listen());
        server.setPage("/tradecard/nameCard.htm", encode936(u"<p>注册时间：2005-03-12</p>"));
        const QString settings =
            writeFile("verbose.conf", "[hosts]\ntradecard=" + server.hostPort().toUtf8() + "\n");
        const CliRun run =
            runCli({"query", "--verbose", "--settings", settings, "tom"}, m_dir.path());
        QCOMPARE(run.exitCode, 3);
        const QStringList lines = run.err.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3); // name card, popup name card (no other host), the status
        QVERIFY2(lines[0].startsWith("brelvon-cli: page tom: ok status=200 bytes=") &&
                     lines[0].endsWith(" charset=gbk"),
                 qPrintable(lines[0]));
        QVERIFY2(lines[1].startsWith("brelvon-cli: page tom: HTTP 404 status=404 "),
                 qPrintable(lines[1]));
    }

    // Ctrl-C in the middle of a batch with several buyers in flight: the program ends at once,
    // says so, and leaves no table behind.
    void interruptedBatchWritesNothing()
    {
        FixtureServer server;
        QVERIFY(server.listen());
        FixtureResponse silent;
        silent.neverAnswer = true;
        server.setResponse("/tradecard/nameCard.htm", silent);
        const QString settings =
            writeFile("slow.conf", "[hosts]\ntradecard=" + server.hostPort().toUtf8() + "\n");
        const QString ids = writeFile("many.txt", "a,b,c,d,e,f,g,h,i,j");
        const QString out = m_dir.filePath("interrupted.xlsx");
        QProcess process;
        process.start(QCoreApplication::applicationDirPath() + "/brelvon-cli",
                      {"batch", "--settings", settings, "--jobs", "6", ids, "--xlsx", out});
        QVERIFY(process.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(server.requestCount("/tradecard/nameCard.htm") >= 6, 20000);
        if (!interruptProcess(process)) {
            process.kill();
            process.waitForFinished(10000);
            QSKIP("no console interrupt for a child program here");
        }
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 130);
        QVERIFY(process.readAllStandardError().contains("interrupted: no table written"));
        QVERIFY(!QFileInfo::exists(out));
        QCOMPARE(server.requestCount("/tradecard/nameCard.htm"), 6); // no buyer started after
    }

    // Our site served the configuration once and then stopped: the stored copy stands in, and
    // says so, until it is older than [query] maxConfigAgeDays; a download that parses to
    // nothing never replaces it.
    void storedConfiguration()
    {
        DemoSite market; // the marketplace and trade cards stay up throughout
        QVERIFY(market.start());
        const QString config = FetchPage("http://" + market.hostPort() + "/soft/qvdl/fmj2.htm",
                                         FetchWait::Short, directFetch());
        QVERIFY(config.contains("Brelvon"));
        auto ours = std::make_unique<FixtureServer>();
        QVERIFY(ours->listen());
        ours->setPage("/soft/qvdl/fmj2.htm", encode936(config));
        const QString settings =
            writeFile("cached.conf", "[hosts]\nmain=" + ours->hostPort().toUtf8() +
                                         "\ntradecard=" + market.hostPort().toUtf8() + "\n");
        const QString data = m_dir.filePath("cached-data");
        const QStringList args = {"query",      "--verbose", "--no-history",
                                  "--settings", settings,    "xiaoyu_2008"};
        const auto lookUp = [&](int exitCode, const QByteArray &configuration) {
            const CliRun run = runCli(args, m_dir.path(), data);
            QCOMPARE(run.exitCode, exitCode);
            QVERIFY2(run.out.contains(configuration), run.out.constData());
            if (exitCode == 0)
                QVERIFY2(run.out.contains("\"nick\":\"小宇\""), run.out.constData());
        };
        lookUp(0, "\"popup\":\"ok\"}");

        // Ours now names the program but fills no entry: not a configuration to keep.
        ours->setPage("/soft/qvdl/fmj2.htm", "Brelvon#90#");
        lookUp(0, "\"configuration\":\"cached 0 minutes\"");

        ours.reset(); // our site is gone
        const QDir cache(data + "/Brelvon/cache");
        const QStringList copies = cache.entryList({"queryconfig-*"}, QDir::Files);
        QCOMPARE(copies.size(), 1);
        QCOMPARE(QFileInfo(cache.filePath(copies[0])).permissions() & 0x0077, 0); // owner only
        const auto age = [&](int days) {
            QFile file(cache.filePath(copies[0]));
            QVERIFY(file.open(QIODevice::ReadWrite));
            QByteArray bytes = file.readAll();
            const qsizetype at = bytes.indexOf("saved=") + 6;
            const QByteArray saved =
                QDateTime::currentDateTimeUtc().addDays(-days).toString(Qt::ISODate).toLatin1();
            bytes.replace(at, bytes.indexOf('\n', at) - at, saved);
            QVERIFY(file.resize(0) && file.write(bytes) == bytes.size());
        };
        age(3);
        const CliRun run = runCli(args, m_dir.path(), data);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains("\"configuration\":\"cached 3 days\""), run.out.constData());
        QVERIFY2(run.err.contains("configuration xiaoyu_2008: cached 3 days"), qPrintable(run.err));

        age(31); // past the default 30 days
        lookUp(3, "\"lookup\":\"noConfiguration\"");
        // Both the lookup and the settings check say the kept copy is too old to stand in.
        const QString aged = "the kept query configuration is 31 days old, beyond "
                             "maxConfigAgeDays=30";
        CliRun stale = runCli(args, m_dir.path(), data);
        QVERIFY2(stale.err.contains(aged), qPrintable(stale.err));
        stale = runCli({"settings", "check", "--settings", settings}, m_dir.path(), data);
        QCOMPARE(stale.exitCode, 1);
        QVERIFY2(stale.err.contains(aged), qPrintable(stale.err));
    }

    // With a proxy, every request goes through it, and the names of hosts this machine cannot
    // resolve are the proxy's to resolve.
    void queryThroughProxy()
    {
        DemoSite site;
        QVERIFY(site.start());
        ForwardingProxy proxy;
        proxy.map("brelvon.invalid", site.hostPort());
        QVERIFY(proxy.listen());
        const QString settings =
            writeFile("proxy.conf", "[hosts]\nmain=brelvon.invalid\ntradecard=brelvon.invalid:80\n"
                                    "[network]\nproxy=" +
                                        proxy.address().toUtf8() + "\n");
        const QString data = m_dir.filePath("proxy-data"); // no kept configuration
        const CliRun run = runCli({"query", "--no-history", "--settings", settings, "xiaoyu_2008"},
                                  m_dir.path(), data);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains("\"nick\":\"小宇\""), run.out.constData());
        const QStringList lines = proxy.requestLines();
        for (const QString &line : lines)
            QVERIFY2(line.startsWith("GET http://brelvon.invalid"), qPrintable(line));
        for (const char *page : {"/soft/qvdl/fmj2.htm", "/soft/qvdl/city.txt", "/search",
                                 "/tradecard/nameCard.htm", "/tradecard/popupNameCard.htm"})
            QVERIFY2(lines.filter(page).size() == 1, qPrintable(lines.join('\n')));
        // Nothing reached the site around the proxy.
        QCOMPARE(site.marketplaceRequests(), qint64(lines.size() - lines.filter("/soft/").size()));

        const CliRun check =
            runCli({"settings", "check", "--settings", settings}, m_dir.path(), data);
        QCOMPARE(check.exitCode, 0);
        QVERIFY(proxy.requestLines().filter("/soft/qvdl/zkrap2.htm").size() == 1);
    }

    // A proxy that cannot be reached or wants a password is said as such, not as the
    // marketplace's failure.
    void proxyFailures_data()
    {
        QTest::addColumn<bool>("proxyListens");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QByteArray>("outcome");
        QTest::newRow("asks for a password")
            << true << "代理需要密码" << QByteArray("proxy password");
        QTest::newRow("port closed")
            << false << "代理服务器拒绝连接" << QByteArray("proxy refused");
    }
    void proxyFailures()
    {
        QFETCH(bool, proxyListens);
        QFETCH(QString, said);
        QFETCH(QByteArray, outcome);
        ForwardingProxy proxy;
        proxy.setAskPassword(true);
        QString address = "http://127.0.0.1:1";
        if (proxyListens) {
            QVERIFY(proxy.listen());
            address = proxy.address();
        } else {
            QTcpServer closed; // a port that was free a moment ago
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            address = "http://127.0.0.1:" + QString::number(closed.serverPort());
        }
        const QString settings =
            writeFile("badproxy.conf", "[hosts]\nmain=brelvon.invalid\ntradecard=card.invalid\n"
                                       "[network]\nproxy=" +
                                           address.toUtf8() + "\n");
        const CliRun run = runCli({"query", "--no-history", "--settings", settings, "tom"},
                                  m_dir.path(), {}, "zh_CN.UTF-8");
        QCOMPARE(run.exitCode, 3);
        QVERIFY2(run.out.contains("\"nameCard\":\"" + outcome + "\""), run.out.constData());
        QVERIFY2(run.err.contains("brelvon.invalid " + said), qPrintable(run.err));
        const CliRun check =
            runCli({"settings", "check", "--settings", settings}, m_dir.path(), {}, "zh_CN.UTF-8");
        QCOMPARE(check.exitCode, 1);
        QVERIFY2(QString::fromUtf8(check.out).contains(said), check.out.constData());
    }

    // settings check: one line per host and document; exit 0 only when every host of our site
    // gave a configuration. A silent host costs its wait once.
    void settingsCheck_data()
    {
        QTest::addColumn<bool>("secondSilent");
        QTest::addColumn<bool>("secondNotOurs");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("tradeCard404");
        QTest::newRow("both good") << false << false << 0 << false;
        QTest::newRow("second silent") << true << false << 1 << false;
        QTest::newRow("second gives a 404 page") << false << true << 1 << false;
        QTest::newRow("trade card answers 404") << false << false << 1 << true;
    }
    void settingsCheck()
    {
        QFETCH(bool, secondSilent);
        QFETCH(bool, secondNotOurs);
        QFETCH(int, exitCode);
        QFETCH(bool, tradeCard404);
        FixtureServer good;
        FixtureServer second;
        QVERIFY(good.listen() && second.listen());
        const QByteArray config = "Brelvon#90#http://x/s?q={mjna}#0#";
        good.setPage("/soft/qvdl/fmj2.htm", config);
        good.setPage("/soft/qvdl/zkrap2.htm", "Brelvon#3#");
        if (!tradeCard404) // anything else is the fixture's 404 page
            good.setPage("/tradecard/nameCard.htm", "<p>注册时间：2005-03-12</p>");
        FixtureResponse silent;
        silent.neverAnswer = true;
        if (secondSilent) {
            second.setResponse("/soft/wrub/zkrap2.htm", silent);
            second.setResponse("/soft_set/fmj2.htm", silent);
        } else if (!secondNotOurs) {
            second.setPage("/soft_set/fmj2.htm", config);
            second.setPage("/soft/wrub/zkrap2.htm", "Brelvon#3#");
        }
        const QString settings =
            writeFile("check.conf", "[hosts]\nmain=" + good.hostPort().toUtf8() +
                                        "\nsecond=" + second.hostPort().toUtf8() +
                                        "\ntradecard=" + good.hostPort().toUtf8() + "\n");
        const CliRun run = runCli({"settings", "check", "--settings", settings}, m_dir.path());
        QCOMPARE(run.exitCode, exitCode);
        const QStringList lines = QString::fromUtf8(run.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 5);
        QVERIFY2(lines[1].startsWith("main " + good.hostPort() + " query configuration: ok ") &&
                     lines[1].endsWith(" ms, 2 entries"),
                 qPrintable(lines[1]));
        if (secondSilent)
            QVERIFY2(lines[3].contains("query configuration: timeout after"), qPrintable(lines[3]));
        if (secondNotOurs)
            QVERIFY2(lines[3].contains("query configuration: HTTP 404"), qPrintable(lines[3]));
        QVERIFY2(lines[4].startsWith("tradecard " + good.hostPort() +
                                     (tradeCard404 ? " name card: HTTP 404" : " name card: ok")),
                 qPrintable(lines[4]));
    }

    // A batch whose journal an earlier run left: said and refused without --resume; with it the
    // journalled rows are not looked up again and the table has every row in the file's order;
    // a journal of another input is refused.
    void batchResume()
    {
        const QString ids = writeFile("resume.txt", "xiaoyu_2008\nnight_owl\ntom.wang\n");
        const QString out = m_dir.filePath("resume.csv");
        BatchInputIdentity input;
        QString error;
        QVERIFY(
            BatchInputIdentity::of(ids, {"xiaoyu_2008", "night_owl", "tom.wang"}, &input, &error));
        {
            // Closed before the program runs: Windows removes no file another program holds.
            BatchJournal journal;
            QVERIFY(journal.create(BatchJournal::pathFor(out), input, {}, &error));
            JournalRow kept;
            kept.index = 1;
            kept.id = "night_owl";
            kept.status = LookupStatus::Found;
            kept.result.record.buyerId = "night_owl";
            kept.result.record.nick = "kept-nick";
            QVERIFY(journal.append(kept));
        }

        CliRun run = runCli({"batch", "--demo", ids, "--csv", out}, m_dir.path());
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains("--resume"), qPrintable(run.err));
        run = runCli({"batch", "--demo", "--resume", ids, "--csv", out}, m_dir.path());
        QCOMPARE(run.exitCode, 0);
        QFile table(out);
        QVERIFY(table.open(QIODevice::ReadOnly));
        const QStringList rows =
            QString::fromUtf8(table.readAll()).split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 4); // the header and three buyers
        QVERIFY(rows[1].startsWith("xiaoyu_2008,"));
        QVERIFY(rows[2].startsWith("night_owl,kept-nick,"));
        QVERIFY(rows[3].startsWith("tom.wang,"));
        QVERIFY(!QFileInfo::exists(BatchJournal::pathFor(out)));

        QVERIFY(BatchJournal().create(BatchJournal::pathFor(out), input, {}, &error));
        writeFile("resume.txt", "xiaoyu_2008\ntom.wang\n"); // the file changed since
        run = runCli({"batch", "--demo", "--resume", ids, "--csv", out}, m_dir.path());
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains("another input"), qPrintable(run.err));
    }

    // The template the command line leaves speaks Chinese, English in an English locale; either
    // reads back as the defaults.
    // Every message of every command, --help included, is Chinese unless the locale asks for
    // English: a Chinese run holds no English sentence (three English words in a row, once
    // options, paths and placeholders are taken out), and both languages end alike.
    void oneLanguage_data()
    {
        const QString dir = m_dir.path();
        const QString empty = writeFile("empty.txt", "");
        const QString noEntries = writeFile("noentries.txt", "Brelvon, but no entry");
        const QString noHosts = writeFile("nohosts.conf", "[hosts]\nmain=\n");
        const QString ids = writeFile("language-ids.txt", "tom\n");
        writeFile("unfinished.xlsx.journal", "not a journal\n");
        QTest::addColumn<QStringList>("args");
        const QList<QStringList> runs = {
            {},
            {"--help"},
            {"lookup"},
            {"query", "--help"},
            {"query"},
            {"query", "--fast", "x"},
            {"query", "x", "--settings"},
            {"query", "--demo", "--demo=1", "x"},
            {"query", "--demo", "--settings", "a", "x"},
            {"query", "--settings", noHosts, "x"},
            {"query", "--settings", "/nonexistent/brelvon.conf", "x"},
            {"batch", "--help"},
            {"batch", "--jobs", "0", "ids.txt", "--xlsx", "o.xlsx"},
            {"batch", "--sort", "size", "ids.txt", "--xlsx", "o.xlsx"},
            {"batch", "--demo", "ids.txt"},
            {"batch", "--demo", dir + "/missing.txt", "--xlsx", dir + "/o.xlsx"},
            {"batch", "--demo", empty, "--csv", dir + "/o.csv"},
            {"batch", "--demo", ids, "--xlsx", dir + "/unfinished.xlsx"},
            {"batch", "--demo", "--resume", ids, "--xlsx", dir + "/unfinished.xlsx"},
            {"capture", "--help"},
            {"capture", "--demo", "tom"},
            {"capture", "--demo", "tom", "--out", dir},
            {"check-config", "--help"},
            {"check-config", noEntries},
            {"check-config", "--diff", noEntries},
            {"check-config", noEntries, dir},
            {"check-config", dir + "/missing.txt", dir},
            {"history", "--help"},
            {"history", "--json", "--csv"},
            {"history", "--since", "yesterday"},
            {"note"},
            {"note", "add", "--help"},
            {"note", "add", "tom", " "},
            {"note", "remove", "nobody-here", "--database", dir + "/notes.sqlite"},
            {"blacklist", "import"},
            {"blacklist", "import", empty, "--database", dir + "/notes.sqlite"},
            {"blacklist", "export", dir, "--database", dir + "/notes.sqlite"},
            {"settings"},
            {"settings", "check", "--help"},
            {"settings", "check", "--settings", dir + "/missing.conf"},
            {"watch", "--help"},
            {"watch", "a", "b"},
            {"watch", dir + "/missing"},
            {"review", "--help"},
            {"review", "done", "--database", dir + "/notes.sqlite"},
            {"review", "done", "no-such-order", "--database", dir + "/notes.sqlite"},
        };
        for (const QStringList &args : runs)
            QTest::newRow(qPrintable(args.join(' ').left(60))) << args;
    }
    void oneLanguage()
    {
        QFETCH(QStringList, args);
        const QString home = m_dir.filePath("language");
        const CliRun chinese = runCli(args, home, home, "zh_CN.UTF-8");
        const CliRun english = runCli(args, home, home, "en_US.UTF-8");
        QVERIFY(chinese.exitCode >= 0);
        QCOMPARE(chinese.exitCode, english.exitCode);
        QString said = chinese.err + QString::fromUtf8(chinese.out);
        QVERIFY(!said.isEmpty());
        // What is not language: paths, options, placeholders (FILE, ID..., UTF-8), our name and
        // commands.
        static const QRegularExpression notWords(
            QStringLiteral("\\S*/\\S*|--?[a-z][a-z0-9-]*|\\b[A-Z][A-Z0-9_.-]*\\b|brelvon-cli|"
                           "note (?:add|remove|list)|blacklist (?:import|export)|settings check"));
        said.remove(notWords);
        static const QRegularExpression sentence(
            QStringLiteral("[A-Za-z']{2,}(?: [A-Za-z']{2,}){2,}"));
        const QRegularExpressionMatch match = sentence.match(said);
        QVERIFY2(!match.hasMatch(), qPrintable(match.captured() + "\n---\n" + chinese.err +
                                               QString::fromUtf8(chinese.out)));
    }

    void settingsTemplateLanguage_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("comment");
        QTest::newRow("zh_CN") << "zh_CN.UTF-8"
                               << "; 我们网站的备用服务器";
        QTest::newRow("en_GB") << "en_GB.UTF-8"
                               << "; the fallback host of our web site";
    }
    void settingsTemplateLanguage()
    {
        QFETCH(QString, lang);
        QFETCH(QString, comment);
        const QString home = m_dir.filePath("template-" + lang);
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", home);
        env.insert("LANG", lang);
        env.remove("LC_ALL");
        env.remove("LC_MESSAGES");
        process.setProcessEnvironment(env);
        process.start(QCoreApplication::applicationDirPath() + "/brelvon-cli", {"query", "tom"});
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitCode(), 2);
        QFile written(home + "/Brelvon/brelvon.conf");
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(written.readAll());
        QVERIFY2(text.contains(comment + '\n'), qPrintable(text));
        QVERIFY(text.contains("\nmaxConfigAgeDays=30\n"));
    }
};

QTEST_MAIN(TestCli)

#include "test_cli.moc"
