// The embedded browser against the loopback fixture server and the demo site: what it reads,
// when it stops, what it refuses, and the way a query, the window and brelvon-cli reach it.

#include "browser/hiddenbrowser.h"
#include "browser/pagehandover.h"
#include "demosite/demosite.h"
#include "directfetch.h"
#include "engine/pagerules.h"
#include "fixtures.h"
#include "fixtureserver.h"
#include "mainwindow/mainwindow.h"
#include "querylookups.h"
#include "web/canceltoken.h"
#include "web/codepage936.h"
#include "web/fetchpage.h"
#include "windowonsession.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

struct Answer
{
    bool done = false;
    QString html;
};

// Starts a load and waits for its answer (shared: a load that outlives the wait writes here).
std::shared_ptr<Answer> startLoad(HiddenBrowser &browser, const QString &address,
                                  HiddenBrowser::Wanted wanted = {})
{
    auto answer = std::make_shared<Answer>();
    browser.load(
        address,
        [answer](const QString &html) {
            answer->html = html;
            answer->done = true;
        },
        std::move(wanted));
    return answer;
}

QString load(HiddenBrowser &browser, const QString &address)
{
    const auto answer = startLoad(browser, address);
    if (!QTest::qWaitFor([&] { return answer->done; }, 60000))
        return QStringLiteral("(no answer)");
    return answer->html;
}

FixtureResponse page(const QByteArray &html)
{
    FixtureResponse r;
    r.headers = {{"Content-Type", "text/html; charset=utf-8"}};
    r.body = html;
    return r;
}

// public.test: a public host whose pages come from the fixture server on this machine.
const bool g_publicHost = [] {
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    flags += QByteArray(flags.isEmpty() ? "" : " ") +
             "--host-resolver-rules=\"MAP public.test 127.0.0.1\"";
    return qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
}();

// The proportional memory of a process and every process below it (the browser's own), in MiB.
qint64 treeMemoryMB(qint64 root)
{
    QList<qint64> tree{root};
    for (int i = 0; i < tree.size(); ++i) {
        QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(tree.at(i)));
        if (children.open(QIODevice::ReadOnly)) {
            for (const QByteArray &child : children.readAll().simplified().split(' '))
                if (!child.isEmpty())
                    tree.append(child.toLongLong());
        }
    }
    qint64 kib = 0;
    for (const qint64 pid : std::as_const(tree)) {
        QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
        if (!rollup.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : rollup.readAll().split('\n')) {
            if (line.startsWith("Pss:"))
                kib += line.mid(4).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return kib / 1024;
}

bool isBrowserAgent(const QByteArray &userAgent)
{
    return userAgent.contains("AppleWebKit");
}

} // namespace

class TestBrowser : public QObject
{
    Q_OBJECT

    std::unique_ptr<FixtureServer> m_server;
    std::atomic<qint64> m_shift{0}; // the fetch clock's lead over the system's

    QString url(const QString &target) const { return m_server->url(target); }

    // A query configuration with the demo site's markers: fetched text upper-case, browser text
    // as a browser writes it back.
    QByteArray configuration() const
    {
        const QString host = QStringLiteral("http://") + m_server->hostPort();
        const QList<QPair<int, QString>> entries = {{90, "Brelvon test configuration"},
                                                    {0, host + "/search?q={mjna}"},
                                                    {4, host + "/detail/{xyid}.htm"},
                                                    {5, "good"},
                                                    {8, "<TR class=good>"},
                                                    {29, "<tr class=\"good\">"},
                                                    {9, "result=1\">"},
                                                    {10, "<"},
                                                    {24, "认证信息："},
                                                    {25, "<SPAN class=auth>"},
                                                    {26, "</SPAN>"},
                                                    {32, "<span class=\"auth\">"},
                                                    {33, "</span>"},
                                                    {27, "支付宝"},
                                                    {28, "手机"},
                                                    {34, "userNumId"},
                                                    {35, "= \""},
                                                    {36, "\""},
                                                    {37, host + "/given?no={urlno}&r=0"},
                                                    {38, "neutral-row"},
                                                    {39, host + "/given?no={urlno}&r=-1"},
                                                    {64, "<li>"},
                                                    {65, "uid="},
                                                    {66, "\""},
                                                    {67, ">"},
                                                    {68, "</a>"}};
        return gbk(indexedListText(entries));
    }

private slots:
    void init()
    {
        m_server = std::make_unique<FixtureServer>();
        QVERIFY(m_server->listen());
        // A load ends at the change of the clock's minute: each test starts ten seconds into
        // one, so that only a test that moves the clock on meets the change.
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        m_shift = (now / 60000 + 1) * 60000 + 10000 - now;
        setFetchClock([this] { return QDateTime::currentMSecsSinceEpoch() + m_shift.load(); });
    }
    void cleanup()
    {
        m_server.reset();
        setFetchClock({});
    }

    // A detail page the plain fetch cannot read is read by the browser, on the window's thread,
    // for a query on a worker thread; one the plain fetch reads never starts the browser.
    void queryFallsBackToTheBrowser_data()
    {
        QTest::addColumn<bool>("browserOnly");
        QTest::newRow("served only to a browser") << true;
        QTest::newRow("the plain fetch reads it") << false;
    }
    void queryFallsBackToTheBrowser()
    {
        QFETCH(bool, browserOnly);
        m_server->setPage("/soft/qvdl/fmj2.htm", configuration());
        m_server->setPage("/search",
                          encode936(u"<ul><li><a href=\"/u?uid=777\">tom</a></li></ul>"));
        FixtureResponse detail;
        detail.headers = {{"Content-Type", "text/html; charset=gbk"}};
        detail.body = encode936(
            u"<HTML><BODY><TABLE><TR class=good><TD><A href=\"/r?u=1&result=1\">88</A></TD></TR>"
            u"</TABLE><P>认证信息：<SPAN class=auth>支付宝认证</SPAN></P>"
            u"<SCRIPT>var userNumId = \"4455\";</SCRIPT></BODY></HTML>");
        detail.browserOnly = browserOnly;
        m_server->setResponse("/detail/777.htm", detail);
        m_server->setPage("/given", "<p class=neutral-row></p><p class=neutral-row></p>");

        QuerySettings settings;
        settings.mainHost = settings.tradeCardHost = m_server->hostPort();
        QueryLookups query(settings);
        PageHandOver handOver;
        query.setBrowser(&handOver);
        BuyerQueryResult result;
        std::atomic<bool> finished{false};
        std::thread worker([&] {
            result = query.run(QStringLiteral("tom"));
            finished = true;
        });
        QVERIFY(QTest::qWaitFor([&] { return finished.load(); }, 120000));
        worker.join();

        const BuyerCreditRecord &r = result.record;
        QCOMPARE(r.goodCount, "88");
        QCOMPARE(r.verification, "支付宝认证");
        QCOMPARE(r.creditUrl, url("/detail/777.htm"));
        QCOMPARE(r.neutralGiven, "2");
        QVERIFY(m_server->requests().contains("/given?no=4455&r=-1"));

        QList<QByteArray> detailAgents;
        const QList<QByteArray> agents = m_server->userAgents();
        for (int i = 0; i < agents.size(); ++i) {
            if (m_server->requests().at(i) == "/detail/777.htm")
                detailAgents << agents.at(i);
        }
        QCOMPARE(detailAgents.size(), browserOnly ? 2 : 1);
        QVERIFY(!isBrowserAgent(detailAgents.at(0)));
        if (browserOnly)
            QVERIFY(isBrowserAgent(detailAgents.at(1)));
        // Nothing at all was requested by a browser that was never needed; it never started.
        QCOMPARE(std::count_if(agents.cbegin(), agents.cend(), isBrowserAgent),
                 browserOnly ? 1 : 0);
        QCOMPARE(handOver.pagesStarted(), browserOnly ? 1 : 0);
        QCOMPARE(std::count_if(
                     result.pages.cbegin(), result.pages.cend(),
                     [](const PageResult &p) { return p.browser && p.outcome == PageOutcome::Ok; }),
                 browserOnly ? 1 : 0);
    }

    // The body as the browser holds it once the page is complete: after its scripts ran.
    void bodyAsTheBrowserWritesIt_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("expected");
        QTest::newRow("written by a script")
            << "/written.htm"
            << "<script>document.write('<P>by ' + 'script</P>');</script><p>by script</p>";
        QTest::newRow("moved on by a script") << "/moving.htm"
                                              << "<p>arrived</p>";
    }
    void bodyAsTheBrowserWritesIt()
    {
        QFETCH(QString, target);
        QFETCH(QString, expected);
        m_server->setResponse(
            "/written.htm",
            page("<HTML><BODY><SCRIPT>document.write('<P>by ' + 'script</P>');</SCRIPT></BODY>"));
        m_server->setResponse(
            "/moving.htm",
            page("<BODY><P>leaving</P><SCRIPT>location.replace('/arrived.htm');</SCRIPT>"));
        m_server->setResponse("/arrived.htm", page("<BODY><P>arrived</P></BODY>"));
        HiddenBrowser browser;
        QCOMPARE(load(browser, url(target)), expected);
    }

    // A page that never completes is stopped when the clock's minute changes (not before), and
    // gives what had arrived; a job that is cancelled gives up its page at once, and the
    // browser goes on with the next load.
    void stopsWhenTheMinuteChanges_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("expected");
        QTest::newRow("never answers") << "never" << QString();
        QTest::newRow("stalls halfway") << "stall"
                                        << "<p>first half</p>";
        QTest::newRow("job cancelled") << "cancel" << QString();
    }
    void stopsWhenTheMinuteChanges()
    {
        QFETCH(QString, how);
        QFETCH(QString, expected);
        FixtureResponse slow;
        slow.headers = {{"Content-Type", "text/html; charset=utf-8"}};
        slow.body = "<html><body><p>first half</p>" + QByteArray(2000, ' ') + "<p>second half</p>" +
                    QByteArray(2000, ' ') + "</body></html>";
        slow.neverAnswer = how == "never";
        slow.stallMidBody = how != "never";
        m_server->setResponse("/slow.htm", slow);
        m_server->setResponse("/next.htm", page("<BODY><P>next</P>"));

        HiddenBrowser browser;
        std::atomic<bool> wanted{true};
        const auto answer =
            startLoad(browser, url("/slow.htm"), [&wanted] { return wanted.load(); });
        const auto next = startLoad(browser, url("/next.htm"));
        QVERIFY(QTest::qWaitFor([&] { return m_server->requestCount("/slow.htm") == 1; }, 60000));
        QTest::qWait(1500);
        QVERIFY(!answer->done); // still waiting for the page

        if (how == "cancel")
            wanted = false;
        else
            m_shift += 60000;
        QVERIFY(QTest::qWaitFor([&] { return answer->done; }, 20000));
        QCOMPARE(answer->html.trimmed(), expected);
        QVERIFY(QTest::qWaitFor([&] { return next->done; }, 60000));
        QCOMPARE(next->html, "<p>next</p>");
    }

    // Only http and https, no downloads, no error pages: each of these reads nothing.
    void refusesWhatItMustNot_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("starts");
        QTest::newRow("file address") << "file:///etc/hostname" << false;
        QTest::newRow("ftp address") << "ftp://127.0.0.1/x.htm" << false;
        QTest::newRow("redirect to a file") << "/to-file.htm" << true;
        QTest::newRow("download") << "/download.htm" << true;
        QTest::newRow("nothing listens") << "http://127.0.0.1:1/detail.htm" << true;
    }
    void refusesWhatItMustNot()
    {
        QFETCH(QString, address);
        QFETCH(bool, starts);
        FixtureResponse toFile;
        toFile.status = 302;
        toFile.reason = "Found";
        toFile.headers = {{"Location", "file:///etc/hostname"}};
        m_server->setResponse("/to-file.htm", toFile);
        FixtureResponse download = page("<p>secret</p>");
        download.headers = {{"Content-Type", "application/octet-stream"},
                            {"Content-Disposition", "attachment; filename=\"d.htm\""}};
        m_server->setResponse("/download.htm", download);

        HiddenBrowser browser;
        QCOMPARE(load(browser, address.startsWith('/') ? url(address) : address), QString());
        QCOMPARE(browser.isStarted(), starts);
    }

    // A page reaches nothing but http and https: not by moving on, not in a frame, not for what
    // it loads. Each page below would show "userNumId = 7" (written nowhere in its own text)
    // if the address it tries were followed, and the server sees any request made from there.
    void refusesOtherSchemes_data()
    {
        QTest::addColumn<QByteArray>("body");
        const QByteArray shown = "'<p>userNumId = ' + '7;</p>'";
        const QByteArray blob =
            "URL.createObjectURL(new Blob([" + shown + "], {type: 'text/html'}))";
        QTest::newRow("data: page")
            << QByteArray("<script>location.href = 'data:text/html,%3Cp%3EuserNumId%20%3D%207%3B"
                          "%3C/p%3E%3Cscript src=%SERVER%/reached.js%3E%3C/script%3E';</script>");
        QTest::newRow("javascript: address")
            << "<script>location.href = \"javascript:document.body.innerHTML = " + shown +
                   "\";</script>";
        QTest::newRow("javascript: link followed")
            << "<a id=a href=\"javascript:document.body.innerHTML = " + shown +
                   "\">x</a><script>document.getElementById('a').click();</script>";
        QTest::newRow("blob: page") << "<script>location.href = " + blob + ";</script>";
        QTest::newRow("data: frame") << QByteArray(
            "<iframe src=\"data:text/html,<script src=%SERVER%/reached.js></script>\">"
            "</iframe>");
        QTest::newRow("blob: frame")
            << "<script>var f = document.createElement('iframe'); f.src = " + blob +
                   "; document.body.appendChild(f);</script>";
        QTest::newRow("data: script") << QByteArray(
            "<p>here</p><script src=\"data:text/javascript,document.body.innerHTML"
            "%20%3D%20'%3Cp%3EuserNumId%20%3D%20'%20%2B%20'7%3B%3C/p%3E'\"></script>");
        QTest::newRow("blob: script")
            << "<p>here</p><script>var s = document.createElement('script'); s.src = "
               "URL.createObjectURL(new Blob([\"document.body.innerHTML = " +
                   shown + "\"])); document.body.appendChild(s);</script>";
    }
    void refusesOtherSchemes()
    {
        QFETCH(QByteArray, body);
        body.replace("%SERVER%", "http://" + m_server->hostPort().toLatin1());
        m_server->setResponse("/page.htm", page("<html><body>" + body + "</body></html>"));
        m_server->setResponse("/reached.js", page("document.title = 'reached';"));
        HiddenBrowser browser;
        const QString html = load(browser, url("/page.htm"));
        QVERIFY2(!html.contains(QStringLiteral("userNumId = 7")), qPrintable(html));
        QTest::qWait(300); // what a frame would still load
        QCOMPARE(m_server->requestCount("/reached.js"), 0);
    }

    // A public host's page reaches nothing in the local network: not by a redirect, not for
    // what it loads.
    void staysOutOfTheLocalNetwork_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("expected");
        QTest::newRow("redirect into it") << "/moved" << QString();
        QTest::newRow("script from it") << "/page.htm"
                                        << "<p>here</p><script src=\"%1/reached.js\"></script>";
    }
    void staysOutOfTheLocalNetwork()
    {
        QFETCH(QString, target);
        QFETCH(QString, expected);
        QVERIFY(g_publicHost);
        const QString local = QStringLiteral("http://") + m_server->hostPort();
        expected.replace(QStringLiteral("%1"), local);
        FixtureResponse moved;
        moved.status = 302;
        moved.reason = "Found";
        moved.headers = {{"Location", (local + "/reached.js").toLatin1()}};
        m_server->setResponse("/moved", moved);
        m_server->setResponse("/page.htm", page(expected.toUtf8()));
        m_server->setResponse("/reached.js", page("document.title = 'reached';"));
        HiddenBrowser browser;
        const QString publicPage =
            QStringLiteral("http://public.test:%1%2").arg(m_server->port()).arg(target);
        QCOMPARE(load(browser, publicPage), expected);
        QCOMPARE(m_server->requestCount(target), 1);
        QCOMPARE(m_server->requestCount("/reached.js"), 0);
    }

    // A page that hoards memory is given up once its process passes the limit, long before it
    // takes the machine's memory; the program goes on, and the next page is read in full.
    void boundsThePagesMemory()
    {
        constexpr int limitMB = 256;
        HiddenBrowser::setMemoryLimitMB(limitMB);
        FixtureResponse never;
        never.neverAnswer = true;
        m_server->setResponse("/never.htm", never); // the page never completes by itself
        m_server->setResponse(
            "/hoard.htm",
            page("<body><p>hoard</p><iframe src=/never.htm></iframe><script>var kept = [];"
                 " for (;;) kept.push(new Uint8Array(1 << 20).fill(1));</script></body>"));
        m_server->setResponse("/next.htm", page("<BODY><P>next</P>"));
        HiddenBrowser browser;
        QCOMPARE(load(browser, url("/next.htm")), "<p>next</p>");
        const qint64 before = treeMemoryMB(getpid());

        std::atomic<bool> sampling{true};
        std::atomic<qint64> peak{0};
        std::thread sampler([&] {
            while (sampling) {
                peak = std::max(peak.load(), treeMemoryMB(getpid()));
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        const auto hoard = startLoad(browser, url("/hoard.htm"));
        const bool answered = QTest::qWaitFor([&] { return hoard->done; }, 30000);
        sampling = false;
        sampler.join();
        QVERIFY(answered);
        QCOMPARE(hoard->html, QString());
        QVERIFY(browser.lastLoadTooLarge());
        QVERIFY2(peak - before < limitMB + 150,
                 qPrintable(QStringLiteral("%1 MiB before, %2 at the peak").arg(before).arg(peak)));

        QCOMPARE(load(browser, url("/next.htm")), "<p>next</p>");
        QVERIFY(!browser.lastLoadTooLarge());
        HiddenBrowser::setMemoryLimitMB(512);
    }

    // Our own configuration's browser-text markers fit what this browser writes for the demo
    // rate pages, of either layout.
    void demoMarkersFitTheBrowsersWriting_data()
    {
        QTest::addColumn<QString>("xyid");
        QTest::addColumn<QStringList>("facts"); // good count, verification, rate, list number
        QTest::newRow("night_owl: layout A, only for browsers")
            << "UMFxbOmNGvGkY" << QStringList{"63", "支付宝认证", "96.92", "38806150"};
        QTest::newRow("xiaoyu_2008: layout A")
            << "UvGN8MGIyvFgT" << QStringList{"128", "支付宝认证", "97.71", "82735501"};
        QTest::newRow("blue sky88: layout B")
            << "UOmQ0MGH4OmcT" << QStringList{"356", "手机认证", "98.07", "63012877"};
    }
    void demoMarkersFitTheBrowsersWriting()
    {
        QFETCH(QString, xyid);
        QFETCH(QStringList, facts);
        DemoSite site;
        QVERIFY(site.start());
        const QString host = QStringLiteral("http://") + site.hostPort();
        QueryConfig config;
        config.readIndexedList(
            FetchPage(host + "/soft/qvdl/fmj2.htm", FetchWait::Short, directFetch()));
        HiddenBrowser browser;
        const QString text = load(browser, host + "/rate/user-rate-" + xyid + ".htm");
        const DetailPageResult r = detailPageRule(text, DetailSource::Browser, config);
        QCOMPARE((QStringList{r.goodCount, r.verification, r.goodRatePercent, r.ratingListNumber}),
                 facts);
    }

    // The window's hidden WebBrowser1 serves its queries, which run on worker threads: the demo
    // buyer whose rate page only a browser is served gets every field.
    void windowReadsTheBrowserOnlyDemoBuyer()
    {
        DemoSite site;
        QVERIFY(site.start());
        const std::unique_ptr<MainWindow> owned = windowOn(demoSettings(site.hostPort()));
        MainWindow &window = *owned;
        window.findChild<QLineEdit *>("Text2")->setText("night_owl");
        QTest::mouseClick(window.findChild<QPushButton *>("Command7"), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return !window.queryRunning(); }, 120000));
        QCOMPARE(window.findChild<QLabel *>("Label9")->text(),
                 "买家:[night_owl]认证信息：支付宝认证");
        QCOMPARE(window.findChild<QLabel *>("Label6")->text(), "好评率96.92，好评63，中评1，差评1");
        QCOMPARE(window.findChild<QLabel *>("Label7")->text(), "给他人的评价：中评1，差评1");
    }

    // brelvon-cli --browser: the same, offscreen; as root the browser says once that it runs
    // without Chromium's sandbox.
    void commandLineBrowser()
    {
        // The program runs on the system's clock: keep its loads away from a minute's end.
        while (QDateTime::currentMSecsSinceEpoch() % 60000 > 50000)
            QTest::qWait(200);
        QProcess cli;
        // As a user starts it: this process has told its own browser to run without the sandbox.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("QTWEBENGINE_CHROMIUM_FLAGS");
        environment.insert("LANG", "en_US.UTF-8");
        environment.remove("LC_ALL");
        environment.remove("LC_MESSAGES");
        cli.setProcessEnvironment(environment);
        cli.start(QCoreApplication::applicationDirPath() + "/brelvon-cli",
                  {"query", "--demo", "--browser", "night_owl", "night_owl", "xiaoyu_2008"});
        QVERIFY(cli.waitForFinished(120000));
        QCOMPARE(cli.exitCode(), 0);
        const QList<QByteArray> lines = cli.readAllStandardOutput().trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        for (int i : {0, 1}) {
            QVERIFY2(lines.at(i).contains(
                         R"("verification":"支付宝认证","goodRate":"96.92","goodCount":"63")"),
                     lines.at(i).constData());
        }
        const QByteArray err = cli.readAllStandardError();
        QCOMPARE(err.count("without Chromium's sandbox"), geteuid() == 0 ? 1 : 0);
    }
};

QTEST_MAIN(TestBrowser)
#include "test_browser.moc"
