#include "mainwindow/sellerview.h"

#include "lookup/lookupservice.h"
#include "mainwindow/buyernotesmenu.h"
#include "mainwindow/clicklabel.h"
#include "mainwindow/historydialog.h"
#include "storage/historytext.h"
#include "storage/sellerdatabase.h"

#include <QGroupBox>
#include <QMenu>

namespace {

constexpr int kTwipsPerPixel = 15;

// The row under the four result lines, full width (twips of the window's layout / 15).
const QRect kRow(240 / kTwipsPerPixel, 1560 / kTwipsPerPixel, 5775 / kTwipsPerPixel,
                 255 / kTwipsPerPixel);

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
      m_blacklistLine(
          rowLabel(resultArea, QStringLiteral("BlacklistLine"), QStringLiteral("#D00000"))),
      m_historyLine(rowLabel(resultArea, QStringLiteral("HistoryLine"), QStringLiteral("#606060")))
{
    m_historyLine->setCursor(Qt::PointingHandCursor);
    connect(m_historyLine, &ClickLabel::clicked, this, [this] { showHistory(m_buyerId); });
    connect(m_resultArea, &QWidget::customContextMenuRequested, this, &SellerView::showMenu);
}

void SellerView::setDatabase(SellerDatabase *database)
{
    m_database = database;
    delete m_menu;
    m_menu = nullptr;
    m_resultArea->setContextMenuPolicy(database ? Qt::CustomContextMenu : Qt::DefaultContextMenu);
    if (!database)
        return;
    m_menu = new BuyerNotesMenu(database, m_window);
    connect(m_menu, &BuyerNotesMenu::noteChanged, this, &SellerView::noteChanged);
    connect(m_menu, &BuyerNotesMenu::historyRequested, this, &SellerView::showHistory);
}

SellerView::Lines SellerView::linesFor(const LookupOutcome &outcome)
{
    Lines lines;
    lines.warning = blacklistMark(outcome.note);
    lines.notes = sellerNotes(outcome.note);
    if (outcome.previous)
        lines.history = lastLookupLine(*outcome.previous, outcome.result.record);
    return lines;
}

void SellerView::showLines(const QString &buyerId, const Lines &lines)
{
    m_buyerId = buyerId;
    // One row: the warning as wide as its text (at most half the row), the history after it.
    int warningWidth = 0;
    if (!lines.warning.isEmpty())
        warningWidth = qMin(m_blacklistLine->fontMetrics().horizontalAdvance(lines.warning) + 4,
                            lines.history.isEmpty() ? kRow.width() : kRow.width() / 2);
    const int gap = warningWidth ? 12 : 0;
    m_blacklistLine->setGeometry(kRow.x(), kRow.y(), warningWidth, kRow.height());
    m_historyLine->setGeometry(kRow.x() + warningWidth + gap, kRow.y(),
                               kRow.width() - warningWidth - gap, kRow.height());
    for (auto [line, text] :
         {std::pair{m_blacklistLine, lines.warning}, std::pair{m_historyLine, lines.history}}) {
        line->setText(text);
        line->setToolTip(text);
        line->setVisible(!text.isEmpty());
    }
}

void SellerView::hideLines()
{
    m_buyerId.clear();
    m_blacklistLine->hide();
    m_historyLine->hide();
}

void SellerView::showMenu(const QPoint &position)
{
    if (!m_menu)
        return;
    QMenu *menu = m_menu->menuFor(m_buyerId, m_window);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_resultArea->mapToGlobal(position));
}

void SellerView::showHistory(const QString &buyerId)
{
    if (!m_database)
        return;
    auto *dialog = m_window->findChild<HistoryDialog *>(QStringLiteral("HistoryDialog"),
                                                        Qt::FindDirectChildrenOnly);
    if (!dialog) {
        dialog = new HistoryDialog(m_database, buyerId, m_window);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}
