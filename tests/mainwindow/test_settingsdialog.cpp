// The settings dialog on real files, the connection test against fixture servers, the first run
// and the window's use of a stored configuration.

#include "demosite/demosite.h"
#include "files/inidocument.h"
#include "fixtures.h"
#include "fixtureserver.h"
#include "forwardingproxy.h"
#include "lookup/configcache.h"
#include "lookup/lookupservice.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/settingsdialog.h"
#include "web/canceltoken.h"
#include "windowonsession.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include <sys/stat.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestSettingsDialog : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString writeFile(const QString &name, const QByteArray &content)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            f.write(content) != content.size())
            return {};
        return path;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // What the dialog shows is what it writes; everything else in the file stays, line by line.
    void keepsWhatItDoesNotChange()
    {
        const QString path = writeFile("kept.conf", "; the seller's own note\n"
                                                    "[hosts]\n"
                                                    "main = old.example:8080 ; was here\n"
                                                    "mirror=unknown.example\n"
                                                    "\n"
                                                    "[batch]\n"
                                                    "; two at once\n"
                                                    "jobs=2\n"
                                                    "\n"
                                                    "[custom]\n"
                                                    "colour=blue\n");
        SettingsDialog dialog(path);
        QCOMPARE(dialog.fieldText("hosts/main"), QStringLiteral("old.example:8080"));
        QCOMPARE(dialog.fieldText("batch/jobs"), QStringLiteral("2"));
        QCOMPARE(dialog.fieldText("risk/minGoodRate"), QStringLiteral("97")); // the default
        dialog.setFieldText("hosts/main", "new.example");
        dialog.setFieldText("batch/jobs", "4");
        dialog.setFieldText("risk/minGoodRate", "95.5");
        dialog.setFieldText("query/blockMarkers", "请登录, 稍后|滑块");
        dialog.setFieldText("storage/history", "false");
        QSignalSpy saved(&dialog, &SettingsDialog::saved);
        QVERIFY2(dialog.save(), qPrintable(dialog.problem()));
        QCOMPARE(readAll(path), QByteArray("; the seller's own note\n"
                                           "[hosts]\n"
                                           "main = new.example ; was here\n"
                                           "mirror=unknown.example\n"
                                           "\n"
                                           "[batch]\n"
                                           "; two at once\n"
                                           "jobs=4\n"
                                           "\n"
                                           "[custom]\n"
                                           "colour=blue\n"
                                           "\n"
                                           "[query]\n"
                                           "blockMarkers=\"请登录, 稍后|滑块\"\n"
                                           "\n"
                                           "[risk]\n"
                                           "minGoodRate=95.5\n"
                                           "\n"
                                           "[storage]\n"
                                           "history=false\n"));
        // The program reads back what the dialog showed.
        QCOMPARE(saved.size(), 1);
        const auto settings = saved[0][0].value<QuerySettings>();
        QCOMPARE(settings.mainHost, QStringLiteral("new.example"));
        QCOMPARE(settings.batchJobs, 4);
        QCOMPARE(settings.risk.minGoodRate, 95.5);
        QCOMPARE(settings.blockMarkers, QStringList({"请登录, 稍后", "滑块"}));
        QCOMPARE(saved[0][1].value<StorageSettings>().history, false);
        QVERIFY(QDir(m_dir.path()).entryList({"kept.conf?*"}).isEmpty()); // no leftovers
    }

    // A value the program would refuse is named beside its field and nothing is written.
    void refusesOutOfRange_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("good");
        QTest::newRow("jobs 9") << "batch/jobs"
                                << "9"
                                << "8";
        QTest::newRow("jobs not a number") << "batch/jobs"
                                           << "two"
                                           << "2";
        QTest::newRow("pace negative") << "batch/paceMs"
                                       << "-1"
                                       << "0";
        QTest::newRow("max ids 2001") << "batch/maxIds"
                                      << "2001"
                                      << "2000";
        QTest::newRow("sort by size") << "batch/sort"
                                      << "size"
                                      << "risk";
        QTest::newRow("good rate over 100") << "risk/minGoodRate"
                                            << "100.5"
                                            << "100";
        QTest::newRow("high at 0 reasons") << "risk/highAtReasons"
                                           << "0"
                                           << "1";
        QTest::newRow("config age 0 days") << "query/maxConfigAgeDays"
                                           << "0"
                                           << "1";
        QTest::newRow("host with scheme") << "hosts/main"
                                          << "http://x.example/"
                                          << "x.example";
        QTest::newRow("port too big") << "hosts/tradecard"
                                      << "x.example:65536"
                                      << "x.example:1";
        QTest::newRow("no host at all") << "hosts/main"
                                        << ""
                                        << "ok.example";
        QTest::newRow("proxy without a port") << "network/proxy"
                                              << "http://proxy.example"
                                              << "http://proxy.example:3128";
        QTest::newRow("line feed") << "viewer/nameCardLogin"
                                   << "cntaobao\nx"
                                   << "cntaobaox";
        QTest::newRow("carriage return") << "viewer/nameCardLogin"
                                         << "x\r[hosts]\rmain=evil.example"
                                         << "x";
    }
    void refusesOutOfRange()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, good);
        const QByteArray before = "[hosts]\nmain=ok.example\n";
        const QString path = writeFile("refused.conf", before);
        SettingsDialog dialog(path);
        dialog.setFieldText("viewer/popupLogin", "cntaobaoseller"); // goes unwritten with it
        dialog.setFieldText(key, value);
        QSignalSpy saved(&dialog, &SettingsDialog::saved);
        QVERIFY(!dialog.save());
        QVERIFY(!dialog.fieldProblem(key).isEmpty());
        QVERIFY(dialog.fieldProblem("viewer/popupLogin").isEmpty());
        QCOMPARE(readAll(path), before);
        QCOMPARE(saved.size(), 0);
        // Put right, it saves, and the reason goes.
        dialog.setFieldText(key, good);
        QVERIFY2(dialog.save(), qPrintable(dialog.problem()));
        QVERIFY(dialog.fieldProblem(key).isEmpty());
        QCOMPARE(saved.size(), 1);
    }

    // Whatever a field holds, the program reads back the same text from the file.
    void valuesReadBack_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("plain") << "cntaobaoseller";
        QTest::newRow("comma") << "请登录,稍后再试";
        QTest::newRow("semicolon") << "a;b";
        QTest::newRow("quotes and backslash") << "say \"hi\" \\ bye";
        QTest::newRow("blanks around") << "  spaced  ";
        QTest::newRow("leading at") << "@Variant(x)";
        QTest::newRow("empty") << "";
        QTest::newRow("line feed") << "a\nb";
        QTest::newRow("carriage return") << "x\r[hosts]\rmain=evil.example";
    }
    void valuesReadBack()
    {
        QFETCH(QString, value);
        // A file of its own per row: QSettings keeps what it read of a path while the file's time
        // stays the same, and rows follow each other within that time.
        const QString path =
            writeFile(QStringLiteral("readback-%1.conf").arg(QTest::currentDataTag()),
                      "[viewer]\npopupLogin=old ; keep me\n");
        IniDocument document;
        QString error;
        QVERIFY(document.load(path, &error));
        document.setValue("viewer", "popupLogin", value);
        QVERIFY(document.save(path, &error));
        QCOMPARE(QSettings(path, QSettings::IniFormat).value("viewer/popupLogin").toString(),
                 value);
        QVERIFY(readAll(path).endsWith(" ; keep me\n"));
        IniDocument again;
        QVERIFY(again.load(path, &error));
        QCOMPARE(again.value("viewer", "popupLogin").value_or("<none>"), value);
    }

    // The editor reads a file as the program does, and changes only the value it sets: every
    // other byte stays, whatever the line ends; a file that is not UTF-8 is not saved at all.
    void editsAsTheProgramReads_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("after"); // empty: refused
        QTest::newRow("carriage return ends a line")
            << QByteArray("[hosts]\nmain=ok.example\n[viewer]\npopupLogin=x\r[hosts]\r"
                          "main=evil.example.net\n")
            << "hosts/main"
            << QByteArray("[hosts]\nmain=new.example\n[viewer]\npopupLogin=x\r[hosts]\r"
                          "main=new.example\n");
        QTest::newRow("comment after a header")
            << QByteArray("[hosts] ; ours\nmain=ok.example\n") << "hosts/second"
            << QByteArray("[hosts] ; ours\nmain=ok.example\nsecond=new.example\n");
        QTest::newRow("key escaped")
            << QByteArray("[hosts]\nsecond=b\nma%69n=evil.example\n") << "hosts/main"
            << QByteArray("[hosts]\nsecond=b\nma%69n=new.example\n");
        QTest::newRow("mixed line ends")
            << QByteArray("; note\r\n[hosts]\r\nmain=ok.example\n\n[batch]\rjobs=2\r\n")
            << "batch/jobs"
            << QByteArray("; note\r\n[hosts]\r\nmain=ok.example\n\n[batch]\rjobs=new.example\r\n");
        QTest::newRow("value over two lines")
            << QByteArray("[hosts]\nmain=\"ok.example\nstill\" ; kept\nsecond=b\n") << "hosts/main"
            << QByteArray("[hosts]\nmain=new.example ; kept\nsecond=b\n");
        QTest::newRow("GBK comment") << QByteArray("; \xC4\xE3\xBA\xC3\n[hosts]\nmain=ok.example\n")
                                     << "hosts/main" << QByteArray();
    }
    void editsAsTheProgramReads()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, key);
        QFETCH(QByteArray, after);
        const QString path =
            writeFile(QStringLiteral("edit-%1.conf").arg(QTest::currentDataTag()), before);
        const QString section = key.section(u'/', 0, 0);
        const QString name = key.section(u'/', 1);
        IniDocument document;
        QString error;
        QVERIFY(document.load(path, &error));
        const QVariant read = QSettings(path, QSettings::IniFormat).value(key);
        QCOMPARE(document.value(section, name).value_or("<none>"),
                 read.isValid() ? read.toString() : QStringLiteral("<none>"));
        document.setValue(section, name, "new.example");
        if (after.isEmpty()) {
            QVERIFY(!document.save(path, &error));
            QVERIFY2(error.contains("UTF-8"), qPrintable(error));
            QCOMPARE(readAll(path), before);
            return;
        }
        QVERIFY2(document.save(path, &error), qPrintable(error));
        QCOMPARE(readAll(path), after);
        QCOMPARE(QSettings(path, QSettings::IniFormat).value(key).toString(), "new.example");
    }

    // A settings file kept elsewhere behind a link is followed on purpose: the file it leads to
    // gets the change, the link stays.
    void settingsLinkFollowed()
    {
        const QString target = writeFile("elsewhere.conf", "[hosts]\nmain=ok.example\n");
        const QString link = m_dir.filePath("linked.conf");
        QVERIFY(QFile::link(target, link));
        SettingsDialog dialog(link);
        dialog.setFieldText("hosts/main", "new.example");
        QVERIFY2(dialog.save(), qPrintable(dialog.problem()));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(readAll(target), QByteArray("[hosts]\nmain=new.example\n"));
    }

    // A damaged or foreign file where a stored copy should be is no configuration: the lookup
    // says it has none rather than reading garbage, or waiting on a pipe or an endless device. A
    // copy dated ahead of the clock has no age that can be told: too old.
    void damagedStoredCopy_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("special");
        QTest::newRow("empty") << QByteArray() << "";
        QTest::newRow("foreign") << QByteArray("Brelvon#90#http://x/s#0#") << "";
        QTest::newRow("no time") << QByteArray("Brelvon cached copy 1\naddress=x\n\nhttp://x/s#0#")
                                 << "";
        QTest::newRow("bad time") << QByteArray(
                                         "Brelvon cached copy 1\nsaved=yesterday\n\nhttp://x/s#0#")
                                  << "";
        QTest::newRow("cut in its head") << QByteArray("Brelvon cached copy 1\nsaved=2026-") << "";
        QTest::newRow("dated 2099")
            << QByteArray("Brelvon cached copy 1\nsaved=2099-01-01T00:00:00Z"
                          "\n\nBrelvon#90#http://x/s?q={mjna}#0#")
            << "";
        QTest::newRow("link to /dev/zero") << QByteArray() << "/dev/zero";
        QTest::newRow("pipe") << QByteArray() << "fifo";
    }
    void damagedStoredCopy()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, special);
        QuerySettings settings;
        settings.mainHost = "127.0.0.1:1"; // refuses: our site gives nothing
        ConfigCache cache(m_dir.filePath("damaged-cache"));
        QVERIFY(QDir().mkpath(cache.folder()));
        const QString copy = cache.filePath(ConfigCache::Document::QueryConfiguration, settings);
        QFile::remove(copy);
        if (special == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(copy).constData(), 0600), 0);
        else if (!special.isEmpty())
            QVERIFY(QFile::link(special, copy));
        else
            writeFile("damaged-cache/" + QFileInfo(copy).fileName(), bytes);
        if (!bytes.contains("2099"))
            QVERIFY(!cache.load(ConfigCache::Document::QueryConfiguration, settings));
        LookupService service(settings);
        service.setConfigCache(std::make_shared<const ConfigCache>(cache));
        const CancelToken cancel;
        const LookupOutcome outcome = service.lookup("tom", cancel);
        QCOMPARE(outcome.status, LookupStatus::NoConfiguration);
        QVERIFY(!outcome.cachedConfiguration);
    }

    // A stored copy is written into a folder of the seller's only, made so from the top whatever
    // the umask, and never through a link: a link at a copy's name is replaced, the file it leads
    // to untouched; a folder reached through a link keeps its mode.
    void storedCopiesStayOwn()
    {
        QuerySettings settings;
        settings.mainHost = "our.example";
        const QString victim = writeFile("victim.txt", "the seller's own");
        const mode_t oldMask = ::umask(0);
        ConfigCache made(m_dir.filePath("data-home/Brelvon/cache"));
        QString error;
        const bool stored = made.store(ConfigCache::Document::AreaTable, settings, "广东", "x",
                                       QDateTime::currentDateTimeUtc(), &error);
        ::umask(oldMask);
        QVERIFY2(stored, qPrintable(error));
        for (const char *folder : {"data-home", "data-home/Brelvon", "data-home/Brelvon/cache"})
            QCOMPARE(QFileInfo(m_dir.filePath(folder)).permissions() & 0x0077, 0);

        const QString copy = made.filePath(ConfigCache::Document::QueryConfiguration, settings);
        QVERIFY(QFile::link(victim, copy));
        QVERIFY(made.store(ConfigCache::Document::QueryConfiguration, settings, "Brelvon#90#", "x",
                           QDateTime::currentDateTimeUtc()));
        QCOMPARE(readAll(victim), QByteArray("the seller's own"));
        QVERIFY(!QFileInfo(copy).isSymLink());

        const QString shared = m_dir.filePath("shared");
        QVERIFY(QDir().mkpath(shared));
        QVERIFY(QFile::setPermissions(shared, QFileDevice::Permissions(0x7777)));
        QVERIFY(QFile::link(shared, m_dir.filePath("linked-cache")));
        const ConfigCache linked(m_dir.filePath("linked-cache"));
        QVERIFY(linked.store(ConfigCache::Document::AreaTable, settings, "广东", "x",
                             QDateTime::currentDateTimeUtc()));
        QCOMPARE(QFileInfo(shared).permissions(), QFileDevice::Permissions(0x7777));
    }

    // The connection test: a good and a silent host end within the usual waits; the test can be
    // stopped.
    void connectionTest()
    {
        FixtureServer good;
        FixtureServer silent;
        QVERIFY(good.listen() && silent.listen());
        good.setPage("/soft/qvdl/fmj2.htm", "Brelvon#90#http://x/s?q={mjna}#0#");
        good.setPage("/soft/qvdl/zkrap2.htm", "Brelvon#3#");
        FixtureResponse never;
        never.neverAnswer = true;
        silent.setResponse("/soft_set/fmj2.htm", never);
        silent.setResponse("/soft/wrub/zkrap2.htm", never);
        const QString path =
            writeFile("test.conf", "[hosts]\nmain=" + good.hostPort().toUtf8() +
                                       "\nsecond=" + silent.hostPort().toUtf8() + "\n");
        SettingsDialog dialog(path);
        QSignalSpy finished(&dialog, &SettingsDialog::connectionTestFinished);
        QTest::mouseClick(dialog.findChild<QPushButton *>("testConnectionButton"), Qt::LeftButton);
        QVERIFY(dialog.connectionTestRunning());
        QVERIFY(finished.wait(30000));
        const QList<ConnectionCheck> checks = dialog.connectionResults();
        QCOMPARE(checks.size(), 4);
        QVERIFY(checks[1].gaveConfiguration());
        QCOMPARE(checks[1].configEntries, 2);
        QCOMPARE(checks[3].page.outcome, PageOutcome::Timeout);
        const QString shown =
            dialog.findChild<QPlainTextEdit *>("connectionResults")->toPlainText();
        QVERIFY2(shown.contains("主服务器 " + good.hostPort() + " 查询配置：正常") &&
                     shown.contains("读到2项配置") && shown.contains("备用服务器") &&
                     shown.contains("超时"),
                 qPrintable(shown));

        // Stopped: it ends within a moment, and says so.
        QTest::mouseClick(dialog.findChild<QPushButton *>("testConnectionButton"), Qt::LeftButton);
        QVERIFY(dialog.connectionTestRunning());
        QTest::qWait(300);
        QTest::mouseClick(dialog.findChild<QPushButton *>("cancelConnectionTestButton"),
                          Qt::LeftButton);
        QVERIFY(finished.wait(3000));
        QVERIFY(!dialog.connectionTestRunning());
        QCOMPARE(dialog.connectionResults().at(3).page.outcome, PageOutcome::Cancelled);
        QVERIFY(dialog.findChild<QPlainTextEdit *>("connectionResults")
                    ->toPlainText()
                    .endsWith("测试已停止。"));
        // Closing the dialog in the middle of a test does not wait for the hosts.
        QTest::mouseClick(dialog.findChild<QPushButton *>("testConnectionButton"), Qt::LeftButton);
    }

    // The test goes through the proxy typed in the dialog, before it is saved.
    void connectionTestThroughTypedProxy()
    {
        FixtureServer site;
        ForwardingProxy proxy;
        QVERIFY(site.listen() && proxy.listen());
        site.setPage("/soft/qvdl/fmj2.htm", "Brelvon#90#http://x/s?q={mjna}#0#");
        proxy.map("brelvon.invalid", site.hostPort());
        const QString path = writeFile("proxy.conf", "[hosts]\nmain=brelvon.invalid\n");
        SettingsDialog dialog(path);
        dialog.setFieldText("network/proxy", proxy.address());
        QSignalSpy finished(&dialog, &SettingsDialog::connectionTestFinished);
        QTest::mouseClick(dialog.findChild<QPushButton *>("testConnectionButton"), Qt::LeftButton);
        QVERIFY(finished.wait(30000));
        QVERIFY(dialog.connectionResults().at(1).gaveConfiguration());
        QCOMPARE(proxy.requestLines().filter("GET http://brelvon.invalid/soft/").size(), 2);
    }

    // The program started without a settings file opens the dialog on 服务器 and writes no
    // template.
    void firstRunOpensTheDialog()
    {
        const QString home = m_dir.filePath("first-run");
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", home);
        env.insert("XDG_DATA_HOME", home + "/data");
        env.insert("BRELVON_QUIT_AFTER_SHOW", "1");
        program.setProcessEnvironment(env);
        program.start(QCoreApplication::applicationDirPath() + "/brelvon", QStringList());
        QVERIFY(program.waitForFinished(30000));
        const QByteArray out = program.readAllStandardOutput();
        QCOMPARE(program.exitCode(), 0);
        QVERIFY2(out.contains("settings=服务器"), out.constData());
        QVERIFY(!QFileInfo::exists(home + "/Brelvon/brelvon.conf"));
    }

    // "使用演示站点": the window looks up against the bundled demo site from then on, recording
    // nothing.
    void demoSiteChoice()
    {
        DemoSite site; // started by the program when the seller asks for it
        QuerySettings none;
        const std::unique_ptr<MainWindow> owned = windowOn(none);
        MainWindow &window = *owned;
        window.setSettingsPath(m_dir.filePath("never-written.conf"));
        window.session().setDemoSiteStarter(
            [&site] { return site.start() ? site.hostPort() : QString(); });
        window.show();
        window.openFirstRunSettings();
        SettingsDialog *dialog = window.settingsDialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->findChild<QTabWidget *>("settingsSections")->currentIndex(), 0);
        auto *demo = dialog->findChild<QPushButton *>("useDemoSiteButton");
        QVERIFY(demo && demo->isVisible());
        QTest::mouseClick(demo, Qt::LeftButton);
        QTRY_VERIFY(!window.settingsDialog());
        QVERIFY(window.usesDemoSite());
        QVERIFY(!window.session().recordsHistory());
        window.findChild<QLineEdit *>("Text2")->setText("xiaoyu_2008");
        QTest::mouseClick(window.findChild<QPushButton *>("Command7"), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return !window.queryRunning(); }, 60000));
        QVERIFY(window.shownOutcome());
        QCOMPARE(window.shownOutcome()->result.record.nick, QStringLiteral("小宇"));
        QVERIFY(!QFileInfo::exists(m_dir.filePath("never-written.conf")));
    }

    // Saved settings reach the next lookup without a restart.
    void savedSettingsApply()
    {
        FixtureServer first;
        FixtureServer second;
        QVERIFY(first.listen() && second.listen());
        const QString path =
            writeFile("apply.conf", "[hosts]\ntradecard=" + first.hostPort().toUtf8() + "\n");
        QuerySettings settings;
        settings.tradeCardHost = first.hostPort();
        const std::unique_ptr<MainWindow> owned = windowOn(settings);
        MainWindow &window = *owned;
        window.setSettingsPath(path);
        window.openSettings();
        SettingsDialog *dialog = window.settingsDialog();
        QVERIFY(dialog);
        dialog->setFieldText("hosts/tradecard", second.hostPort());
        QTest::mouseClick(dialog->findChild<QPushButton *>("saveSettingsButton"), Qt::LeftButton);
        QTRY_VERIFY(!window.settingsDialog());
        window.findChild<QLineEdit *>("Text2")->setText("tom");
        QTest::mouseClick(window.findChild<QPushButton *>("Command7"), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return !window.queryRunning(); }, 60000));
        QCOMPARE(first.requestCount("/tradecard/nameCard.htm"), 0);
        QCOMPARE(second.requestCount("/tradecard/nameCard.htm"), 1);
    }

    // While our site gives no configuration, the window looks up with the stored one and says
    // how old it is, in grey.
    void windowSaysStoredConfiguration()
    {
        FixtureServer site;
        QVERIFY(site.listen());
        const QString host = "http://" + site.hostPort();
        site.setPage("/tradecard/nameCard.htm", gbk("<p>注册时间：2005-03-12</p>"));
        site.setPage("/search", gbk("<li class=\"member\"><a href=\"/u?uid=7\">tom</a></li>"));
        QuerySettings settings;
        settings.mainHost = settings.tradeCardHost = site.hostPort();
        auto cache = std::make_shared<const ConfigCache>(m_dir.filePath("window-cache"));
        const QString config =
            indexedListText(ConfigEntries{{90, "Brelvon"}, {0, host + "/search?q={mjna}"}} +
                            marketplaceEntries(host));
        QVERIFY(cache->store(ConfigCache::Document::QueryConfiguration, settings, config,
                             host + "/soft/qvdl/fmj2.htm",
                             QDateTime::currentDateTimeUtc().addDays(-3)));
        const std::unique_ptr<MainWindow> owned = windowOn(settings);
        MainWindow &window = *owned;
        window.session().setConfigCache(cache);
        window.show();
        window.findChild<QLineEdit *>("Text2")->setText("tom");
        QTest::mouseClick(window.findChild<QPushButton *>("Command7"), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return !window.queryRunning(); }, 60000));
        QVERIFY(window.shownOutcome());
        QCOMPARE(window.shownOutcome()->result.record.regTime, QStringLiteral("2005-03-12"));
        QCOMPARE(site.requestCount("/search"), 1); // the stored configuration's own address
        auto *line = window.findChild<QLabel *>("ConfigAgeLine");
        QVERIFY(line && line->isVisible());
        QCOMPARE(line->text(), QStringLiteral("使用3天前保存的查询配置"));
    }
};

QTEST_MAIN(TestSettingsDialog)

#include "test_settingsdialog.moc"
