#include "browser/pagehandover.h"
#include "demosite/demosite.h"
#include "files/batchjournal.h"
#include "files/idfile.h"
#include "files/spreadsheetexport.h"
#include "fixtureserver.h"
#include "mainwindow/batchfrontend.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/resultlines.h"
#include "mainwindow/spreadsheetopener.h"
#include "mainwindow/verdictbar.h"
#include "querylookups.h"
#include "storage/sellerdatabase.h"
#include "web/codepage936.h"
#include "web/fetchpage.h"
#include "windowonsession.h"
#include "xlsxsheet.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Catches what the desktop is asked to open (QDesktopServices' "file" handler).
class FileUrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened.append(url); }
};

// Runs act on the next modal dialog of type T to come up over window (polling for up to 5 s).
template <class T> void whenModal(QWidget *window, std::function<void(T *)> act, int tries = 0)
{
    QTimer::singleShot(10, window, [window, act, tries] {
        if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget()))
            act(dialog);
        else if (tries < 500)
            whenModal<T>(window, act, tries + 1);
        else if (auto *other = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            other->reject(); // not the dialog expected: end it, so the test fails, not hangs
    });
}

// Closes the next message box with its OK button; its text lands in *text.
void closeNextMessageBox(QWidget *window, QString *text)
{
    whenModal<QMessageBox>(window, [text](QMessageBox *box) {
        *text = box->text();
        box->button(QMessageBox::Ok)->click();
    });
}

QString cell(const XlsxSheet &sheet, char column, int row)
{
    return sheet.cells.value(QLatin1Char(column) + QString::number(row)).value;
}

// The texts a label shows each time it is painted.
class PaintedTexts : public QObject
{
public:
    explicit PaintedTexts(QLabel *label) { label->installEventFilter(this); }
    QStringList texts;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            texts.append(static_cast<QLabel *>(watched)->text());
        return false;
    }
};

} // namespace

class TestBatch : public QObject
{
    Q_OBJECT

    QTemporaryDir m_files; // id files
    QTemporaryDir m_temp;  // the temporary folder the tables go to
    QByteArray m_savedTmpDir;
    std::unique_ptr<FixtureServer> m_site; // every host, answering 404 unless told otherwise
    QStringList m_opened;                  // what the spreadsheet opener was handed

    QString idFile(const QString &name, const QByteArray &content)
    {
        const QString path = m_files.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qWarning("cannot write %s", qPrintable(path));
        return path;
    }

    // A window on the fixture server whose dialog picks fileName and whose opener records.
    std::unique_ptr<MainWindow> makeWindow(const QString &fileName, int jobs = 1)
    {
        QuerySettings s;
        s.mainHost = s.secondHost = s.tradeCardHost = m_site->hostPort();
        s.batchJobs = jobs;
        return configure(windowOn(s), fileName);
    }
    std::unique_ptr<MainWindow> configure(std::unique_ptr<MainWindow> w, const QString &fileName)
    {
        if (!QTest::qWaitFor([&] { return !w->startupListPending(); }, 20000))
            qWarning("the start-up list never arrived");
        w->setIdFileChooser([fileName](QWidget *) { return fileName; });
        w->setSpreadsheetOpener([this](const QString &path) {
            m_opened.append(path);
            return true;
        });
        m_site->clearRequests(); // the start-up list
        return w;
    }

    template <class T> static T *child(QWidget *w, const char *name)
    {
        return w->findChild<T *>(QLatin1String(name));
    }
    static bool shown(QWidget *w, const char *name)
    {
        return child<QWidget>(w, name)->isVisibleTo(w);
    }
    // The progress line whole: its tooltip has it when the line is too narrow for it.
    static QString progressLine(QWidget *w)
    {
        const auto *line = child<QLabel>(w, "Label5");
        return line->toolTip().isEmpty() ? line->text() : line->toolTip();
    }
    // The state every batch leaves behind, whatever became of it.
    static void checkWindowUsable(MainWindow *w)
    {
        QVERIFY(!w->batchRunning());
        QVERIFY(!w->queryRunning());
        QVERIFY(child<QLineEdit>(w, "Text1")->text().isEmpty());
        QVERIFY(!shown(w, "Label5"));
        QVERIFY(!shown(w, "BatchProgressBar"));
        QVERIFY(!shown(w, "BatchStop"));
        QVERIFY(child<QPushButton>(w, "Command7")->isEnabled());
        QVERIFY(child<QPushButton>(w, "Command2")->isEnabled());
        checkBatchEndRoom(w);
    }
    // The batch's end: each of its parts that shows has a room of its own in the result area.
    static void checkBatchEndRoom(MainWindow *w)
    {
        const QRect area = child<QWidget>(w, "Frame2")->rect();
        QList<QWidget *> parts;
        for (const char *name :
             {"BatchSummary", "BatchVerdictBar", "BatchTable", "BatchStaleRules"}) {
            if (shown(w, name))
                parts.append(child<QWidget>(w, name));
        }
        for (qsizetype i = 0; i < parts.size(); ++i) {
            QVERIFY2(area.contains(parts[i]->geometry()), qPrintable(parts[i]->objectName()));
            for (qsizetype j = i + 1; j < parts.size(); ++j)
                QVERIFY2(!parts[i]->geometry().intersects(parts[j]->geometry()),
                         qPrintable(parts[i]->objectName() + u' ' + parts[j]->objectName()));
        }
    }
    // Until the window's batch or query has ended (or the window is gone).
    static void waitIdle(const QPointer<MainWindow> &w)
    {
        if (!QTest::qWaitFor([&] { return !w || (!w->batchRunning() && !w->queryRunning()); },
                             60000))
            qWarning("the window never came back from its job");
    }
    int queriesRun() const
    {
        return m_site->requestCount(QStringLiteral("/tradecard/nameCard.htm"));
    }
    // The last page of a buyer's lookup.
    static QString popupTarget(const QString &id)
    {
        return QStringLiteral("/tradecard/popupNameCard.htm?uid=cntaobao") + id +
               QStringLiteral("&loginId=&type=1&jumpFrom=aliwwserver");
    }

private slots:
    void init()
    {
        QVERIFY(m_files.isValid() && m_temp.isValid());
        m_savedTmpDir = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
        m_site = std::make_unique<FixtureServer>();
        QVERIFY(m_site->listen());
        m_opened.clear();
    }
    void cleanup()
    {
        qputenv("TMPDIR", m_savedTmpDir);
        for (const QString &name : QDir(m_temp.path()).entryList(QDir::Files))
            QFile::remove(m_temp.filePath(name));
    }

    void batchAgainstDemoSite()
    {
        // The browser's wait for night_owl ends at the change of the clock's minute: start ten
        // seconds into one, so that it meets none.
        const qint64 shift = (QDateTime::currentMSecsSinceEpoch() / 60000 + 1) * 60000 + 10000 -
                             QDateTime::currentMSecsSinceEpoch();
        setFetchClock([shift] { return QDateTime::currentMSecsSinceEpoch() + shift; });
        const auto restoreClock = qScopeGuard([] { setFetchClock({}); });
        DemoSite site;
        site.setVersionText(QStringLiteral("bb2.0")); // the update notice shows at start
        QVERIFY(site.start());
        const QString path = idFile(QStringLiteral("ids.txt"),
                                    "xiaoyu_2008,\"blue sky88\"\r\n night_owl\n\n快乐的小猫,");
        auto w = configure(windowOn(demoSettings(site.hostPort())), path);
        QVERIFY(shown(w.get(), "UpdateNotice"));
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));

        // An interactive query first, so the result lines are showing when the batch starts.
        child<QLineEdit>(w.get(), "Text2")->setText(QStringLiteral("xiaoyu_2008"));
        w->runQuery();
        waitIdle(w.get());
        QVERIFY(shown(w.get(), "Label6") && shown(w.get(), "Label7"));

        // The progress line as each query delivers its record (Text16 takes each id in turn).
        auto *label5 = child<QLabel>(w.get(), "Label5");
        auto *bar = child<QProgressBar>(w.get(), "BatchProgressBar");
        QStringList progress;
        QStringList barTexts;
        bool timeLeftShown = false;
        connect(child<QLineEdit>(w.get(), "Text16"), &QLineEdit::textChanged, this, [&] {
            // The line ends with the time left from the second buyer on; its figure varies.
            progress.append(label5->isVisibleTo(w.get())
                                ? progressLine(w.get()).section(QStringLiteral("，预计还需"), 0, 0)
                                : QString());
            // Shown, not only in the tooltip.
            timeLeftShown = timeLeftShown || label5->text().contains(QStringLiteral("，预计还需"));
            barTexts.append(bar->isVisibleTo(w.get()) ? bar->text() : QString());
        });
        // The last line is painted before the table is handed on.
        PaintedTexts painted(label5);
        QString atOpen;
        bool paintedAtOpen = false;
        w->setSpreadsheetOpener([&](const QString &table) {
            atOpen = label5->text();
            paintedAtOpen = painted.texts.contains(atOpen);
            m_opened.append(table);
            return true;
        });
        QTest::mouseClick(child<QPushButton>(w.get(), "Command2"), Qt::LeftButton);
        waitIdle(w.get());

        // The buyer being queried counts from 1, as the bar does.
        QCOMPARE(progress,
                 QStringList({QStringLiteral("共需要查询4个买家,正在查询第1个:xiaoyu_2008"),
                              QStringLiteral("共需要查询4个买家,正在查询第2个:blue sky88"),
                              QStringLiteral("共需要查询4个买家,正在查询第3个: night_owl"),
                              QStringLiteral("共需要查询4个买家,正在查询第4个:快乐的小猫")}));
        QVERIFY(timeLeftShown);
        QCOMPARE(barTexts,
                 QStringList({QStringLiteral("第 1 / 4 个"), QStringLiteral("第 2 / 4 个"),
                              QStringLiteral("第 3 / 4 个"), QStringLiteral("第 4 / 4 个")}));
        QCOMPARE(atOpen, QStringLiteral("查询完毕,向EXCEL输送数据"));
        QVERIFY(paintedAtOpen);
        checkWindowUsable(w.get());
        for (const char *name : {"Label6", "Label7", "Label8", "Label9", "Label11"})
            QVERIFY2(!shown(w.get(), name), name);
        QVERIFY(shown(w.get(), "BatchSummary"));
        QCOMPARE(child<QLabel>(w.get(), "BatchSummary")->text(),
                 QStringLiteral("共4个：找到4个，查无此人0个，失败0个，高风险0个"));

        QCOMPARE(m_opened.size(), 1);
        QVERIFY(m_opened[0].startsWith(m_temp.path()));
        const XlsxSheet sheet = readXlsxSheet(m_opened[0]);
        QVERIFY2(sheet.error.isEmpty(), qPrintable(sheet.error));
        QCOMPARE(sheet.maxRow, 5);
        for (int c = 0; c < 12; ++c)
            QCOMPARE(cell(sheet, char('A' + c), 1), batchTableHeaders()[c]);
        // Each row holds what a query of that id delivers (with the window's browser: night_owl's
        // rate page is served only to browsers), the id as the file wrote it.
        QueryLookups query(demoSettings(site.hostPort()));
        PageHandOver handOver;
        query.setBrowser(&handOver);
        const QStringList ids = {QStringLiteral("xiaoyu_2008"), QStringLiteral("blue sky88"),
                                 QStringLiteral(" night_owl"), QStringLiteral("快乐的小猫")};
        for (int j = 0; j < ids.size(); ++j) {
            const BuyerCreditRecord r = query.runServing(ids[j].trimmed()).record;
            const QString expected[] = {ids[j],         r.nick,         r.regTime,   r.address,
                                        r.verification, r.goodRate,     r.goodCount, r.neutralCount,
                                        r.badCount,     r.neutralGiven, r.badGiven,  r.creditUrl};
            for (int c = 0; c < 12; ++c)
                QCOMPARE(cell(sheet, char('A' + c), j + 2), expected[c]);
        }
        // A known buyer, spelled out, in case the engine and the window agree on a mistake.
        const QStringList first = {QStringLiteral("xiaoyu_2008"),
                                   QStringLiteral("小宇"),
                                   QStringLiteral("2006-03-15"),
                                   QStringLiteral("广东省深圳市"),
                                   QStringLiteral("支付宝认证"),
                                   QStringLiteral("97.71"),
                                   QStringLiteral("128"),
                                   QStringLiteral("2"),
                                   QStringLiteral("1"),
                                   QStringLiteral("2"),
                                   QStringLiteral("1")};
        for (int c = 0; c < first.size(); ++c)
            QCOMPARE(cell(sheet, char('A' + c), 2), first[c]);
        QVERIFY(cell(sheet, 'L', 2).startsWith(QStringLiteral("http://") + site.hostPort()));
    }

    void fileNames_data()
    {
        QTest::addColumn<QString>("name"); // as the dialog returns it; "<dir>/" is the id folder
        QTest::addColumn<bool>("create");
        QTest::addColumn<int>("queries");
        QTest::newRow("cancelled") << QString() << false << 0;
        QTest::newRow("upper-case TXT") << QStringLiteral("<dir>/IDS.TXT") << true << 0;
        QTest::newRow("txt inside the name") << QStringLiteral("<dir>/list.txt.bak") << true << 1;
        // The test is on the trimmed name, the file is opened under the name as returned.
        QTest::newRow("spaces after") << QStringLiteral("<dir>/spaced.txt  ") << true << 1;
    }
    void fileNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, create);
        QFETCH(int, queries);
        // The id folder's own path must not hold "txt" for the upper-case case to mean anything.
        QVERIFY(!m_files.path().contains(QLatin1String("txt")));
        name.replace(QLatin1String("<dir>"), m_files.path());
        if (create)
            idFile(QFileInfo(name).fileName(), "buyer1\n");
        auto w = makeWindow(name);
        w->runBatch();
        waitIdle(w.get());
        QCOMPARE(queriesRun(), queries);
        QCOMPARE(m_opened.size(), queries);
        checkWindowUsable(w.get());
    }

    void unreadableIdFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason"); // in Chinese, the locale being unset
        QTest::newRow("missing") << QStringLiteral("missing.txt") << QString();
        QTest::newRow("a folder") << QStringLiteral("folder.txt") << QStringLiteral("文件夹");
        QTest::newRow("UTF-16") << QStringLiteral("utf16.txt") << QStringLiteral("UTF-16 编码");
    }
    void unreadableIdFile()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        QDir(m_files.path()).mkdir(QStringLiteral("folder.txt"));
        idFile(QStringLiteral("utf16.txt"), QByteArray("\xFF\xFE"
                                                       "a\0,\0b\0",
                                                       8));
        const QString path = m_files.filePath(name);
        auto w = makeWindow(path);
        QString message;
        closeNextMessageBox(w.get(), &message);
        w->runBatch();
        waitIdle(w.get());
        QVERIFY2(message.startsWith(QStringLiteral("无法读取关键词文件。")), qPrintable(message));
        QVERIFY2(message.contains(path), qPrintable(message));
        QVERIFY2(message.contains(reason), qPrintable(message));
        QCOMPARE(m_site->totalRequests(), 0);
        QVERIFY(m_opened.isEmpty());
        checkWindowUsable(w.get());
    }

    void emptyIdFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("only blank fields") << QByteArray("\r\n , ,\n\n");
    }
    void emptyIdFile()
    {
        QFETCH(QByteArray, content);
        auto w = makeWindow(idFile(QStringLiteral("empty.txt"), content));
        QString message;
        closeNextMessageBox(w.get(), &message);
        w->runBatch();
        waitIdle(w.get());
        // Said so, and nothing looked up or written.
        QVERIFY2(message.startsWith(QStringLiteral("文件中没有买家ID")), qPrintable(message));
        QCOMPARE(m_site->totalRequests(), 0);
        QVERIFY(m_opened.isEmpty());
        QVERIFY(QDir(m_temp.path()).entryList(QDir::Files).isEmpty());
        checkWindowUsable(w.get());
    }

    // More ids than a batch takes: the user learns how many are left out before anything starts,
    // and may still back out.
    void overLimitIdFile_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::newRow("go ahead") << true;
        QTest::newRow("cancelled") << false;
    }
    void overLimitIdFile()
    {
        QFETCH(bool, accept);
        QByteArray content;
        for (int i = 0; i < 120; ++i)
            content += "b" + QByteArray::number(i) + (i % 2 ? ",\n" : ", ,");
        auto w = makeWindow(idFile(QStringLiteral("120.txt"), content));
        QString message;
        int queriesAtQuestion = -1;
        whenModal<QMessageBox>(w.get(), [&](QMessageBox *box) {
            message = box->text();
            queriesAtQuestion = queriesRun();
            box->button(accept ? QMessageBox::Ok : QMessageBox::Cancel)->click();
        });
        w->runBatch();
        waitIdle(w.get());
        QVERIFY2(message.contains(QLatin1String("120")) && message.contains(QLatin1String("19")),
                 qPrintable(message));
        QCOMPARE(queriesAtQuestion, 0);
        QCOMPARE(queriesRun(), accept ? kMaxBatchIds : 0);
        QCOMPARE(m_opened.size(), accept ? 1 : 0);
        if (accept)
            QCOMPARE(readXlsxSheet(m_opened[0]).maxRow, kMaxBatchIds + 1);
        checkWindowUsable(w.get());
    }

    // An order export: each buyer once, those past [batch] maxIds told before anything starts,
    // the order columns and the summary sheet; a header without a buyer column names the
    // columns it has and nothing is looked up.
    void orderFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("queries");
        QTest::newRow("orders") << encode936(u"买家会员名,订单编号\r\ntom,=\"1\"\r\nann,2\r\n"
                                             u"tom,3\r\nbob,4\r\n")
                                << QStringLiteral("后面的1个不会查询") << 2;
        QTest::newRow("no buyer column") << encode936(u"订单编号,收货人姓名\r\n1,王五\r\n")
                                         << QStringLiteral("表头中的列：订单编号、收货人姓名") << 0;
    }
    void orderFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        QFETCH(int, queries);
        QuerySettings s;
        s.mainHost = s.secondHost = s.tradeCardHost = m_site->hostPort();
        s.batchMaxIds = 2;
        // A blacklisted buyer's orders wait for review; the summary's bar counts the verdicts.
        SellerDatabase db; // outlives the window
        QVERIFY(db.open(m_files.filePath(QStringLiteral("orders%1.sqlite").arg(queries))));
        BuyerNote note;
        note.buyerId = QStringLiteral("tom");
        note.listed = ListMark::Blacklist;
        QVERIFY(db.saveNote(note));
        auto w = configure(windowOn(s), idFile("订单.CSV", content));
        w->setSellerDatabase(&db, false);
        QString told;
        whenModal<QMessageBox>(w.get(), [&](QMessageBox *box) {
            told = box->text();
            box->button(QMessageBox::Ok)->click();
        });
        w->runBatch();
        waitIdle(w.get());
        QVERIFY2(told.contains(message), qPrintable(told));
        QCOMPARE(queriesRun(), queries);
        QCOMPARE(m_opened.size(), queries ? 1 : 0);
        if (queries) {
            const XlsxSheet sheet = readXlsxSheet(m_opened[0]);
            QCOMPARE(sheet.maxRow, 3);
            QCOMPARE(cell(sheet, 'A', 2), QStringLiteral("tom"));
            QCOMPARE(cell(sheet, 'M', 2), QStringLiteral("2"));
            QCOMPARE(cell(sheet, 'N', 2), QStringLiteral("1；3"));
            QCOMPARE(cell(sheet, 'A', 3), QStringLiteral("ann"));
            QVERIFY(readXlsxSheet(m_opened[0], QStringLiteral("sheet2.xml")).error.isEmpty());
            QStringList queued;
            for (const ReviewEntry &e : db.reviewQueue())
                queued.append(e.orderNumber + u' ' + e.buyerId);
            QCOMPARE(queued, QStringList({"1 tom", "3 tom"}));
            auto *bar = child<VerdictBar>(w.get(), "BatchVerdictBar");
            QVERIFY(bar->isVisibleTo(w.get()));
            QCOMPARE(bar->counts()[0], 1); // 高 first
            QCOMPARE(bar->counts()[0] + bar->counts()[1] + bar->counts()[2] + bar->counts()[3], 2);
        }
        checkWindowUsable(w.get());
    }

    // A batch the window left unfinished is offered when it starts; 继续 looks up only the
    // buyers not journalled and writes the whole table, and the journal goes.
    void resumeUnfinishedBatch()
    {
        const QString ids = idFile(QStringLiteral("resume.txt"), "a,b,c");
        const QString journalPath = m_files.filePath(QStringLiteral("unfinished.journal"));
        BatchInputIdentity input;
        QString error;
        QVERIFY(BatchInputIdentity::of(ids, {"a", "b", "c"}, &input, &error));
        {
            // Closed before the window runs: Windows removes no file that is still open.
            BatchJournal journal;
            QVERIFY(journal.create(journalPath, input, {}, &error));
            JournalRow kept;
            kept.index = 1;
            kept.id = kept.result.record.buyerId = QStringLiteral("b");
            kept.status = LookupStatus::NotFound;
            kept.result.record.nick = QStringLiteral("kept");
            QVERIFY(journal.append(kept));
        }

        auto w = makeWindow(QString());
        w->setBatchJournalPath(journalPath);
        QString offered;
        whenModal<QMessageBox>(w.get(), [&](QMessageBox *box) {
            offered = box->text();
            for (QAbstractButton *button : box->buttons()) {
                if (button->text() == QStringLiteral("继续"))
                    button->click();
            }
        });
        w->offerBatchResume();
        waitIdle(w.get());
        QVERIFY2(offered.contains(QStringLiteral("已查1个，共3个")), qPrintable(offered));
        QCOMPARE(queriesRun(), 2);
        QCOMPARE(m_opened.size(), 1);
        const XlsxSheet sheet = readXlsxSheet(m_opened[0]);
        QCOMPARE(cell(sheet, 'A', 2), QStringLiteral("a"));
        QCOMPARE(cell(sheet, 'B', 3), QStringLiteral("kept"));
        QCOMPARE(cell(sheet, 'A', 4), QStringLiteral("c"));
        QVERIFY(!QFileInfo::exists(journalPath));
        checkWindowUsable(w.get());
    }

    void tableNotWritten()
    {
        qputenv("TMPDIR", QFile::encodeName(m_temp.filePath(QStringLiteral("gone"))));
        auto w = makeWindow(idFile(QStringLiteral("ids.txt"), "a,b"));
        QString shown;
        closeNextMessageBox(w.get(), &shown);
        w->runBatch();
        waitIdle(w.get());
        QVERIFY2(shown.startsWith(QStringLiteral("无法写入表格文件")), qPrintable(shown));
        QCOMPARE(queriesRun(), 2);
        QVERIFY(m_opened.isEmpty());
        checkWindowUsable(w.get());
    }

    // No program opens the table: it is offered for saving elsewhere (the temporary folder is
    // cleared of old tables) or its folder is opened.
    void tableNotShown_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::newRow("save a copy") << QStringLiteral("另存为…");
        QTest::newRow("save over the id file") << QStringLiteral("另存为…");
        QTest::newRow("open the folder") << QStringLiteral("打开所在文件夹");
    }
    void tableNotShown()
    {
        QFETCH(QString, choice);
        const QString ids = idFile(QStringLiteral("ids.txt"), "a,b");
        const bool overIdFile = QByteArray(QTest::currentDataTag()).contains("id file");
        const QString copy = overIdFile ? ids : m_files.filePath(QStringLiteral("kept.xlsx"));
        auto w = makeWindow(ids);
        w->setSpreadsheetOpener([this](const QString &path) {
            m_opened.append(path);
            return false;
        });
        QString refusal;
        w->findChild<BatchFrontEnd *>()->setSaveFileChooser(
            [&](QWidget *, const QString &suggested) {
                if (overIdFile) // the refusal that follows
                    closeNextMessageBox(w.get(), &refusal);
                return suggested.endsWith(QLatin1String(".xlsx")) ? copy : QString();
            });
        // A desktop that opens folders (xdg-mime names a file manager).
        QTemporaryDir bin;
        QFile xdgMime(bin.filePath(QStringLiteral("xdg-mime")));
        QVERIFY(xdgMime.open(QIODevice::WriteOnly));
        xdgMime.write("#!/bin/sh\necho files.desktop\n");
        xdgMime.close();
        xdgMime.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        const QByteArray savedPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()));
        FileUrlCatcher desktop;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &desktop, "open");
        const auto unset = qScopeGuard([savedPath] {
            QDesktopServices::unsetUrlHandler("file");
            qputenv("PATH", savedPath);
        });
        QStringList buttons;
        whenModal<QMessageBox>(w.get(), [&](QMessageBox *box) {
            for (QAbstractButton *b : box->buttons())
                buttons.append(b->text());
            for (QAbstractButton *b : box->buttons()) {
                if (b->text() == choice) {
                    b->click();
                    return;
                }
            }
            box->reject();
        });
        w->runBatch();
        waitIdle(w.get());
        QVERIFY2(buttons.contains(QStringLiteral("另存为…")) &&
                     buttons.contains(QStringLiteral("打开所在文件夹")),
                 qPrintable(buttons.join(u'|')));
        QCOMPARE(queriesRun(), 2);
        QCOMPARE(m_opened.size(), 1);
        if (choice == QStringLiteral("打开所在文件夹")) {
            QCOMPARE(desktop.opened, QList<QUrl>({QUrl::fromLocalFile(m_temp.path())}));
        } else if (overIdFile) {
            // The id file is not written over.
            QVERIFY2(refusal.startsWith(QStringLiteral("无法保存表格")), qPrintable(refusal));
            QFile file(ids);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray("a,b"));
        } else {
            const XlsxSheet sheet = readXlsxSheet(copy);
            QVERIFY2(sheet.error.isEmpty(), qPrintable(sheet.error));
            QCOMPARE(sheet.maxRow, 3);
            QCOMPARE(cell(sheet, 'A', 3), QStringLiteral("b"));
        }
        // The row under the summary keeps saying where the table is; its 打开 tries the opener
        // again, and when that fails too says so with the path, which 复制路径 copies.
        QVERIFY(shown(w.get(), "BatchTable"));
        QVERIFY(child<QLabel>(w.get(), "BatchTablePath")
                    ->text()
                    .endsWith(QDir::toNativeSeparators(m_opened.first())));
        QString told;
        whenModal<QMessageBox>(w.get(), [&](QMessageBox *box) {
            told = box->text();
            box->findChild<QPushButton *>(QStringLiteral("CopyPathButton"))->click();
        });
        QTest::mouseClick(child<QLabel>(w.get(), "BatchTableOpen"), Qt::LeftButton, {},
                          QPoint(2, 2));
        QCOMPARE(m_opened.size(), 2);
        const QString native = QDir::toNativeSeparators(m_opened.first());
        QVERIFY2(told.contains(native), qPrintable(told));
        QCOMPARE(QGuiApplication::clipboard()->text(), native);
        checkWindowUsable(w.get());
    }

    // The stop button: the buyer in flight finishes and is written with those before it, nobody
    // after it is queried; a second stop (Esc) does not wait for it; before the first buyer the
    // configuration's download is not waited for. The summary says the batch was stopped.
    void stop_data()
    {
        QTest::addColumn<QString>("stopAt");   // the request during which stop is pressed
        QTest::addColumn<bool>("twice");       // pressed again (Esc)
        QTest::addColumn<QStringList>("rows"); // the ids the table holds
        QTest::newRow("buyer in flight finishes")
            << popupTarget(QStringLiteral("b")) << false << QStringList{"a", "b"};
        QTest::newRow("second stop cuts it short")
            << popupTarget(QStringLiteral("b")) << true << QStringList{"a"};
        QTest::newRow("before the first buyer")
            << QStringLiteral("/soft/qvdl/fmj2.htm") << false << QStringList();
    }
    void stop()
    {
        QFETCH(QString, stopAt);
        QFETCH(bool, twice);
        QFETCH(QStringList, rows);
        FixtureResponse held;
        if (twice || rows.isEmpty())
            held.neverAnswer = true;
        else
            held.delayMs = 300; // long enough for the stop to come while it is in flight
        m_site->setResponse(stopAt, held);
        auto w = makeWindow(idFile(QStringLiteral("ids.txt"), "a,b,c,d"));
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        auto *stopButton = child<QPushButton>(w.get(), "BatchStop");
        const auto stopping = connect(m_site.get(), &FixtureServer::requestReceived, this,
                                      [&](const QString &target) {
                                          if (target != stopAt)
                                              return;
                                          QVERIFY(stopButton->isVisible());
                                          stopButton->click();
                                          if (twice)
                                              QTest::keyClick(w.get(), Qt::Key_Escape);
                                      });
        w->runBatch();
        waitIdle(w.get());
        disconnect(stopping);

        QCOMPARE(queriesRun(), rows.isEmpty() ? 0 : 2);
        QCOMPARE(m_opened.size(), rows.isEmpty() ? 0 : 1);
        if (!rows.isEmpty()) {
            const XlsxSheet sheet = readXlsxSheet(m_opened[0]);
            QCOMPARE(sheet.maxRow, int(rows.size()) + 1);
            for (int i = 0; i < rows.size(); ++i)
                QCOMPARE(cell(sheet, 'A', i + 2), rows[i]);
        }
        const QString summary = child<QLabel>(w.get(), "BatchSummary")->text();
        QVERIFY2(shown(w.get(), "BatchSummary") &&
                     summary.startsWith(QStringLiteral("已停止：共%1个").arg(rows.size())) &&
                     summary.endsWith(QStringLiteral("未查询%1个").arg(4 - rows.size())),
                 qPrintable(summary));
        checkWindowUsable(w.get());
        w->resize(MainWindow::kMinWidth, MainWindow::kMinHeight);
        checkBatchEndRoom(w.get());
        // The summary stays until the next query.
        child<QLineEdit>(w.get(), "Text2")->setText(QStringLiteral("a"));
        w->runQuery();
        QVERIFY(!shown(w.get(), "BatchSummary"));
        w->close(); // the query need not wait for pages held back
        waitIdle(w.get());
    }

    // With several buyers in flight the line and the bar count the buyers started, not those
    // finished: the third id shows as the third while the first still waits.
    void countsStartedBuyers()
    {
        FixtureResponse silent;
        silent.neverAnswer = true;
        m_site->setResponse(popupTarget(QStringLiteral("a")), silent);
        auto w = makeWindow(idFile(QStringLiteral("ids.txt"), "a,b,c"), 2);
        w->runBatch();
        QTRY_COMPARE(child<QLineEdit>(w.get(), "Text1")->text(), QStringLiteral("c"));
        QCOMPARE(progressLine(w.get()).section(QStringLiteral("，预计还需"), 0, 0),
                 QStringLiteral("共需要查询3个买家,正在查询第3个:c"));
        QCOMPARE(child<QProgressBar>(w.get(), "BatchProgressBar")->text(),
                 QStringLiteral("第 3 / 3 个"));
        w->close();
        waitIdle(w.get());
    }

    void summary_data()
    {
        QTest::addColumn<QList<LookupStatus>>("statuses");
        QTest::addColumn<QList<RiskLevel>>("risks");
        QTest::addColumn<bool>("stopped");
        QTest::addColumn<QString>("summary");
        using S = LookupStatus;
        using R = RiskLevel;
        QTest::newRow("every kind")
            << QList<S>{S::Found,       S::NotFound,        S::Blocked,
                        S::PagesFailed, S::NoConfiguration, S::Found}
            << QList<R>{R::High, R::Unknown, R::High, R::Low, R::Unknown, R::Medium} << false
            << QStringLiteral("共6个：找到2个，查无此人1个，失败3个，高风险2个");
        QTest::newRow("stopped")
            << QList<S>{S::NotFound} << QList<R>{R::Unknown} << true
            << QStringLiteral("已停止：共1个：找到0个，查无此人1个，失败0个，高风险0个\n未查询4个");
    }
    void summary()
    {
        QFETCH(QList<LookupStatus>, statuses);
        QFETCH(QList<RiskLevel>, risks);
        QFETCH(bool, stopped);
        QFETCH(QString, summary);
        QList<LookupOutcome> outcomes;
        for (int i = 0; i < statuses.size(); ++i) {
            LookupOutcome outcome;
            outcome.status = statuses[i];
            outcome.assessment.risk.level = risks[i];
            outcomes.append(outcome);
        }
        QCOMPARE(BatchFrontEnd::summaryText(outcomes, stopped, 4), summary);
    }

    void closingMidBatch_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("window closed") << false;
        QTest::newRow("window deleted") << true;
    }
    void closingMidBatch()
    {
        QFETCH(bool, destroy);
        FixtureResponse silent;
        silent.neverAnswer = true;
        m_site->setResponse(QStringLiteral("/tradecard/popupNameCard.htm"), silent);
        auto w = makeWindow(idFile(QStringLiteral("ids.txt"), "first,second,third"));
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QPointer<MainWindow> guard(w.get());
        connect(m_site.get(), &FixtureServer::requestReceived, this, [&](const QString &target) {
            if (target.startsWith(QLatin1String("/tradecard/popupNameCard.htm")))
                QTimer::singleShot(0, this, [&] {
                    w->close();
                    if (destroy)
                        w.reset();
                });
        });
        QElapsedTimer clock;
        clock.start();
        guard->runBatch();
        waitIdle(guard);
        QVERIFY(clock.elapsed() < 4000); // the wait ended with the close
        QCOMPARE(guard.isNull(), destroy);
        // The second id was never queried and no table was written or opened.
        QCOMPARE(queriesRun(), 1);
        QVERIFY(m_opened.isEmpty());
        QVERIFY(QDir(m_temp.path()).entryList(QDir::Files).isEmpty());
        if (!destroy)
            checkWindowUsable(w.get());
    }

    // The program's own dialog: it offers the id files' and order exports' filters and picks one
    // existing file; a cancel ends the batch quietly. (Picking through the dialog's widgets races
    // its background directory loading offscreen, so the pick itself goes through the chooser seam
    // elsewhere.)
    void openFileDialog()
    {
        const QString path = idFile(QStringLiteral("picked.txt"), "");
        auto w = makeWindow(path);
        w->setIdFileChooser({});
        QStringList filters;
        QFileDialog::FileMode mode = QFileDialog::AnyFile;
        QFileDialog::AcceptMode accept = QFileDialog::AcceptSave;
        whenModal<QFileDialog>(w.get(), [&](QFileDialog *dialog) {
            filters = dialog->nameFilters();
            mode = dialog->fileMode();
            accept = dialog->acceptMode();
            dialog->reject();
        });
        w->runBatch();
        waitIdle(w.get());
        QCOMPARE(filters, QStringList({QStringLiteral("所有支持的文件 (*.txt *.csv *.xlsx)"),
                                       QStringLiteral("买家ID列表 (*.txt)"),
                                       QStringLiteral("订单导出 (*.csv *.xlsx)")}));
        QCOMPARE(mode, QFileDialog::ExistingFile);
        QCOMPARE(accept, QFileDialog::AcceptOpen);
        QVERIFY(m_opened.isEmpty());
        QCOMPARE(m_site->totalRequests(), 0);
    }

    // The default opener: the system's association first; where the desktop's opener is
    // xdg-open it is used only when xdg-mime names an application (else it would start and fail
    // unseen); then a spreadsheet program from PATH (LibreOffice as a new document); without any
    // it says so.
    void spreadsheetOpener_data()
    {
        QTest::addColumn<QByteArray>("association"); // what xdg-mime prints; null: no xdg-mime
        QTest::addColumn<QString>("program");
        QTest::addColumn<QByteArray>("arguments"); // the program's; empty: the system opens it
        const QByteArray none("");
        QTest::newRow("associated")
            << QByteArray("calc.desktop") << QStringLiteral("libreoffice") << QByteArray();
        QTest::newRow("system without xdg-mime") << QByteArray() << QString() << QByteArray();
        QTest::newRow("libreoffice") << none << QStringLiteral("libreoffice")
                                     << QByteArray("--calc\n-n\n/tmp/a table.xlsx\n");
        QTest::newRow("soffice") << none << QStringLiteral("soffice")
                                 << QByteArray("--calc\n-n\n/tmp/a table.xlsx\n");
        QTest::newRow("localc") << none << QStringLiteral("localc")
                                << QByteArray("-n\n/tmp/a table.xlsx\n");
        QTest::newRow("gnumeric") << none << QStringLiteral("gnumeric")
                                  << QByteArray("/tmp/a table.xlsx\n");
        QTest::newRow("none installed") << none << QString() << QByteArray();
    }
    void spreadsheetOpener()
    {
        QFETCH(QByteArray, association);
        QFETCH(QString, program);
        QFETCH(QByteArray, arguments);
        QTemporaryDir bin;
        const QString argsFile = bin.filePath(QStringLiteral("args"));
        const auto script = [&](const QString &name, const QByteArray &body) {
            QFile file(bin.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("#!/bin/sh\n" + body);
            file.close();
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        };
        if (!program.isEmpty())
            script(program, "printf '%s\\n' \"$@\" > \"" + QFile::encodeName(argsFile) + "\"\n");
        if (!association.isNull())
            script(QStringLiteral("xdg-mime"), "echo " + association + "\n");
        const QByteArray savedPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()));
        FileUrlCatcher desktop;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &desktop, "open");
        const QString table = QStringLiteral("/tmp/a table.xlsx");
        const bool opened = openSpreadsheet(table);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        qputenv("PATH", savedPath);

        const bool bySystem = arguments.isEmpty() && (!program.isEmpty() || association.isNull());
        QCOMPARE(opened, bySystem || !arguments.isEmpty());
        QCOMPARE(desktop.opened,
                 bySystem ? QList<QUrl>{QUrl::fromLocalFile(table)} : QList<QUrl>());
        if (!arguments.isEmpty()) {
            const auto written = [&] {
                QFile args(argsFile);
                return args.open(QIODevice::ReadOnly) ? args.readAll() : QByteArray();
            };
            QTRY_COMPARE(written(), arguments);
        }
    }

    // The progress line keeps the time left whole; the id gives way first.
    void progressFit_data()
    {
        QTest::addColumn<int>("width"); // in widths of "共"
        QTest::newRow("fits") << 60;
        QTest::newRow("id shortened") << 28;
        QTest::newRow("narrower than the time left") << 8;
    }
    void progressFit()
    {
        QFETCH(int, width);
        const QString line =
            QStringLiteral("共需要查询24个买家,正在查询第3个:快乐的小猫，预计还需 1 分 20 秒");
        const QFontMetrics metrics(QApplication::font());
        const int pixels = width * metrics.horizontalAdvance(QStringLiteral("共"));
        const QString shown = ResultLines::fitProgress(line, metrics, pixels);
        QVERIFY2(metrics.horizontalAdvance(shown) <= pixels, qPrintable(shown));
        if (width == 60)
            QCOMPARE(shown, line);
        else if (width == 28)
            QVERIFY2(shown.startsWith(QStringLiteral("共需要查询24个买家,正在查询第3个")) &&
                         shown.endsWith(QStringLiteral("…，预计还需 1 分 20 秒")),
                     qPrintable(shown));
        else
            QVERIFY2(shown.endsWith(QStringLiteral("20 秒")), qPrintable(shown));
    }
};

QTEST_MAIN(TestBatch)

#include "test_batch.moc"
