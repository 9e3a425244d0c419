#include "mainwindow/mainwindow.h"

#include "files/inidocument.h"
#include "lookup/lookuprunner.h"
#include "lookup/lookupservice.h"
#include "lookup/lookupsession.h"
#include "mainwindow/accessibility.h"
#include "mainwindow/cjkfont.h"
#include "mainwindow/clicklabel.h"
#include "mainwindow/mainwindowresources.h"
#include "mainwindow/openinbrowser.h"
#include "mainwindow/resultlines.h"
#include "mainwindow/riskverdictview.h"
#include "mainwindow/sellerview.h"
#include "mainwindow/settingsdialog.h"
#include "model/buyerqueryresult.h"
#include "model/creditlevel.h"
#include "model/lookupstatus.h"
#include "model/riskverdict.h"
#include "skin/captionlayout.h"
#include "skin/installpaths.h"
#include "skin/skinframe.h"
#include "storage/historytext.h"
#include "storage/sellerdatabase.h"
#include "web/texthelpers.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QCompleter>
#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QShortcut>
#include <QStringListModel>
#include <QStyle>
#include <QTimer>
#include <QUrl>

namespace {

QString g_skinFile; // set by tests; empty: the default place

const QString kQueryCaption = QStringLiteral("查  询");

// Whether a lookup has a record worth its four lines: found, or read in part (a buyer the search
// page does not list may still have a name card).
bool hasRecord(const LookupOutcome &o)
{
    switch (o.status) {
    case LookupStatus::Found:
    case LookupStatus::Blocked:
        return true;
    case LookupStatus::PagesFailed:
        return o.result.listed;
    case LookupStatus::NotFound: {
        const BuyerCreditRecord &r = o.result.record;
        for (const QString *field : {&r.nick, &r.regTime, &r.address, &r.verification, &r.goodRate,
                                     &r.goodCount, &r.neutralCount, &r.badCount})
            if (!isBlank(*field))
                return true;
        return false;
    }
    case LookupStatus::NoConfiguration:
    case LookupStatus::NotConfigured:
    case LookupStatus::Cancelled:
        break;
    }
    return false;
}
const QString kPrompt = QStringLiteral("输入买家的淘宝ID");

} // namespace

MainWindow::MainWindow(LookupSession &session, QWidget *parent)
    : QWidget(parent), m_session(session), m_settings(session.settings())
{
    initMainWindowResources();
    installAccessibility();
    setObjectName(QStringLiteral("TestOCX_new"));
    setWindowIcon(QIcon(QStringLiteral(":/brelvon/brelvon32.png")));
    // No system frame: the skinned caption bar and borders are the frame.
    setWindowFlag(Qt::FramelessWindowHint);
    setFont(cjkFont(12));
    resize(kClientWidth, kClientHeight);

    m_layout = buildMainWindowLayout(this);
    m_layout.creditAddress->setText(siteAddress(m_settings.mainHost, "/soft/qvdl/index.htm"));
    m_lines = std::make_unique<ResultLines>(m_layout);
    m_slots = std::make_unique<LinkSlots>(m_layout.linkSlots, m_layout.linkButtons);
    m_slots->setDefaults(m_settings.mainHost);

    m_frame = new SkinFrame(this);
    SkinCaptionBar *bar = m_frame->captionBar();
    bar->setFont(cjkFont(12)); // 宋体 9 pt
    bar->setBackColor(0x00DC7E5A);
    // The minimum size holds in the normal mode.
    m_frame->setNormalMinimumSize(QSize(kMinWidth, kMinHeight));

    LookupService *service = &m_session.service();
    m_startupRunner = new LookupRunner(service, this);
    m_queryRunner = new LookupRunner(service, this);
    m_batch = new BatchFrontEnd(this, service, m_settings, m_layout, m_lines.get());
    m_seller = new SellerView(this, m_layout.resultArea);
    m_seller->setRiskSettings(m_settings.risk);
    m_seller->setDatabase(m_session.database());
    // A note changed here is news for every front end on the session, this window included.
    connect(m_seller, &SellerView::noteChanged, &m_session, &LookupSession::tellNotesChanged);
    connect(&m_session, &LookupSession::notesChanged, this, &MainWindow::noteChanged);
    connect(&m_session, &LookupSession::settingsChanged, this,
            [this](const QuerySettings &settings) { settingsChanged(settings); });
    connect(m_seller, &SellerView::lookUpRequested, this, [this](const QString &id) {
        if (m_queryRunning || batchRunning())
            return;
        m_layout.input->setText(id);
        runQuery();
    });
    connect(m_seller, &SellerView::reviewRequested, this, &MainWindow::reviewQueueRequested);
    connect(m_batch, &BatchFrontEnd::reviewQueueChanged, this, &MainWindow::reviewQueueChanged);
    connect(m_batch, &BatchFrontEnd::staleRulesFound, this, &MainWindow::staleRulesFound);
    connect(m_batch, &BatchFrontEnd::busy, this, [this] {
        setQueryButtonsEnabled(false);
        m_seller->hideLines();
    });
    connect(m_batch, &BatchFrontEnd::finished, this, [this] {
        setQueryButtonsEnabled(true);
        emit batchFinished();
        takeClipboardId();
    });
    m_updateNotice = new ClickLabel(bar);
    m_updateNotice->setObjectName(QStringLiteral("UpdateNotice"));
    m_updateNotice->setTextFormat(Qt::PlainText);
    m_updateNotice->setCursor(Qt::PointingHandCursor);
    m_updateNotice->setStyleSheet(
        QStringLiteral("color: #FFF2A0; text-decoration: underline; background: transparent;"));
    m_updateNotice->hide();
    m_demoMarker = new QLabel(tr("演示"), bar);
    m_demoMarker->setObjectName(QStringLiteral("DemoMarker"));
    m_demoMarker->setToolTip(tr("正在查询内置的演示站点：买家都是虚构的"));
    m_demoMarker->setStyleSheet(QStringLiteral(
        "color: #5A3A00; background: #FFD23C; border-radius: 3px; padding: 0px 4px;"));
    m_demoMarker->hide();

    m_busyTimer = new QTimer(this);
    m_busyTimer->setInterval(1000);
    connect(m_busyTimer, &QTimer::timeout, this, &MainWindow::showBusy);
    m_clipboardTimer = new QTimer(this);
    m_clipboardTimer->setSingleShot(true);
    connect(m_clipboardTimer, &QTimer::timeout, this, &MainWindow::takeClipboardId);

    // The ids queried lately: typed ones complete from them, the arrow in the box lists them.
    m_recentModel = new QStringListModel(this);
    m_completer = new QCompleter(m_recentModel, this);
    m_completer->setCaseSensitivity(Qt::CaseInsensitive);
    m_completer->setCompletionMode(QCompleter::PopupCompletion);
    m_completer->popup()->setObjectName(QStringLiteral("RecentIds"));
    m_layout.input->setCompleter(m_completer);
    // Installed after the completer's own filter, so it sees a click outside the list first.
    m_completer->popup()->installEventFilter(this);
    QAction *recent = m_layout.input->addAction(style()->standardIcon(QStyle::SP_ArrowDown),
                                                QLineEdit::TrailingPosition);
    recent->setObjectName(QStringLiteral("RecentIdsButton"));
    recent->setText(tr("最近查询的买家"));
    recent->setToolTip(recent->text());
    connect(recent, &QAction::triggered, this, &MainWindow::showRecentIds);

    m_layout.watchClipboard->setChecked(m_settings.watchClipboard);
    connect(m_layout.watchClipboard, &QCheckBox::toggled, this, &MainWindow::keepClipboardWatch);
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this,
            &MainWindow::clipboardChanged);

    // The controls' places at this size, from which they follow the window's size.
    const auto place = [this](QWidget *w, Place::Grow grow) {
        m_places.append({w, w->geometry(), grow});
    };
    place(m_layout.queryPanel, Place::Both);
    place(m_layout.queryBar, Place::Wider);
    place(m_layout.resultArea, Place::Both);
    // In a narrower window the input box gives way and the bar's buttons and links move left.
    place(m_layout.input, Place::Narrowed);
    for (QWidget *w : std::initializer_list<QWidget *>{m_layout.queryButton, m_layout.batchButton,
                                                       m_layout.helpLink})
        place(w, Place::Lefted);
    place(m_layout.givenLine, Place::Narrowed);
    place(m_layout.creditLink, Place::Lefted);
    place(m_layout.batchTable, Place::Wider);
    for (ClickLabel *line : {m_layout.idLine, m_layout.ratingsLine, m_layout.profileLine,
                             m_layout.noticeLine, m_layout.statusLine})
        place(line, Place::Wider);
    // The batch's bar widens with the lines, its stop button keeps to the area's right end.
    place(m_layout.batchProgress, Place::Wider);
    place(m_layout.batchSummary, Place::Wider);
    place(m_layout.batchStop, Place::Right);
    place(m_layout.linkRow, Place::Down);
    place(m_layout.linkColumn, Place::RightEdgeTaller);
    place(m_layout.browser, Place::RightEdge);

    connectControls();

    // "设置" above "帮助"; the grey line in the result area's title row says when the lookup ran
    // on a stored configuration.
    m_settingsLink = new ClickLabel(m_layout.queryBar);
    m_settingsLink->setObjectName(QStringLiteral("settingsLink"));
    m_settingsLink->setText(tr("设置"));
    m_settingsLink->setStyleSheet(QStringLiteral("color: #0000FF;"));
    m_settingsLink->setCursor(Qt::PointingHandCursor);
    m_settingsLink->setGeometry(m_layout.helpLink->x(), 60 / kTwipsPerPixel,
                                m_layout.helpLink->width(), m_layout.helpLink->height());
    m_places.append({m_settingsLink, m_settingsLink->geometry(), Place::Lefted});
    m_settingsLink->setFocusPolicy(Qt::TabFocus);
    m_settingsLink->setToolTip(tr("设置（Ctrl+,）"));
    connect(m_settingsLink, &ClickLabel::clicked, this, &MainWindow::openSettings);
    m_configAgeLine = new QLabel(m_layout.resultArea);
    m_configAgeLine->setObjectName(QStringLiteral("ConfigAgeLine"));
    m_configAgeLine->setStyleSheet(QStringLiteral("color: #808080;"));
    m_configAgeLine->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_configAgeLine->hide();
    layOutContent();
    orderTabs();
    loadRecentIds();

    startUp();

    setDemoMarker(m_session.usesDemoSite());
    // First shown centred on the screen, or where the seller left it.
    if (QScreen *screen = this->screen())
        move(screen->geometry().center() - QPoint(kClientWidth / 2, kClientHeight / 2));
    restoreWindowPlace();
}

MainWindow::~MainWindow()
{
    // The runners' work uses the lookup service, which goes before our children do: end it
    // first. Its waits notice the cancellation within a tenth of a second.
    for (LookupRunner *runner : {m_startupRunner, m_queryRunner})
        runner->cancel();
    m_batch->join();
    for (LookupRunner *runner : {m_startupRunner, m_queryRunner})
        runner->join();
}

void MainWindow::orderTabs()
{
    // The query bar, the result area's title row and links, the verdict, then the link buttons,
    // as they read from the top left. Hidden ones are passed over.
    QList<QWidget *> order = {m_layout.input,          m_layout.queryButton, m_layout.batchButton,
                              m_layout.batchStop,      m_settingsLink,       m_layout.helpLink,
                              m_layout.watchClipboard, m_layout.copyResult,  m_layout.creditLink};
    if (auto *history = findChild<QWidget *>(QStringLiteral("HistoryLine")))
        order.append(history);
    order.append(m_layout.verdict);
    for (int i : {4, 5, 6, 7, 0, 1, 2, 3}) // the column, then the row
        order.append(m_layout.linkButtons[size_t(i)].button);
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order.at(i - 1), order.at(i));
}

void MainWindow::showResultMenu(const QPoint &at)
{
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("ResultMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    m_seller->addMenuActions(menu);
    if (!menu->isEmpty())
        menu->addSeparator();
    QAction *copy = menu->addAction(tr("复制结果"), this, &MainWindow::copyResult);
    copy->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+C")));
    copy->setEnabled(!resultLine().isEmpty());
    QAction *onTop = menu->addAction(tr("总在最前"));
    onTop->setObjectName(QStringLiteral("StayOnTopAction"));
    onTop->setCheckable(true);
    onTop->setChecked(staysOnTop());
    connect(onTop, &QAction::toggled, this, &MainWindow::setStaysOnTop);
    menu->addSeparator();
    menu->addAction(tr("设置…"), QKeySequence(Qt::CTRL | Qt::Key_Comma), this,
                    &MainWindow::openSettings);
    menu->addAction(tr("帮助"), QKeySequence(Qt::Key_F1), this,
                    [this] { showHelpWindow(QStringLiteral("desk.html")); });
    menu->popup(at);
    m_resultMenu = menu;
}

QMenu *MainWindow::resultMenu() const
{
    return m_resultMenu;
}

bool MainWindow::showsDemoMarker() const
{
    return !m_demoMarker->isHidden();
}

bool MainWindow::staysOnTop() const
{
    return m_frame->captionBar()->isOnTop();
}

void MainWindow::setStaysOnTop(bool on)
{
    SkinCaptionBar *bar = m_frame->captionBar();
    if (bar->isOnTop() == on)
        return;
    bar->setOnTop(on);
    bar->REDRAW(); // the pin button's picture follows
    keepWindowSetting(QStringLiteral("onTop"), QLatin1String(on ? "true" : "false"));
}

void MainWindow::setDemoMarker(bool shown)
{
    m_demoMarker->setVisible(shown);
    placeUpdateNotice();
}

void MainWindow::connectControls()
{
    m_layout.input->installEventFilter(this);
    connect(m_layout.input, &QLineEdit::returnPressed, this, [this] {
        // An id picked from the open list is in the box by now: Enter takes it and queries.
        m_completer->popup()->hide();
        runQuery();
    });
    connect(m_layout.queryButton, &QPushButton::clicked, this, [this] {
        if (m_queryRunning)
            cancelQuery();
        else
            runQuery();
    });
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        // Esc ends what runs: the query, or the batch as its stop button does.
        if (batchRunning())
            m_batch->stop();
        else
            cancelQuery();
    });
    const auto shortcut = [this](const QKeySequence &keys, auto slot) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, slot);
    };
    shortcut(QKeySequence(Qt::Key_F1), [this] { showHelpWindow(QStringLiteral("desk.html")); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma), [this] { openSettings(); });
    // The result's menu from the keyboard, under the result area's title.
    for (const QKeySequence &keys :
         {QKeySequence(Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::Key_Menu)})
        shortcut(keys,
                 [this] { showResultMenu(m_layout.resultArea->mapToGlobal(QPoint(16, 24))); });
    m_layout.resultArea->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_layout.resultArea, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { showResultMenu(m_layout.resultArea->mapToGlobal(at)); });
    auto *copy = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+C")), this);
    connect(copy, &QShortcut::activated, this, &MainWindow::copyResult);
    connect(m_layout.copyResult, &ClickLabel::clicked, this, &MainWindow::copyResult);
    connect(m_layout.statusLine, &ClickLabel::clicked, this, [this] {
        if (m_shown && m_shown->status == LookupStatus::NotConfigured)
            openSettings();
    });
    connect(m_layout.batchButton, &QPushButton::clicked, this, &MainWindow::runBatch);
    for (const LinkButton &link : m_layout.linkButtons) {
        connect(link.button, &QPushButton::clicked, this,
                [this, slot = link.address] { openLinkSlot(slot); });
    }
    connect(m_layout.helpLink, &ClickLabel::clicked, this, [this] { showHelpWindow(); });
    connect(m_layout.creditLink, &ClickLabel::clicked, this, &MainWindow::openCreditPage);
    connect(m_layout.noticeLine, &ClickLabel::clicked, this, &MainWindow::followUpdateNotice);
    connect(m_updateNotice, &ClickLabel::clicked, this, &MainWindow::followUpdateNotice);
    // The help on what the result lines say.
    connect(m_layout.profileLine, &ClickLabel::clicked, this,
            [this] { showHelpWindow(QStringLiteral("desk.html#lines")); });
}

// The start-up: skin hand-off to the frame, title, start-up list into the link slots, link
// captions, update notice. The start-up list is fetched in the background: the window shows at
// once and takes the captions, addresses and update notice when the list arrives.
void MainWindow::startUp()
{
    // The skin hand-off comes first.
    m_frame->setSkinFile(skinFilePath());

    setWindowTitle(QStringLiteral("BrelvonV3.0"));

    fetchStartupList();

    setWindowState(Qt::WindowNoState);
}

void MainWindow::fetchStartupList()
{
    m_startupRunner->startupList([this](const QString &list) {
        if (!m_closed && m_slots->applyStartupList(list)) {
            // On the caption bar, clear of the result lines.
            m_updateNotice->setText(QStringLiteral("已有最新版本,请下载更新"));
            m_updateNotice->show();
            placeUpdateNotice();
        }
        emit startupListFinished();
    });
}

bool MainWindow::startupListPending() const
{
    return m_startupRunner->isRunning();
}

bool MainWindow::batchRunning() const
{
    return m_batch->isRunning();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // A left click into the input box selects what it holds, so typing replaces the prompt or
    // the last id, while the next click places the cursor to mend one character. The box starts
    // afresh whenever it loses the focus (the seller went back to the chat) and after a query.
    // Other buttons keep their own ways (a middle-button paste).
    if (watched == m_layout.input && event->type() == QEvent::FocusOut)
        m_inputEditing = false;
    if (watched == m_layout.input && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton &&
        (!m_inputEditing || m_layout.input->text() == kPrompt)) {
        m_inputEditing = true;
        m_layout.input->setFocus(Qt::MouseFocusReason);
        m_layout.input->selectAll();
        return true;
    }
    // The open list takes every click; one outside it only closes it. A click on 查询 or 批量查询
    // then does what it says as well, so a seller who typed an id seen before is not ignored.
    if (watched == m_completer->popup() && event->type() == QEvent::MouseButtonPress) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const QPoint at = mouse->globalPosition().toPoint();
        QWidget *popup = m_completer->popup();
        if (mouse->button() == Qt::LeftButton &&
            !popup->rect().contains(popup->mapFromGlobal(at))) {
            for (QPushButton *button : {m_layout.queryButton, m_layout.batchButton}) {
                if (button->isVisible() && button->isEnabled() &&
                    button->rect().contains(button->mapFromGlobal(at))) {
                    popup->hide();
                    button->click();
                    return true;
                }
            }
        }
    }
    // Down in the box opens the recent ids, as the arrow does.
    if (watched == m_layout.input && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Down &&
        !m_completer->popup()->isVisible()) {
        showRecentIds();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::setQueryButtonsEnabled(bool enabled)
{
    m_layout.queryButton->setEnabled(enabled);
    m_layout.batchButton->setEnabled(enabled);
}

void MainWindow::tell(const QString &text)
{
    // The window may be deleted while the box is open.
    QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::NoIcon, programTitle(), text, QMessageBox::Ok, this);
    box->setTextFormat(Qt::PlainText);
    fitTitle(box);
    box->exec();
    delete box;
}

void MainWindow::runQuery()
{
    if (m_queryRunning || batchRunning())
        return;
    const QString input = m_layout.input->text();
    if (isBlank(input) || input.contains(QStringLiteral("买家的淘宝ID"))) {
        const QPointer<MainWindow> self(this);
        tell(QStringLiteral("请输入买家的淘宝ID"));
        if (self)
            m_layout.input->setFocus();
        return;
    }
    const QString &buyerId = input; // the service trims it

    m_queryRunning = true;
    m_queryFromClipboard = false;
    m_layout.batchButton->setEnabled(false);
    m_batch->clearSummary();
    m_layout.queryButton->setText(tr("取消"));
    m_layout.queryButton->setToolTip(tr("取消这次查询（Esc）"));
    m_layout.copyResult->setEnabled(false);
    // While it runs, the result area says so; the previous result comes back if it is
    // cancelled.
    m_lines->hide();
    m_seller->hideLines();
    m_busyId = buyerId;
    m_busyPage.clear();
    m_busyClock.start();
    showBusy();
    m_busyTimer->start();

    m_queryRunner->lookup(
        buyerId, [this](const LookupOutcome &outcome) { queryDone(outcome); },
        [this](const QString &areaTable) { m_layout.areaTableField->setPlainText(areaTable); },
        [this](const QString &page) {
            m_busyPage = page;
            showBusy();
        });
}

void MainWindow::cancelQuery()
{
    if (m_queryRunning)
        m_queryRunner->cancel();
}

void MainWindow::showBusy()
{
    if (!m_queryRunning)
        return;
    QString text = tr("正在查询 %1…").arg(m_busyId);
    // The timer ticks each second, give or take a few milliseconds.
    const qint64 seconds = (m_busyClock.elapsed() + 500) / 1000;
    if (seconds > 0)
        text += tr(" %1秒").arg(seconds);
    if (!m_busyPage.isEmpty())
        text += tr("，正在读取%1").arg(buyerPageTitle(m_busyPage));
    m_lines->showStatus(text, ResultLines::StatusKind::Busy);
}

void MainWindow::queryDone(const LookupOutcome &outcome)
{
    m_busyTimer->stop();
    m_queryRunning = false;
    m_layout.queryButton->setText(kQueryCaption);
    m_layout.queryButton->setToolTip(QString());
    if (!m_closed) {
        setQueryButtonsEnabled(true);
        if (outcome.status != LookupStatus::Cancelled) {
            m_shown = std::make_unique<LookupOutcome>(outcome);
            m_shownFromClipboard = m_queryFromClipboard;
            rememberId(outcome.id);
            showOutcome(*m_shown);
        } else {
            // The lines of the buyer before would stand under the new id: the area says what
            // happened instead, and the result menu has no buyer.
            m_shown.reset();
            showNothing();
            m_lines->showStatus(tr("已取消：%1").arg(outcome.id.left(40)),
                                ResultLines::StatusKind::Plain);
        }
        // The next id goes straight in: the box has the focus, its text selected.
        if (isActiveWindow() || !QGuiApplication::focusWindow())
            m_layout.input->setFocus(Qt::OtherFocusReason);
        m_layout.input->selectAll();
        m_inputEditing = false;
    }
    emit queryFinished();
    if (!m_closed)
        QTimer::singleShot(0, this, &MainWindow::takeClipboardId);
}

void MainWindow::showNothing()
{
    m_configAgeLine->hide();
    m_lines->hide();
    m_seller->hideLines();
    m_layout.copyResult->setEnabled(false);
}

void MainWindow::showOutcome(const LookupOutcome &outcome)
{
    if (const auto &cached = outcome.cachedConfiguration) {
        m_configAgeLine->setText(
            tr("使用%1前保存的查询配置").arg(cached->ageText(QDateTime::currentDateTimeUtc())));
        m_configAgeLine->setToolTip(cached->address);
    }
    m_configAgeLine->setVisible(outcome.cachedConfiguration.has_value());
    m_layout.copyResult->setEnabled(true);
    if (hasRecord(outcome)) {
        m_lines->show(outcome.id, outcome.result.record);
        m_seller->showLines(outcome.id, SellerView::linesFor(outcome));
        m_lines->showVerdict(outcome.assessment, outcome.result.pages);
        return;
    }
    // No record: the result area says what happened instead of a record of blanks.
    m_lines->hide();
    m_seller->hideLines();
    switch (outcome.status) {
    case LookupStatus::NotFound: {
        // No member id is that long: an id pasted with a page's worth of text shows its start.
        const QString id = outcome.id.size() <= 40
                               ? outcome.id
                               : tr("%1…（共%2个字符）")
                                     .arg(outcome.id.left(40), QString::number(outcome.id.size()));
        m_lines->showStatus(tr("查无此买家：") + id, ResultLines::StatusKind::Plain);
        // The seller's own note and mark on the id still show.
        SellerView::Lines lines = SellerView::linesFor(outcome);
        lines.pages.clear();
        lines.history.clear();
        m_seller->showLines(outcome.id, lines);
        break;
    }
    case LookupStatus::NoConfiguration: {
        const QString tried = configurationAttemptsText(outcome.result.pages);
        m_lines->showStatus(tr("无法获取查询配置：") +
                                (tried.isEmpty() ? outcome.statusDetail : tried),
                            ResultLines::StatusKind::Failure);
        break;
    }
    case LookupStatus::NotConfigured:
        m_lines->showStatus(tr("尚未设置服务器，请打开设置"), ResultLines::StatusKind::Link);
        break;
    case LookupStatus::PagesFailed:
    case LookupStatus::Found:
    case LookupStatus::Blocked:
    case LookupStatus::Cancelled:
        m_lines->showStatus(tr("部分页面未能读取：") + outcome.statusDetail,
                            ResultLines::StatusKind::Failure);
        break;
    }
}

void MainWindow::openSettings()
{
    if (m_settingsDialog) {
        m_settingsDialog->raise();
        m_settingsDialog->activateWindow();
        return;
    }
    const QString path = m_session.settingsPath();
    auto *dialog = new SettingsDialog(path.isEmpty() ? defaultSettingsPath() : path, this);
    dialog->setLookupService(&m_session.service());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFirstRun(m_firstRun);
    connect(dialog, &SettingsDialog::saved, this,
            [this](const QuerySettings &settings, const StorageSettings &storage) {
                m_firstRun = false;
                m_session.applySettings(settings, storage);
            });
    connect(dialog, &SettingsDialog::demoSiteChosen, this, &MainWindow::useDemoSite);
    m_settingsDialog = dialog;
    dialog->open();
}

SettingsDialog *MainWindow::settingsDialog() const
{
    return m_settingsDialog;
}

void MainWindow::openFirstRunSettings()
{
    m_firstRun = true;
    openSettings();
}

void MainWindow::settingsChanged(const QuerySettings &settings)
{
    setDemoMarker(m_session.usesDemoSite());
    m_settings = settings;
    m_layout.watchClipboard->setChecked(m_settings.watchClipboard);
    m_batch->setSettings(settings);
    m_seller->setRiskSettings(m_settings.risk);
    m_layout.creditAddress->setText(siteAddress(m_settings.mainHost, "/soft/qvdl/index.htm"));
    m_slots->setDefaults(m_settings.mainHost);
    if (!m_startupRunner->isRunning())
        fetchStartupList();
}

void MainWindow::useDemoSite()
{
    m_firstRun = false;
    if (!m_session.useDemoSite()) {
        QMessageBox box(QMessageBox::Warning, programTitle(), tr("内置的演示站点无法启动。"),
                        QMessageBox::Ok, this);
        box.exec();
    }
}

bool MainWindow::usesDemoSite() const
{
    return m_session.usesDemoSite();
}

void MainWindow::setSettingsPath(const QString &path)
{
    m_session.setSettingsPath(path);
    restoreWindowPlace();
}

void MainWindow::noteChanged(const QString &buyerId)
{
    // The buyer shown gets the verdict the stored note gives, not the one of the lookup.
    if (!m_shown || m_shown->id != buyerId || m_queryRunning)
        return;
    *m_shown = m_session.service().reassess(*m_shown);
    showOutcome(*m_shown);
}

QString MainWindow::resultLine() const
{
    if (!m_shown)
        return {};
    const LookupOutcome &o = *m_shown;
    QStringList parts{o.id};
    if (!hasRecord(o)) {
        parts.append(o.status == LookupStatus::NotFound ? tr("查无此买家")
                                                        : lookupStatusText(o.status));
    } else {
        parts.append(tr("风险：") + riskLevelText(o.assessment.risk.level));
        const QString level = creditLevelText(o.assessment.creditLevel);
        if (!level.isEmpty())
            parts.append(tr("等级：") + level);
        if (!o.assessment.risk.reasons.isEmpty())
            parts.append(tr("原因：") + o.assessment.risk.reasons.join(QStringLiteral("；")));
    }
    const QString mark = o.note.listed == ListMark::Trusted ? tr("信任") : blacklistMark(o.note);
    if (!mark.isEmpty())
        parts.append(tr("标记：") + mark);
    return parts.join(QStringLiteral("，"));
}

void MainWindow::copyResult()
{
    const QString line = resultLine();
    if (line.isEmpty())
        return;
    m_clipboardOwn = line;
    QGuiApplication::clipboard()->setText(line);
}

bool MainWindow::looksLikeMemberId(const QString &text)
{
    const QString id = trimSpaces(text);
    if (id.isEmpty() || id.size() > 40)
        return false;
    // Only what a member name can hold: ideographs and other letters, digits, "_", "-", "." and
    // a space. Chat sentences, passwords, mail and web addresses fall out here.
    for (const char32_t c : id.toUcs4()) {
        if (!QChar::isLetter(c) && !(c < 0x80 && QChar::isDigit(c)) && c != U'_' && c != U'-' &&
            c != U'.' && c != U' ')
            return false;
    }
    // Phone and order numbers: a run of 11 digits or more.
    static const QRegularExpression longNumber(QStringLiteral("\\d{11,}"));
    // A site's name ("www.x.com", "taobao.com").
    static const QRegularExpression siteName(
        QStringLiteral("^(www\\..*|[a-z0-9-]+(\\.[a-z0-9-]+)*\\.(com|cn|net|org|hk|tw))$"),
        QRegularExpression::CaseInsensitiveOption);
    // A postal address: a house number ("88号", "3栋") or two of province, city, district, road.
    static const QRegularExpression houseNumber(QStringLiteral("\\d+\\s*[号栋幢楼室层]"));
    static const QRegularExpression place(QStringLiteral("[省市区县镇乡路街]"));
    if (longNumber.match(id).hasMatch() || siteName.match(id).hasMatch() ||
        houseNumber.match(id).hasMatch())
        return false;
    return id.count(place) < 2;
}

void MainWindow::clipboardChanged()
{
    if (!m_layout.watchClipboard->isChecked())
        return;
    const QString text = QGuiApplication::clipboard()->text();
    // The window's own copy of a result, and anything that is no single member name, stay where
    // they are.
    if (text == m_clipboardOwn || !looksLikeMemberId(text))
        return;
    const QString id = trimSpaces(text);
    if (id == m_clipboardTaken)
        return;
    m_clipboardPending = id;
    takeClipboardId();
}

void MainWindow::takeClipboardId()
{
    if (m_clipboardPending.isEmpty() || !m_layout.watchClipboard->isChecked() || m_closed)
        return;
    // An id copied while something runs waits for its end (queryDone and the batch's end come
    // back here); the watch starts at most one lookup every kClipboardPauseMs, so a burst of
    // copies is not a burst of requests to the marketplace.
    if (m_queryRunning || batchRunning())
        return;
    if (m_clipboardClock.isValid() && m_clipboardClock.elapsed() < kClipboardPauseMs) {
        m_clipboardTimer->start(int(kClipboardPauseMs - m_clipboardClock.elapsed()));
        return;
    }
    m_clipboardTaken = std::exchange(m_clipboardPending, QString());
    m_clipboardClock.start();
    m_layout.input->setText(m_clipboardTaken);
    runQuery();
    m_queryFromClipboard = m_queryRunning; // runQuery cleared it; this one is the clipboard's
}

void MainWindow::keepClipboardWatch(bool on)
{
    m_settings.watchClipboard = on;
    keepWindowSetting(QStringLiteral("watchClipboard"), QLatin1String(on ? "true" : "false"));
}

void MainWindow::keepWindowSetting(const QString &key, const QString &value)
{
    // The seller's choice holds at the next start too, in the settings file they already have
    // (the demo site's session has none, and none is made for it).
    const QString settingsPath = m_session.settingsPath();
    if (settingsPath.isEmpty() || !QFileInfo(settingsPath).isFile())
        return;
    IniDocument document;
    QString error;
    if (!document.load(settingsPath, &error))
        return;
    if (document.value(QStringLiteral("window"), key) == value)
        return;
    document.setValue(QStringLiteral("window"), key, value);
    if (!document.save(settingsPath, &error))
        qWarning("brelvon: %s", qPrintable(error));
}

void MainWindow::restoreWindowPlace()
{
    const QString settingsPath = m_session.settingsPath();
    if (settingsPath.isEmpty() || !QFileInfo(settingsPath).isFile())
        return;
    IniDocument document;
    QString error;
    if (!document.load(settingsPath, &error))
        return;
    const QString window = QStringLiteral("window");
    if (document.value(window, QStringLiteral("onTop")) == QLatin1String("true"))
        m_frame->captionBar()->setOnTop(true);
    // "x,y,width,height" of the last session's window, brought back onto the screen it is
    // on now: a screen that shrank since (or is gone) does not leave it out of reach.
    const QStringList place =
        document.value(window, QStringLiteral("place")).value_or(QString()).split(u',');
    if (place.size() != 4)
        return;
    int numbers[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        numbers[i] = place.at(i).trimmed().toInt(&ok);
        if (!ok)
            return;
    }
    QRect kept(numbers[0], numbers[1], numbers[2], numbers[3]);
    QScreen *screen = QGuiApplication::screenAt(kept.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen)
        kept = placeOnScreen(kept, screen->availableGeometry(), minimumSize());
    setGeometry(kept);
}

QRect MainWindow::placeOnScreen(QRect window, const QRect &area, const QSize &least)
{
    if (area.isEmpty())
        return window;
    window.setWidth(qBound(least.width(), window.width(), qMax(least.width(), area.width())));
    window.setHeight(qBound(least.height(), window.height(), qMax(least.height(), area.height())));
    window.moveLeft(
        qBound(area.left(), window.left(), qMax(area.left(), area.right() + 1 - window.width())));
    window.moveTop(
        qBound(area.top(), window.top(), qMax(area.top(), area.bottom() + 1 - window.height())));
    return window;
}

void MainWindow::rememberId(const QString &id)
{
    if (id.isEmpty())
        return;
    m_recentIds.removeAll(id);
    m_recentIds.prepend(id);
    while (m_recentIds.size() > kRecentIds)
        m_recentIds.removeLast();
    m_recentModel->setStringList(m_recentIds);
}

void MainWindow::loadRecentIds()
{
    SellerDatabase *database = m_session.database();
    if (!database || !database->canRead())
        return;
    HistoryFilter filter;
    filter.limit = 200;
    filter.withPages = false;
    QStringList ids;
    for (const StoredLookup &lookup : database->history(filter)) {
        const QString id = lookup.record.buyerId;
        if (!id.isEmpty() && !ids.contains(id))
            ids.append(id);
        if (ids.size() == kRecentIds)
            break;
    }
    // The ids of this session come first.
    for (const QString &id : std::as_const(m_recentIds))
        ids.removeAll(id);
    m_recentIds = (m_recentIds + ids).mid(0, kRecentIds);
    m_recentModel->setStringList(m_recentIds);
}

void MainWindow::showRecentIds()
{
    if (m_recentIds.isEmpty())
        return;
    m_layout.input->setFocus(Qt::OtherFocusReason);
    m_completer->setCompletionPrefix(QString());
    m_completer->complete();
}

void MainWindow::runBatch()
{
    if (m_queryRunning || batchRunning())
        return;
    m_batch->run();
}

void MainWindow::setSellerDatabase(SellerDatabase *database, bool recordHistory)
{
    m_session.useDatabase(database, recordHistory);
    m_seller->setDatabase(database);
    loadRecentIds();
}

void MainWindow::showHistory(const QString &buyerId)
{
    m_seller->showHistory(buyerId);
}

void MainWindow::setIdFileChooser(IdFileChooser chooser)
{
    m_batch->setIdFileChooser(std::move(chooser));
}

void MainWindow::setSpreadsheetOpener(SpreadsheetOpener opener)
{
    m_batch->setSpreadsheetOpener(std::move(opener));
}

void MainWindow::setBatchJournalPath(const QString &path)
{
    m_batch->setJournalPath(path);
}

void MainWindow::offerBatchResume()
{
    if (!m_batch->isRunning() && !m_closed)
        m_batch->offerResume();
}

void MainWindow::openAddress(const QString &address)
{
    // A button whose slot is empty has nowhere to go; anything else that does not open is said.
    if (isBlank(address) || OpenInBrowser(address))
        return;
    tell(tr("无法打开网页：\n%1\n\n请检查是否装有网页浏览器，或把地址复制到浏览器中打开。")
             .arg(address));
}

void MainWindow::openLinkSlot(LinkSlot slot)
{
    openAddress(m_slots->value(slot));
}

void MainWindow::openCreditPage()
{
    openAddress(m_lines->creditAddress());
}

void MainWindow::followUpdateNotice()
{
    // The notice's own version check: compared with "bb11.0", unlike the start-up's "bb1.0".
    if (trimSpaces(m_slots->value(LinkSlot::Version)) == QLatin1String("bb11.0"))
        return;
    const QPointer<MainWindow> self(this);
    const QString address = m_slots->value(LinkSlot::DownloadAddress);
    QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::NoIcon, programTitle(), address, QMessageBox::Ok, this);
    box->setTextFormat(Qt::PlainText);
    fitTitle(box);
    box->exec();
    delete box;
    if (self)
        openAddress(address);
}

void MainWindow::showHelpWindow(const QString &page)
{
    if (!m_help) {
        m_help = new HelpWindow;
        m_help->showPage(page);
        m_help->show();
    } else {
        m_help->showPage(page);
        m_help->show();
        m_help->setWindowState(m_help->windowState() & ~Qt::WindowMinimized);
        m_help->raise();
        m_help->activateWindow();
    }
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
    layOutContent();
}

void MainWindow::layOutContent()
{
    const int dx = width() - kClientWidth;
    const int dy = height() - kClientHeight;
    // Below the least size (a window the platform squeezed) the controls keep their least places.
    const int grow = qMax(dx, kMinWidth - kClientWidth);
    const int shrink = qMin(0, grow);
    const int growDown = qMax(0, dy);
    for (const Place &p : std::as_const(m_places)) {
        QRect r = p.rect;
        switch (p.grow) {
        case Place::Fixed:
            break;
        case Place::Wider:
            r.setWidth(r.width() + grow);
            break;
        case Place::Taller:
            r.setHeight(r.height() + growDown);
            break;
        case Place::Both:
            r.setSize(r.size() + QSize(grow, growDown));
            break;
        case Place::Down:
            r.translate(0, growDown);
            r.setWidth(r.width() + grow);
            break;
        case Place::Right:
            r.translate(grow, 0);
            break;
        case Place::Narrowed:
            r.setWidth(r.width() + shrink);
            break;
        case Place::Lefted:
            r.translate(shrink, 0);
            break;
        case Place::RightEdge:
        case Place::RightEdgeTaller:
            // Narrower than at first, the column moves left with the query panel's right end.
            r.translate(grow, 0);
            if (p.grow == Place::RightEdgeTaller)
                r.setHeight(r.height() + growDown);
            break;
        }
        p.widget->setGeometry(r);
    }
    // The link row's buttons share its width when it is narrower than at first.
    const int rowWidth = m_layout.linkRow->width();
    for (int i = 0; i < 4; ++i) {
        QPushButton *button = m_layout.linkButtons[size_t(i)].button;
        if (!m_rowButtonPlaces[i].isValid())
            m_rowButtonPlaces[i] = button->geometry();
        QRect r = m_rowButtonPlaces[i];
        if (shrink < 0) {
            const int margin = 8;
            const int gap = 6;
            const int each = (rowWidth - 2 * margin - 3 * gap) / 4;
            r = QRect(margin + i * (each + gap), r.y(), each, r.height());
        }
        button->setGeometry(r);
    }
    // The result area's title row: the clipboard watch and the copy at its right end.
    QGroupBox *area = m_layout.resultArea;
    const int rowHeight = qMax(m_layout.watchClipboard->sizeHint().height(),
                               m_layout.copyResult->sizeHint().height());
    const int copyWidth = m_layout.copyResult->sizeHint().width() + 4;
    const int watchWidth = m_layout.watchClipboard->sizeHint().width() + 4;
    int right = area->width() - 10;
    m_layout.copyResult->setGeometry(right - copyWidth, 0, copyWidth, rowHeight);
    right -= copyWidth + 8;
    m_layout.watchClipboard->setGeometry(right - watchWidth, 0, watchWidth, rowHeight);
    if (m_configAgeLine) { // between the title and the clipboard watch
        right -= watchWidth + 8;
        const int left = area->fontMetrics().horizontalAdvance(area->title()) + 24;
        m_configAgeLine->setGeometry(left, 0, qMax(0, right - left), rowHeight);
    }
    m_seller->relayout();
    placeUpdateNotice();
}

void MainWindow::placeUpdateNotice()
{
    SkinCaptionBar *bar = m_frame->captionBar();
    const CaptionLayout layout = bar->layout();
    int titleEnd = layout.title().x() + bar->fontMetrics().horizontalAdvance(windowTitle()) + 16;
    // The demo mark right after the title (as the title label sets it), the update notice
    // right-aligned left of the buttons.
    if (m_demoMarker && !m_demoMarker->isHidden()) {
        const QSize size = m_demoMarker->sizeHint();
        const QRect title = bar->titleLabel()->geometry();
        m_demoMarker->setGeometry(title.right() + 8, title.center().y() - size.height() / 2,
                                  size.width(), size.height());
        m_demoMarker->raise();
        titleEnd = qMax(titleEnd, m_demoMarker->geometry().right() + 16);
    }
    if (!m_updateNotice || m_updateNotice->isHidden())
        return;
    const int buttons = layout.button(CaptionLayout::StayOnTop).x();
    const int natural = m_updateNotice->sizeHint().width();
    const int width = qMin(natural, buttons - 12 - titleEnd);
    const int height = m_updateNotice->sizeHint().height();
    m_updateNotice->setGeometry(buttons - 12 - qMax(width, 0), layout.title().y(), qMax(width, 0),
                                height);
    m_updateNotice->setToolTip(m_updateNotice->text());
    m_updateNotice->raise();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // The window's jobs end their waits at once; the program can then exit.
    for (LookupRunner *runner : {m_startupRunner, m_queryRunner})
        runner->cancel();
    m_batch->abandon();
    m_closed = true;
    // The place and size of a normal window, for the next start.
    if (!m_frame->captionBar()->isMaximised() && !isMinimized()) {
        const QRect g = geometry();
        keepWindowSetting(
            QStringLiteral("place"),
            QStringLiteral("%1,%2,%3,%4").arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height()));
    }
    QWidget::closeEvent(event);
}
