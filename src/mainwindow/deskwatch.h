#pragma once

#include "files/querysettings.h"
#include "mainwindow/reviewdialog.h"
#include "model/stalerules.h"
#include "watch/batchfindings.h"

#include <QIcon>
#include <QObject>
#include <QPointer>

class LookupSession;
class MainWindow;
class Notifier;
class OrderWatcher;
class QAction;
class QSystemTrayIcon;
class SellerDatabase;
struct CheckedFile;

// What the window does besides its own lookups: the watched folder of order exports, the tray
// icon with the count of orders waiting for review, the desktop notifications, the review queue's
// list, closing into the tray and the autostart entry. Without a tray the window behaves as it
// always did (and the watch and notifications still run while it is open).
class DeskWatch : public QObject
{
    Q_OBJECT
public:
    // The window on the session; settingsPath: the settings file the autostart entry names
    // (empty: the default one). Follows the session's settings from the start.
    DeskWatch(LookupSession &session, MainWindow *window, const QString &settingsPath);
    ~DeskWatch() override;

    // Shows the tray icon where the desktop has a tray. False where there is none.
    bool showTray();
    QSystemTrayIcon *tray() const { return m_tray; }
    OrderWatcher *watcher() const { return m_watcher; }
    Notifier *notifier() const { return m_notifier; }
    ReviewDialog *reviewDialog() const { return m_review; }

    // The review queue's list, or the open one brought forward.
    void showReviewQueue();
    // The window again, from the tray.
    void showWindow();
    void setWatchPaused(bool paused);
    // Orders waiting for review, as the tray says.
    int waitingCount() const { return m_waiting; }
    // Re-reads the count from the database: the tooltip and the badge follow.
    void refreshCount();

    // The icon with a red badge of the count (none for 0; "99+" above 99).
    static QIcon badgeIcon(const QIcon &base, int count);
    // "Brelvon：3 个高风险订单等待处理", saying too when the watch is paused or its folder gone.
    static QString trayToolTip(int waiting, bool paused, bool folderGone = false);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fileChecked(const CheckedFile &file);
    void lookupShown();
    void restartWatch();
    // The settings in force: the watch follows its folder, notifications and the autostart
    // entry theirs.
    void applySettings(const QuerySettings &settings);
    SellerDatabase *database() const;

    LookupSession &m_session;
    MainWindow *m_window;
    QString m_settingsPath;
    QuerySettings m_settings;
    bool m_settingsKnown = false;
    OrderWatcher *m_watcher;
    Notifier *m_notifier;
    QSystemTrayIcon *m_tray = nullptr;
    QAction *m_pauseAction = nullptr;
    QPointer<ReviewDialog> m_review;
    QIcon m_baseIcon;
    int m_waiting = 0;
    bool m_quitting = false;
    QString m_toldStale; // the single lookups' last stale-rules warning, said once
    RecentLookupsCheck m_recentCheck;
};
