#include "mainwindow/sellerview.h"

#include "lookup/lookupservice.h"
#include "mainwindow/buyernotesmenu.h"
#include "mainwindow/clicklabel.h"
#include "mainwindow/historydialog.h"
#include "model/lookupstatus.h"
#include "storage/historytext.h"
#include "storage/sellerdatabase.h"

#include <QGroupBox>
#include <QMenu>

namespace {

constexpr int kTwipsPerPixel = 15;

// The row under the four result lines (twips of the window's layout / 15); it is as wide as
// the result area allows.
const QRect kRow(240 / kTwipsPerPixel, 1560 / kTwipsPerPixel, 5775 / kTwipsPerPixel,
                 255 / kTwipsPerPixel);
constexpr int kGap = 10;
// The least width a line keeps when the row is short of room.
constexpr int kLeastWidth = 60;

ClickLabel *rowLabel(QGroupBox *parent, const QString &name, const QString &colour)
{
    auto *l = new ClickLabel(parent);
    l->setObjectName(name);
    l->setTextFormat(Qt::PlainText);
    l->setStyleSheet(QStringLiteral("color: %1;").arg(colour));
    l->setGeometry(kRow);
    l->hide();
    return l;
}

} // namespace

SellerView::SellerView(QWidget *window, QGroupBox *resultArea)
    : QObject(window), m_window(window), m_resultArea(resultArea),
      m_pagesLine(rowLabel(resultArea, QStringLiteral("PagesLine"), QStringLiteral("#B03000"))),
      m_blacklistLine(
          rowLabel(resultArea, QStringLiteral("BlacklistLine"), QStringLiteral("#D00000"))),
      m_noteLine(rowLabel(resultArea, QStringLiteral("NoteLine"), QStringLiteral("#6B4A20"))),
      m_historyLine(rowLabel(resultArea, QStringLiteral("HistoryLine"), QStringLiteral("#606060")))
{
    m_historyLine->setCursor(Qt::PointingHandCursor);
    m_historyLine->setFocusPolicy(Qt::TabFocus);
    connect(m_historyLine, &ClickLabel::clicked, this, [this] { showHistory(m_buyerId); });
}

void SellerView::setDatabase(SellerDatabase *database)
{
    m_database = database;
    delete m_menu;
    m_menu = nullptr;
    if (!database)
        return;
    m_menu = new BuyerNotesMenu(database, m_window);
    connect(m_menu, &BuyerNotesMenu::noteChanged, this, &SellerView::noteChanged);
    connect(m_menu, &BuyerNotesMenu::historyRequested, this, &SellerView::showHistory);
    connect(m_menu, &BuyerNotesMenu::reviewRequested, this, &SellerView::reviewRequested);
}

SellerView::Lines SellerView::linesFor(const LookupOutcome &outcome)
{
    Lines lines;
    if (outcome.status == LookupStatus::PagesFailed && noBuyerPageAnswered(outcome.result.pages))
        lines.pages = marketplaceUnreachableText();
    else if (outcome.status == LookupStatus::PagesFailed)
        lines.pages = QObject::tr("部分页面未能读取：") + outcome.statusDetail;
    else if (outcome.status == LookupStatus::NotFound)
        lines.pages = QObject::tr("搜索页没有此买家，以上是其他页面读到的");
    else if (outcome.status == LookupStatus::Blocked)
        lines.pages = lookupStatusText(outcome.status) +
                      (outcome.statusDetail.isEmpty() ? QString() : u'：' + outcome.statusDetail);
    if (outcome.noTradeCardHost)
        lines.pages +=
            (lines.pages.isEmpty() ? QString() : QStringLiteral("；")) + noTradeCardHostText();
    lines.warning = blacklistMark(outcome.note);
    lines.warningTip = lines.warning;
    if (!lines.warning.isEmpty() && outcome.note.listedOn.isValid())
        lines.warningTip += QObject::tr("\n加入黑名单：%1")
                                .arg(outcome.note.listedOn.toString(QStringLiteral("yyyy-MM-dd")));
    QStringList note;
    if (outcome.note.listed == ListMark::Trusted)
        note.append(QObject::tr("信任"));
    // A note that only repeats the blacklist's reason (the command line keeps both) is not said
    // twice.
    const QString text = outcome.note.note.simplified();
    if (!text.isEmpty() &&
        !(outcome.note.listed == ListMark::Blacklist && text == outcome.note.reason.simplified()))
        note.append(QObject::tr("备注：") + text);
    lines.note = note.join(QStringLiteral("，"));
    lines.notes = sellerNotes(outcome.note);
    if (outcome.previous)
        lines.history = lastLookupLine(*outcome.previous, outcome.result.record);
    return lines;
}

void SellerView::showLines(const QString &buyerId, const Lines &lines)
{
    m_buyerId = buyerId;
    m_lines = lines;
    relayout();
}

void SellerView::relayout()
{
    const std::pair<ClickLabel *, QString> parts[] = {{m_pagesLine, m_lines.pages},
                                                      {m_blacklistLine, m_lines.warning},
                                                      {m_noteLine, m_lines.note},
                                                      {m_historyLine, m_lines.history}};
    const int rowWidth = qMax(kLeastWidth, m_resultArea->width() - 2 * kRow.x());
    int shown = 0;
    for (const auto &[line, text] : parts)
        shown += m_buyerId.isEmpty() || text.isEmpty() ? 0 : 1;
    // Left to right, each as wide as its text while the row has room; the last takes the rest
    // and every one cut short ends in "…" with its whole text as its tip.
    int x = kRow.x();
    int left = shown;
    for (const auto &[line, text] : parts) {
        if (m_buyerId.isEmpty() || text.isEmpty()) {
            line->hide();
            continue;
        }
        --left;
        const int room = kRow.x() + rowWidth - x - left * (kLeastWidth + kGap);
        const int natural = line->fontMetrics().horizontalAdvance(text) + 4;
        const int width = left == 0 ? qMax(kLeastWidth, kRow.x() + rowWidth - x)
                                    : qBound(qMin(kLeastWidth, natural), natural, qMax(room, 1));
        line->setGeometry(x, kRow.y(), width, kRow.height());
        line->setText(text);
        line->setToolTip(line == m_blacklistLine ? m_lines.warningTip : text);
        line->show();
        x += width + kGap;
    }
}

void SellerView::hideLines()
{
    m_buyerId.clear();
    m_lines = {};
    relayout();
}

void SellerView::addMenuActions(QMenu *menu)
{
    if (m_menu)
        m_menu->addActions(menu, m_buyerId);
}

void SellerView::showHistory(const QString &buyerId)
{
    if (!m_database)
        return;
    auto *dialog = m_window->findChild<HistoryDialog *>(QStringLiteral("HistoryDialog"),
                                                        Qt::FindDirectChildrenOnly);
    if (!dialog) {
        dialog = new HistoryDialog(m_database, buyerId, m_window, m_risk);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &HistoryDialog::lookUpAgain, this, &SellerView::lookUpRequested);
    }
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}
