#include "mainwindow.h"

#include "backgroundjob.h"
#include "batchengine.h"
#include "browserhandover.h"
#include "buyernotesmenu.h"
#include "buyerquery.h"
#include "canceltoken.h"
#include "cjkfont.h"
#include "clicklabel.h"
#include "detailbrowserwidget.h"
#include "fetchpage.h"
#include "helpwindow.h"
#include "historydialog.h"
#include "historytext.h"
#include "httpsession.h"
#include "idfile.h"
#include "indexedlist.h"
#include "installpaths.h"
#include "mainwindowresources.h"
#include "openinbrowser.h"
#include "sellerdatabase.h"
#include "skinborder.h"
#include "skincaptionbar.h"
#include "spreadsheetexport.h"
#include "spreadsheetopener.h"
#include "texthelpers.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QIcon>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegion>
#include <QScreen>

#include <cmath>

namespace {

// Panels are &H00C0E0FF&, button faces &H0080C0FF& (OLE colours, low byte red).
const QColor kPanelColour(0xFF, 0xE0, 0xC0);
const char kButtonStyle[] = "QPushButton { background-color: #FFC080; color: black;"
                            " border: 1px solid #B07840; padding: 0px; }"
                            "QPushButton:hover { background-color: #FFCC96; }"
                            "QPushButton:pressed { background-color: #F0AC68; }"
                            "QPushButton:disabled { color: #9A7A5A; }";

constexpr int px(int twips)
{
    return (twips + MainWindow::kTwipsPerPixel / 2) / MainWindow::kTwipsPerPixel;
}

template <class W>
W *place(QWidget *parent, const QString &name, int left, int top, int width, int height)
{
    auto *widget = new W(parent);
    widget->setObjectName(name);
    widget->setGeometry(px(left), px(top), px(width), px(height));
    return widget;
}

QFrame *panel(QWidget *parent, const QString &name, int left, int top, int width, int height)
{
    auto *frame = place<QFrame>(parent, name, left, top, width, height);
    frame->setFrameShape(QFrame::NoFrame);
    QPalette palette = frame->palette();
    palette.setColor(QPalette::Window, kPanelColour);
    frame->setPalette(palette);
    frame->setAutoFillBackground(true);
    return frame;
}

QGroupBox *titledPanel(QWidget *parent, const QString &name, const QString &title, int left,
                       int top, int width, int height)
{
    auto *box = place<QGroupBox>(parent, name, left, top, width, height);
    box->setTitle(title);
    // The title sits on the frame line, as a classic titled frame draws it.
    box->setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid #C8A070; margin-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0px 2px; }"));
    QPalette palette = box->palette();
    palette.setColor(QPalette::Window, kPanelColour);
    box->setPalette(palette);
    box->setAutoFillBackground(true);
    return box;
}

QPushButton *button(QWidget *parent, const QString &name, const QString &caption, int left, int top,
                    int width, int height)
{
    auto *b = place<QPushButton>(parent, name, left, top, width, height);
    b->setText(caption);
    b->setAutoDefault(false);
    return b;
}

ClickLabel *label(QWidget *parent, const QString &name, const QString &text, int left, int top,
                  int width, int height, bool visible)
{
    auto *l = place<ClickLabel>(parent, name, left, top, width, height);
    l->setText(text);
    l->setTextFormat(Qt::PlainText);
    l->setVisible(visible);
    return l;
}

QLineEdit *hiddenField(QWidget *parent, const QString &name, const QString &text, int left, int top,
                       int width, int height)
{
    auto *field = place<QLineEdit>(parent, name, left, top, width, height);
    field->setText(text);
    field->hide();
    return field;
}

// The addresses behind the link slots and m_creditAddress live on our own web site.
QString siteAddress(const QString &host, const char *path)
{
    if (isBlank(host))
        return {};
    return QStringLiteral("http://") + trimSpaces(host) + QLatin1String(path);
}

const QString kPrompt = QStringLiteral("输入买家的淘宝ID");

QString g_skinFile; // set by tests; empty: the default place

// Twips to whole pixels by the fixed factor of 15, halves to the even neighbour.
int shapePixels(double twips)
{
    return int(std::nearbyint(twips / MainWindow::kTwipsPerPixel));
}

} // namespace

MainWindow::MainWindow(const QuerySettings &settings, DetailPageBrowser *browser, QWidget *parent)
    : QWidget(parent), m_settings(settings), m_query(std::make_unique<BuyerQuery>(settings)),
      m_session(std::make_unique<HttpSession>())
{
    initMainWindowResources();
    setObjectName(QStringLiteral("TestOCX_new"));
    setWindowIcon(QIcon(QStringLiteral(":/brelvon/brelvon32.png")));
    // No system frame: the skinned caption bar and borders are the frame.
    setWindowFlag(Qt::FramelessWindowHint);
    setFont(cjkFont(12));
    resize(kClientWidth, kClientHeight);
    buildControls();
    buildFrame();
    m_browserHandOver = std::make_unique<BrowserHandOver>(m_browser);
    m_query->setBrowser(browser ? browser : m_browserHandOver.get());
    m_query->setParallelPages(m_settings.parallelPages);
    m_startupJob = new BackgroundJob(this);
    m_queryJob = new BackgroundJob(this);
    m_batchJob = new BackgroundJob(this);

    startUp();

    // First shown centred on the screen.
    if (QScreen *screen = this->screen())
        move(screen->geometry().center() - QPoint(kClientWidth / 2, kClientHeight / 2));
}

MainWindow::~MainWindow()
{
    // The jobs' threads use the query engine and the session, which go before our children do:
    // end them first. Their waits notice the cancellation within a tenth of a second.
    for (BackgroundJob *job : {m_startupJob, m_queryJob, m_batchJob})
        job->cancel();
    for (BackgroundJob *job : {m_startupJob, m_queryJob, m_batchJob})
        job->join();
}

void MainWindow::buildControls()
{
    // Query bar and result area.
    m_queryPanel = panel(this, QStringLiteral("Frame1"), 240, 600, 6495, 2895);
    m_queryBar = panel(m_queryPanel, QStringLiteral("Frame3"), 120, 120, 6135, 735);
    m_queryBar->setStyleSheet(QLatin1String(kButtonStyle));
    m_input = place<QLineEdit>(m_queryBar, QStringLiteral("Text2"), 240, 240, 2535, 375);
    m_input->setText(kPrompt);
    m_input->installEventFilter(this);
    m_queryButton = button(m_queryBar, QStringLiteral("Command7"), QStringLiteral("查  询"), 3000,
                           240, 975, 375);
    m_batchButton = button(m_queryBar, QStringLiteral("Command2"), QStringLiteral("批量查询"), 4200,
                           240, 975, 375);
    m_helpLink = label(m_queryBar, QStringLiteral("Label10"), QStringLiteral("帮助"), 5400, 360,
                       495, 255, true);
    m_helpLink->setStyleSheet(QStringLiteral("color: #0000FF;"));
    m_helpLink->setCursor(Qt::PointingHandCursor);
    m_batchIdField =
        hiddenField(m_queryBar, QStringLiteral("Text1"), QString(), 1800, 120, 1095, 270);

    m_resultArea = titledPanel(m_queryPanel, QStringLiteral("Frame2"), QStringLiteral("查询结果"),
                               120, 960, 6135, 1815);
    m_idLine = label(m_resultArea, QStringLiteral("Label9"), QStringLiteral("Label9"), 240, 240,
                     5775, 255, false);
    m_ratingsLine = label(m_resultArea, QStringLiteral("Label6"), QStringLiteral("Label6"), 240,
                          600, 5535, 255, false);
    m_profileLine = label(m_resultArea, QStringLiteral("Label11"), QStringLiteral("Label11"), 240,
                          960, 5775, 255, false);
    m_givenLine = label(m_resultArea, QStringLiteral("Label7"), QStringLiteral("Label7"), 240, 1320,
                        2655, 255, false);
    m_creditLink = label(m_resultArea, QStringLiteral("Label8"),
                         QStringLiteral("查询该买家评详细信用"), 2880, 1320, 1935, 255, false);
    m_creditLink->setCursor(Qt::PointingHandCursor);
    // m_noticeLine lies over m_idLine and m_ratingsLine: the update notice and the batch progress
    // line.
    m_noticeLine = label(m_resultArea, QStringLiteral("Label5"), QStringLiteral("Label5"), 480, 360,
                         5055, 255, false);
    // Under the four lines: the blacklist warning, and what changed since the last lookup.
    m_blacklistLine = label(m_resultArea, QStringLiteral("BlacklistLine"), QString(), 240, 1560,
                            5775, 255, false);
    m_blacklistLine->setStyleSheet(QStringLiteral("color: #D00000;"));
    m_historyLine =
        label(m_resultArea, QStringLiteral("HistoryLine"), QString(), 240, 1560, 5775, 255, false);
    m_historyLine->setStyleSheet(QStringLiteral("color: #606060;"));
    m_historyLine->setCursor(Qt::PointingHandCursor);
    m_creditAddress =
        hiddenField(m_resultArea, QStringLiteral("Text7"),
                    siteAddress(m_settings.mainHost, "/soft/qvdl/index.htm"), 5040, 720, 855, 270);

    // Link buttons: the bottom row and the side column. m_browser is created first so that it
    // lies beneath m_linkColumn, inside its rectangle.
    m_linkRow = panel(this, QStringLiteral("Frame7"), 240, 3600, 6495, 855);
    m_linkRow->setStyleSheet(QLatin1String(kButtonStyle));
    m_linkButton9 = button(m_linkRow, QStringLiteral("Command9"), QStringLiteral("网店管家"), 240,
                           240, 1335, 495);
    m_linkButton10 = button(m_linkRow, QStringLiteral("Command10"), QStringLiteral("旺旺群发助手"),
                            1680, 240, 1455, 495);
    m_linkButton11 = button(m_linkRow, QStringLiteral("Command11"), QStringLiteral("宝贝上架助手"),
                            3360, 240, 1335, 495);
    m_linkButton12 = button(m_linkRow, QStringLiteral("Command12"), QStringLiteral("店铺装修模板"),
                            4920, 240, 1335, 495);

    m_browser =
        place<DetailBrowserWidget>(this, QStringLiteral("WebBrowser1"), 6840, 2760, 1815, 1695);
    m_browser->hide();
    m_linkColumn = panel(this, QStringLiteral("Frame6"), 6840, 600, 2295, 3855);
    m_linkColumn->setStyleSheet(QLatin1String(kButtonStyle));
    m_linkButton4 = button(m_linkColumn, QStringLiteral("Command4"), QStringLiteral("使用教程"),
                           480, 960, 1335, 495);
    m_linkButton6 = button(m_linkColumn, QStringLiteral("Command6"), QStringLiteral("常见问题"),
                           480, 1680, 1335, 495);
    m_linkButton5 = button(m_linkColumn, QStringLiteral("Command5"), QStringLiteral("联系我们"),
                           480, 2400, 1335, 495);
    m_linkButton3 = button(m_linkColumn, QStringLiteral("Command3"), QStringLiteral("更多工具"),
                           480, 3120, 1335, 495);
    m_browser->stackUnder(m_linkColumn);

    // Hidden data: the batch result fields, the link slots and the area table.
    m_resultFieldPanel = panel(this, QStringLiteral("Frame5"), 6480, 4560, 2535, 4455);
    m_resultFieldPanel->hide();
    for (int i = 0; i < int(m_resultFields.size()); ++i) {
        const QString name = QStringLiteral("Text%1").arg(8 + i);
        m_resultFields[size_t(i)] =
            place<QLineEdit>(m_resultFieldPanel, name, 120, 120 + i * 345, 2295, 270);
        m_resultFields[size_t(i)]->setText(name);
    }
    m_linkSlotPanel =
        titledPanel(this, QStringLiteral("Frame4"), QStringLiteral("参数"), 240, 4680, 6015, 4815);
    m_linkSlotPanel->hide();
    for (int i = 0; i < kLinkSlotCount; ++i) {
        m_linkSlots[size_t(i)] =
            place<QLineEdit>(m_linkSlotPanel, QStringLiteral("Text4_%1").arg(i),
                             120 + (i / 11) * 2940, 360 + (i % 11) * 405, 2775, 285);
    }
    setDefaultSlots();
    m_areaTableField = place<QPlainTextEdit>(this, QStringLiteral("Text20"), 6120, 480, 1455, 615);
    m_areaTableField->setPlainText(QStringLiteral("Text20"));
    m_areaTableField->hide();

    connect(m_queryButton, &QPushButton::clicked, this, &MainWindow::runQuery);
    connect(m_batchButton, &QPushButton::clicked, this, &MainWindow::runBatch);
    connect(m_linkButton9, &QPushButton::clicked, this,
            [this] { openLinkSlot(LinkSlot::RowButton1Address); });
    connect(m_linkButton10, &QPushButton::clicked, this,
            [this] { openLinkSlot(LinkSlot::RowButton2Address); });
    connect(m_linkButton11, &QPushButton::clicked, this,
            [this] { openLinkSlot(LinkSlot::RowButton3Address); });
    connect(m_linkButton12, &QPushButton::clicked, this,
            [this] { openLinkSlot(LinkSlot::RowButton4Address); });
    connect(m_linkButton4, &QPushButton::clicked, this,
            [this] { openLinkSlot(LinkSlot::ColumnButton1Address); });
    connect(m_linkButton6, &QPushButton::clicked, this,
            [this] { openLinkSlot(LinkSlot::ColumnButton2Address); });
    connect(m_linkButton5, &QPushButton::clicked, this,
            [this] { openLinkSlot(LinkSlot::ColumnButton3Address); });
    connect(m_linkButton3, &QPushButton::clicked, this,
            [this] { openLinkSlot(LinkSlot::ColumnButton4Address); });
    connect(m_helpLink, &ClickLabel::clicked, this,
            [this] { openLinkSlot(LinkSlot::HelpAddress); });
    connect(m_creditLink, &ClickLabel::clicked, this, &MainWindow::openCreditPage);
    connect(m_noticeLine, &ClickLabel::clicked, this, &MainWindow::followUpdateNotice);
    connect(m_profileLine, &ClickLabel::clicked, this, &MainWindow::showHelpWindow);
    connect(m_historyLine, &ClickLabel::clicked, this, [this] { showHistory(m_shownBuyerId); });
}

void MainWindow::setDefaultSlots()
{
    const QString &host = m_settings.mainHost;
    const QString defaults[kLinkSlotCount] = {
        QStringLiteral("bb1.0"),
        m_linkButton9->text(),
        siteAddress(host, "/soft/wdgj/index.htm"),
        m_linkButton10->text(),
        siteAddress(host, "/soft/wwqf/index.htm"),
        m_linkButton11->text(),
        siteAddress(host, "/soft/bbsj/index.htm"),
        m_linkButton12->text(),
        siteAddress(host, "/soft/dpzx/index.htm"),
        m_linkButton4->text(),
        siteAddress(host, "/soft/qvdl/jiaocheng.htm"),
        m_linkButton6->text(),
        siteAddress(host, "/soft/qvdl/wenti.htm"),
        m_linkButton5->text(),
        siteAddress(host, "/lianxi.htm"),
        siteAddress(host, "/soft/qvdl/help.htm"),
        siteAddress(host, "/soft/qvdl/download.htm"),
        QString(), // m_linkButton3's caption and address come only from the start-up list
        QString(),
        QString(),
        QString(),
        QString(),
    };
    for (int i = 0; i < kLinkSlotCount; ++i)
        m_linkSlots[size_t(i)]->setText(defaults[i]);
}

void MainWindow::startUp()
{
    // The skin hand-off comes first: the caption bar, then the three borders. Each loads the
    // file itself; a missing file leaves the frame without pictures.
    const QString skin = skinFilePath();
    m_captionBar->setPath(skin);
    m_leftBorder->setPath(skin);
    m_rightBorder->setPath(skin);
    m_bottomBorder->setPath(skin);

    setWindowTitle(QStringLiteral("BrelvonV3.0"));

    // The start-up list: our site first, then its fallback host.
    auto list = std::make_shared<QString>();
    const QuerySettings settings = m_settings;
    m_startupJob->start(
        [list, settings](const CancelToken &cancel) {
            FetchContext context;
            context.cancel = &cancel;
            if (!isBlank(settings.mainHost))
                *list = FetchPage(siteAddress(settings.mainHost, "/soft/qvdl/zkrap2.htm"),
                                  FetchShortWait, context);
            if (isBlank(*list) && !isBlank(settings.secondHost))
                *list = FetchPage(siteAddress(settings.secondHost, "/soft/wrub/zkrap2.htm"),
                                  FetchShortWait, context);
        },
        [this, list] { applyStartupList(*list); });

    setWindowState(Qt::WindowNoState);
}

bool MainWindow::startupListPending() const
{
    return m_startupJob->isRunning();
}

void MainWindow::applyStartupList(const QString &list)
{
    if (trimSpaces(list).contains(QLatin1String("Brelvon"))) {
        readStartupList(list);
        setLinkCaptions();
        if (trimSpaces(m_linkSlots[0]->text()) != QLatin1String("bb1.0"))
            showUpdateNotice();
    }
    emit startupListFinished();
}

void MainWindow::readStartupList(const QString &text)
{
    // The raw text, so line breaks belong to the values. A pair whose index names no slot, or a
    // value without an index, is skipped.
    ::readIndexedList(text, kLinkSlotCount, [this](int index, const QString &value) {
        m_linkSlots[size_t(index)]->setText(value);
    });
}

void MainWindow::setLinkCaptions()
{
    const std::pair<QPushButton *, int> captions[] = {
        {m_linkButton9, 1}, {m_linkButton10, 3}, {m_linkButton11, 5}, {m_linkButton12, 7},
        {m_linkButton4, 9}, {m_linkButton6, 11}, {m_linkButton5, 13}, {m_linkButton3, 17},
    };
    for (const auto &[b, slot] : captions)
        b->setText(m_linkSlots[size_t(slot)]->text());
}

void MainWindow::showUpdateNotice()
{
    m_noticeLine->setText(QStringLiteral("已有最新版本,请下载更新"));
    m_noticeLine->setEnabled(true);
    m_noticeLine->setCursor(Qt::PointingHandCursor);
    m_noticeLine->show();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_input && event->type() == QEvent::MouseButtonPress)
        clearInput();
    if (watched == m_captionBar && event->type() == QEvent::Resize) {
        for (SkinBorder *border : {m_leftBorder, m_rightBorder, m_bottomBorder})
            border->setDockTop(m_captionBar->height());
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::clearInput()
{
    m_input->clear();
}

void MainWindow::setQueryButtonsEnabled(bool enabled)
{
    m_queryButton->setEnabled(enabled);
    m_batchButton->setEnabled(enabled);
}

void MainWindow::runQuery()
{
    if (m_queryRunning || m_batchRunning)
        return;
    const QString input = m_input->text();
    if (isBlank(input) || input.contains(QStringLiteral("买家的淘宝ID"))) {
        // The window may be deleted while the box is open.
        const QPointer<MainWindow> self(this);
        QPointer<QMessageBox> box =
            new QMessageBox(QMessageBox::NoIcon, programTitle(),
                            QStringLiteral("请输入买家的淘宝ID"), QMessageBox::Ok, this);
        box->exec();
        delete box;
        if (self)
            m_input->setFocus();
        return;
    }
    const QString buyerId = trimSpaces(input);

    m_queryRunning = true;
    setQueryButtonsEnabled(false);

    // The query runs on the job's thread; what it hands back to this thread goes by queued
    // calls, which are dropped if the window is gone by then.
    auto result = std::make_shared<BuyerQueryResult>();
    auto sellerLines = std::make_shared<std::pair<QString, QString>>(); // warning, history
    BuyerQuery *query = m_query.get();
    HttpSession *session = m_session.get();
    SellerDatabase *sellerData = m_sellerData;
    const bool recordHistory = m_recordHistory;
    m_queryJob->start(
        [this, query, session, buyerId, result, sellerData, recordHistory,
         sellerLines](const CancelToken &cancel) {
            FetchContext context;
            context.session = session;
            context.cancel = &cancel;
            const PageResults configPages = query->ensureConfiguration(context);
            if (cancel.isCancelled())
                return;
            // The previous result's lines go once the configuration is there.
            QMetaObject::invokeMethod(
                this,
                [this, areaTable = query->areaTable()] {
                    m_areaTableField->setPlainText(areaTable);
                    for (QLabel *l : {m_ratingsLine, m_givenLine, m_creditLink, m_idLine,
                                      m_profileLine, m_blacklistLine, m_historyLine})
                        l->hide();
                },
                Qt::QueuedConnection);
            *result = query->queryBuyer(buyerId, context);
            result->pages = configPages + result->pages;
            if (sellerData && !cancel.isCancelled()) {
                const auto previous = sellerData->lastLookup(buyerId);
                sellerLines->first = blacklistMark(sellerData->note(buyerId));
                if (previous)
                    sellerLines->second = lastLookupLine(*previous, result->record);
                if (recordHistory)
                    sellerData->addLookup(*result);
            }
        },
        [this, buyerId, result, sellerLines] {
            if (!m_closed) {
                showRecord(buyerId, *result);
                showSellerLines(sellerLines->first, sellerLines->second);
            }
            setQueryButtonsEnabled(true);
            m_queryRunning = false;
            emit queryFinished();
        });
}

void MainWindow::showRecord(const QString &buyerId, const BuyerQueryResult &result)
{
    const BuyerCreditRecord &r = result.record;
    for (QLabel *l : {m_ratingsLine, m_givenLine, m_creditLink, m_idLine})
        l->show();
    const auto t = [](const QString &value) { return trimSpaces(value); };
    m_idLine->setText(QStringLiteral("买家:[") + buyerId + QStringLiteral("]认证信息：") +
                      r.verification);
    m_ratingsLine->setText(QStringLiteral("好评率") + t(r.goodRate) + QStringLiteral("，好评") +
                           t(r.goodCount) + QStringLiteral("，中评") + t(r.neutralCount) +
                           QStringLiteral("，差评") + t(r.badCount));
    m_givenLine->setText(QStringLiteral("给他人的评价：中评") + t(r.neutralGiven) +
                         QStringLiteral("，差评") + t(r.badGiven));
    m_profileLine->setText(QStringLiteral("注册时间：") + t(r.regTime) +
                           QStringLiteral("，姓名(昵称)：") + t(r.nick) +
                           QStringLiteral("，地址：") + t(r.address));
    // A long line is cut off at the label's edge; its tip shows it whole.
    for (QLabel *l : {m_idLine, m_ratingsLine, m_givenLine, m_profileLine})
        l->setToolTip(l->text());
    for (QLabel *l : {m_ratingsLine, m_givenLine, m_profileLine})
        l->show();
    m_creditAddress->setText(r.creditUrl);
    m_shownBuyerId = buyerId;
}

void MainWindow::showSellerLines(const QString &warning, const QString &history)
{
    // One row: the warning as wide as its text (at most half the row), the history after it.
    const QRect row(m_blacklistLine->x(), m_blacklistLine->y(), px(5775),
                    m_blacklistLine->height());
    int warningWidth = 0;
    if (!warning.isEmpty())
        warningWidth = qMin(m_blacklistLine->fontMetrics().horizontalAdvance(warning) + 4,
                            history.isEmpty() ? row.width() : row.width() / 2);
    m_blacklistLine->setGeometry(row.x(), row.y(), warningWidth, row.height());
    m_historyLine->setGeometry(row.x() + (warningWidth ? warningWidth + 12 : 0), row.y(),
                               row.width() - (warningWidth ? warningWidth + 12 : 0), row.height());
    for (auto [line, text] : {std::pair{m_blacklistLine, warning}, {m_historyLine, history}}) {
        line->setText(text);
        line->setToolTip(text);
        line->setVisible(!text.isEmpty());
    }
}

void MainWindow::setSellerDatabase(SellerDatabase *database, bool recordHistory)
{
    m_sellerData = database;
    m_recordHistory = recordHistory && database;
    delete m_notesMenu;
    m_notesMenu = nullptr;
    m_resultArea->setContextMenuPolicy(database ? Qt::CustomContextMenu : Qt::DefaultContextMenu);
    if (!database)
        return;
    m_notesMenu = new BuyerNotesMenu(database, this);
    connect(m_resultArea, &QWidget::customContextMenuRequested, m_notesMenu,
            [this](const QPoint &position) { showResultMenu(position); });
    connect(m_notesMenu, &BuyerNotesMenu::noteChanged, this, [this](const QString &id) {
        // The shown buyer's warning follows the change at once.
        if (id == m_shownBuyerId && m_idLine->isVisible())
            showSellerLines(blacklistMark(m_sellerData->note(id)), m_historyLine->text());
    });
    connect(m_notesMenu, &BuyerNotesMenu::historyRequested, this, &MainWindow::showHistory);
}

void MainWindow::showResultMenu(const QPoint &position)
{
    if (!m_notesMenu)
        return;
    // The menu acts on the buyer whose result is shown, not on whatever the input box holds.
    const QString buyerId = m_idLine->isVisible() && !m_batchRunning ? m_shownBuyerId : QString();
    QMenu *menu = m_notesMenu->menuFor(buyerId, this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_resultArea->mapToGlobal(position));
}

void MainWindow::showHistory(const QString &buyerId)
{
    if (!m_sellerData)
        return;
    auto *dialog =
        findChild<HistoryDialog *>(QStringLiteral("HistoryDialog"), Qt::FindDirectChildrenOnly);
    if (!dialog) {
        dialog = new HistoryDialog(m_sellerData, buyerId, this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void MainWindow::setIdFileChooser(IdFileChooser chooser)
{
    m_chooseIdFile = std::move(chooser);
}

void MainWindow::setSpreadsheetOpener(SpreadsheetOpener opener)
{
    m_openSpreadsheet = std::move(opener);
}

QString MainWindow::chooseIdFile()
{
    if (m_chooseIdFile)
        return m_chooseIdFile(this);
    // On the heap and watched: the window, and the dialog with it, may be deleted while it is
    // open.
    QPointer<QFileDialog> dialog = new QFileDialog(this, QStringLiteral("打开"), QString(),
                                                   QStringLiteral("关键词文件 (*.txt)"));
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    QString name;
    if (dialog->exec() == QDialog::Accepted && dialog && !dialog->selectedFiles().isEmpty())
        name = dialog->selectedFiles().constFirst();
    delete dialog;
    return name;
}

void MainWindow::tell(const QString &text)
{
    QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::NoIcon, programTitle(), text, QMessageBox::Ok, this);
    box->setTextFormat(Qt::PlainText);
    box->exec();
    delete box;
}

void MainWindow::runBatch()
{
    if (m_queryRunning || m_batchRunning)
        return;
    m_batchRunning = true;
    const QPointer<MainWindow> self(this);
    const QString fileName = chooseIdFile();
    if (!self)
        return;
    if (!isIdFileName(fileName) || m_closed) { // cancelled, or not a text file: nothing happens
        m_batchRunning = false;
        return;
    }
    const IdFileResult idFile = readIdFile(fileName);
    if (!idFile.ok()) {
        m_batchRunning = false;
        tell(QStringLiteral("无法读取关键词文件。\n") + idFile.error);
        return;
    }

    setQueryButtonsEnabled(false);
    m_ratingsLine->hide();
    m_givenLine->hide();
    m_noticeLine->show();

    // The hidden fields show the batch as it goes: m_batchIdField the id in progress, Text8 to
    // Text19 the last record that came back. Nothing is read back out of them.
    BatchCallbacks callbacks;
    BuyerQuery *query = m_query.get();
    callbacks.started = [this, query](int finished, int total, const QString &id) {
        // The configuration is there once the first buyer starts.
        QString areaTable = finished == 0 ? query->areaTable() : QString();
        QMetaObject::invokeMethod(
            this,
            [this, text = batchProgressText(total, finished, id), id, areaTable] {
                if (!areaTable.isEmpty())
                    m_areaTableField->setPlainText(areaTable);
                for (QLabel *l : {m_ratingsLine, m_givenLine, m_creditLink, m_idLine, m_profileLine,
                                  m_blacklistLine, m_historyLine})
                    l->hide();
                m_batchIdField->setText(id);
                m_noticeLine->setText(text);
            },
            Qt::QueuedConnection);
    };
    // The seller's database from the batch's workers (one call at a time): each lookup recorded
    // as it is done, a blacklisted buyer's row marked.
    auto marks = std::make_shared<QStringList>(idFile.ids.size());
    callbacks.done = [this, ids = idFile.ids, marks, sellerData = m_sellerData,
                      recordHistory = m_recordHistory](int index, const BuyerQueryResult &result) {
        if (sellerData) {
            (*marks)[index] = blacklistMark(sellerData->note(result.record.buyerId));
            if (recordHistory)
                sellerData->addLookup(result);
        }
        QMetaObject::invokeMethod(
            this,
            [this, id = ids.at(index), r = result.record] {
                const QString values[] = {r.goodRate,  r.goodCount,    r.neutralCount,
                                          r.badCount,  r.neutralGiven, r.badGiven,
                                          r.creditUrl, r.verification, id,
                                          r.nick,      r.regTime,      r.address};
                for (size_t i = 0; i < m_resultFields.size(); ++i)
                    m_resultFields[i]->setText(values[i]);
            },
            Qt::QueuedConnection);
    };
    BatchOptions options;
    options.jobs = m_settings.batchJobs;
    options.paceMs = m_settings.batchPaceMs;

    auto rows = std::make_shared<QList<BatchRow>>();
    auto cancelled = std::make_shared<bool>(false);
    m_batchJob->start(
        [query, ids = idFile.ids, options, callbacks, rows, cancelled](const CancelToken &cancel) {
            *rows = ::runBatch(*query, ids, options, cancel, callbacks, cancelled.get());
        },
        [this, rows, cancelled, marks] {
            for (qsizetype i = 0; i < rows->size() && i < marks->size(); ++i)
                (*rows)[i].mark = marks->at(i);
            finishBatch(*rows, *cancelled || m_closed);
        });
}

void MainWindow::finishBatch(const QList<BatchRow> &rows, bool abandoned)
{
    const auto finish = [this] {
        m_noticeLine->hide();
        m_batchIdField->clear();
        setQueryButtonsEnabled(true);
        m_batchRunning = false;
    };
    if (abandoned) {
        // The user closed the window: no table for a batch they walked away from.
        finish();
        emit batchFinished();
        return;
    }
    m_noticeLine->setText(batchDoneText());

    QString error;
    const QString table = writeBatchSpreadsheetToTemp(rows, &error);
    QString failure;
    if (table.isEmpty()) {
        failure = QStringLiteral("无法写入表格文件。\n") + error;
    } else {
        const QPointer<MainWindow> self(this);
        const bool opened = m_openSpreadsheet ? m_openSpreadsheet(table) : openSpreadsheet(table);
        if (!self)
            return;
        if (!opened)
            failure = QStringLiteral("找不到可以打开表格的程序。表格已保存在:\n") +
                      QDir::toNativeSeparators(table);
    }
    finish();
    emit batchFinished();
    if (!failure.isEmpty())
        tell(failure);
}

void MainWindow::openLinkSlot(LinkSlot slot)
{
    OpenInBrowser(m_linkSlots[size_t(slot)]->text());
}

void MainWindow::openCreditPage()
{
    OpenInBrowser(m_creditAddress->text());
}

void MainWindow::followUpdateNotice()
{
    // The notice's own version check: compared with "bb11.0", unlike the load procedure.
    if (trimSpaces(m_linkSlots[0]->text()) == QLatin1String("bb11.0"))
        return;
    const QPointer<MainWindow> self(this);
    const QString address = m_linkSlots[16]->text();
    QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::NoIcon, programTitle(), address, QMessageBox::Ok, this);
    box->setTextFormat(Qt::PlainText);
    box->exec();
    delete box;
    if (self)
        OpenInBrowser(address);
}

void MainWindow::showHelpWindow()
{
    if (!m_help) {
        m_help = new HelpWindow;
        m_help->show();
    } else {
        m_help->show();
        m_help->setWindowState(m_help->windowState() & ~Qt::WindowMinimized);
        m_help->raise();
        m_help->activateWindow();
    }
}

void MainWindow::buildFrame()
{
    m_captionBar = new SkinCaptionBar(this);
    m_captionBar->setObjectName(QStringLiteral("JSCAPTION1"));
    m_captionBar->setFont(cjkFont(12)); // 宋体 9 pt
    m_captionBar->setBackColor(0x00DC7E5A);
    m_captionBar->installEventFilter(this); // its height is where the side borders start

    const std::pair<SkinBorder **, int> borders[] = {{&m_leftBorder, SkinBorder::Left},
                                                     {&m_rightBorder, SkinBorder::Right},
                                                     {&m_bottomBorder, SkinBorder::Bottom}};
    int n = 1;
    for (const auto &[border, type] : borders) {
        *border = new SkinBorder(this);
        (*border)->setObjectName(QStringLiteral("SkinBorder%1").arg(n++));
        (*border)->setBORDERTYPE(type);
    }
    // The frame lies over the content's edges.
    m_leftBorder->raise();
    m_rightBorder->raise();
    m_bottomBorder->raise();
    m_captionBar->raise();
}

QString MainWindow::skinFilePath()
{
    if (!g_skinFile.isEmpty())
        return g_skinFile;
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/skin.jss");
    if (!QFileInfo::exists(beside)) {
        const QString installed = installedDataDir() + QStringLiteral("/skin.jss");
        if (QFileInfo::exists(installed))
            return installed;
    }
    return beside;
}

void MainWindow::setSkinFile(const QString &path)
{
    g_skinFile = path;
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    applyFrameRules();
}

void MainWindow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        applyFrameRules();
}

void MainWindow::applyFrameRules()
{
    if (!m_captionBar)
        return;
    const int style2 = m_captionBar->Style2();
    const bool bordersShown = style2 != 1;
    m_leftBorder->setVisible(bordersShown);
    m_rightBorder->setVisible(bordersShown);
    m_bottomBorder->setVisible(bordersShown);

    applyWindowShape();

    // The minimum size holds in the normal state only; a window held maximised over a small work
    // area may be smaller. As a minimum it also holds while a border drags the window.
    if (style2 == 2) {
        const int minWidth = shapePixels(kMinWidthTwips);
        const int minHeight = shapePixels(kMinHeightTwips);
        setMinimumSize(minWidth, minHeight);
        if (width() * kTwipsPerPixel <= kMinWidthTwips && width() != minWidth)
            resize(minWidth, height());
        if (height() * kTwipsPerPixel <= kMinHeightTwips && height() != minHeight)
            resize(width(), minHeight);
    } else {
        setMinimumSize(0, 0);
    }
}

void MainWindow::applyWindowShape()
{
    if (m_captionBar->Style2() != 2) {
        clearMask();
        return;
    }
    // The two top corners are cut: 3 x 3 pixels at the left, 3 wide and 4 high at the right.
    const double widthTwips = double(frameGeometry().width()) * kTwipsPerPixel;
    const double heightTwips = double(frameGeometry().height()) * kTwipsPerPixel;
    const int W = shapePixels(widthTwips);
    const int H = shapePixels(heightTwips);
    const int R = shapePixels(widthTwips - 45);
    const QPolygon shape({QPoint(0, H), QPoint(0, 3), QPoint(3, 0), QPoint(R, 0), QPoint(W, 4),
                          QPoint(W, H), QPoint(0, H)});
    setMask(QRegion(shape, Qt::WindingFill));
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // The window's jobs end their waits at once; the program can then exit.
    for (BackgroundJob *job : {m_startupJob, m_queryJob, m_batchJob})
        job->cancel();
    m_closed = true;
    QWidget::closeEvent(event);
}
