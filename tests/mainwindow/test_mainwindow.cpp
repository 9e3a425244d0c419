#include "browser/pagehandover.h"
#include "demosite/demosite.h"
#include "fixtures.h"
#include "fixtureserver.h"
#include "mainwindow/helpwindow.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/openinbrowser.h"
#include "mainwindow/riskverdictview.h"
#include "mainwindow/settingsdialog.h"
#include "mainwindow/translations.h"
#include "model/uilanguage.h"
#include "web/canceltoken.h"
#include "web/codepage936.h"
#include "web/fetchpage.h"
#include "windowonsession.h"

#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTranslator>
#include <QtTest>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace {

// Catches what the link procedures hand to the desktop (QDesktopServices' "http" handler).
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened.append(url); }
};

// Runs `inspect` on the next modal dialog to come up, then closes it with its OK button.
// Records the text and caption for the test to check.
struct ModalWatcher
{
    QString text;
    QString title;
    int seen = 0;

    void arm(std::function<void()> whileOpen = {})
    {
        QTimer::singleShot(0, &m_timers, [this, whileOpen] { poll(whileOpen, 0); });
    }

private:
    // Owns the polling timers, so a watcher that goes out of scope stops polling.
    QObject m_timers;

    void poll(std::function<void()> whileOpen, int tries)
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            if (tries < 200)
                QTimer::singleShot(10, &m_timers,
                                   [this, whileOpen, tries] { poll(whileOpen, tries + 1); });
            return;
        }
        ++seen;
        text = box->text();
        title = box->windowTitle();
        if (whileOpen)
            whileOpen();
        QAbstractButton *ok = box->button(QMessageBox::Ok);
        QVERIFY(ok);
        QVERIFY(box->buttons().size() == 1);
        ok->click();
    }
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<FixtureServer> m_site;   // our main host, the marketplace and trade cards
    std::unique_ptr<FixtureServer> m_second; // our second host
    UrlCatcher m_urls;

    QuerySettings settings() const
    {
        QuerySettings s;
        s.mainHost = m_site->hostPort();
        s.secondHost = m_second->hostPort();
        s.tradeCardHost = m_site->hostPort();
        s.nameCardLogin = QStringLiteral("cntaobaoviewer1");
        s.popupLogin = QStringLiteral("cntaobaoviewer2");
        return s;
    }

    // A window whose start-up list has arrived (or failed to).
    std::unique_ptr<MainWindow> makeWindow() const { return makeWindow(settings()); }
    static std::unique_ptr<MainWindow> makeWindow(const QuerySettings &s)
    {
        auto w = windowOn(s);
        if (!QTest::qWaitFor([&] { return !w->startupListPending(); }, 20000))
            qWarning("the start-up list never arrived");
        return w;
    }
    // Until the window's query has come back (or the window is gone).
    static void waitForQuery(const QPointer<MainWindow> &w)
    {
        if (!QTest::qWaitFor([&] { return !w || !w->queryRunning(); }, 60000))
            qWarning("the query never came back");
    }

    template <class T> static T *child(QWidget *window, const char *name)
    {
        T *w = window->findChild<T *>(QLatin1String(name));
        if (!w)
            qWarning("no control %s", name);
        return w;
    }
    static QString text(QWidget *window, const char *name)
    {
        if (auto *l = window->findChild<QLabel *>(QLatin1String(name)))
            return l->text();
        if (auto *e = window->findChild<QLineEdit *>(QLatin1String(name)))
            return e->text();
        if (auto *b = window->findChild<QPushButton *>(QLatin1String(name)))
            return b->text();
        return QStringLiteral("<no control>");
    }
    static bool shown(QWidget *window, const char *name)
    {
        QWidget *w = window->findChild<QWidget *>(QLatin1String(name));
        return w && w->isVisibleTo(window);
    }

    QString configText() const
    {
        const QString host = QStringLiteral("http://") + m_site->hostPort();
        return indexedListText(ConfigEntries{{90, QStringLiteral("Brelvon")},
                                             {0, host + QStringLiteral("/search?q={mjna}")}} +
                               marketplaceEntries(host));
    }

    // Every page of the buyer "tom", whose record has every field filled.
    void serveBuyer(int configDelayMs = 0)
    {
        const QString host = QStringLiteral("http://") + m_site->hostPort();
        FixtureResponse config;
        config.body = gbk(configText());
        config.delayMs = configDelayMs;
        m_site->setResponse(QStringLiteral("/soft/qvdl/fmj2.htm"), config);
        m_site->setPage(QStringLiteral("/soft/qvdl/city.txt"),
                        gbk(QStringLiteral("440000#广东省\r\n440300#深圳市\r\n440305#南山区\r\n")));
        m_site->setPage(
            QStringLiteral("/search"),
            gbk(QStringLiteral("<li class=\"member\"><a href=\"/u?uid=7\">tom</a></li>")));
        m_site->setPage(QStringLiteral("/detail/7.htm"),
                        gbk(QStringLiteral("<div class=\"rateA\"><b id=\"credit\">1,234</b>"
                                           "<p>认证：<span>支付宝个人认证</span></p>"
                                           "<p>中评：3<br>差评：1</p>"
                                           "<a href=\"/given?rateListNo=55\">x</a></div>")));
        m_site->setPage(QStringLiteral("/given/neutral"),
                        gbk(QStringLiteral("rate-neutral rate-neutral")));
        m_site->setPage(QStringLiteral("/given/bad"),
                        gbk(QStringLiteral("auctionPrice auctionPrice auctionPrice")));
        m_site->setPage(QStringLiteral("/tradecard/nameCard.htm"),
                        gbk(QStringLiteral("<p>注册时间：2005-03-12</p><p>来自：广东&nbsp;深圳</p>"
                                           "<a class=\"icon-jianghu\" href=\"") +
                            host + QStringLiteral("/jianghu/p.htm\">x</a>")));
        m_site->setPage(QStringLiteral("/i/p.htm"),
                        gbk(QStringLiteral("<span class=\"nick\">小明</span>"
                                           "<script>var areaCode=440305;</script>")));
        m_site->setPage(QStringLiteral("/tradecard/popupNameCard.htm"),
                        gbk(QStringLiteral("<p>买家好评率：98.76%</p>")));
    }

    static void query(MainWindow *w, const QString &input)
    {
        const QPointer<MainWindow> guard(w);
        child<QLineEdit>(w, "Text2")->setText(input);
        QTest::mouseClick(child<QPushButton>(w, "Command7"), Qt::LeftButton);
        waitForQuery(guard);
    }

private slots:
    void initTestCase()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_urls, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_urls, "open");
    }
    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }

    void init()
    {
        m_site = std::make_unique<FixtureServer>();
        m_second = std::make_unique<FixtureServer>();
        QVERIFY(m_site->listen());
        QVERIFY(m_second->listen());
        m_urls.opened.clear();
    }

    void cleanup()
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (qobject_cast<HelpWindow *>(w))
                delete w;
        }
    }

    void controlsAtTheirPlaces_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<bool>("visible");

        QTest::newRow("Frame1") << "Frame1"
                                << "TestOCX_new" << QRect(16, 40, 433, 193) << true;
        QTest::newRow("Text2") << "Text2"
                               << "Frame3" << QRect(16, 16, 169, 25) << true;
        QTest::newRow("Command7") << "Command7"
                                  << "Frame3" << QRect(200, 16, 65, 25) << true;
        QTest::newRow("Label10") << "Label10"
                                 << "Frame3" << QRect(360, 24, 33, 17) << true;
        QTest::newRow("Text1") << "Text1"
                               << "Frame3" << QRect(120, 8, 73, 18) << false;
        QTest::newRow("Frame2") << "Frame2"
                                << "Frame1" << QRect(8, 64, 409, 126) << true;
        QTest::newRow("Label5") << "Label5"
                                << "Frame2" << QRect(32, 24, 337, 17) << false;
        QTest::newRow("Label8") << "Label8"
                                << "Frame2" << QRect(192, 88, 129, 17) << false;
        QTest::newRow("Command10") << "Command10"
                                   << "Frame7" << QRect(112, 16, 97, 33) << true;
        QTest::newRow("Command3") << "Command3"
                                  << "Frame6" << QRect(32, 208, 89, 33) << true;
        QTest::newRow("RiskVerdict") << "RiskVerdict"
                                     << "Frame6" << QRect(6, 6, 141, 52) << false;
        QTest::newRow("WebBrowser1") << "WebBrowser1"
                                     << "TestOCX_new" << QRect(456, 184, 121, 113) << false;
        QTest::newRow("Frame4") << "Frame4"
                                << "TestOCX_new" << QRect(16, 312, 401, 321) << false;
        QTest::newRow("Text20") << "Text20"
                                << "TestOCX_new" << QRect(408, 32, 97, 41) << false;
    }
    void controlsAtTheirPlaces()
    {
        QFETCH(QString, name);
        QFETCH(QString, parent);
        QFETCH(QRect, geometry);
        QFETCH(bool, visible);
        auto w = makeWindow();
        QWidget *c = w->findChild<QWidget *>(name);
        QVERIFY(c);
        QCOMPARE(c->parentWidget()->objectName(), parent);
        QCOMPARE(c->geometry(), geometry);
        QCOMPARE(c->isVisibleTo(w.get()), visible);
    }

    void windowAndHiddenFields()
    {
        auto w = makeWindow();
        QCOMPARE(w->windowTitle(), QStringLiteral("BrelvonV3.0"));
        QCOMPARE(w->size(), QSize(628, 313));
        QVERIFY(w->windowIcon().availableSizes().contains(QSize(32, 32)));
        QCOMPARE(text(w.get(), "Text2"), QStringLiteral("输入买家的淘宝ID"));
        QCOMPARE(text(w.get(), "Command7"), QStringLiteral("查  询"));
        QCOMPARE(text(w.get(), "Text4_0"), QStringLiteral("bb1.0"));
        QCOMPARE(text(w.get(), "Text4_1"), text(w.get(), "Command9"));
        QCOMPARE(text(w.get(), "Text4_17"), QString());
        QVERIFY(!text(w.get(), "Command3").isEmpty()); // its design-time caption
        for (int i = 0; i < kLinkSlotCount; ++i)
            QVERIFY(w->findChild<QLineEdit *>(QStringLiteral("Text4_%1").arg(i)));
        for (int i = 8; i <= 19; ++i)
            QCOMPARE(text(w.get(), qPrintable(QStringLiteral("Text%1").arg(i))),
                     QStringLiteral("Text%1").arg(i));
        // WebBrowser1 lies beneath Frame6.
        const QObjectList &kids = w->children();
        QVERIFY(kids.indexOf(child<QWidget>(w.get(), "WebBrowser1")) <
                kids.indexOf(child<QWidget>(w.get(), "Frame6")));
    }

    void colours()
    {
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        const QImage image = w->grab().toImage();
        // Frame7 at (16, 240); Command9 at (16, 16) inside it.
        QCOMPARE(image.pixelColor(16 + 4, 240 + 4), QColor(0xFF, 0xE0, 0xC0));
        QCOMPARE(image.pixelColor(16 + 16 + 4, 240 + 16 + 4), QColor(0xFF, 0xC0, 0x80));
        QCOMPARE(child<QLabel>(w.get(), "Label10")->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(child<QLabel>(w.get(), "Label8")->cursor().shape(), Qt::PointingHandCursor);
    }

    void startupList_data()
    {
        QTest::addColumn<QByteArray>("mainList");   // what the main host serves (null: 404)
        QTest::addColumn<QByteArray>("secondList"); // what the second host serves
        QTest::addColumn<bool>("notice");
        QTest::addColumn<QString>("slot0");
        QTest::addColumn<QString>("command9");
        QTest::addColumn<QString>("command3");

        const QString defaultCaption9 = QStringLiteral("网店管家");
        const QString defaultCaption3 = QStringLiteral("更多工具");
        QTest::newRow("newer version: notice")
            << gbk(QStringLiteral("Brelvon\r\nbb1.1#0#")) << QByteArray() << true
            << QStringLiteral("Brelvon\r\nbb1.1") << defaultCaption9 << QString();
        QTest::newRow("later pair for slot 0 wins: no notice")
            << gbk(QStringLiteral("Brelvon#19#bb2.0#0#店铺助手#1#bb1.0#0#")) << QByteArray()
            << false << QStringLiteral("bb1.0") << QStringLiteral("店铺助手") << QString();
        QTest::newRow("space before bb1.0: no notice")
            << gbk(QStringLiteral("Brelvon#19# bb1.0 #0#")) << QByteArray() << false
            << QStringLiteral(" bb1.0 ") << defaultCaption9 << QString();
        QTest::newRow("no product name: nothing changes")
            << gbk(QStringLiteral("bb2.0#0#店铺助手#1#")) << QByteArray() << false
            << QStringLiteral("bb1.0") << defaultCaption9 << defaultCaption3;
        QTest::newRow("product name, no #: captions from the slots")
            << gbk(QStringLiteral("Brelvon 启动列表")) << QByteArray() << false
            << QStringLiteral("bb1.0") << defaultCaption9 << QString();
        QTest::newRow("bad indexes skipped, start-up goes on")
            << gbk(QStringLiteral("Brelvon#19#a#22#b#-1#c#abc#d##e#99999#旺店#1#bb2.0#0#"
                                  "更多#17#dangling#"))
            << QByteArray() << true << QStringLiteral("bb2.0") << QStringLiteral("旺店")
            << QStringLiteral("更多");
        QTest::newRow("main host empty: second host's list")
            << QByteArray("") << gbk(QStringLiteral("Brelvon#19#bb3.0#0#")) << true
            << QStringLiteral("bb3.0") << defaultCaption9 << QString();
        // An error status is no list: the second host is asked, as for an empty one.
        QTest::newRow("main host error page: second host's list")
            << QByteArray() << gbk(QStringLiteral("Brelvon#19#bb3.0#0#")) << true
            << QStringLiteral("bb3.0") << defaultCaption9 << QString();
    }
    void startupList()
    {
        QFETCH(QByteArray, mainList);
        QFETCH(QByteArray, secondList);
        QFETCH(bool, notice);
        QFETCH(QString, slot0);
        QFETCH(QString, command9);
        QFETCH(QString, command3);
        if (!mainList.isNull())
            m_site->setPage(QStringLiteral("/soft/qvdl/zkrap2.htm"), mainList);
        if (!secondList.isNull())
            m_second->setPage(QStringLiteral("/soft/wrub/zkrap2.htm"), secondList);

        auto w = makeWindow();
        QCOMPARE(m_site->requestCount(QStringLiteral("/soft/qvdl/zkrap2.htm")), 1);
        QCOMPARE(text(w.get(), "Text4_0"), slot0);
        // The notice stands on the caption bar, clear of the result lines.
        QCOMPARE(shown(w.get(), "UpdateNotice"), notice);
        QVERIFY(!shown(w.get(), "Label5"));
        if (notice) {
            auto *label = child<QLabel>(w.get(), "UpdateNotice");
            QCOMPARE(label->parentWidget()->objectName(), QStringLiteral("JSCAPTION1"));
            QCOMPARE(label->text(), QStringLiteral("已有最新版本,请下载更新"));
            QVERIFY(label->width() > 0);
            QCOMPARE(label->cursor().shape(), Qt::PointingHandCursor);
        }
        QCOMPARE(text(w.get(), "Command9"), command9);
        QCOMPARE(text(w.get(), "Command3"), command3);
        QCOMPARE(w->windowTitle(), QStringLiteral("BrelvonV3.0"));
    }

    // A left click selects what the box holds, so typing replaces it and nothing is lost; a
    // second click places the cursor. Other buttons (a context menu, a middle-button paste)
    // keep their own ways.
    void inputBoxSelectsOnClick_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<bool>("selected");
        QTest::newRow("prompt") << QStringLiteral("输入买家的淘宝ID") << Qt::LeftButton << true;
        QTest::newRow("an id") << QStringLiteral("tom") << Qt::LeftButton << true;
        QTest::newRow("right button") << QStringLiteral("tom") << Qt::RightButton << false;
        QTest::newRow("middle button") << QStringLiteral("tom") << Qt::MiddleButton << false;
    }
    void inputBoxSelectsOnClick()
    {
        QFETCH(QString, before);
        QFETCH(Qt::MouseButton, button);
        QFETCH(bool, selected);
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        child<QPushButton>(w.get(), "Command2")->setFocus();
        auto *text2 = child<QLineEdit>(w.get(), "Text2");
        text2->setText(before);
        QTest::mouseClick(text2, button, {}, QPoint(8, text2->height() / 2));
        QCOMPARE(text2->text(), before);
        QCOMPARE(text2->selectedText(), selected ? before : QString());
        if (!selected)
            return;
        QTest::keyClicks(text2, QStringLiteral("ann"));
        QCOMPARE(text2->text(), QStringLiteral("ann"));
        // Once the box has the focus, a click places the cursor.
        QTest::mouseClick(text2, Qt::LeftButton, {}, QPoint(4, text2->height() / 2));
        QCOMPARE(text2->selectedText(), QString());
        QCOMPARE(text2->text(), QStringLiteral("ann"));
        // Away (to the chat) and back: the first click selects again.
        child<QPushButton>(w.get(), "Command2")->setFocus();
        QTest::mouseClick(text2, Qt::LeftButton, {}, QPoint(4, text2->height() / 2));
        QCOMPARE(text2->selectedText(), QStringLiteral("ann"));
    }

    void promptWithoutId_data()
    {
        QTest::addColumn<QString>("input");
        QTest::newRow("prompt") << QStringLiteral("输入买家的淘宝ID");
        QTest::newRow("prompt inside text") << QStringLiteral("tom买家的淘宝ID");
        QTest::newRow("empty") << QString();
        QTest::newRow("spaces") << QStringLiteral("   ");
    }
    void promptWithoutId()
    {
        QFETCH(QString, input);
        serveBuyer();
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        const int requestsBefore = m_site->totalRequests() + m_second->totalRequests();
        ModalWatcher watcher;
        watcher.arm();
        query(w.get(), input);
        QCOMPARE(watcher.seen, 1);
        QCOMPARE(watcher.text, QStringLiteral("请输入买家的淘宝ID"));
        QCOMPARE(watcher.title, QStringLiteral("Brelvon"));
        QCOMPARE(m_site->totalRequests() + m_second->totalRequests(), requestsBefore);
        QCOMPARE(w->focusWidget(), child<QWidget>(w.get(), "Text2"));
        QVERIFY(child<QPushButton>(w.get(), "Command7")->isEnabled());
        QVERIFY(!shown(w.get(), "Label9"));
    }

    void summaryLines_data()
    {
        QTest::addColumn<bool>("pages");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QStringList>("lines"); // Label9, Label6, Label7, Label11
        QTest::addColumn<bool>("creditUrl");

        QTest::newRow("full record")
            << true << QStringLiteral("  tom ")
            << QStringList{QStringLiteral("买家:[tom]认证信息：支付宝认证"),
                           QStringLiteral("好评率98.76，好评1,234，中评3，差评1"),
                           QStringLiteral("给他人的评价：中评2，差评3"),
                           QStringLiteral(
                               "注册时间：2005-03-12，姓名(昵称)：小明，地址：广东省南山区")}
            << true;
    }
    void summaryLines()
    {
        QFETCH(bool, pages);
        QFETCH(QString, input);
        QFETCH(QStringList, lines);
        QFETCH(bool, creditUrl);
        if (pages)
            serveBuyer();
        auto w = makeWindow();
        query(w.get(), input);
        QCOMPARE(text(w.get(), "Label9"), lines[0]);
        QCOMPARE(text(w.get(), "Label6"), lines[1]);
        QCOMPARE(text(w.get(), "Label7"), lines[2]);
        QCOMPARE(text(w.get(), "Label11"), lines[3]);
        for (const char *name : {"Label6", "Label7", "Label8", "Label9", "Label11"})
            QVERIFY2(shown(w.get(), name), name);
        QCOMPARE(text(w.get(), "Text7"), creditUrl
                                             ? QStringLiteral("http://") + m_site->hostPort() +
                                                   QStringLiteral("/detail/7.htm")
                                             : QString());
        // The area table the query downloaded is kept in Text20.
        const QString areaTable = child<QPlainTextEdit>(w.get(), "Text20")->toPlainText();
        QCOMPARE(areaTable.contains(QStringLiteral("440305#南山区")), pages);
        QVERIFY(child<QPushButton>(w.get(), "Command7")->isEnabled());
        QVERIFY(child<QPushButton>(w.get(), "Command2")->isEnabled());
    }

    // A lookup without a record says what happened where the lines go; one with a record
    // whose pages failed in part keeps its lines and names the pages under them.
    void statusLines_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("buyer");
        QTest::addColumn<QString>("status"); // StatusLine, or empty: the lines show
        QTest::addColumn<QString>("pages");  // PagesLine, or empty
        QTest::newRow("found") << "buyer"
                               << "tom" << QString() << QString();
        QTest::newRow("not found") << "search only"
                                   << "nobody" << QStringLiteral("查无此买家：nobody") << QString();
        QTest::newRow("not found, 300 characters")
            << "search only" << QString(300, u'a')
            << QStringLiteral("查无此买家：") + QString(40, u'a') +
                   QStringLiteral("…（共300个字符）")
            << QString();
        QTest::newRow("no configuration")
            << "nothing"
            << "tom" << QStringLiteral("无法获取查询配置：%main HTTP 404；%second HTTP 404")
            << QString();
        QTest::newRow("not configured")
            << "no hosts"
            << "tom" << QStringLiteral("尚未设置服务器，请打开设置") << QString();
        QTest::newRow("search page failed")
            << "empty search"
            << "tom" << QStringLiteral("部分页面未能读取：搜索页 空白") << QString();
        QTest::newRow("popup page failed")
            << "empty popup"
            << "tom" << QString() << QStringLiteral("部分页面未能读取：弹出名片页 空白");
        QTest::newRow("marketplace unreachable")
            << "unreachable"
            << "tom"
            << QStringLiteral("无法连接集市：买家的页面一个也没有读到。请检查网络连接、代理设置"
                              "（[network] proxy）和设置中的服务器地址。")
            << QString();
        QTest::newRow("no trade-card host")
            << "no trade card"
            << "tom" << QString()
            << QStringLiteral("未设置名片服务器：读不到注册时间、昵称、地区和好评率");
    }
    void statusLines()
    {
        QFETCH(QString, setup);
        QFETCH(QString, buyer);
        QFETCH(QString, status);
        QFETCH(QString, pages);
        QuerySettings s = settings();
        if (setup != QLatin1String("nothing"))
            serveBuyer();
        if (setup == QLatin1String("search only")) {
            for (const char *page : {"/detail/7.htm", "/tradecard/nameCard.htm", "/i/p.htm",
                                     "/tradecard/popupNameCard.htm"})
                m_site->setPage(QLatin1String(page), "<html>404</html>", 404);
        }
        if (setup == QLatin1String("no hosts"))
            s.mainHost = s.secondHost = s.tradeCardHost = QString();
        if (setup == QLatin1String("empty search"))
            m_site->setPage(QStringLiteral("/search"), QByteArray());
        if (setup == QLatin1String("unreachable")) {
            FixtureResponse broken;
            broken.body = QByteArray(4000, 'x');
            broken.closeMidBody = true;
            m_site->setResponse(QStringLiteral("/search"), broken);
            s.tradeCardHost = QStringLiteral("127.0.0.1:1"); // nothing listens there
        }
        if (setup == QLatin1String("no trade card"))
            s.tradeCardHost.clear();
        if (setup == QLatin1String("empty popup"))
            m_site->setPage(QStringLiteral("/tradecard/popupNameCard.htm"), QByteArray());
        status.replace(QLatin1String("%main"), m_site->hostPort())
            .replace(QLatin1String("%second"), m_second->hostPort());
        auto w = makeWindow(s);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        query(w.get(), buyer);
        QCOMPARE(shown(w.get(), "StatusLine"), !status.isEmpty());
        if (!status.isEmpty())
            QCOMPARE(text(w.get(), "StatusLine"), status);
        for (const char *name : {"Label9", "Label6", "Label11", "Label7", "Label8", "RiskVerdict"})
            QVERIFY2(shown(w.get(), name) == status.isEmpty(), name);
        QCOMPARE(shown(w.get(), "PagesLine"), !pages.isEmpty());
        if (!pages.isEmpty())
            QCOMPARE(child<QLabel>(w.get(), "PagesLine")->toolTip(), pages);
        if (setup == QLatin1String("no hosts")) {
            // The line is a link to where the hosts are set: the settings dialog.
            QTest::mouseClick(child<QWidget>(w.get(), "StatusLine"), Qt::LeftButton, {},
                              QPoint(4, 4));
            QVERIFY(w->settingsDialog() && w->settingsDialog()->isVisible());
            w->settingsDialog()->close();
        }
        // The risk popup counts the pages that were read.
        if (setup == QLatin1String("empty popup")) {
            auto *view = child<RiskVerdictView>(w.get(), "RiskVerdict");
            QTest::mouseClick(view, Qt::LeftButton);
            const QString details = child<QLabel>(view->detailsPopup(), "RiskDetailsText")->text();
            QVERIFY2(details.contains(QStringLiteral("页面：读到6个（")), qPrintable(details));
            view->detailsPopup()->close();
        }
    }

    // Qt's own buttons speak Chinese unless English is asked for; the window program keeps them
    // Chinese whatever the locale, its file dialog included.
    void qtTranslations_data()
    {
        QTest::addColumn<QByteArray>("lang");
        QTest::addColumn<bool>("keptChinese");
        QTest::addColumn<QString>("ok");
        QTest::newRow("zh_CN") << QByteArray("zh_CN.UTF-8") << false << QStringLiteral("确定");
        QTest::newRow("unset") << QByteArray() << false << QStringLiteral("确定");
        QTest::newRow("en_US") << QByteArray("en_US.UTF-8") << false << QStringLiteral("OK");
        QTest::newRow("en_US, window")
            << QByteArray("en_US.UTF-8") << true << QStringLiteral("确定");
    }
    void qtTranslations()
    {
        QFETCH(QByteArray, lang);
        QFETCH(bool, keptChinese);
        QFETCH(QString, ok);
        const QByteArray saved = qgetenv("LANG");
        const QByteArray savedAll = qgetenv("LC_ALL");
        qunsetenv("LC_ALL");
        qputenv("LANG", lang);
        const auto restore = qScopeGuard([&] {
            qputenv("LANG", saved);
            qputenv("LC_ALL", savedAll);
            for (QTranslator *t : qApp->findChildren<QTranslator *>()) {
                QCoreApplication::removeTranslator(t);
                delete t;
            }
            QLocale::setDefault(QLocale::c());
            keepMessagesChinese(false);
        });
        keepMessagesChinese(keptChinese);
        QCOMPARE(installQtTranslations(qApp), keptChinese || !lang.startsWith("en"));
        QMessageBox box(QMessageBox::NoIcon, QString(), QString(),
                        QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(box.button(QMessageBox::Ok)->text(), ok);
        QCOMPARE(englishMessages(), !keptChinese && lang.startsWith("en"));
        if (keptChinese) {
            // Qt's own file dialog: no "Look in:".
            QFileDialog dialog;
            dialog.setOption(QFileDialog::DontUseNativeDialog);
            const auto labels = dialog.findChildren<QLabel *>();
            for (const QLabel *label : labels)
                QVERIFY2(!label->text().contains(QStringLiteral("Look in")),
                         qPrintable(label->text()));
            QVERIFY(dialog.findChild<QLabel *>(QStringLiteral("lookInLabel")));
        }
    }

    void demoBuyer()
    {
        DemoSite site;
        QVERIFY(site.start());
        const auto window = windowOn(demoSettings(site.hostPort()));
        MainWindow &w = *window;
        QVERIFY(QTest::qWaitFor([&] { return !w.startupListPending(); }, 20000));
        query(&w, QStringLiteral("xiaoyu_2008"));
        QCOMPARE(text(&w, "Label9"), QStringLiteral("买家:[xiaoyu_2008]认证信息：支付宝认证"));
        QCOMPARE(text(&w, "Label6"), QStringLiteral("好评率97.71，好评128，中评2，差评1"));
        QCOMPARE(text(&w, "Label7"), QStringLiteral("给他人的评价：中评2，差评1"));
        QCOMPARE(text(&w, "Label11"),
                 QStringLiteral("注册时间：2006-03-15，姓名(昵称)：小宇，地址：广东省深圳市"));
        QVERIFY(text(&w, "Text7").startsWith(QStringLiteral("http://") + site.hostPort()));
        QVERIFY(!shown(&w, "Label5")); // the site's start-up list carries bb1.0
    }

    // The verdict atop the link column: its line, its note, its icons, and the details a click
    // opens; the four result lines are not touched by it.
    void riskVerdict_data()
    {
        QTest::addColumn<QString>("buyer");
        QTest::addColumn<int>("blockAfter");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<QString>("note");
        QTest::addColumn<int>("icons");
        QTest::addColumn<QString>("detail"); // a line the details popup shows
        QTest::newRow("low") << "xiaoyu_2008" << 0 << "风险：低"
                             << "" << 4 << "页面：7个全部读到";
        QTest::newRow("high") << "bargain_hunter" << 0 << "风险：高"
                              << "4条原因，点击查看" << 0 << "· 没有认证";
        QTest::newRow("pages blocked")
            << "xiaoyu_2008" << 3 << "风险：未知"
            << "页面被拦截" << 4 << "· 页面被拦截：给他人中评页"; // the buyer's lookup stops there
    }
    void riskVerdict()
    {
        QFETCH(QString, buyer);
        QFETCH(int, blockAfter);
        QFETCH(QString, verdict);
        QFETCH(QString, note);
        QFETCH(int, icons);
        QFETCH(QString, detail);
        DemoSite site;
        site.setBlockAfter(blockAfter);
        QVERIFY(site.start());
        const auto window = windowOn(demoSettings(site.hostPort()));
        MainWindow &w = *window;
        w.show();
        QVERIFY(QTest::qWaitFor([&] { return !w.startupListPending(); }, 20000));
        auto *view = child<RiskVerdictView>(&w, "RiskVerdict");
        QVERIFY(!view->isVisibleTo(&w));
        query(&w, buyer);
        QVERIFY(view->isVisibleTo(&w));
        QCOMPARE(view->verdictText(), verdict);
        QCOMPARE(view->noteText(), note);
        QCOMPARE(view->iconRects().size(), icons);
        for (const QString &reason : view->assessment().risk.reasons)
            QVERIFY2(view->toolTip().contains(reason), qPrintable(view->toolTip()));

        QTest::mouseClick(view, Qt::LeftButton);
        QFrame *popup = view->detailsPopup();
        QVERIFY(popup);
        QVERIFY(popup->isVisible());
        const QString details = child<QLabel>(popup, "RiskDetailsText")->text();
        QVERIFY2(details.split('\n').contains(detail), qPrintable(details));
        popup->close();

        // The next buyer's verdict replaces it.
        query(&w, QStringLiteral("hidden_buyer"));
        QCOMPARE(view->verdictText(), QStringLiteral("风险：未知"));
    }

    // The level's icons are drawn where they belong, one per step, at the screen's own
    // resolution: at twice the pixels the same shapes, no more and no fewer.
    void creditIcons_data()
    {
        QTest::addColumn<qreal>("ratio");
        QTest::newRow("1x") << 1.0;
        QTest::newRow("2x") << 2.0;
    }
    void creditIcons()
    {
        QFETCH(qreal, ratio);
        RiskVerdictView view;
        view.resize(141, 52);
        BuyerAssessment a;
        a.creditScore = 1500;
        a.creditLevel = creditLevelForScore(1500); // three diamonds
        view.setAssessment(a, {});
        QImage image(view.size() * ratio, QImage::Format_ARGB32);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::white);
        view.render(&image);
        const auto bluish = [&](const QRect &area) { // device pixels where the gems are
            int count = 0;
            for (int y = area.top(); y <= area.bottom(); ++y) {
                for (int x = area.left(); x <= area.right(); ++x) {
                    const QColor c = image.pixelColor(x, y);
                    count += c.blue() > c.red() + 80 ? 1 : 0;
                }
            }
            return count;
        };
        const QList<QRectF> icons = view.iconRects();
        QCOMPARE(icons.size(), 3);
        for (const QRectF &icon : icons) {
            const QRect device = QRectF(icon.topLeft() * ratio, icon.size() * ratio).toRect();
            QVERIFY2(bluish(device) > device.width() * device.height() / 3,
                     qPrintable(QString::number(bluish(device))));
        }
        const int right = int(std::ceil(icons.last().right() * ratio)) + 1;
        QCOMPARE(bluish(QRect(right, 0, image.width() - right, image.height())), 0);
        QCOMPARE(bluish(QRect(0, 0, int(icons.first().left() * ratio) - 1, image.height())), 0);
    }

    void batchModeFields()
    {
        serveBuyer();
        auto w = makeWindow();
        query(w.get(), QStringLiteral("tom")); // an interactive query shows the labels first
        const QString text7 = QStringLiteral("http://example.test/kept");
        child<QLineEdit>(w.get(), "Text7")->setText(text7);

        // A batch of one id: the hidden fields show the last record that came back.
        QTemporaryDir dir;
        QFile ids(dir.filePath(QStringLiteral("ids.txt")));
        QVERIFY(ids.open(QIODevice::WriteOnly) && ids.write(" tom") == 4);
        ids.close();
        w->setIdFileChooser([&](QWidget *) { return ids.fileName(); });
        w->setSpreadsheetOpener([](const QString &) { return true; });
        w->runBatch();
        QVERIFY(QTest::qWaitFor([&] { return !w->batchRunning(); }, 60000));

        const QString detail =
            QStringLiteral("http://") + m_site->hostPort() + QStringLiteral("/detail/7.htm");
        const QStringList expected = {QStringLiteral("98.76"),
                                      QStringLiteral("1,234"),
                                      QStringLiteral("3"),
                                      QStringLiteral("1"),
                                      QStringLiteral("2"),
                                      QStringLiteral("3"),
                                      detail,
                                      QStringLiteral("支付宝认证"),
                                      QStringLiteral(" tom"),
                                      QStringLiteral("小明"),
                                      QStringLiteral("2005-03-12"),
                                      QStringLiteral("广东省南山区")};
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(text(w.get(), qPrintable(QStringLiteral("Text%1").arg(8 + i))), expected[i]);
        for (const char *name : {"Label6", "Label7", "Label8", "Label9", "Label11"})
            QVERIFY2(!shown(w.get(), name), name);
        QCOMPARE(text(w.get(), "Text7"), text7);
        QVERIFY(child<QPushButton>(w.get(), "Command7")->isEnabled());
    }

    // While a lookup runs the area says whom it looks up and for how long, the query button
    // cancels it (Esc too), and a cancelled lookup says so.
    void busyAndCancel_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::newRow("button") << false;
        QTest::newRow("Esc") << true;
    }
    void busyAndCancel()
    {
        QFETCH(bool, escape);
        serveBuyer();
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        query(w.get(), QStringLiteral("tom"));
        const QString tomLine = text(w.get(), "Label9");
        FixtureResponse silent;
        silent.neverAnswer = true;
        m_site->setResponse(QStringLiteral("/search"), silent);
        auto *command7 = child<QPushButton>(w.get(), "Command7");
        auto *command2 = child<QPushButton>(w.get(), "Command2");
        child<QLineEdit>(w.get(), "Text2")->setText(QStringLiteral("ann"));
        command7->click();
        QVERIFY(QTest::qWaitFor(
            [&] { return m_site->requestCount(QStringLiteral("/search")) == 2; }, 10000));
        QTest::qWait(1500);
        QVERIFY(w->queryRunning());
        QVERIFY(command7->isEnabled());
        QCOMPARE(command7->text(), QStringLiteral("取消"));
        QVERIFY(!command2->isEnabled());
        const QString busy = text(w.get(), "StatusLine");
        QVERIFY2(busy.startsWith(QStringLiteral("正在查询 ann… ")) &&
                     busy.contains(QStringLiteral("秒")) &&
                     busy.contains(QStringLiteral("正在读取搜索页")),
                 qPrintable(busy));
        QVERIFY(!shown(w.get(), "Label9"));
        QElapsedTimer clock;
        clock.start();
        if (escape)
            QTest::keyClick(child<QLineEdit>(w.get(), "Text2"), Qt::Key_Escape);
        else
            command7->click();
        waitForQuery(w.get());
        QVERIFY(clock.elapsed() < 3000);
        // The area says so; the lines of the buyer before do not stand under the new id.
        QCOMPARE(text(w.get(), "StatusLine"), QStringLiteral("已取消：ann"));
        QVERIFY(shown(w.get(), "StatusLine"));
        QVERIFY(!shown(w.get(), "Label9"));
        QVERIFY(w->resultLine().isEmpty());
        Q_UNUSED(tomLine);
        QCOMPARE(command7->text(), QStringLiteral("查  询"));
        QVERIFY(command2->isEnabled());
    }

    // Enter in the box runs the query; afterwards the box has the focus with its text selected,
    // and the id heads the recent ids.
    void enterRunsQuery()
    {
        serveBuyer();
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->activateWindow();
        auto *text2 = child<QLineEdit>(w.get(), "Text2");
        text2->setText(QStringLiteral("nobody"));
        QTest::keyClick(text2, Qt::Key_Return);
        waitForQuery(w.get());
        text2->setText(QStringLiteral("tom"));
        QTest::keyClick(text2, Qt::Key_Enter);
        QVERIFY(w->queryRunning());
        waitForQuery(w.get());
        QCOMPARE(text(w.get(), "Label9"), QStringLiteral("买家:[tom]认证信息：支付宝认证"));
        QCOMPARE(QApplication::focusWidget(), text2);
        QCOMPARE(text2->selectedText(), QStringLiteral("tom"));
        QCOMPARE(w->recentIds(), QStringList({QStringLiteral("tom"), QStringLiteral("nobody")}));
        // Typed in part, picked from the list with Down and Enter: that id is queried at once.
        text2->clear();
        QTest::keyClicks(text2, QStringLiteral("no"));
        QWidget *list = nullptr;
        QVERIFY(QTest::qWaitFor([&] {
            for (QWidget *top : QApplication::topLevelWidgets())
                if (top->objectName() == QLatin1String("RecentIds") && top->isVisible())
                    list = top;
            return list != nullptr;
        }));
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Return);
        QVERIFY(w->queryRunning());
        waitForQuery(w.get());
        // The fixture's name card answers for anyone: the lines show, with the search page's word;
        // the numbers the pages did not give read "—".
        QCOMPARE(text(w.get(), "Label9"), QStringLiteral("买家:[nobody]认证信息："));
        QCOMPARE(text(w.get(), "Label7"), QStringLiteral("给他人的评价：中评—，差评—"));
        QVERIFY(shown(w.get(), "PagesLine"));
        text2->setText(QStringLiteral("tom"));
        query(w.get(), QStringLiteral("tom"));
        // The result as one line for a chat.
        w->copyResult();
        const QString line = QGuiApplication::clipboard()->text();
        QVERIFY2(line.startsWith(QStringLiteral("tom，风险：")), qPrintable(line));
    }

    // The clipboard watch looks up a copied member name once, and only when it is on; what a
    // member name cannot be (chat, passwords, addresses, phone and order numbers, several lines,
    // over-long text) is left alone, and so is a password's shape unless the buyer was looked up
    // before. A copied name that finds nobody is not offered again among the recent ids.
    void clipboardWatch_data()
    {
        QTest::addColumn<bool>("on");
        QTest::addColumn<QString>("copied");
        QTest::addColumn<bool>("looksUp");
        QTest::addColumn<bool>("known"); // typed and looked up first
        QTest::newRow("password's shape") << true << QStringLiteral("Abc12345") << false << false;
        QTest::newRow("password's shape, known")
            << true << QStringLiteral("Abc12345") << true << true;
        QTest::newRow("lower case and digits")
            << true << QStringLiteral("tom2008") << true << false;
        QTest::newRow("an id") << true << QStringLiteral(" tom ") << true << false;
        QTest::newRow("Chinese name") << true << QStringLiteral("快乐的小猫") << true << false;
        QTest::newRow("space, dot, _ and -")
            << true << QStringLiteral("blue sky.8_8-x") << true << false;
        QTest::newRow("ten digits") << true << QStringLiteral("1234567890") << true << false;
        QTest::newRow("40 characters") << true << QString(40, u'a') << true << false;
        QTest::newRow("watch off") << false << QStringLiteral("tom") << false << false;
        QTest::newRow("chat") << true << QStringLiteral("你好，请问什么时候发货？") << false
                              << false;
        QTest::newRow("ASCII question") << true << QStringLiteral("in stock?") << false << false;
        QTest::newRow("password") << true << QStringLiteral("hunter2!Pa$$w0rd") << false << false;
        QTest::newRow("phone") << true << QStringLiteral("13812345678") << false << false;
        QTest::newRow("order number")
            << true << QStringLiteral("tb 2093847561234567") << false << false;
        QTest::newRow("postal address")
            << true << QStringLiteral("广东省深圳市南山区") << false << false;
        QTest::newRow("house number")
            << true << QStringLiteral("科技园南路 88号") << false << false;
        QTest::newRow("mail address")
            << true << QStringLiteral("tom@example.com") << false << false;
        QTest::newRow("web address")
            << true << QStringLiteral("https://x.test/tom") << false << false;
        QTest::newRow("www address") << true << QStringLiteral("www.taobao.com") << false << false;
        QTest::newRow("site name") << true << QStringLiteral("taobao.com") << false << false;
        QTest::newRow("two lines") << true << QStringLiteral("tom\nann") << false << false;
        QTest::newRow("41 characters") << true << QString(41, u'a') << false << false;
        QTest::newRow("blank") << true << QStringLiteral("  ") << false << false;
    }
    void clipboardWatch()
    {
        QFETCH(bool, on);
        QFETCH(QString, copied);
        QFETCH(bool, looksUp);
        QFETCH(bool, known);
        serveBuyer();
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        if (known)
            query(w.get(), copied);
        const int before = m_site->requestCount(QStringLiteral("/search"));
        child<QCheckBox>(w.get(), "WatchClipboard")->setChecked(on);
        QGuiApplication::clipboard()->setText(copied);
        QCOMPARE(w->queryRunning(), looksUp);
        waitForQuery(w.get());
        QCOMPARE(m_site->requestCount(QStringLiteral("/search")) - before, looksUp ? 1 : 0);
        if (!looksUp)
            return;
        QCOMPARE(text(w.get(), "Text2"), copied.trimmed());
        // Offered again only when it named somebody (the lines show).
        QCOMPARE(w->recentIds().contains(copied.trimmed()), known || shown(w.get(), "Label9"));
        // The same text again, and the window's own copy of the result, are not looked up.
        QGuiApplication::clipboard()->setText(copied);
        w->copyResult();
        QVERIFY(!w->queryRunning());
        QCOMPARE(m_site->requestCount(QStringLiteral("/search")) - before, 1);
    }

    // An id copied while a lookup runs is looked up after it, not dropped.
    void clipboardIdWaits()
    {
        serveBuyer();
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        child<QCheckBox>(w.get(), "WatchClipboard")->setChecked(true);
        QGuiApplication::clipboard()->setText(QStringLiteral("tom"));
        QVERIFY(w->queryRunning());
        QGuiApplication::clipboard()->setText(QStringLiteral("ann"));
        QVERIFY(QTest::qWaitFor(
            [&] { return m_site->requestCount(QStringLiteral("/search")) == 2; }, 20000));
        waitForQuery(w.get());
        QCOMPARE(text(w.get(), "Text2"), QStringLiteral("ann"));
        QCOMPARE(w->recentIds(), QStringList({QStringLiteral("ann"), QStringLiteral("tom")}));
    }

    // With the recent ids open over the box, a click on 查询 still runs the query (the open list
    // gets the click first, as it does on screen).
    void queryClickWithRecentIdsOpen()
    {
        serveBuyer();
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->activateWindow();
        query(w.get(), QStringLiteral("tom"));
        auto *text2 = child<QLineEdit>(w.get(), "Text2");
        text2->clear();
        text2->setFocus();
        QTest::keyClicks(text2, QStringLiteral("to"));
        QWidget *list = nullptr;
        QVERIFY(QTest::qWaitFor([&] {
            for (QWidget *top : QApplication::topLevelWidgets())
                if (top->objectName() == QLatin1String("RecentIds") && top->isVisible())
                    list = top;
            return list != nullptr;
        }));
        auto *command7 = child<QPushButton>(w.get(), "Command7");
        const QPoint on = list->mapFromGlobal(command7->mapToGlobal(command7->rect().center()));
        QTest::mouseClick(list, Qt::LeftButton, {}, on);
        QVERIFY(!list->isVisible());
        QVERIFY(w->queryRunning());
        waitForQuery(w.get());
        QCOMPARE(m_site->requestCount(QStringLiteral("/search")), 2);
    }

    // The seller's choice of the clipboard watch is kept in the settings file they have.
    void clipboardWatchIsKept()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("brelvon.conf"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("; my hosts\n[hosts]\nmain=" + m_site->hostPort().toUtf8() + "\n");
        file.close();
        auto w = makeWindow();
        w->setSettingsPath(path);
        child<QCheckBox>(w.get(), "WatchClipboard")->setChecked(true);
        QCOMPARE(QSettings(path, QSettings::IniFormat).value("window/watchClipboard").toString(),
                 QStringLiteral("true"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().startsWith("; my hosts\n[hosts]\n"));
    }

    // The caption says "演示" while the demo site serves, and no longer once the seller's own
    // settings are applied.
    void demoMarker()
    {
        DemoSite site; // started by the program when the seller asks for it
        auto w = makeWindow();
        w->session().setDemoSiteStarter(
            [&site] { return site.start() ? site.hostPort() : QString(); });
        QVERIFY(!w->showsDemoMarker());
        w->useDemoSite();
        QVERIFY(w->showsDemoMarker());
        w->session().applySettings(settings(), StorageSettings());
        QVERIFY(!w->showsDemoMarker());
    }

    // A kept place is brought onto the screen there is now; a window larger than the screen
    // shrinks to it, never below its least size.
    void placeOnScreen_data()
    {
        QTest::addColumn<QRect>("kept");
        QTest::addColumn<QRect>("placed");
        const QRect area(0, 0, 1280, 900);
        Q_UNUSED(area);
        QTest::newRow("on the screen") << QRect(100, 80, 700, 400) << QRect(100, 80, 700, 400);
        QTest::newRow("off the right, wider screen before")
            << QRect(2500, 100, 700, 400) << QRect(580, 100, 700, 400);
        QTest::newRow("above and left") << QRect(-900, -50, 700, 400) << QRect(0, 0, 700, 400);
        QTest::newRow("larger than the screen")
            << QRect(0, 0, 3000, 2000) << QRect(0, 0, 1280, 900);
        QTest::newRow("below the least size") << QRect(10, 10, 5, 5) << QRect(10, 10, 531, 313);
    }
    void placeOnScreen()
    {
        QFETCH(QRect, kept);
        QFETCH(QRect, placed);
        QCOMPARE(MainWindow::placeOnScreen(kept, QRect(0, 0, 1280, 900),
                                           QSize(MainWindow::kMinWidth, MainWindow::kMinHeight)),
                 placed);
    }

    // Place, size and always-on-top are kept in the settings file's [window] section.
    void windowPlaceIsKept()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("brelvon.conf"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[hosts]\nmain=" + m_site->hostPort().toUtf8() + "\n");
        file.close();
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect place(area.x() + 40, area.y() + 30, 700, 400);
        {
            auto w = makeWindow();
            w->setSettingsPath(path);
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w.get()));
            w->setGeometry(place);
            w->setStaysOnTop(true);
            w->close();
        }
        auto w = makeWindow();
        w->setSettingsPath(path);
        QCOMPARE(w->geometry(), place);
        QVERIFY(w->staysOnTop());
        QVERIFY(w->windowFlags() & Qt::WindowStaysOnTopHint);
    }

    // The controls follow the window's size: wider lines in a larger window; in the smallest
    // one the risk line atop the link column is still inside the window.
    void layoutFollowsSize()
    {
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        auto *line = child<QWidget>(w.get(), "Label9");
        auto *verdict = child<QWidget>(w.get(), "RiskVerdict");
        const int lineWidth = line->width();
        w->resize(w->width() + 200, w->height() + 100);
        QCOMPARE(line->width(), lineWidth + 200);
        QCOMPARE(child<QWidget>(w.get(), "Frame7")->geometry().bottom(), w->height() - 17);
        // Down to the least size every control stays in sight, none under another.
        for (const int width : {560, w->minimumWidth()}) {
            w->resize(width, w->minimumHeight());
            QTRY_COMPARE(w->width(), width);
            verdict->show();
            QList<QRect> taken;
            for (const char *name : {"Text2", "Command7", "Command2", "settingsLink", "Label10",
                                     "WatchClipboard", "CopyResult", "RiskVerdict", "Command3",
                                     "Command9", "Command10", "Command11", "Command12"}) {
                auto *c = child<QWidget>(w.get(), name);
                const QRect r(c->mapTo(w.get(), QPoint(0, 0)), c->size());
                QVERIFY2(w->rect().contains(r) && r.width() >= qMin(c->sizeHint().width(), 60),
                         name);
                for (const QRect &other : std::as_const(taken))
                    QVERIFY2(!other.intersects(r), name);
                taken.append(r);
            }
        }
    }

    void closingDuringQuery_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("window closed") << false;
        QTest::newRow("window deleted") << true;
    }
    void closingDuringQuery()
    {
        QFETCH(bool, destroy);
        FixtureResponse silent;
        silent.neverAnswer = true;
        m_site->setResponse(QStringLiteral("/soft/qvdl/fmj2.htm"), silent);
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QPointer<MainWindow> guard(w.get());
        QTimer::singleShot(200, [&] {
            if (destroy) {
                w->close();
                w.reset();
            } else {
                w->close();
            }
        });
        QElapsedTimer clock;
        clock.start();
        query(guard.data(), QStringLiteral("tom"));
        // The wait ended with the close, not at its time-out; nothing was fetched after it.
        QVERIFY(clock.elapsed() < 4000);
        QCOMPARE(m_site->requestCount(QStringLiteral("/soft/qvdl/fmj2.htm")), 1);
        QCOMPARE(m_site->requestCount(QStringLiteral("/tradecard/nameCard.htm")), 0);
        QCOMPARE(guard.isNull(), destroy);
    }

    // A query on a worker thread reaches the window's page loader on the window's thread, gets
    // its late answer, and stops waiting when its job is cancelled.
    void browserHandOver_data()
    {
        QTest::addColumn<bool>("answers");
        QTest::newRow("late answer") << true;
        QTest::newRow("never answers, job cancelled") << false;
    }
    void browserHandOver()
    {
        QFETCH(bool, answers);
        QThread *loadedOn = nullptr;
        HiddenBrowser::Wanted wanted;
        PageHandOver handOver([&](const QString &address, HiddenBrowser::Done done,
                                  HiddenBrowser::Wanted stillWanted) {
            loadedOn = QThread::currentThread();
            wanted = stillWanted;
            if (answers)
                QTimer::singleShot(50, [done, address] { done("<b>" + address + "</b>"); });
        });
        CancelToken cancel;
        QString html = QStringLiteral("unset");
        std::atomic<bool> finished{false};
        std::thread worker([&] {
            html = handOver.loadBodyHtml(QStringLiteral("http://x/d.htm"), &cancel);
            finished = true;
        });
        if (!answers) {
            QTest::qWait(200);
            QVERIFY(!finished);
            cancel.cancel();
        }
        const bool ended = QTest::qWaitFor([&] { return finished.load(); }, 10000);
        worker.join();
        QVERIFY(ended);
        QCOMPARE(loadedOn, QThread::currentThread());
        QCOMPARE(html, answers ? QStringLiteral("<b>http://x/d.htm</b>") : QString());
        // A query that stopped waiting no longer wants its page.
        QVERIFY(wanted);
        QCOMPARE(wanted(), answers);
    }

    void linkClicks_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("opened"); // empty: nothing opens

        const QString a = QStringLiteral("http://example.test/page.htm");
        QTest::newRow("Command9") << "Command9"
                                  << "Text4_2" << a << a;
        QTest::newRow("Command10") << "Command10"
                                   << "Text4_4" << a << a;
        QTest::newRow("Command11") << "Command11"
                                   << "Text4_6" << a << a;
        QTest::newRow("Command12") << "Command12"
                                   << "Text4_8" << a << a;
        QTest::newRow("Command4") << "Command4"
                                  << "Text4_10" << a << a;
        QTest::newRow("Command6") << "Command6"
                                  << "Text4_12" << a << a;
        QTest::newRow("Command5") << "Command5"
                                  << "Text4_14" << a << a;
        QTest::newRow("Command3") << "Command3"
                                  << "Text4_18" << a << a;
        QTest::newRow("Label8") << "Label8"
                                << "Text7" << a << a;
        QTest::newRow("spaces around") << "Command9"
                                       << "Text4_2"
                                       << "  " + a + " " << a;
        QTest::newRow("empty slot") << "Command9"
                                    << "Text4_2" << QString() << QString();
        QTest::newRow("blank slot") << "Command4"
                                    << "Text4_10"
                                    << "   " << QString();
        QTest::newRow("https") << "Command10"
                               << "Text4_4" << QStringLiteral("https://example.test/") << QString();
        QTest::newRow("no scheme")
            << "Command4"
            << "Text4_10" << QStringLiteral("example.test/help") << QString();
        QTest::newRow("Label8, no detail page") << "Label8"
                                                << "Text7" << QString() << QString();
    }
    void linkClicks()
    {
        QFETCH(QString, control);
        QFETCH(QString, field);
        QFETCH(QString, address);
        QFETCH(QString, opened);
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->findChild<QLineEdit *>(field)->setText(address);
        QWidget *c = w->findChild<QWidget *>(control);
        QVERIFY(c);
        c->show(); // Label8 shows after a query
        // An address that does not open is said; a blank slot has nowhere to go.
        ModalWatcher watcher;
        watcher.arm();
        QTest::mouseClick(c, Qt::LeftButton, {}, QPoint(4, 4));
        const bool said = opened.isEmpty() && !address.trimmed().isEmpty();
        QCOMPARE(watcher.seen, said ? 1 : 0);
        if (said)
            QVERIFY2(watcher.text.startsWith(QStringLiteral("无法打开网页")),
                     qPrintable(watcher.text));
        QCOMPARE(m_urls.opened.size(), opened.isEmpty() ? 0 : 1);
        if (!opened.isEmpty())
            QCOMPARE(m_urls.opened.first(), QUrl(opened));
    }

    // A link button is offered only with an address (none at all before any settings); one the
    // start-up list leaves without a caption still says which it is.
    void linkButtonsFollowTheirAddresses()
    {
        const auto w = windowOn(QuerySettings());
        for (const char *name : {"Command9", "Command10", "Command11", "Command12", "Command4",
                                 "Command6", "Command5", "Command3"})
            QVERIFY2(!child<QPushButton>(w.get(), name)->isEnabled(), name);
        auto *button = child<QPushButton>(w.get(), "Command3");
        button->setText(QString());
        child<QLineEdit>(w.get(), "Text4_18")->setText(QStringLiteral("http://example.test/"));
        QVERIFY(button->isEnabled());
        QCOMPARE(button->accessibleName(), QStringLiteral("链接 8（未设置）"));
    }

    void updateNoticeClick_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("opens");
        QTest::newRow("bb2.0") << QStringLiteral("bb2.0") << true;
        QTest::newRow("bb1.0 (progress line)") << QStringLiteral("bb1.0") << true;
        QTest::newRow("bb11.0") << QStringLiteral("bb11.0") << false;
        QTest::newRow("bb11.0 with spaces") << QStringLiteral(" bb11.0 ") << false;
    }
    void updateNoticeClick()
    {
        QFETCH(QString, version);
        QFETCH(bool, opens);
        const QString download = QStringLiteral("http://example.test/download.htm");
        m_site->setPage(QStringLiteral("/soft/qvdl/zkrap2.htm"),
                        gbk(QStringLiteral("Brelvon#19#") + version + QStringLiteral("#0#") +
                            download + QStringLiteral("#16#")));
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        // The notice on the caption bar, or (no notice with bb1.0) the batch's progress line.
        const bool notice = version.trimmed() != QLatin1String("bb1.0");
        auto *label = child<QLabel>(w.get(), notice ? "UpdateNotice" : "Label5");
        QCOMPARE(label->isVisible(), notice);
        label->show();
        ModalWatcher watcher;
        int openedWhileBoxShown = -1;
        watcher.arm([&] { openedWhileBoxShown = int(m_urls.opened.size()); });
        QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(4, 4));
        if (opens) {
            QCOMPARE(watcher.seen, 1);
            QCOMPARE(watcher.text, download);
            QCOMPARE(watcher.title, QStringLiteral("Brelvon"));
            QCOMPARE(openedWhileBoxShown, 0); // opened only after the box is closed
            QCOMPARE(m_urls.opened, QList<QUrl>{QUrl(download)});
        } else {
            QTest::qWait(50);
            QCOMPARE(watcher.seen, 0);
            QVERIFY(m_urls.opened.isEmpty());
        }
    }

    // The help: our own pages, opened at the page the control is about, one window at a time,
    // within the screen, closed by Esc; its pictures come at twice their size as well.
    void helpWindow()
    {
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->activateWindow();
        auto *label11 = child<QLabel>(w.get(), "Label11");
        label11->show();
        const auto source = [&] {
            return w->helpWindow() ? w->helpWindow()->browser()->source().fileName() +
                                         w->helpWindow()->browser()->source().fragment()
                                   : QString();
        };
        QTest::mouseClick(child<QLabel>(w.get(), "Label10"), Qt::LeftButton, {}, QPoint(4, 4));
        QPointer<HelpWindow> help = w->helpWindow();
        QVERIFY(help);
        QCOMPARE(source(), QStringLiteral("index.html"));
        QVERIFY(m_urls.opened.isEmpty()); // offline
        QTest::mouseClick(label11, Qt::LeftButton, {}, QPoint(4, 4));
        QCOMPARE(w->helpWindow(), help.data());
        QCOMPARE(source(), QStringLiteral("desk.htmllines"));
        QVERIFY(!help->parentWidget());
        QVERIFY(help->screen()->availableGeometry().contains(help->frameGeometry()));
        // Its topics are links a screen reader reads; the contents name every settings section.
        auto *topic = help->findChild<QWidget *>(QStringLiteral("HelpLink_watch"));
        QCOMPARE(QAccessible::queryAccessibleInterface(topic)->role(), QAccessible::Link);
        QTest::mouseClick(topic, Qt::LeftButton, {}, QPoint(4, 4));
        QCOMPARE(source(), QStringLiteral("watch.html"));
        QFile index(HelpWindow::helpFolder() + QStringLiteral("/index.html"));
        QVERIFY(index.open(QIODevice::ReadOnly));
        const QString contents = QString::fromUtf8(index.readAll());
        const QTemporaryDir dir;
        const SettingsDialog settings(dir.filePath(QStringLiteral("help.conf")));
        const auto *sections = settings.findChild<QTabWidget *>(QStringLiteral("settingsSections"));
        for (int i = 0; i < sections->count(); ++i)
            QVERIFY2(contents.contains(sections->tabText(i)), qPrintable(sections->tabText(i)));
        help->showPage(QStringLiteral("desk.html#lines"));
        const QString text = help->browser()->toPlainText();
        QVERIFY2(text.contains(QStringLiteral("四行结果")), qPrintable(text.left(200)));
        // Every page is there, and each picture in both sizes.
        QDir folder(HelpWindow::helpFolder());
        for (const char *page :
             {"index", "desk", "batch", "settings", "watch", "notes", "risk", "status"})
            QVERIFY2(folder.exists(QLatin1String(page) + QStringLiteral(".html")), page);
        const QStringList pictures =
            folder.entryList({QStringLiteral("images/*.png")}, QDir::Files);
        for (const QString &picture : QDir(folder.filePath(QStringLiteral("images")))
                                          .entryList({QStringLiteral("*.png")}, QDir::Files)) {
            const QString pair = picture.endsWith(QLatin1String("@2x.png"))
                                     ? picture.chopped(7) + QStringLiteral(".png")
                                     : picture.chopped(4) + QStringLiteral("@2x.png");
            QVERIFY2(folder.exists(QStringLiteral("images/") + pair), qPrintable(picture));
        }
        Q_UNUSED(pictures);
        help->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(help));
        QTest::keyClick(help->browser(), Qt::Key_Escape);
        QTRY_VERIFY(help.isNull());
        // F1 from the window: the desk's page.
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QTest::keyClick(child<QLineEdit>(w.get(), "Text2"), Qt::Key_F1);
        QVERIFY(w->helpWindow());
        QCOMPARE(source(), QStringLiteral("desk.html"));
        QCOMPARE(w->helpWindow()->windowTitle(), QStringLiteral("查询一个买家 - Brelvon 帮助"));
    }

    // What a screen reader gets: a name for the input box, every button and link shown (the
    // caption's too) and the verdict (its reasons as the description); none of the hidden
    // internal controls. Tab reaches the links and the verdict; Ctrl+, opens the settings.
    void accessibilityAndKeys_data()
    {
        // A screen reader already running meets every control as it is made, before the window
        // has set it up; one started later meets the window as it stands.
        QTest::addColumn<bool>("readerRunning");
        QTest::newRow("reader started later") << false;
        QTest::newRow("reader running") << true;
    }
    void accessibilityAndKeys()
    {
        QFETCH(bool, readerRunning);
        QAccessible::installUpdateHandler([](QAccessibleEvent *event) {
            event->accessibleInterface(); // what the desktop's bridge does with each event
        });
        QAccessible::setActive(readerRunning);
        const auto quiet = qScopeGuard([] {
            QAccessible::setActive(false);
            QAccessible::installUpdateHandler(nullptr);
        });
        serveBuyer();
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->activateWindow();
        query(w.get(), QStringLiteral("tom"));
        QStringList seen;
        QStringList unnamed;
        QStringList repeated;
        QHash<QString, QAccessible::Role> roles;
        QString verdictDescription;
        std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *node) {
            for (int i = 0; i < node->childCount(); ++i) {
                QAccessibleInterface *child = node->child(i);
                QVERIFY(child);
                const QString name = child->object() ? child->object()->objectName() : QString();
                seen.append(name);
                const QAccessible::Role role = child->role();
                roles.insert(name, role);
                const QString said = child->text(QAccessible::Name).trimmed();
                if (!child->state().invisible &&
                    (role == QAccessible::PushButton || role == QAccessible::EditableText ||
                     role == QAccessible::CheckBox || role == QAccessible::Link ||
                     role == QAccessible::ComboBox || role == QAccessible::Table) &&
                    said.isEmpty())
                    unnamed.append(
                        name + u':' +
                        (child->object() ? child->object()->metaObject()->className() : "?"));
                // A description that only repeats the name says nothing.
                if (!said.isEmpty() && child->text(QAccessible::Description).trimmed() == said)
                    repeated.append(name);
                if (role == QAccessible::ComboBox) {
                    auto *box = qobject_cast<QComboBox *>(child->object());
                    if (box && box->findText(said) >= 0)
                        unnamed.append(name + QStringLiteral(" named after an item"));
                }
                if (name == QLatin1String("RiskVerdict")) {
                    QCOMPARE(child->text(QAccessible::Name),
                             child->object()->property("toolTip").toString().section(u'\n', 0, 0));
                    verdictDescription = child->text(QAccessible::Description);
                }
                walk(child);
            }
        };
        walk(QAccessible::queryAccessibleInterface(w.get()));
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(u' ')));
        QVERIFY2(repeated.isEmpty(), qPrintable(repeated.join(u' ')));
        for (const char *link : {"Label10", "settingsLink", "CopyResult", "Label8"})
            QVERIFY2(roles.value(QLatin1String(link)) == QAccessible::Link, link);
        QCOMPARE(roles.value(QStringLiteral("RiskVerdict")), QAccessible::StaticText);
        QVERIFY(!seen.contains(QStringLiteral("Label2"))); // the title's shadow: one title
        for (const char *name : {"Text2", "Command7", "Label10", "settingsLink", "CopyResult",
                                 "RiskVerdict", "CaptionClose", "Command3"})
            QVERIFY2(seen.contains(QLatin1String(name)), name);
        for (const char *name : {"Text1", "Text7", "Text8", "Text19", "Frame4", "Text4_0", "Frame5",
                                 "Text20", "WebBrowser1"})
            QVERIFY2(!seen.contains(QLatin1String(name)), name);
        QVERIFY(!verdictDescription.isEmpty());

        QStringList tabbed;
        child<QLineEdit>(w.get(), "Text2")->setFocus();
        for (int i = 0; i < 16; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            tabbed.append(QApplication::focusWidget()->objectName());
        }
        for (const char *name :
             {"Command7", "Command2", "settingsLink", "Label10", "WatchClipboard", "CopyResult",
              "Label8", "RiskVerdict", "Command4", "Command9"})
            QVERIFY2(tabbed.contains(QLatin1String(name)), qPrintable(tabbed.join(u' ')));
        QVERIFY(tabbed.indexOf(QStringLiteral("Label10")) <
                tabbed.indexOf(QStringLiteral("Command4")));
        // Enter on a focused link does what its click does.
        child<QWidget>(w.get(), "CopyResult")->setFocus();
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(QGuiApplication::clipboard()->text().startsWith(QStringLiteral("tom，")));
        QTest::keyClick(child<QLineEdit>(w.get(), "Text2"), Qt::Key_Comma, Qt::ControlModifier);
        QTRY_VERIFY(w->settingsDialog());
        // The settings dialog, every section: named fields, combo boxes named by what they set.
        auto *tabs =
            w->settingsDialog()->findChild<QTabWidget *>(QStringLiteral("settingsSections"));
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            walk(QAccessible::queryAccessibleInterface(w->settingsDialog()));
        }
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(u' ')));
        QCOMPARE(roles.value(QStringLiteral("batch/sort")), QAccessible::ComboBox);
        w->settingsDialog()->close();
    }

    // The browser helper every link goes through.
    void openInBrowser_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("opened");
        QTest::newRow("plain") << "http://example.org/a?b=1" << 1 << "http://example.org/a?b=1";
        QTest::newRow("blank") << "   " << 0 << "";
        QTest::newRow("secure only") << "https://example.org/" << 0 << "";
        QTest::newRow("text before the scheme")
            << "go http://example.org/x" << 1 << "http://example.org/x";
        QTest::newRow("surrounding spaces")
            << "  http://example.org/  " << 1 << "http://example.org/";
        QTest::newRow("secure with http:// further on")
            << "https://example.org/?r=http://x" << 1 << "https://example.org/?r=http://x";
        // Only web addresses reach the desktop, whatever else they hold.
        QTest::newRow("local program") << "file:///usr/bin/xterm?http://y" << 0 << "";
        QTest::newRow("other scheme") << "mailto:x@example.org?body=http://y" << 0 << "";
        QTest::newRow("no host") << "http://" << 0 << "";
    }

    void openInBrowser()
    {
        QFETCH(QString, address);
        QFETCH(int, result);
        QFETCH(QString, opened);
        m_urls.opened.clear();
        // Whatever the scheme, the desktop would hand it on: catch those too.
        for (const char *scheme : {"file", "mailto"})
            QDesktopServices::setUrlHandler(QLatin1String(scheme), &m_urls, "open");
        const int opens = OpenInBrowser(address);
        for (const char *scheme : {"file", "mailto"})
            QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
        QCOMPARE(opens, result);
        if (opened.isEmpty()) {
            QVERIFY(m_urls.opened.isEmpty());
        } else {
            QCOMPARE(m_urls.opened.size(), 1);
            QCOMPARE(m_urls.opened.first(), QUrl(opened));
        }
    }
};

QTEST_MAIN(TestMainWindow)

#include "test_mainwindow.moc"
