#include "mainwindow/mainwindowlayout.h"

#include "mainwindow/accessibility.h"
#include "mainwindow/clicklabel.h"
#include "mainwindow/riskverdictview.h"

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include <tuple>

namespace {

constexpr int kTwipsPerPixel = 15;

// Panels are &H00C0E0FF&, button faces &H0080C0FF& (OLE colours, low byte red).
const QColor kPanelColour(0xFF, 0xE0, 0xC0);
const char kButtonStyle[] = "QPushButton { background-color: #FFC080; color: black;"
                            " border: 1px solid #B07840; padding: 0px; }"
                            "QPushButton:hover { background-color: #FFCC96; }"
                            "QPushButton:pressed { background-color: #F0AC68; }"
                            "QPushButton:disabled { color: #9A7A5A; }";

constexpr int px(int twips)
{
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
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

const QString kPrompt = QStringLiteral("输入买家的淘宝ID");

// Places the batch's end whenever one of its parts shows, hides or the summary changes size.
class BatchEndColumn : public QObject
{
public:
    BatchEndColumn(QLabel *summary, QWidget *bar, QWidget *table, QLabel *stale)
        : QObject(summary), m_summary(summary), m_bar(bar), m_table(table), m_stale(stale)
    {
        for (QWidget *w :
             {static_cast<QWidget *>(summary), bar, table, static_cast<QWidget *>(stale)})
            w->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::Resize:
        case QEvent::FontChange:
            place();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void place()
    {
        if (m_placing)
            return;
        m_placing = true;
        const int x = m_summary->x();
        const int width = m_summary->width();
        int y = m_summary->y();
        const auto lines = [](const QLabel *label, int width) {
            return qMax(label->fontMetrics().lineSpacing() + 2, label->heightForWidth(width));
        };
        if (m_summary->isVisibleTo(m_summary->parentWidget())) {
            const int height = lines(m_summary, width);
            m_summary->resize(width, height);
            y += height + 3;
        }
        if (m_bar->isVisibleTo(m_bar->parentWidget())) {
            m_bar->setGeometry(x, y, qMin(240, width), 10);
            y += 10 + 4;
        }
        if (m_table->isVisibleTo(m_table->parentWidget())) {
            const int height = qMax(m_table->sizeHint().height(), m_table->height());
            m_table->setGeometry(x, y, width, height);
            y += height + 3;
        }
        if (m_stale->isVisibleTo(m_stale->parentWidget()))
            m_stale->setGeometry(x, y, width, lines(m_stale, width));
        m_placing = false;
    }

    QLabel *m_summary;
    QWidget *m_bar;
    QWidget *m_table;
    QLabel *m_stale;
    bool m_placing = false;
};

} // namespace

void keepBatchEndInColumn(QLabel *summary, QWidget *verdictBar, QWidget *tableLine,
                          QLabel *staleLine)
{
    new BatchEndColumn(summary, verdictBar, tableLine, staleLine);
}

MainWindowLayout buildMainWindowLayout(QWidget *window)
{
    MainWindowLayout l;
    // Query bar and result area.
    l.queryPanel = panel(window, QStringLiteral("Frame1"), 240, 600, 6495, 2895);
    l.queryBar = panel(l.queryPanel, QStringLiteral("Frame3"), 120, 120, 6135, 735);
    l.queryBar->setStyleSheet(QLatin1String(kButtonStyle));
    l.input = place<QLineEdit>(l.queryBar, QStringLiteral("Text2"), 240, 240, 2535, 375);
    l.input->setText(kPrompt);
    l.queryButton = button(l.queryBar, QStringLiteral("Command7"), QStringLiteral("查  询"), 3000,
                           240, 975, 375);
    l.batchButton = button(l.queryBar, QStringLiteral("Command2"), QStringLiteral("批量查询"), 4200,
                           240, 975, 375);
    l.helpLink = label(l.queryBar, QStringLiteral("Label10"), QStringLiteral("帮助"), 5400, 360,
                       495, 255, true);
    l.helpLink->setStyleSheet(QStringLiteral("color: #0000FF;"));
    l.helpLink->setCursor(Qt::PointingHandCursor);
    l.helpLink->setFocusPolicy(Qt::TabFocus);
    l.helpLink->setToolTip(QObject::tr("帮助（F1）"));
    l.input->setAccessibleName(QObject::tr("买家的淘宝ID"));
    l.queryButton->setAccessibleName(QObject::tr("查询"));
    l.batchIdField =
        hiddenField(l.queryBar, QStringLiteral("Text1"), QString(), 1800, 120, 1095, 270);
    markInternal(l.batchIdField);

    // Taller than the lines need, so the row under them keeps a margin from the frame.
    l.resultArea = titledPanel(l.queryPanel, QStringLiteral("Frame2"), QStringLiteral("查询结果"),
                               120, 960, 6135, 1890);
    l.idLine = label(l.resultArea, QStringLiteral("Label9"), QStringLiteral("Label9"), 240, 240,
                     5775, 255, false);
    l.ratingsLine = label(l.resultArea, QStringLiteral("Label6"), QStringLiteral("Label6"), 240,
                          600, 5535, 255, false);
    l.profileLine = label(l.resultArea, QStringLiteral("Label11"), QStringLiteral("Label11"), 240,
                          960, 5775, 255, false);
    l.givenLine = label(l.resultArea, QStringLiteral("Label7"), QStringLiteral("Label7"), 240, 1320,
                        2655, 255, false);
    l.creditLink = label(l.resultArea, QStringLiteral("Label8"),
                         QStringLiteral("查询该买家评详细信用"), 2880, 1320, 1935, 255, false);
    l.creditLink->setCursor(Qt::PointingHandCursor);
    l.creditLink->setFocusPolicy(Qt::TabFocus);
    l.creditLink->setStyleSheet(QStringLiteral("color: #0000FF; text-decoration: underline;"));
    // Label5 lies over Label9 and Label6: the batch progress line.
    l.noticeLine = label(l.resultArea, QStringLiteral("Label5"), QStringLiteral("Label5"), 480, 360,
                         5055, 255, false);
    // Kept in the query panel rather than the result area (a group box, whose accessible
    // children Qt lists itself), so that screen readers never meet it.
    l.creditAddress =
        hiddenField(l.queryPanel, QStringLiteral("Text7"), QString(), 5160, 1680, 855, 270);
    markInternal(l.creditAddress);
    // Up to three lines where the four result lines go.
    l.statusLine =
        label(l.resultArea, QStringLiteral("StatusLine"), QString(), 240, 240, 5775, 1035, false);
    l.statusLine->setWordWrap(true);
    l.statusLine->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The title row's right end: the clipboard watch and the copy of the result.
    l.watchClipboard = new QCheckBox(QObject::tr("监视剪贴板"), l.resultArea);
    l.watchClipboard->setObjectName(QStringLiteral("WatchClipboard"));
    l.watchClipboard->setToolTip(QObject::tr(
        "在别处复制的买家ID自动填入并查询（聊天句子、网址、地址、密码、电话和订单号不取）"));
    l.copyResult = label(l.resultArea, QStringLiteral("CopyResult"), QObject::tr("复制结果"), 0, 0,
                         0, 0, true);
    l.copyResult->setToolTip(QObject::tr("把查询结果复制为一行文字（Ctrl+Shift+C）"));
    l.copyResult->setCursor(Qt::PointingHandCursor);
    l.copyResult->setFocusPolicy(Qt::TabFocus);
    l.copyResult->setStyleSheet(
        QStringLiteral("QLabel { color: #0000FF; } QLabel:disabled { color: #A08C78; }"));
    l.copyResult->setEnabled(false);
    // The batch's controls: the bar under the progress line, the stop button at its right, the
    // summary (two lines when it wraps) where the first buyer line was.
    l.batchProgress =
        place<QProgressBar>(l.resultArea, QStringLiteral("BatchProgressBar"), 480, 720, 4215, 270);
    l.batchProgress->setAlignment(Qt::AlignCenter);
    l.batchProgress->hide();
    l.batchStop =
        button(l.resultArea, QStringLiteral("BatchStop"), QObject::tr("停止"), 4920, 660, 975, 375);
    l.batchStop->setStyleSheet(QLatin1String(kButtonStyle));
    l.batchStop->hide();
    l.batchSummary =
        place<QLabel>(l.resultArea, QStringLiteral("BatchSummary"), 240, 240, 5775, 510);
    l.batchSummary->setTextFormat(Qt::PlainText);
    l.batchSummary->setWordWrap(true);
    l.batchSummary->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    l.batchSummary->hide();
    l.batchTable = place<QWidget>(l.resultArea, QStringLiteral("BatchTable"), 240, 780, 5775, 270);
    auto *tableRow = new QHBoxLayout(l.batchTable);
    tableRow->setContentsMargins(0, 0, 0, 0);
    tableRow->setSpacing(12);
    l.batchTablePath =
        label(l.batchTable, QStringLiteral("BatchTablePath"), QString(), 0, 0, 0, 0, true);
    l.batchTablePath->setMinimumWidth(40);
    l.batchTablePath->setTextInteractionFlags(Qt::TextSelectableByMouse);
    tableRow->addWidget(l.batchTablePath, 1);
    for (auto [target, name, text] :
         {std::tuple{&l.batchTableOpen, "BatchTableOpen", QObject::tr("打开")},
          std::tuple{&l.batchTableSave, "BatchTableSave", QObject::tr("另存为…")},
          std::tuple{&l.batchTableFolder, "BatchTableFolder", QObject::tr("打开所在文件夹")}}) {
        ClickLabel *link = label(l.batchTable, QLatin1String(name), text, 0, 0, 0, 0, true);
        link->setStyleSheet(QStringLiteral("color: #0000FF;"));
        link->setCursor(Qt::PointingHandCursor);
        link->setFocusPolicy(Qt::TabFocus);
        tableRow->addWidget(link);
        *target = link;
    }
    l.batchTable->hide();

    // Link buttons: the bottom row and the side column. WebBrowser1 is created first so that it
    // lies beneath Frame6, inside its rectangle.
    l.linkRow = panel(window, QStringLiteral("Frame7"), 240, 3600, 6495, 855);
    l.linkRow->setStyleSheet(QLatin1String(kButtonStyle));
    QPushButton *b9 = button(l.linkRow, QStringLiteral("Command9"), QStringLiteral("网店管家"), 240,
                             240, 1335, 495);
    QPushButton *b10 = button(l.linkRow, QStringLiteral("Command10"),
                              QStringLiteral("旺旺群发助手"), 1680, 240, 1455, 495);
    QPushButton *b11 = button(l.linkRow, QStringLiteral("Command11"),
                              QStringLiteral("宝贝上架助手"), 3360, 240, 1335, 495);
    QPushButton *b12 = button(l.linkRow, QStringLiteral("Command12"),
                              QStringLiteral("店铺装修模板"), 4920, 240, 1335, 495);

    l.browser = place<QWidget>(window, QStringLiteral("WebBrowser1"), 6840, 2760, 1815, 1695);
    l.browser->hide();
    markInternal(l.browser);
    l.linkColumn = panel(window, QStringLiteral("Frame6"), 6840, 600, 2295, 3855);
    l.linkColumn->setStyleSheet(QLatin1String(kButtonStyle));
    QPushButton *b4 = button(l.linkColumn, QStringLiteral("Command4"), QStringLiteral("使用教程"),
                             480, 960, 1335, 495);
    QPushButton *b6 = button(l.linkColumn, QStringLiteral("Command6"), QStringLiteral("常见问题"),
                             480, 1680, 1335, 495);
    QPushButton *b5 = button(l.linkColumn, QStringLiteral("Command5"), QStringLiteral("联系我们"),
                             480, 2400, 1335, 495);
    QPushButton *b3 = button(l.linkColumn, QStringLiteral("Command3"), QStringLiteral("更多工具"),
                             480, 3120, 1335, 495);
    l.browser->stackUnder(l.linkColumn);
    // The column's empty top, above its first button.
    l.verdict =
        place<RiskVerdictView>(l.linkColumn, QStringLiteral("RiskVerdict"), 90, 90, 2115, 780);
    l.verdict->hide();
    l.linkButtons = {{
        {b9, LinkSlot::RowButton1Caption, LinkSlot::RowButton1Address},
        {b10, LinkSlot::RowButton2Caption, LinkSlot::RowButton2Address},
        {b11, LinkSlot::RowButton3Caption, LinkSlot::RowButton3Address},
        {b12, LinkSlot::RowButton4Caption, LinkSlot::RowButton4Address},
        {b4, LinkSlot::ColumnButton1Caption, LinkSlot::ColumnButton1Address},
        {b6, LinkSlot::ColumnButton2Caption, LinkSlot::ColumnButton2Address},
        {b5, LinkSlot::ColumnButton3Caption, LinkSlot::ColumnButton3Address},
        {b3, LinkSlot::ColumnButton4Caption, LinkSlot::ColumnButton4Address},
    }};

    // Hidden data: the batch result fields, the link slots and the area table.
    l.resultFieldPanel = panel(window, QStringLiteral("Frame5"), 6480, 4560, 2535, 4455);
    l.resultFieldPanel->hide();
    markInternal(l.resultFieldPanel);
    for (int i = 0; i < int(l.resultFields.size()); ++i) {
        const QString name = QStringLiteral("Text%1").arg(8 + i);
        l.resultFields[size_t(i)] =
            place<QLineEdit>(l.resultFieldPanel, name, 120, 120 + i * 345, 2295, 270);
        l.resultFields[size_t(i)]->setText(name);
    }
    l.linkSlotPanel = titledPanel(window, QStringLiteral("Frame4"), QStringLiteral("参数"), 240,
                                  4680, 6015, 4815);
    l.linkSlotPanel->hide();
    markInternal(l.linkSlotPanel);
    for (int i = 0; i < kLinkSlotCount; ++i) {
        l.linkSlots[size_t(i)] =
            place<QLineEdit>(l.linkSlotPanel, QStringLiteral("Text4_%1").arg(i),
                             120 + (i / 11) * 2940, 360 + (i % 11) * 405, 2775, 285);
    }
    l.areaTableField =
        place<QPlainTextEdit>(window, QStringLiteral("Text20"), 6120, 480, 1455, 615);
    l.areaTableField->setPlainText(QStringLiteral("Text20"));
    l.areaTableField->hide();
    markInternal(l.areaTableField);

    return l;
}
