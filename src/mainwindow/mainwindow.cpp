#include "mainwindow/mainwindow.h"

#include "browser/pagehandover.h"
#include "demosite/demosite.h"
#include "lookup/lookuprunner.h"
#include "lookup/lookupservice.h"
#include "mainwindow/cjkfont.h"
#include "mainwindow/clicklabel.h"
#include "mainwindow/mainwindowresources.h"
#include "mainwindow/openinbrowser.h"
#include "mainwindow/resultlines.h"
#include "mainwindow/sellerview.h"
#include "mainwindow/settingsdialog.h"
#include "skin/installpaths.h"
#include "skin/skinframe.h"
#include "web/texthelpers.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QGroupBox>
#include <QIcon>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

namespace {

QString g_skinFile; // set by tests; empty: the default place

} // namespace

MainWindow::MainWindow(const QuerySettings &settings, DetailPageBrowser *browser, QWidget *parent)
    : QWidget(parent), m_settings(settings),
      // Room for the most jobs a batch may ask for: the settings dialog may raise [batch] jobs
      // while the window runs (threads and hidden pages are started only as they are needed).
      m_service(std::make_unique<LookupService>(settings, BatchOptions::kMaxJobs))
{
    initMainWindowResources();
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
    // The minimum size holds in the normal mode: 4444 x 2222 twips, in whole pixels.
    m_frame->setNormalMinimumSize(QSize((kMinWidthTwips + kTwipsPerPixel / 2) / kTwipsPerPixel,
                                        (kMinHeightTwips + kTwipsPerPixel / 2) / kTwipsPerPixel));

    if (!browser) {
        // One hidden page per buyer a batch has in flight, started when a lookup needs one.
        HiddenBrowser::setMemoryLimitMB(m_settings.browserMaxMemoryMB);
        m_pages = new PageHandOver(m_service->jobs(), m_layout.browser);
        browser = m_pages;
    }
    m_service->setBrowser(browser);
    m_startupRunner = new LookupRunner(m_service.get(), this);
    m_queryRunner = new LookupRunner(m_service.get(), this);
    m_batch = new BatchFrontEnd(this, m_service.get(), m_settings, m_layout, m_lines.get());
    m_seller = new SellerView(this, m_layout.resultArea);
    connect(m_seller, &SellerView::noteChanged, this, &MainWindow::noteChanged);
    connect(m_batch, &BatchFrontEnd::busy, this, [this] {
        setQueryButtonsEnabled(false);
        m_seller->hideLines();
    });
    connect(m_batch, &BatchFrontEnd::finished, this, [this] {
        setQueryButtonsEnabled(true);
        emit batchFinished();
    });
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
    connect(m_settingsLink, &ClickLabel::clicked, this, &MainWindow::openSettings);
    m_configAgeLine = new QLabel(m_layout.resultArea);
    m_configAgeLine->setObjectName(QStringLiteral("ConfigAgeLine"));
    m_configAgeLine->setStyleSheet(QStringLiteral("color: #808080;"));
    m_configAgeLine->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_configAgeLine->setGeometry(m_layout.resultArea->width() / 2, 0,
                                 m_layout.resultArea->width() / 2 - 8, 16);
    m_configAgeLine->hide();

    startUp();

    // First shown centred on the screen.
    if (QScreen *screen = this->screen())
        move(screen->geometry().center() - QPoint(kClientWidth / 2, kClientHeight / 2));
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

void MainWindow::connectControls()
{
    m_layout.input->installEventFilter(this);
    connect(m_layout.queryButton, &QPushButton::clicked, this, &MainWindow::runQuery);
    connect(m_layout.batchButton, &QPushButton::clicked, this, &MainWindow::runBatch);
    for (const LinkButton &link : m_layout.linkButtons) {
        connect(link.button, &QPushButton::clicked, this,
                [this, slot = link.address] { openLinkSlot(slot); });
    }
    connect(m_layout.helpLink, &ClickLabel::clicked, this,
            [this] { openLinkSlot(LinkSlot::HelpAddress); });
    connect(m_layout.creditLink, &ClickLabel::clicked, this, &MainWindow::openCreditPage);
    connect(m_layout.noticeLine, &ClickLabel::clicked, this, &MainWindow::followUpdateNotice);
    connect(m_layout.profileLine, &ClickLabel::clicked, this, &MainWindow::showHelpWindow);
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
        if (!m_closed && m_slots->applyStartupList(list))
            m_lines->showUpdateNotice();
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
    // A left click into the input box empties it (the prompt goes with the first one); other
    // buttons keep what it holds, so a middle-button paste is not lost.
    if (watched == m_layout.input && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
        m_layout.input->clear();
    return QWidget::eventFilter(watched, event);
}

void MainWindow::setQueryButtonsEnabled(bool enabled)
{
    m_layout.queryButton->setEnabled(enabled);
    m_layout.batchButton->setEnabled(enabled);
}

void MainWindow::runQuery()
{
    if (m_queryRunning || batchRunning())
        return;
    const QString input = m_layout.input->text();
    if (isBlank(input) || input.contains(QStringLiteral("买家的淘宝ID"))) {
        // The window may be deleted while the box is open.
        const QPointer<MainWindow> self(this);
        QPointer<QMessageBox> box =
            new QMessageBox(QMessageBox::NoIcon, programTitle(),
                            QStringLiteral("请输入买家的淘宝ID"), QMessageBox::Ok, this);
        box->exec();
        delete box;
        if (self)
            m_layout.input->setFocus();
        return;
    }
    const QString buyerId = trimSpaces(input);

    m_queryRunning = true;
    setQueryButtonsEnabled(false);

    m_queryRunner->lookup(
        buyerId,
        [this, buyerId](const LookupOutcome &outcome) {
            if (!m_closed && outcome.status != LookupStatus::Cancelled) {
                m_shown = std::make_unique<LookupOutcome>(outcome);
                showOutcome(*m_shown);
            }
            setQueryButtonsEnabled(true);
            m_queryRunning = false;
            emit queryFinished();
        },
        // The previous result's lines go once the configuration is there.
        [this](const QString &areaTable) {
            m_layout.areaTableField->setPlainText(areaTable);
            m_lines->hide();
            m_seller->hideLines();
            m_shown.reset();
        });
}

void MainWindow::showOutcome(const LookupOutcome &outcome)
{
    m_lines->show(outcome.id, outcome.result.record);
    m_seller->showLines(outcome.id, SellerView::linesFor(outcome));
    m_lines->showVerdict(outcome.assessment, outcome.result.pages);
    if (const auto &cached = outcome.cachedConfiguration) {
        m_configAgeLine->setText(
            tr("使用%1前保存的查询配置").arg(cached->ageText(QDateTime::currentDateTimeUtc())));
        m_configAgeLine->setToolTip(cached->address);
    }
    m_configAgeLine->setVisible(outcome.cachedConfiguration.has_value());
}

void MainWindow::openSettings()
{
    if (m_settingsDialog) {
        m_settingsDialog->raise();
        m_settingsDialog->activateWindow();
        return;
    }
    auto *dialog =
        new SettingsDialog(m_settingsPath.isEmpty() ? defaultSettingsPath() : m_settingsPath, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFirstRun(m_firstRun);
    connect(dialog, &SettingsDialog::saved, this,
            [this](const QuerySettings &settings, const StorageSettings &storage) {
                m_firstRun = false;
                applySettings(settings, storage);
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

void MainWindow::applySettings(const QuerySettings &settings, const StorageSettings &storage)
{
    if (m_demoSite) // the seller's own hosts again: their stored copies too
        m_service->setConfigCache(std::exchange(m_keptCache, nullptr));
    m_settings = settings;
    m_service->setSettings(settings);
    m_batch->setSettings(settings);
    m_service->setRecordHistory(storage.history);
    m_layout.creditAddress->setText(siteAddress(m_settings.mainHost, "/soft/qvdl/index.htm"));
    m_slots->setDefaults(m_settings.mainHost);
    if (!m_startupRunner->isRunning())
        fetchStartupList();
}

void MainWindow::useDemoSite()
{
    m_firstRun = false;
    if (!m_demoSite) {
        auto site = std::make_unique<DemoSite>();
        if (!site->start()) {
            QMessageBox box(QMessageBox::Warning, programTitle(), tr("内置的演示站点无法启动。"),
                            QMessageBox::Ok, this);
            box.exec();
            return;
        }
        m_keptCache = m_service->configCache();
        m_service->setConfigCache(nullptr);
        m_demoSite = std::move(site);
    }
    StorageSettings storage;
    // The demo's made-up buyers stay out of the seller's history.
    storage.history = false;
    applySettings(demoSettings(m_demoSite->hostPort()), storage);
}

void MainWindow::noteChanged(const QString &buyerId)
{
    // The buyer shown gets the verdict the stored note gives, not the one of the lookup.
    if (!m_shown || m_shown->result.record.buyerId != buyerId)
        return;
    *m_shown = m_service->reassess(*m_shown);
    m_seller->showLines(m_shown->id, SellerView::linesFor(*m_shown));
    m_lines->showVerdict(m_shown->assessment, m_shown->result.pages);
}

void MainWindow::runBatch()
{
    if (m_queryRunning || batchRunning())
        return;
    m_batch->run();
}

void MainWindow::setSellerDatabase(SellerDatabase *database, bool recordHistory)
{
    m_service->setDatabase(database, recordHistory);
    m_seller->setDatabase(database);
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

void MainWindow::openLinkSlot(LinkSlot slot)
{
    OpenInBrowser(m_slots->value(slot));
}

void MainWindow::openCreditPage()
{
    OpenInBrowser(m_lines->creditAddress());
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

void MainWindow::closeEvent(QCloseEvent *event)
{
    // The window's jobs end their waits at once; the program can then exit.
    for (LookupRunner *runner : {m_startupRunner, m_queryRunner})
        runner->cancel();
    m_batch->abandon();
    m_closed = true;
    QWidget::closeEvent(event);
}
