#pragma once

#include "helpwindow.h"
#include "linkslot.h"
#include "querysettings.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class BackgroundJob;
class BrowserHandOver;
class BuyerNotesMenu;
class BuyerQuery;
class ClickLabel;
class HttpSession;
struct BatchRow;
struct BuyerQueryResult;
class DetailBrowserWidget;
class DetailPageBrowser;
class SellerDatabase;
class SkinBorder;
class SkinCaptionBar;
class QFrame;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// Brelvon's main window: the query bar, the result area, the link buttons, and the hidden fields
// through which its parts exchange data. Every control is placed at its fixed position (twips of
// the original layout / 15 = logical pixels) inside its panel, and carries its name as its
// objectName. The constructor builds the controls and runs startUp, so a constructed window is
// ready to be shown.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kTwipsPerPixel = 15;
    static constexpr int kClientWidth = 9420 / kTwipsPerPixel;  // 628
    static constexpr int kClientHeight = 4695 / kTwipsPerPixel; // 313

    // Captions of message boxes.
    static QString programTitle() { return QStringLiteral("Brelvon"); }

    // browser: the detail page loader of last resort, called on the query's worker thread;
    // without one the hidden m_browser serves, reached through a hand-over to this thread.
    explicit MainWindow(const QuerySettings &settings, DetailPageBrowser *browser = nullptr,
                        QWidget *parent = nullptr);
    ~MainWindow() override;

    // Load procedure: skin hand-off to the frame, title, start-up list into the link slots, link
    // captions, update notice. Runs once, from the constructor, before the window is first shown.
    // The start-up list is fetched in the background: the window shows at once and takes the
    // captions, addresses and update notice when the list arrives.
    void startUp();

    // The window's frame follows the caption bar's Style2 (0 minimised, 1 held maximised by the
    // bar, 2 normal): the borders hide while it is 1, the top corners are cut and the minimum size
    // (4444 x 2222 twips) holds only while it is 2. Runs on every change of size or state.
    void applyFrameRules();

    // The skin file the frame reads: skin.jss beside the executable, else the installed copy.
    static QString skinFilePath();
    // A skin file to use instead (tests); empty restores the default.
    static void setSkinFile(const QString &path);

    static constexpr int kMinWidthTwips = 4444;
    static constexpr int kMinHeightTwips = 2222;

    void clearInput();
    // The query: checks the input and starts the buyer's query on a worker thread; both query
    // buttons stay disabled until its record arrives and fills the result lines.
    void runQuery();
    // The batch: ids from a file the user picks, run by the batch engine on worker threads, the
    // table opened in the spreadsheet program.
    void runBatch();

    // The batch's two ends outside the program: the dialog that picks the id file (returns the
    // chosen name, empty when cancelled) and the program that shows the written table (false when
    // nothing could be started). Empty functions restore the defaults: the open-file dialog and
    // openSpreadsheet.
    using IdFileChooser = std::function<QString(QWidget *parent)>;
    using SpreadsheetOpener = std::function<bool(const QString &path)>;
    void setIdFileChooser(IdFileChooser chooser);
    void setSpreadsheetOpener(SpreadsheetOpener opener);

    // The seller's database: each completed lookup is recorded there (unless recordHistory is
    // false), a buyer seen before gets a line saying when and what changed, a blacklisted buyer a
    // red warning line, and the result area a context menu for notes and the blacklist. Without
    // one (null, the default) the window works as before. The database must outlive the window.
    void setSellerDatabase(SellerDatabase *database, bool recordHistory);
    // The history dialog, filtered by the buyer id (empty: every lookup).
    void showHistory(const QString &buyerId);

    // Opens the address in the slot (a link button's or the help link's) in the browser.
    void openLinkSlot(LinkSlot slot);
    // Opens the last queried buyer's credit page (the link under the result lines).
    void openCreditPage();
    // A click on the update notice (or the batch's progress line, which shares its place).
    void followUpdateNotice();
    // Shows the help window, or brings the open one forward.
    void showHelpWindow();

    bool queryRunning() const { return m_queryRunning; }
    bool batchRunning() const { return m_batchRunning; }
    // Whether the start-up list's download is still under way.
    bool startupListPending() const;
    // The open help window, or null.
    HelpWindow *helpWindow() const { return m_help; }

signals:
    // A query's record has been shown (or dropped, the window being closed).
    void queryFinished();
    // A batch has ended: its table written and handed on, or abandoned.
    void batchFinished();
    // The start-up list's download has ended (whether or not it brought a list).
    void startupListFinished();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void buildControls();
    void buildFrame();
    void applyWindowShape();
    void setDefaultSlots();
    void applyStartupList(const QString &text);
    void readStartupList(const QString &text);
    void showRecord(const QString &buyerId, const BuyerQueryResult &result);
    // The two lines under the result: the blacklist warning and the change since the last
    // lookup (each hidden when empty).
    void showSellerLines(const QString &warning, const QString &history);
    void showResultMenu(const QPoint &position);
    void finishBatch(const QList<BatchRow> &rows, bool abandoned);
    void setQueryButtonsEnabled(bool enabled);
    void setLinkCaptions();
    void showUpdateNotice();
    QString chooseIdFile();
    void tell(const QString &text);

    QuerySettings m_settings;
    std::unique_ptr<BuyerQuery> m_query;
    std::unique_ptr<BrowserHandOver> m_browserHandOver;
    std::unique_ptr<HttpSession> m_session; // the window's queries reuse its connections
    BackgroundJob *m_startupJob = nullptr;
    BackgroundJob *m_queryJob = nullptr;
    BackgroundJob *m_batchJob = nullptr;
    bool m_queryRunning = false;
    bool m_batchRunning = false;
    bool m_closed = false; // set by a close; a batch running then ends without its table
    IdFileChooser m_chooseIdFile;
    SpreadsheetOpener m_openSpreadsheet;
    QPointer<HelpWindow> m_help;
    SellerDatabase *m_sellerData = nullptr;
    bool m_recordHistory = false;
    BuyerNotesMenu *m_notesMenu = nullptr;
    QString m_shownBuyerId; // the buyer whose result the lines show

    // The skinned frame: caption bar on top, borders left, right and bottom.
    SkinCaptionBar *m_captionBar = nullptr;
    SkinBorder *m_leftBorder = nullptr;
    SkinBorder *m_rightBorder = nullptr;
    SkinBorder *m_bottomBorder = nullptr;

    // Controls, named as the window names them.
    QFrame *m_queryPanel = nullptr;
    QFrame *m_queryBar = nullptr;
    QLineEdit *m_input = nullptr;
    QPushButton *m_queryButton = nullptr;
    QPushButton *m_batchButton = nullptr;
    ClickLabel *m_helpLink = nullptr;
    QLineEdit *m_batchIdField = nullptr;
    QGroupBox *m_resultArea = nullptr;
    ClickLabel *m_idLine = nullptr;
    ClickLabel *m_ratingsLine = nullptr;
    ClickLabel *m_profileLine = nullptr;
    ClickLabel *m_givenLine = nullptr;
    ClickLabel *m_creditLink = nullptr;
    ClickLabel *m_noticeLine = nullptr;
    ClickLabel *m_blacklistLine = nullptr;
    ClickLabel *m_historyLine = nullptr;
    QLineEdit *m_creditAddress = nullptr;
    QFrame *m_linkRow = nullptr;
    QPushButton *m_linkButton9 = nullptr;
    QPushButton *m_linkButton10 = nullptr;
    QPushButton *m_linkButton11 = nullptr;
    QPushButton *m_linkButton12 = nullptr;
    QFrame *m_linkColumn = nullptr;
    QPushButton *m_linkButton4 = nullptr;
    QPushButton *m_linkButton6 = nullptr;
    QPushButton *m_linkButton5 = nullptr;
    QPushButton *m_linkButton3 = nullptr;
    DetailBrowserWidget *m_browser = nullptr;
    QFrame *m_resultFieldPanel = nullptr;
    std::array<QLineEdit *, 12> m_resultFields{}; // Text8 .. Text19
    QGroupBox *m_linkSlotPanel = nullptr;
    std::array<QLineEdit *, kLinkSlotCount> m_linkSlots{};
    QPlainTextEdit *m_areaTableField = nullptr;
};
