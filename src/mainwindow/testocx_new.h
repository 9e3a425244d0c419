#pragma once

#include "form1.h"
#include "querysettings.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class BuyerQuery;
class ClickLabel;
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

    // browser: the detail page loader of last resort; without one the hidden WebBrowser1 serves.
    explicit TestOCX_new(const QuerySettings &settings, DetailPageBrowser *browser = nullptr,
                         QWidget *parent = nullptr);
    ~TestOCX_new() override;

    // Load procedure: skin hand-off to the frame, title, start-up list into the link slots, link
    // captions, update notice. Runs once, from the constructor, before the window is first shown.
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
    void Command7_Click();
    // The batch: ids from a file the user picks, each through Command7_Click, the table opened in
    // the spreadsheet program.
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
    // The open help window, or null.
    Form1 *helpWindow() const { return m_help; }

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
    QString fetchStartupList() const;
    void readStartupList(const QString &text);
    void setLinkCaptions();
    void showUpdateNotice();
    QString chooseIdFile();
    void tell(const QString &text);

    QuerySettings m_settings;
    // Shared so that a query in progress keeps its engine even if the window goes away under it.
    std::shared_ptr<BuyerQuery> m_query;
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
