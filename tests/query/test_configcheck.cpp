// The configuration workbench: captures of the demo buyers checked against the live demo site,
// check-config's findings and exit codes, capture's bounds, local configurations on query.
#include "demosite/demosite.h"
#include "engine/configcheck.h"
#include "fixtures.h"
#include "fixtureserver.h"
#include "lookup/lookupservice.h"
#include "web/canceltoken.h"
#include "web/codepage936.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QtTest>

#include <atomic>
#include <thread>

#include <unistd.h>

namespace {

const QString kCaptures = QStringLiteral(BRELVON_SOURCE_DIR "/tests/captures");
const QString kDemoConfig = QStringLiteral(BRELVON_SOURCE_DIR "/data/site/soft/qvdl/fmj2.htm");
const QString kDemoAreaTable = QStringLiteral(BRELVON_SOURCE_DIR "/data/site/soft/qvdl/city.txt");

struct CliRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs brelvon-cli (built beside this test) while this thread keeps serving.
CliRun runCli(const QStringList &args, const QString &configHome)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", configHome);
    process.setProcessEnvironment(env);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(QCoreApplication::applicationDirPath() + "/brelvon-cli", args);
    CliRun run;
    if (!process.waitForStarted(10000) || !finished.wait(60000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString demoConfigText()
{
    return decode936(readAll(kDemoConfig));
}

QString recordText(const BuyerCreditRecord &r)
{
    return QStringList{r.buyerId,      r.nick,         r.regTime,   r.address,
                       r.verification, r.goodRate,     r.goodCount, r.neutralCount,
                       r.badCount,     r.neutralGiven, r.badGiven,  r.creditUrl}
        .join(" | ");
}

} // namespace

class TestConfigCheck : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString writeFile(const QString &name, const QByteArray &content)
    {
        const QString path = m_dir.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            return {};
        return path;
    }
    QString copyCapture(const QString &name, const QString &to)
    {
        const QString source = kCaptures + u'/' + name;
        for (const QString &file : QDir(source).entryList(QDir::Files))
            writeFile(to + u'/' + file, readAll(source + u'/' + file));
        return m_dir.filePath(to);
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Each capture, checked with the configuration the live demo site serves, gives the record
    // a live lookup gives; with its own configuration, the record it holds.
    void demoCaptures_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("live"); // false: the browser read the detail page
        const std::pair<const char *, QString> buyers[] = {
            {"xiaoyu_2008", "xiaoyu_2008"},
            {"blue_sky88", "blue sky88"},
            {"tom.wang", "tom.wang"},
            {"hidden_buyer", "hidden_buyer"},
            {"kuaile_xiaomao", QStringLiteral("快乐的小猫")},
            {"night_owl", "night_owl"},
            {"bargain_hunter", "bargain_hunter"}};
        for (const auto &[folder, id] : buyers)
            QTest::newRow(folder) << QString::fromLatin1(folder) << id << true;
        QTest::newRow("night_owl_browser") << "night_owl_browser"
                                           << "night_owl" << false;
    }
    void demoCaptures()
    {
        QFETCH(QString, folder);
        QFETCH(QString, id);
        QFETCH(bool, live);
        LoadedCapture capture;
        QString error;
        QVERIFY2(loadCapture(kCaptures + u'/' + folder, &capture, &error), qPrintable(error));
        QCOMPARE(capture.index.buyerId, id);
        QVERIFY(capture.config.parsed);

        if (live) {
            DemoSite site;
            QVERIFY(site.start());
            LookupService service(demoSettings(site.hostPort()));
            CancelToken cancel;
            const LookupOutcome outcome = service.lookup(id, cancel);
            const CaptureCheck check = checkCapture(service.setup()->config, capture.config.config,
                                                    capture.pages, capture.index.record);
            QVERIFY2(
                check.record == outcome.result.record,
                qPrintable(recordText(check.record) + "\n" + recordText(outcome.result.record)));
        } else {
            // Read with the browser's markers: the fields the fetch alone leaves empty.
            QVERIFY(capture.pages.browserDetail);
            QVERIFY(!capture.index.record.goodCount.isEmpty());
        }

        const CaptureCheck own = checkCapture(capture.config.config, capture.config.config,
                                              capture.pages, capture.index.record);
        QVERIFY2(!own.differs(), qPrintable(recordText(own.record)));
    }

    // The check asks for the pages a lookup would: an address the lookup refuses gives nothing,
    // though the capture holds the page.
    void refusedAddressGivesNothing()
    {
        LoadedCapture capture;
        QString error;
        QVERIFY2(loadCapture(kCaptures + "/xiaoyu_2008", &capture, &error), qPrintable(error));
        QueryConfig config = capture.config.config;
        config.setEntry(ConfigEntry::DetailAddress, "ftp://127.0.0.1/rate/{xyid}.htm");
        const CaptureCheck check =
            checkCapture(config, capture.config.config, capture.pages, capture.index.record);
        QCOMPARE(check.record.goodCount, QString());
        QCOMPARE(check.record.regTime, capture.index.record.regTime);
        const FieldCheck &goodCount = check.fields[5];
        QCOMPARE(goodCount.field, "goodCount");
        QVERIFY2(goodCount.note.contains("refused"), qPrintable(goodCount.note));
    }

    // Entry 8 changed to a marker the page lacks: the field, the entry, its text and the page's
    // text where the old marker stood, in words and in JSON.
    void changedMarkerIsNamed()
    {
        QByteArray config = readAll(kCaptures + "/xiaoyu_2008/01-config.htm");
        QVERIFY(config.contains("<TR class=good>#8#"));
        config.replace("<TR class=good>#8#", "<TR class=best>#8#");
        const QString path = writeFile("entry8.htm", config);
        const QString capture = kCaptures + "/xiaoyu_2008";

        CliRun run = runCli({"check-config", "--expect", path, capture}, m_dir.path());
        QCOMPARE(run.exitCode, 1);
        const QString goodCount =
            run.out.section("goodCount:", 1).section("\n  neutralCount:", 0, 0);
        QVERIFY2(goodCount.contains("CHANGED, recorded \"128\""), qPrintable(run.out));
        QVERIFY2(goodCount.contains("entry 8 \"<TR class=best>\""), qPrintable(run.out));
        QVERIFY2(goodCount.contains("the page has there: \"<TR class=good>"), qPrintable(run.out));
        QVERIFY2(run.out.contains(path + ":7: warning: entry 8: found on none of the captures"),
                 qPrintable(run.out));

        run = runCli({"check-config", "--expect", "--json", path, capture}, m_dir.path());
        QCOMPARE(run.exitCode, 1);
        const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
        // The configuration's findings, the capture, then the markers no capture had.
        QCOMPARE(lines.size(), 3);
        const QJsonObject checked = QJsonDocument::fromJson(lines[1].toUtf8()).object();
        const QJsonArray unmatched =
            QJsonDocument::fromJson(lines[2].toUtf8()).object()["issues"].toArray();
        QCOMPARE(unmatched.size(), 1);
        QCOMPARE(unmatched[0]["entry"].toInt(), 8);
        QVERIFY(checked["differs"].toBool());
        int differing = 0;
        for (const QJsonValue field : checked["fields"].toArray()) {
            const QJsonObject f = field.toObject();
            if (!f["differs"].toBool())
                continue;
            ++differing;
            QCOMPARE(f["field"].toString(), "goodCount");
            QCOMPARE(f["missing"]["entry"].toInt(), 8);
            QCOMPARE(f["missing"]["marker"].toString(), "<TR class=best>");
            QVERIFY(f["missing"]["nearText"].toString().startsWith("<TR class=good>"));
        }
        QCOMPARE(differing, 1);

        // Without --expect the same report, exit 0.
        QCOMPARE(runCli({"check-config", path, capture}, m_dir.path()).exitCode, 0);
    }

    void badInput_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("folder without capture.json") << "empty folder"
                                                     << "no capture.json";
        QTest::newRow("truncated page file") << "truncated"
                                             << "holds 100 bytes";
        QTest::newRow("configuration of random bytes") << "random config"
                                                       << "is not text";
        QTest::newRow("configuration without entries") << "text config"
                                                       << "not a query configuration";
        QTest::newRow("index naming a file outside")
            << "escaping index"
            << "must be the name of a file in the capture folder";
        QTest::newRow("index that is no JSON") << "broken index"
                                               << "is not JSON";
        QTest::newRow("page file that is a link") << "linked page"
                                                  << "is a symbolic link";
        QTest::newRow("index listing more pages than a lookup reads")
            << "long index"
            << "pages must be at most 12 pages";
    }
    void badInput()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        const QString tag = QTest::currentDataTag();
        QString config = kCaptures + "/xiaoyu_2008/01-config.htm";
        QString capture = copyCapture("xiaoyu_2008", tag);
        if (kind == "empty folder") {
            capture = m_dir.filePath("empty");
            QDir().mkpath(capture);
        } else if (kind == "truncated") {
            QVERIFY(QFile::resize(capture + "/04-detail.htm", 100));
        } else if (kind == "random config") {
            QByteArray bytes(4096, '\0');
            for (char &b : bytes)
                b = char(QRandomGenerator::global()->bounded(256));
            bytes[17] = '\0';
            config = writeFile(tag + ".bin", bytes);
        } else if (kind == "text config") {
            config = writeFile(tag + ".txt", "Brelvon, but no value#index# pair at all");
        } else if (kind == "escaping index") {
            QByteArray index = readAll(capture + "/capture.json");
            index.replace("\"04-detail.htm\"", "\"../../etc/passwd\"");
            writeFile(tag + "/capture.json", index);
        } else if (kind == "linked page") {
            QVERIFY(QFile::remove(capture + "/04-detail.htm"));
            QVERIFY(QFile::link(capture + "/03-search.htm", capture + "/04-detail.htm"));
        } else if (kind == "long index") {
            QJsonObject index =
                QJsonDocument::fromJson(readAll(capture + "/capture.json")).object();
            QJsonArray pages = index["pages"].toArray();
            while (pages.size() <= 12)
                pages.append(pages.last());
            index["pages"] = pages;
            writeFile(tag + "/capture.json", QJsonDocument(index).toJson());
        } else if (kind == "broken index") {
            writeFile(tag + "/capture.json", "{\"format\": \"brelvon-capture 1\", ");
        }
        const CliRun run = runCli({"check-config", config, capture}, m_dir.path());
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(run.out, QString());
    }

    // Findings in a configuration file, each with its line and entry; the demo configuration
    // has none.
    void configIssues_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("finding");
        // What the program refuses is an error; what it takes and ignores, a warning.
        QTest::newRow("index out of range") << ""
                                            << "#89#x#95#"
                                            << "warning: entry 95: index out";
        QTest::newRow("index not a number") << ""
                                            << "#89#x#8a#"
                                            << "warning: \"#8a#\" is not an entry index";
        QTest::newRow("text without index") << ""
                                            << "#89#trailing"
                                            << "warning: text after the last";
        QTest::newRow("entry given again") << ""
                                           << "#89#x#8#"
                                           << "warning: entry 8: given again (first on line 7)";
        QTest::newRow("blank marker a rule needs") << "<li class=\"member-item\">#64#"
                                                   << "#64#"
                                                   << "warning: entry 64: left empty";
        QTest::newRow("no search address")
            << "http://{SITE}/member/search.htm?nick={mjna}&search_type=user#0#"
            << "#0#"
            << "error: entry 0: blank; needed";
        QTest::newRow("address without placeholder")
            << "user-rate-{xyid}.htm#4#"
            << "user-rate-.htm#4#"
            << "warning: entry 4: the address has no {xyid}";
        QTest::newRow("counts received half given")
            << "<#73#"
            << "#73#"
            << "warning: entry 73: blank while entries 71 to 73 are used";
        QTest::newRow("nick start of two characters")
            << ">#67#"
            << "\">#67#"
            << "error: entry 67: longer than one character: the nick is read from one character "
               "after";
        QTest::newRow("program not named") << "Brelvon query"
                                           << "Our query"
                                           << "error: the text does not name Brelvon";
    }
    void configIssues()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, finding);
        const QString demo = demoConfigText();
        QVERIFY(readConfigFile(demo).issues.isEmpty());
        // An appended pair is on the line after the last; a replaced one stays on its line.
        QString text = demo;
        int line = 0;
        if (from.isEmpty()) {
            text += to;
            line = int(demo.count('\n')) + 1;
        } else {
            QVERIFY(text.contains(from));
            line = int(text.left(text.indexOf(from)).count('\n')) + 1;
            text.replace(from, to);
        }
        const ConfigFile file = readConfigFile(text);
        const QStringList lines = file.issueLines("c");
        const QString where =
            finding.contains("Brelvon") ? "c: " : QStringLiteral("c:%1: ").arg(line);
        QVERIFY2(lines.contains(where + finding, Qt::CaseSensitive) ||
                     std::any_of(lines.begin(), lines.end(),
                                 [&](const QString &l) { return l.startsWith(where + finding); }),
                 qPrintable(lines.join('\n')));
        QCOMPARE(file.hasErrors(), finding.startsWith("error"));
    }

    // What the lookup saw on a capture, and the entry to blame, for a configuration changed from
    // the capture's own.
    void checkSaysWhatTheLookupSaw_data()
    {
        QTest::addColumn<QString>("capture");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QStringList>("said");
        QTest::newRow("unchanged") << "tom.wang"
                                   << ""
                                   << ""
                                   << QStringList{"the lookup saw: user number \"UMGcWMFcYvmQ4\", "
                                                  "list number \"51840922\"",
                                                  "[entries 5 6 7]", "read as gbk"};
        QTest::newRow("list number cut too far")
            << "xiaoyu_2008"
            << "#89#;#36#"
            << "#89#</SCRIPT>#36#"
            << QStringList{"list number \"82735501;\"", "the list number holds markup",
                           "result=0  not in the capture", "the capture holds no neutralGiven"};
        QTest::newRow("layout marker changed")
            << "xiaoyu_2008"
            << "#89#买家好评率：#5#"
            << "#89#买家好评率:#5#" << QStringList{"not found on the detail page: entry 5"};
        QTest::newRow("verification marker changed")
            << "xiaoyu_2008"
            << "#89#认证信息：#24#"
            << "#89#认证:#24#"
            << QStringList{"not found on the detail page: entry 24",
                           "entry 24: found on none of the captures"};
        QTest::newRow("verification now read")
            << "tom.wang"
            << "#89#支付宝#27#"
            << "#89#通过认证#27#"
            << QStringList{"the verification text now holds entry 27; the record says 没有认证"};
        QTest::newRow("nick end changed")
            << "xiaoyu_2008"
            << "#89#</a>#68#"
            << "#89#</b>#68#" << QStringList{"the search page no longer matches the buyer"};
    }
    void checkSaysWhatTheLookupSaw()
    {
        QFETCH(QString, capture);
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QStringList, said);
        QString config = decode936(readAll(kCaptures + u'/' + capture + "/01-config.htm"));
        QVERIFY(from.isEmpty() || config.contains(from));
        if (!from.isEmpty())
            config.replace(from, to);
        const QString path =
            writeFile(QTest::currentDataTag() + QString(".htm"), encode936(config));
        const CliRun run = runCli({"check-config", path, kCaptures + u'/' + capture}, m_dir.path());
        QCOMPARE(run.exitCode, 0);
        for (const QString &text : said)
            QVERIFY2(run.out.contains(text), qPrintable(text + "\n" + run.out));
        QVERIFY2(!run.out.contains("[entries 5 5 "), qPrintable(run.out));
    }

    // --find: where a value sits, and markers that, pasted into a configuration whose own markers
    // for the field are gone, make the check read the value again.
    void findProposesMarkers_data()
    {
        QTest::addColumn<QString>("capture");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("recordField");
        QTest::newRow("good rate, layout A") << "tom.wang"
                                             << "100.00"
                                             << ""
                                             << "goodRate";
        QTest::newRow("good count, layout B") << "blue_sky88"
                                              << "356"
                                              << ""
                                              << "goodCount";
        QTest::newRow("neutral count, by field") << "xiaoyu_2008"
                                                 << "2"
                                                 << "neutralCount"
                                                 << "neutralCount";
        QTest::newRow("browser text only") << "night_owl_browser"
                                           << "63"
                                           << ""
                                           << "goodCount";
    }
    void findProposesMarkers()
    {
        QFETCH(QString, capture);
        QFETCH(QString, value);
        QFETCH(QString, field);
        QFETCH(QString, recordField);
        const QString folder = kCaptures + u'/' + capture;
        QStringList args = {"check-config", "--json", "--find", value, folder};
        if (!field.isEmpty())
            args += {"--field", field};
        CliRun run = runCli(args, m_dir.path());
        QCOMPARE(run.exitCode, 0);
        const QJsonObject found = QJsonDocument::fromJson(run.out.toUtf8()).object();
        const QJsonObject proposal = found["proposal"].toObject();
        QVERIFY2(proposal["reads"].toBool(), qPrintable(run.out));
        QCOMPARE(proposal["lookupReads"].toString(), value);

        // The capture's configuration with the proposed entries' lines taken out, then pasted.
        QString config = decode936(readAll(folder + "/01-config.htm"));
        for (const QJsonValue e : proposal["entries"].toArray())
            config.remove(QRegularExpression(
                QStringLiteral("#89#[^#]*#%1#").arg(e.toObject()["entry"].toInt())));
        const QString brokenPath = writeFile(capture + "-broken.htm", encode936(config));
        for (const QJsonValue line : proposal["lines"].toArray())
            config += "\r\n" + line.toString();
        const QString path = writeFile(capture + "-repaired.htm", encode936(config));
        run = runCli({"check-config", "--expect", "--json", path, folder}, m_dir.path());
        QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
        QVERIFY(runCli({"check-config", "--expect", brokenPath, folder}, m_dir.path()).exitCode !=
                0);
    }

    // --find on a text no page holds, or whose page the program reads by its own rule, says so.
    void findWithoutProposal_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("why");
        QTest::newRow("nowhere") << "no such text"
                                 << "on no page of the captures";
        QTest::newRow("a page of a rule of its own") << "2006-03-15"
                                                     << "read by the program's own rule";
    }
    void findWithoutProposal()
    {
        QFETCH(QString, value);
        QFETCH(QString, why);
        const CliRun run =
            runCli({"check-config", "--find", value, kCaptures + "/xiaoyu_2008"}, m_dir.path());
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(why), qPrintable(run.err));
    }

    // A file of many bad pairs names the first thousand findings, then counts the rest; so does
    // one of an entry given again and again.
    void manyBadPairs_data()
    {
        QTest::addColumn<QString>("pair");
        QTest::newRow("index out of range") << "#89#x#95#\n";
        QTest::newRow("entry given again") << "x#8#";
    }
    void manyBadPairs()
    {
        QFETCH(QString, pair);
        const ConfigFile file = readConfigFile(demoConfigText() + pair.repeated(1500));
        const QStringList lines = file.issueLines("c");
        QCOMPARE(lines.size(), 1001);
        QVERIFY2(lines.last().endsWith("and 500 more"), qPrintable(lines.last()));
        QVERIFY(!file.hasErrors());
    }

    // A capture is another's folder: the texts of its index reach the terminal escaped.
    void captureTextsAreEscaped()
    {
        const QString capture = copyCapture("xiaoyu_2008", "escaped");
        QByteArray index = readAll(capture + "/capture.json");
        QVERIFY(index.contains("\"lookup\": \"found\""));
        index.replace("\"lookup\": \"found\"", "\"lookup\": \"\\u001b]0;owned\\u0007found\"");
        writeFile("escaped/capture.json", index);
        const CliRun run = runCli(
            {"check-config", kCaptures + "/xiaoyu_2008/01-config.htm", capture}, m_dir.path());
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains("owned") && !run.out.contains('\x1b') && !run.out.contains('\a'),
                 qPrintable(run.out));
    }

    // A page swapped for a link to another file while the capture is read never shows that file:
    // the page is opened without following a link, and checked as opened.
    void pageSwappedForLink()
    {
        // The detail page alone, so that each read is short and the swaps meet many of them.
        const QString capture = copyCapture("xiaoyu_2008", "swapped");
        QJsonObject index = QJsonDocument::fromJson(readAll(capture + "/capture.json")).object();
        QJsonArray pages;
        for (const QJsonValue p : index["pages"].toArray()) {
            if (p["page"] == "detail")
                pages.append(p);
        }
        index["pages"] = pages;
        index["configuration"] = "";
        index["areaTable"] = "";
        writeFile("swapped/capture.json", QJsonDocument(index).toJson());
        const QString page = capture + "/04-detail.htm";
        const QByteArray real = readAll(page);
        // A secret of the page's size: only the link tells the two apart.
        const QByteArray secret = QByteArray("SECRET ").repeated(real.size()).left(real.size());
        const QByteArray secretPath = QFile::encodeName(writeFile("secret.txt", secret));
        const QByteArray keptPage = QFile::encodeName(writeFile("swapped-page.htm", real));
        const QByteArray target = QFile::encodeName(page);
        const QByteArray link = QFile::encodeName(capture + "/.link");
        const QByteArray copy = QFile::encodeName(capture + "/.page");
        std::atomic<bool> stop{false};
        std::thread swapper([&] {
            while (!stop) {
                if (::symlink(secretPath, link) == 0)
                    ::rename(link, target);
                if (::link(keptPage, copy) == 0)
                    ::rename(copy, target);
            }
        });
        int read = 0;
        int leaked = 0;
        QStringList errors;
        for (int i = 0; i < 5000; ++i) {
            LoadedCapture loaded;
            QString error;
            if (!loadCapture(capture, &loaded, &error)) {
                if (!error.contains("is a symbolic link"))
                    errors.append(error);
                continue;
            }
            ++read;
            leaked += loaded.pages.pages.value("detail").text.contains("SECRET");
        }
        stop = true;
        swapper.join();
        QCOMPARE(leaked, 0);
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
        QVERIFY(read > 0);
    }

    // A configuration without the detail page's good-rate markers (entries 7, 14, 16 and 31: the
    // rate comes from the popup name card) is taken as a download is: a capture made with it
    // checks clean, with warnings naming those entries, and a lookup with it fills the record.
    void configurationWithoutDetailRates()
    {
        DemoSite site;
        QVERIFY(site.start());
        QString text = demoConfigText().replace("{SITE}", site.hostPort());
        for (const QString pair :
             {"#89#%#7#", "#89#<DD class=rate#14#", "#89#%#16#", "#89#<dd class=\"rate\"#31#"}) {
            QVERIFY2(text.contains(pair), qPrintable(pair));
            text.remove(pair);
        }
        const QString config = writeFile("norates/config.htm", encode936(text));
        const QString settings = writeFile(
            "norates/site.conf",
            QStringLiteral("[hosts]\nmain=%1\ntradecard=%1\n").arg(site.hostPort()).toUtf8());
        const QString out = m_dir.filePath("norates/capture");
        CliRun run = runCli(
            {"capture", "--settings", settings, "--config", config, "xiaoyu_2008", "--out", out},
            m_dir.path());
        QCOMPARE(run.exitCode, 0);

        run = runCli({"check-config", "--expect", config, out}, m_dir.path());
        QCOMPARE(run.exitCode, 0);
        for (int entry : {7, 14, 16, 31})
            QVERIFY2(run.out.contains(QStringLiteral(": warning: entry %1: left empty").arg(entry)),
                     qPrintable(run.out));
        QVERIFY2(!run.out.contains(": error: "), qPrintable(run.out));

        run = runCli(
            {"query", "--no-history", "--settings", settings, "--config", config, "xiaoyu_2008"},
            m_dir.path());
        QCOMPARE(run.exitCode, 0);
        const QJsonObject record = QJsonDocument::fromJson(run.out.toUtf8()).object();
        QCOMPARE(record["goodRate"].toString(), "97.71");
        QCOMPARE(record["goodCount"].toString(), "128");
    }

    void diffNamesEntriesAndMeanings()
    {
        QString changed = demoConfigText();
        changed.replace("<TR class=good>#8#", "<tr class=\"good\">#8#");
        changed.replace("#89#中评#71#", "");
        changed += "#89#人机验证#77#";
        const QString before = writeFile("before.htm", readAll(kDemoConfig));
        const QString after = writeFile("after.htm", encode936(changed));
        const CliRun run = runCli({"check-config", "--diff", before, after}, m_dir.path());
        QCOMPARE(run.exitCode, 0);
        const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines[0].startsWith("changed entry 8 (detail page: good count (layout A), first "
                                     "marker): \"<TR class=good>\" -> \"<tr class=\\\"good\\\">\""),
                 qPrintable(lines[0]));
        QVERIFY2(lines[1].startsWith("removed entry 71 (detail page: neutral ratings received"),
                 qPrintable(lines[1]));
        QVERIFY2(lines[2].startsWith("added entry 77 (block marker") &&
                     lines[2].endsWith("\"人机验证\""),
                 qPrintable(lines[2]));
    }

    // A local configuration and area table instead of the downloads: from the options, or from
    // the settings (relative to the settings file). Our web site is down here.
    void localConfiguration_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("settingsQuery");
        QTest::addColumn<QString>("lookup");
        QTest::addColumn<bool>("areaFromTable");
        QTest::newRow("downloads only") << QStringList{} << ""
                                        << "noConfiguration" << false;
        QTest::newRow("--config") << QStringList{"--config", "CONFIG"} << ""
                                  << "found" << false;
        QTest::newRow("--config and --area-table")
            << QStringList{"--config", "CONFIG", "--area-table", kDemoAreaTable} << ""
            << "found" << true;
        QTest::newRow("[query] configFile and areaTableFile")
            << QStringList{} << "configFile=local/config.htm\nareaTableFile=local/city.txt\n"
            << "found" << true;
    }
    void localConfiguration()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, settingsQuery);
        QFETCH(QString, lookup);
        QFETCH(bool, areaFromTable);
        DemoSite site;
        QVERIFY(site.start());
        QTcpServer closed; // a port nobody answers on: our web site is down
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString down = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
        closed.close();
        const QString config = writeFile(
            "local/config.htm", readAll(kDemoConfig).replace("{SITE}", site.hostPort().toLatin1()));
        writeFile("local/city.txt", readAll(kDemoAreaTable));
        const QString settings =
            writeFile("local.conf", QStringLiteral("[hosts]\nmain=%1\ntradecard=%2\n[query]\n%3")
                                        .arg(down, site.hostPort(), settingsQuery)
                                        .toUtf8());
        options.replaceInStrings("CONFIG", config);
        const CliRun run = runCli(QStringList{"query", "--no-history", "--settings", settings} +
                                      options + QStringList{"xiaoyu_2008"},
                                  m_dir.path());
        const QJsonObject result = QJsonDocument::fromJson(run.out.toUtf8()).object();
        QCOMPARE(result["lookup"].toString(), lookup);
        QCOMPARE(run.exitCode, lookup == "found" ? 0 : 3);
        if (lookup == "found") {
            QCOMPARE(result["goodCount"].toString(), "128");
            QCOMPARE(result["address"].toString() == QStringLiteral("广东省深圳市"), areaFromTable);
        }
    }

    // A blocked page is recorded as blocked; a page over the fetch's bounds keeps no body; the
    // viewer logins and the seller's notes never reach the capture.
    void captureKeepsOnlyWhatWasRead()
    {
        FixtureServer server;
        QVERIFY(server.listen());
        const QString host = "http://" + server.hostPort();
        ConfigEntries entries = marketplaceEntries(host);
        entries.append({0, host + "/search?q={mjna}"});
        entries.append({90, "Brelvon test"});
        server.setPage("/soft/qvdl/fmj2.htm", gbk(indexedListText(entries)));
        server.setPage("/soft/qvdl/city.txt", gbk(QStringLiteral("440000#广东省\r\n")));
        server.setPage("/search", gbk(QStringLiteral("<p>请登录</p><div>滑块</div>")));
        server.setPage("/tradecard/nameCard.htm", QByteArray(17 * 1024 * 1024, 'x'));
        server.setPage("/tradecard/popupNameCard.htm", gbk(QStringLiteral("买家好评率：99.5%")));
        const QString settings =
            writeFile("capture.conf", QStringLiteral("[hosts]\nmain=%1\ntradecard=%1\n[viewer]\n"
                                                     "nameCardLogin=cntaobaoSecretViewer\n"
                                                     "popupLogin=cntaobaoSecretPopup\n")
                                          .arg(server.hostPort())
                                          .toUtf8());
        const QString database = m_dir.filePath("seller.sqlite");
        QCOMPARE(runCli({"note", "add", "--database", database, "tom", "SellerPrivateNote"},
                        m_dir.path())
                     .exitCode,
                 0);
        const QString out = m_dir.filePath("capture-tom");
        const CliRun run =
            runCli({"capture", "--settings", settings, "--database", database, "tom", "--out", out},
                   m_dir.path());
        QCOMPARE(run.exitCode, 3); // blocked
        QVERIFY2(run.err.contains("tom: blocked"), qPrintable(run.err));

        LoadedCapture capture;
        QString error;
        QVERIFY2(loadCapture(out, &capture, &error), qPrintable(error));
        QCOMPARE(capture.index.lookup, "blocked");
        const CapturedPage *search = capture.index.page("search");
        QVERIFY(search);
        QCOMPARE(search->result.outcome, PageOutcome::Blocked);
        // The blocked page ended the lookup: nothing after it was asked for.
        QVERIFY(!capture.index.page("nameCard") && !capture.index.page("popup"));
        QCOMPARE(server.requestCount("/tradecard/nameCard.htm"), 0);

        // Let in, the lookup reads on: the oversized name card is noted, not kept.
        server.setPage("/search", gbk(QStringLiteral("<p>没有找到</p>")));
        const QString second = m_dir.filePath("capture-tom-2");
        runCli({"capture", "--settings", settings, "--database", database, "tom", "--out", second},
               m_dir.path());
        LoadedCapture read;
        QVERIFY2(loadCapture(second, &read, &error), qPrintable(error));
        const CapturedPage *card = read.index.page("nameCard");
        QVERIFY(card && read.index.page("popup"));
        QCOMPARE(card->result.outcome, PageOutcome::TooLarge);
        QCOMPARE(card->file, QString());
        QCOMPARE(read.index.record.goodRate, "99.5");
        for (const QString &folder : {out, second}) {
            for (const QString &file : QDir(folder).entryList(QDir::Files)) {
                const QByteArray bytes = readAll(folder + u'/' + file);
                QVERIFY2(!bytes.contains("Secret") && !bytes.contains("SellerPrivateNote"),
                         qPrintable(file));
                QVERIFY(bytes.size() < 1024 * 1024);
            }
        }
        // Checked offline, the blocked page still gives nothing, and says why.
        const CaptureCheck check = checkCapture(capture.config.config, capture.config.config,
                                                capture.pages, capture.index.record);
        QVERIFY(!check.differs());
        QCOMPARE(check.fields.last().note, "the search page is a block page");

        // A second capture never goes into a folder that holds one.
        const CliRun again =
            runCli({"capture", "--settings", settings, "tom", "--out", out}, m_dir.path());
        QCOMPARE(again.exitCode, 2);
        QVERIFY2(again.err.contains("is not an empty folder"), qPrintable(again.err));
    }

    // Another program may put links into the capture's folder while the lookup runs: every file
    // is made new, and nothing is written through a link, dangling or not.
    void captureWritesNoLink_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::newRow("a page's name") << "01-search.htm";
        QTest::newRow("the index's name") << "capture.json";
    }
    void captureWritesNoLink()
    {
        QFETCH(QString, planted);
        const QString folder = m_dir.filePath("planted-" + planted);
        const QString victim = writeFile("victim-" + planted, "the reader's own");
        const QString outside = m_dir.filePath("made-outside-" + planted);
        QVERIFY(QDir().mkpath(folder));
        // A page's name leads to a file of the reader's, the index's to a file not there yet.
        QVERIFY(QFile::link(planted == "capture.json" ? outside : victim, folder + '/' + planted));
        Capture capture;
        capture.buyerId = "tom";
        QString error;
        QVERIFY(!writeCaptureFolder(folder, capture, {{"01-search.htm", "page"}}, &error));
        QVERIFY2(error.contains("already there"), qPrintable(error));
        QCOMPARE(readAll(victim), QByteArray("the reader's own"));
        QVERIFY(!QFileInfo::exists(outside));
        QVERIFY(
            QDir(folder).entryList({".*"}, QDir::Hidden | QDir::Files | QDir::System).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestConfigCheck)
#include "test_configcheck.moc"
