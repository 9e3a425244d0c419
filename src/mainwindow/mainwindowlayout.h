#pragma once

#include "mainwindow/linkslots.h"

#include <array>

class ClickLabel;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLineEdit;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QWidget;
class RiskVerdictView;

// The main window's controls, each at its fixed place (twips of the window's layout / 15 =
// logical pixels) in its panel. Every control carries the window's own name for it as its
// objectName (Text2, Command7, Label5, Text4_0 ...), by which tests and tools find it.
struct MainWindowLayout
{
    // The query bar (Frame3 in Frame1).
    QFrame *queryPanel = nullptr;       // Frame1
    QFrame *queryBar = nullptr;         // Frame3
    QLineEdit *input = nullptr;         // Text2
    QPushButton *queryButton = nullptr; // Command7 "查  询"
    QPushButton *batchButton = nullptr; // Command2 "批量查询"
    ClickLabel *helpLink = nullptr;     // Label10 "帮助"
    QLineEdit *batchIdField = nullptr;  // Text1, hidden: the id a batch is at

    // The result area (Frame2).
    QGroupBox *resultArea = nullptr;    // Frame2 "查询结果"
    ClickLabel *idLine = nullptr;       // Label9: id and verification
    ClickLabel *ratingsLine = nullptr;  // Label6: ratings received
    ClickLabel *profileLine = nullptr;  // Label11: registration time, nick, area; opens help
    ClickLabel *givenLine = nullptr;    // Label7: ratings given to others
    ClickLabel *creditLink = nullptr;   // Label8 "查询该买家评详细信用"
    ClickLabel *noticeLine = nullptr;   // Label5: batch progress
    QLineEdit *creditAddress = nullptr; // Text7, hidden: the last buyer's credit page
    // What the lookup came to when there is no record to show (not found, no configuration …)
    // and the busy line of a lookup under way, in the place of the lines.
    ClickLabel *statusLine = nullptr;    // StatusLine
    QCheckBox *watchClipboard = nullptr; // WatchClipboard "监视剪贴板", on the area's title row
    ClickLabel *copyResult = nullptr;    // CopyResult "复制结果", on the area's title row
    // The batch's own, hidden until a batch: its progress bar and stop button in the place of the
    // buyer lines, and the summary it leaves at its end.
    QProgressBar *batchProgress = nullptr; // BatchProgressBar "第 j / N 个"
    QPushButton *batchStop = nullptr;      // BatchStop "停止"
    QLabel *batchSummary = nullptr;        // BatchSummary "共N个：找到a个，…"
    // Under the summary, where the last table is: its path and what can be done with it.
    QWidget *batchTable = nullptr;          // BatchTable
    ClickLabel *batchTablePath = nullptr;   // BatchTablePath "表格：…"
    ClickLabel *batchTableOpen = nullptr;   // BatchTableOpen "打开"
    ClickLabel *batchTableSave = nullptr;   // BatchTableSave "另存为…"
    ClickLabel *batchTableFolder = nullptr; // BatchTableFolder "打开所在文件夹"

    // The link buttons: the bottom row (Frame7) and the side column (Frame6).
    QFrame *linkRow = nullptr;
    QFrame *linkColumn = nullptr;
    LinkSlots::Buttons linkButtons{};
    QWidget *browser =
        nullptr; // WebBrowser1: the embedded browser's place, hidden beneath the side column
    RiskVerdictView *verdict = nullptr; // RiskVerdict: the last buyer's verdict, atop the column

    // Hidden data: the batch result fields, the link slots, the area table.
    QFrame *resultFieldPanel = nullptr;         // Frame5
    std::array<QLineEdit *, 12> resultFields{}; // Text8 .. Text19
    QGroupBox *linkSlotPanel = nullptr;         // Frame4 "参数"
    LinkSlots::Fields linkSlots{};              // Text4_0 .. Text4_21
    QPlainTextEdit *areaTableField = nullptr;   // Text20
};

// Builds the controls on window (whose client area is 628 x 313).
MainWindowLayout buildMainWindowLayout(QWidget *window);

// Keeps a batch's end in one column from the summary's top, whatever shows and at any width: the
// summary (as many lines as it wraps to), the verdict bar, the table's line, the stale-rules
// warning; each in its own room, none drawn over another.
void keepBatchEndInColumn(QLabel *summary, QWidget *verdictBar, QWidget *tableLine,
                          QLabel *staleLine);
