#include "mainwindow/deskwatch.h"

#include "lookup/lookupsession.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/reviewdialog.h"
#include "model/terminaltext.h"
#include "storage/sellerdatabase.h"
#include "watch/autostart.h"
#include "watch/batchfindings.h"
#include "watch/notifier.h"
#include "watch/orderwatcher.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QTimer>

DeskWatch::DeskWatch(LookupSession &session, MainWindow *window, const QString &settingsPath)
    : QObject(window), m_session(session), m_window(window), m_settingsPath(settingsPath),
      m_watcher(new OrderWatcher(session, this)), m_notifier(new Notifier(this))
{
    m_baseIcon = window->windowIcon().isNull() ? QApplication::windowIcon() : window->windowIcon();
    window->installEventFilter(this);
    connect(m_watcher, &OrderWatcher::fileChecked, this, &DeskWatch::fileChecked);
    connect(m_watcher, &OrderWatcher::highRiskFound, this,
            [this](const QString &id, const QStringList &reasons) {
                m_notifier->notify(Notifier::Kind::HighRisk, highRiskNotice(id, reasons));
            });
    connect(m_watcher, &OrderWatcher::fileFailed, this,
            [this](const QString &path, const QString &error) {
                qWarning("brelvon: %s",
                         qPrintable(escapeControls(path + QStringLiteral(": ") + error,
                                                   LineFeeds::Escape)));
                m_notifier->notify(Notifier::Kind::FileChecked,
                                   tr("订单文件 %1 无法检查：%2")
                                       .arg(Notifier::shortName(QFileInfo(path).fileName()),
                                            Notifier::shortText(error)));
            });
    connect(m_watcher, &OrderWatcher::folderChanged, this, [this](bool, const QString &text) {
        qWarning("brelvon: %s", qPrintable(escapeControls(text, LineFeeds::Escape)));
        m_notifier->notify(Notifier::Kind::FileChecked, text);
        refreshCount();
    });
    connect(m_watcher, &OrderWatcher::pausedChanged, this, [this](bool paused) {
        if (m_pauseAction)
            m_pauseAction->setText(paused ? tr("继续监视") : tr("暂停监视"));
        refreshCount();
    });
    connect(window, &MainWindow::queryFinished, this, &DeskWatch::lookupShown);
    connect(window, &MainWindow::reviewQueueRequested, this, &DeskWatch::showReviewQueue);
    connect(window, &MainWindow::reviewQueueChanged, this, &DeskWatch::refreshCount);
    connect(window, &MainWindow::staleRulesFound, this,
            [this](const QString &text) { m_notifier->notify(Notifier::Kind::StaleRules, text); });
    connect(&session, &LookupSession::settingsChanged, this,
            [this](const QuerySettings &settings) { applySettings(settings); });
    applySettings(session.settings());
}

DeskWatch::~DeskWatch()
{
    m_watcher->stop();
}

void DeskWatch::applySettings(const QuerySettings &settings)
{
    const bool watchChanged = !m_settingsKnown || settings.watchFolder != m_settings.watchFolder ||
                              settings.watchOutputFolder != m_settings.watchOutputFolder ||
                              settings.watchArchive != m_settings.watchArchive;
    // The entry follows a change the seller makes, and is made where the settings ask for one
    // and none is there; a copy run with other settings (a build folder's, the demo) never
    // removes the installed program's entry.
    const bool autostartChanged =
        m_settingsKnown ? settings.startAtLogin != m_settings.startAtLogin
                        : settings.startAtLogin && !QFileInfo::exists(autostartEntryPath());
    m_settings = settings;
    m_settingsKnown = true;
    m_notifier->setEnabled(settings.watchNotify);
    if (watchChanged)
        restartWatch();
    if (autostartChanged) {
        QString error;
        if (!setStartAtLogin(settings.startAtLogin, QApplication::applicationFilePath(),
                             m_settingsPath, &error))
            qWarning("brelvon: %s", qPrintable(error));
    }
    if (m_pauseAction)
        m_pauseAction->setEnabled(!settings.watchFolder.isEmpty());
    refreshCount();
}

SellerDatabase *DeskWatch::database() const
{
    return m_session.database();
}

void DeskWatch::restartWatch()
{
    m_watcher->stop();
    if (m_settings.watchFolder.isEmpty())
        return;
    m_watcher->setOptions(WatchOptions::fromSettings(m_settings));
    QString error;
    if (!m_watcher->start(&error))
        qWarning("brelvon: %s", qPrintable(escapeControls(error, LineFeeds::Escape)));
}

bool DeskWatch::showTray()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return false;
    if (!m_tray) {
        m_tray = new QSystemTrayIcon(this);
        m_tray->setObjectName(QStringLiteral("TrayIcon"));
        auto *menu = new QMenu(m_window);
        menu->setObjectName(QStringLiteral("TrayMenu"));
        menu->addAction(tr("打开窗口"), this, &DeskWatch::showWindow);
        menu->addAction(tr("待处理订单…"), this, &DeskWatch::showReviewQueue);
        m_pauseAction = menu->addAction(m_watcher->isPaused() ? tr("继续监视") : tr("暂停监视"),
                                        this, [this] { setWatchPaused(!m_watcher->isPaused()); });
        m_pauseAction->setEnabled(!m_settings.watchFolder.isEmpty());
        menu->addSeparator();
        menu->addAction(tr("退出"), this, [this] {
            m_quitting = true;
            m_window->close();
            QApplication::quit();
        });
        m_tray->setContextMenu(menu);
        connect(m_tray, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger ||
                        reason == QSystemTrayIcon::DoubleClick)
                        showWindow();
                });
        // Without a notification service, the tray says it.
        m_notifier->setFallback([this](const QString &title, const QString &body) {
            if (m_tray)
                m_tray->showMessage(title, body, QSystemTrayIcon::Information);
        });
    }
    // The window hidden into the tray is no reason to end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    refreshCount();
    m_tray->show();
    return true;
}

void DeskWatch::showWindow()
{
    m_window->show();
    m_window->setWindowState((m_window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    m_window->raise();
    m_window->activateWindow();
}

void DeskWatch::setWatchPaused(bool paused)
{
    m_watcher->setPaused(paused);
}

void DeskWatch::showReviewQueue()
{
    if (!m_review) {
        m_review = new ReviewDialog(database(), m_window->isVisible() ? m_window : nullptr);
        m_review->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_review, &ReviewDialog::queueChanged, this, &DeskWatch::refreshCount);
    } else {
        m_review->refresh();
    }
    m_review->show();
    m_review->raise();
    m_review->activateWindow();
}

void DeskWatch::refreshCount()
{
    m_waiting = database() ? database()->reviewCount() : 0;
    if (m_review)
        m_review->refresh();
    if (!m_tray)
        return;
    m_tray->setIcon(badgeIcon(m_baseIcon, m_waiting));
    const bool folderGone = m_watcher->isWatching() && !m_watcher->isFolderAvailable();
    m_tray->setToolTip(trayToolTip(m_waiting, m_watcher->isPaused(), folderGone));
}

QString DeskWatch::trayToolTip(int waiting, bool paused, bool folderGone)
{
    QString tip = waiting > 0 ? tr("Brelvon：%1 个高风险订单等待处理").arg(waiting)
                              : tr("Brelvon：没有等待处理的订单");
    if (paused)
        tip += tr("（监视已暂停）");
    if (folderGone)
        tip += tr("（监视的文件夹不见了）");
    return tip;
}

QIcon DeskWatch::badgeIcon(const QIcon &base, int count)
{
    if (count <= 0)
        return base;
    QIcon icon;
    for (int side : {16, 22, 24, 32, 48, 64}) {
        QPixmap picture = base.pixmap(side, side);
        if (picture.isNull()) {
            picture = QPixmap(side, side);
            picture.fill(Qt::transparent);
        }
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        const QString text = count > 99 ? QStringLiteral("99+") : QString::number(count);
        QFont font = painter.font();
        font.setBold(true);
        font.setPixelSize(qMax(7, side * 9 / 16));
        painter.setFont(font);
        const int width = qMax(side * 5 / 8, painter.fontMetrics().horizontalAdvance(text) + 4);
        const QRect badge(side - width, 0, width, side * 5 / 8);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0xD0, 0x20, 0x20));
        painter.drawRoundedRect(badge, badge.height() / 2.0, badge.height() / 2.0);
        painter.setPen(Qt::white);
        painter.drawText(badge, Qt::AlignCenter, text);
        painter.end();
        icon.addPixmap(picture);
    }
    return icon;
}

void DeskWatch::fileChecked(const CheckedFile &file)
{
    QString body = file.summary(Notifier::shortName(QFileInfo(file.exportPath).fileName()));
    if (!file.staleText.isEmpty())
        m_notifier->notify(Notifier::Kind::StaleRules, file.staleText);
    if (!file.problem.isEmpty())
        body += u'\n' + Notifier::shortText(file.problem);
    m_notifier->notify(Notifier::Kind::FileChecked, body);
    refreshCount();
}

void DeskWatch::lookupShown()
{
    const LookupOutcome *outcome = m_window->shownOutcome();
    if (!outcome)
        return;
    if (m_window->shownFromClipboard() && outcome->assessment.risk.level == RiskLevel::High)
        m_notifier->notify(Notifier::Kind::HighRisk,
                           highRiskNotice(outcome->id, outcome->assessment.risk.reasons));
    // The single lookups' sliding window: said once while it holds, again when it changes.
    const QList<StaleField> stale = m_recentCheck.check(database());
    const QString text =
        stale.isEmpty() ? QString() : staleRulesText(stale, configurationName(m_session.service()));
    if (!text.isEmpty() && text != m_toldStale)
        m_notifier->notify(Notifier::Kind::StaleRules, text);
    m_toldStale = text;
}

bool DeskWatch::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::Close && !m_quitting) {
        if (m_settings.closeToTray && m_tray && m_tray->isVisible()) {
            // Into the tray: the watch goes on.
            event->ignore();
            m_window->hide();
            return true;
        }
        if (m_tray) // closed for good: the tray goes with it
            QTimer::singleShot(0, qApp, &QApplication::quit);
    }
    return QObject::eventFilter(watched, event);
}
