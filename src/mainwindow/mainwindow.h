#pragma once

#include "files/querysettings.h"
#include "mainwindow/batchfrontend.h"
#include "mainwindow/helpwindow.h"
#include "mainwindow/linkslots.h"
#include "mainwindow/mainwindowlayout.h"
#include "mainwindow/programtitle.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <memory>

class ClickLabel;
class QCompleter;
class QLabel;
class QMenu;
class QStringListModel;
class QTimer;
class SettingsDialog;
struct StorageSettings;
class LookupRunner;
class LookupSession;
class ResultLines;
class SellerDatabase;
class SellerView;
class SkinFrame;
struct LookupOutcome;

// Brelvon's main window: the query bar, the result area, the link buttons and the hidden fields
// (MainWindowLayout), inside the skinned frame (SkinFrame). The window runs the single query
// itself; the result lines (ResultLines), the link slots with the start-up list (LinkSlots) and
// the batch (BatchFrontEnd) are parts of their own. The constructor builds everything and starts
// the start-up list's download, so a constructed window is ready to be shown.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kTwipsPerPixel = 15;
    static constexpr int kClientWidth = 9420 / kTwipsPerPixel;  // 628
    static constexpr int kClientHeight = 4695 / kTwipsPerPixel; // 313
    // The least size of a normal window: narrower, the query bar's input box gives way down to
    // kLeastInputWidth and everything right of it moves left; no control is ever covered. (The
    // skin frame alone would allow 4444 x 2222 twips, where the controls cannot all be shown.)
    static constexpr int kLeastInputWidth = 72;
    static constexpr int kMinWidth = kClientWidth - (169 - kLeastInputWidth); // 531
    static constexpr int kMinHeight = kClientHeight;

    // Captions of message boxes.
    static QString programTitle() { return ::programTitle(); }

    // The window looks up through the session (which must outlive it), and follows its
    // settings, its database and the notes any front end changes.
    explicit MainWindow(LookupSession &session, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The skin file the frame reads: skin.jss beside the executable, else the installed copy.
    static QString skinFilePath();
    // A skin file to use instead (tests); empty restores the default.
    static void setSkinFile(const QString &path);

    // The query: checks the input and starts the buyer's lookup on the lookup service. While it
    // runs the result area says so, the query button reads "取消" (a click or Esc cancels) and the
    // batch button is disabled; the outcome fills the result area, a cancelled lookup leaves the
    // previous one in place. Focus goes back to the input box, its text selected.
    void runQuery();
    void cancelQuery();
    // A buyer named from outside (a start's command line): put in the input box and looked up,
    // unless a lookup or a batch is under way.
    void lookUp(const QString &buyerId);
    // The batch (BatchFrontEnd).
    void runBatch();
    using IdFileChooser = BatchFrontEnd::IdFileChooser;
    using SpreadsheetOpener = BatchFrontEnd::SpreadsheetOpener;
    // The batch's two ends outside the program, for tests; empty functions restore the
    // defaults, the open-file dialog and openSpreadsheet.
    void setIdFileChooser(IdFileChooser chooser);
    void setSpreadsheetOpener(SpreadsheetOpener opener);
    // Where batches keep their journal (BatchFrontEnd::setJournalPath; empty: none), and the
    // offer to resume the one a batch left unfinished.
    void setBatchJournalPath(const QString &path);
    void offerBatchResume();

    // Another seller's database for the session (SellerView): each completed lookup is recorded
    // there (unless recordHistory is false), a buyer seen before gets a line saying when and what
    // changed, a blacklisted buyer a red line, the result area a menu for notes and the
    // blacklist, the batch table marks. The window starts with the session's own database. The
    // database must outlive the window.
    void setSellerDatabase(SellerDatabase *database, bool recordHistory);
    // The history dialog, filtered by the buyer id (empty: every lookup).
    void showHistory(const QString &buyerId);

    // Opens the address in the slot (a link button's or the help link's) in the browser.
    void openLinkSlot(LinkSlot slot);
    // Opens the last queried buyer's credit page (the link under the result lines).
    void openCreditPage();
    // A click on the update notice (or the batch's progress line, which shares its place).
    void followUpdateNotice();
    // Shows the help window at a page of its own ("batch.html", "desk.html#lines"; empty: the
    // contents), or brings the open one forward at that page.
    void showHelpWindow(const QString &page = QString());
    // The result's menu at a place on the screen: the buyer's notes, blacklist and trust mark,
    // history, the copy of the result, always on top, settings, help. The right button, Shift+F10
    // and the Menu key open it.
    void showResultMenu(const QPoint &at);
    QMenu *resultMenu() const;
    // The window above all others (the caption's pin, and the menu's 总在最前), kept in the
    // settings file.
    bool staysOnTop() const;
    void setStaysOnTop(bool on);
    // The "演示" mark on the caption while the bundled demo site serves the lookups.
    void setDemoMarker(bool shown);
    bool showsDemoMarker() const;
    // The window within a screen's work area, no smaller than least where the area allows.
    static QRect placeOnScreen(QRect window, const QRect &area, const QSize &least);
    // The settings file the settings dialog edits (empty: the default one); the session's. The
    // window takes its last place, size and always-on-top from its [window] section, and keeps
    // them there.
    void setSettingsPath(const QString &path);

    // The ids queried lately, newest first (at most kRecentIds): the input box's completer and
    // drop-down.
    static constexpr int kRecentIds = 20;
    QStringList recentIds() const { return m_recentIds; }
    // One line about the buyer shown, for a chat or an order remark: id, risk, level, reasons,
    // the seller's mark; empty when nothing is shown. copyResult puts it on the clipboard.
    QString resultLine() const;
    void copyResult();
    // Whether text copied elsewhere could be one member name: 1 to 40 characters once blanks
    // are trimmed, only letters (ideographs too), digits, "_", "-", "." and spaces; no run of 11
    // digits or more (phones, order numbers), no site name, no postal address.
    static bool looksLikeMemberId(const QString &text);
    // Whether a would-be member name has a password's shape: letters and digits only, with an
    // upper-case letter and a digit. The clipboard watch leaves such a text alone unless the
    // buyer is in the history.
    static bool looksLikePassword(const QString &text);
    // The least time between two lookups the clipboard watch starts.
    static constexpr qint64 kClipboardPauseMs = 2000;

    // The settings dialog ("设置") on the settings file, or the open one brought forward; the one
    // way in, from the query bar's link and from the window's own prompts.
    void openSettings();
    // The first run without a settings file: the dialog on 服务器, with the demo site to choose.
    void openFirstRunSettings();
    // The bundled demo site for the rest of this session, without recording history.
    void useDemoSite();
    bool usesDemoSite() const;
    SettingsDialog *settingsDialog() const;

    bool queryRunning() const { return m_queryRunning; }
    // Whether the lookup shown was started by the clipboard watch.
    bool shownFromClipboard() const { return m_shownFromClipboard; }
    // The outcome of the last lookup shown (its verdict follows the seller's notes), or null.
    const LookupOutcome *shownOutcome() const { return m_shown.get(); }
    LookupSession &session() const { return m_session; }
    bool batchRunning() const;
    // Whether the start-up list's download is still under way.
    bool startupListPending() const;
    // The open help window, or null.
    HelpWindow *helpWindow() const { return m_help; }
    SkinFrame *frame() const { return m_frame; }

signals:
    // A query's record has been shown (or dropped, the window being closed).
    void queryFinished();
    // A batch has ended: its table written and handed on, or abandoned.
    void batchFinished();
    // The start-up list's download has ended (whether or not it brought a list).
    void startupListFinished();
    // The seller asks for the review queue (the result area's menu).
    void reviewQueueRequested();
    // A batch put orders into the review queue.
    void reviewQueueChanged();
    // A batch found page rules gone stale (the text names the fields and the configuration).
    void staleRulesFound(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void startUp();
    void connectControls();
    void setQueryButtonsEnabled(bool enabled);
    void showOutcome(const LookupOutcome &outcome);
    void showNothing();
    void noteChanged(const QString &buyerId);
    // The session's new settings: the next lookup, the next batch and the start-up list.
    void settingsChanged(const QuerySettings &settings);
    void fetchStartupList();
    void queryDone(const LookupOutcome &outcome);
    void showBusy();
    void rememberId(const QString &id);
    void loadRecentIds();
    void showRecentIds();
    void clipboardChanged();
    void takeClipboardId();
    void keepClipboardWatch(bool on);
    bool lookedUpBefore(const QString &buyerId) const;
    void keepWindowSetting(const QString &key, const QString &value);
    void restoreWindowPlace();
    void orderTabs();
    // Opens an address in the browser; one that does not open is said in a message box.
    void openAddress(const QString &address);
    void tell(const QString &text);
    // The controls follow the window's size: panels and lines grow with it, the link column
    // keeps to the right edge (so its risk line stays in sight in the smallest window).
    void layOutContent();
    void placeUpdateNotice();

    LookupSession &m_session;
    QuerySettings m_settings;
    MainWindowLayout m_layout;
    SkinFrame *m_frame = nullptr;
    std::unique_ptr<ResultLines> m_lines;
    std::unique_ptr<LinkSlots> m_slots;
    BatchFrontEnd *m_batch = nullptr;
    SellerView *m_seller = nullptr;
    LookupRunner *m_startupRunner = nullptr;
    LookupRunner *m_queryRunner = nullptr;
    std::unique_ptr<LookupOutcome> m_shown;
    bool m_queryRunning = false;
    bool m_queryFromClipboard = false; // the lookup under way was started by the clipboard watch
    bool m_shownFromClipboard = false;
    // The input box was clicked into since it got the focus: the next click places the cursor.
    bool m_inputEditing = false;
    ClickLabel *m_updateNotice = nullptr; // UpdateNotice, on the caption bar
    QLabel *m_demoMarker = nullptr;       // DemoMarker "演示", on the caption bar
    QPointer<QMenu> m_resultMenu;
    // The lookup under way: its id, the page it waits on, since when.
    QString m_busyId;
    QString m_busyPage;
    QElapsedTimer m_busyClock;
    QTimer *m_busyTimer = nullptr;
    QStringList m_recentIds;
    QStringListModel *m_recentModel = nullptr;
    QCompleter *m_completer = nullptr;
    QString m_clipboardTaken;       // the last copied id looked up
    QString m_clipboardPending;     // a copied id waiting for the lookup under way, or the pause
    QElapsedTimer m_clipboardClock; // since the watch's last lookup
    QTimer *m_clipboardTimer = nullptr;
    QString m_clipboardOwn; // the last text the window put on the clipboard
    // The controls' places at the window's first size, which the layout grows from.
    struct Place
    {
        QWidget *widget;
        QRect rect;
        // Narrower than at first, Wider and Both shrink and Right moves left too; Narrowed only
        // shrinks and Lefted only moves left.
        enum Grow {
            Fixed,
            Wider,
            Taller,
            Both,
            Down,
            RightEdge,
            RightEdgeTaller,
            Right,
            Narrowed,
            Lefted
        } grow;
    };
    QList<Place> m_places;
    QRect m_rowButtonPlaces[4]; // the link row's buttons at the window's first size
    bool m_closed = false;      // set by a close: a query's record that arrives then is not shown
    QPointer<HelpWindow> m_help;
    QPointer<SettingsDialog> m_settingsDialog;
    bool m_firstRun = false;
    ClickLabel *m_settingsLink = nullptr;
    QLabel *m_configAgeLine = nullptr; // "使用3天前保存的查询配置"
};
