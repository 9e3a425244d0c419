#pragma once

#include "form1.h"
#include "querysettings.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class BackgroundJob;
class BrowserHandOver;
class BuyerQuery;
class ClickLabel;
class HttpSession;
struct BatchRow;
struct BuyerQueryResult;
class DetailBrowserWidget;
class DetailPageBrowser;
class JSBORDER;
class JSCAPTION;
class QFrame;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// Brelvon's main window: the query bar, the result area, the link buttons, and the hidden fields
// through which its parts exchange data. Every control is placed at its fixed position (twips of
// the original layout / 15 = logical pixels) inside its panel, and carries its name as its
// objectName. The constructor builds the controls and runs Form_Load, so a constructed window is
// ready to be shown.
class TestOCX_new : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kTwipsPerPixel = 15;
    static constexpr int kLinkSlotCount = 22;
    static constexpr int kClientWidth = 9420 / kTwipsPerPixel;  // 628
    static constexpr int kClientHeight = 4695 / kTwipsPerPixel; // 313

    // Captions of message boxes.
    static QString programTitle() { return QStringLiteral("Brelvon"); }

    // browser: the detail page loader of last resort, called on the query's worker thread;
    // without one the hidden WebBrowser1 serves, reached through a hand-over to this thread.
    explicit TestOCX_new(const QuerySettings &settings, DetailPageBrowser *browser = nullptr,
                         QWidget *parent = nullptr);
    ~TestOCX_new() override;

    // Load procedure: skin hand-off to the frame, title, start-up list into the link slots, link
    // captions, update notice. Runs once, from the constructor, before the window is first shown.
    // The start-up list is fetched in the background: the window shows at once and takes the
    // captions, addresses and update notice when the list arrives.
    void Form_Load();

    // The window's frame follows the caption bar's Style2 (0 minimised, 1 held maximised by the
    // bar, 2 normal): the borders hide while it is 1, the top corners are cut and the minimum size
    // (4444 x 2222 twips) holds only while it is 2. Runs on every change of size or state.
    void Form_Resize();

    // The skin file the frame reads: skin.jss beside the executable, else the installed copy.
    static QString skinFilePath();
    // A skin file to use instead (tests); empty restores the default.
    static void setSkinFile(const QString &path);

    static constexpr int kMinWidthTwips = 4444;
    static constexpr int kMinHeightTwips = 2222;

    void Text2_Click();
    // The query: checks the input and starts the buyer's query on a worker thread; both query
    // buttons stay disabled until its record arrives and fills the result lines.
    void Command7_Click();
    // The batch: ids from a file the user picks, run by the batch engine on worker threads, the
    // table opened in the spreadsheet program.
    void Command2_Click();

    // The batch's two ends outside the program: the dialog that picks the id file (returns the
    // chosen name, empty when cancelled) and the program that shows the written table (false when
    // nothing could be started). Empty functions restore the defaults: the open-file dialog and
    // openSpreadsheet.
    using IdFileChooser = std::function<QString(QWidget *parent)>;
    using SpreadsheetOpener = std::function<bool(const QString &path)>;
    void setIdFileChooser(IdFileChooser chooser);
    void setSpreadsheetOpener(SpreadsheetOpener opener);

    void Command9_Click();
    void Command10_Click();
    void Command11_Click();
    void Command12_Click();
    void Command4_Click();
    void Command6_Click();
    void Command5_Click();
    void Command3_Click();
    void Label10_Click();
    void Label8_Click();
    void Label5_Click();
    void Label11_Click();

    bool queryRunning() const { return m_queryRunning; }
    bool batchRunning() const { return m_batchRunning; }
    // Whether the start-up list's download is still under way.
    bool startupListPending() const;
    // The open help window, or null.
    Form1 *helpWindow() const { return m_help; }

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
    void ApplyWindowShape();
    void setDefaultSlots();
    void applyStartupList(const QString &text);
    void readStartupList(const QString &text);
    void showRecord(const QString &buyerId, const BuyerQueryResult &result);
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
    QPointer<Form1> m_help;

    // The skinned frame: caption bar on top, borders left, right and bottom.
    JSCAPTION *JSCAPTION1 = nullptr;
    JSBORDER *JSBORDER1 = nullptr;
    JSBORDER *JSBORDER2 = nullptr;
    JSBORDER *JSBORDER3 = nullptr;

    // Controls, named as the window names them.
    QFrame *Frame1 = nullptr;
    QFrame *Frame3 = nullptr;
    QLineEdit *Text2 = nullptr;
    QPushButton *Command7 = nullptr;
    QPushButton *Command2 = nullptr;
    ClickLabel *Label10 = nullptr;
    QLineEdit *Text1 = nullptr;
    QGroupBox *Frame2 = nullptr;
    ClickLabel *Label9 = nullptr;
    ClickLabel *Label6 = nullptr;
    ClickLabel *Label11 = nullptr;
    ClickLabel *Label7 = nullptr;
    ClickLabel *Label8 = nullptr;
    ClickLabel *Label5 = nullptr;
    QLineEdit *Text7 = nullptr;
    QFrame *Frame7 = nullptr;
    QPushButton *Command9 = nullptr;
    QPushButton *Command10 = nullptr;
    QPushButton *Command11 = nullptr;
    QPushButton *Command12 = nullptr;
    QFrame *Frame6 = nullptr;
    QPushButton *Command4 = nullptr;
    QPushButton *Command6 = nullptr;
    QPushButton *Command5 = nullptr;
    QPushButton *Command3 = nullptr;
    DetailBrowserWidget *WebBrowser1 = nullptr;
    QFrame *Frame5 = nullptr;
    std::array<QLineEdit *, 12> m_resultFields{}; // Text8 .. Text19
    QGroupBox *Frame4 = nullptr;
    std::array<QLineEdit *, kLinkSlotCount> Text4{};
    QPlainTextEdit *Text20 = nullptr;
};
