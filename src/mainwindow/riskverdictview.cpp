#include "mainwindow/riskverdictview.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr qreal kMargin = 4;
constexpr qreal kMaxIcon = 14;

// The shapes in a unit box, scaled to the icon's box when drawn.
QPainterPath heartPath()
{
    QPainterPath p;
    p.moveTo(0.5, 0.92);
    p.cubicTo(0.14, 0.66, 0.0, 0.48, 0.04, 0.3);
    p.cubicTo(0.09, 0.08, 0.38, 0.04, 0.5, 0.26);
    p.cubicTo(0.62, 0.04, 0.91, 0.08, 0.96, 0.3);
    p.cubicTo(1.0, 0.48, 0.86, 0.66, 0.5, 0.92);
    p.closeSubpath();
    return p;
}

QPainterPath gemPath()
{
    QPainterPath p;
    p.moveTo(0.24, 0.14);
    p.lineTo(0.76, 0.14);
    p.lineTo(0.98, 0.4);
    p.lineTo(0.5, 0.94);
    p.lineTo(0.02, 0.4);
    p.closeSubpath();
    return p;
}

QPainterPath crownPath()
{
    QPainterPath p;
    p.moveTo(0.1, 0.84);
    p.lineTo(0.04, 0.32);
    p.lineTo(0.3, 0.54);
    p.lineTo(0.5, 0.16);
    p.lineTo(0.7, 0.54);
    p.lineTo(0.96, 0.32);
    p.lineTo(0.9, 0.84);
    p.closeSubpath();
    for (const QPointF &tip : {QPointF(0.04, 0.3), QPointF(0.5, 0.14), QPointF(0.96, 0.3)})
        p.addEllipse(tip, 0.08, 0.08);
    return p;
}

} // namespace

void drawCreditIcon(QPainter &painter, CreditTier tier, const QRectF &box)
{
    if (tier == CreditTier::None)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(box.topLeft());
    painter.scale(box.width(), box.height());
    QPen outline;
    outline.setWidthF(0.07);
    outline.setJoinStyle(Qt::RoundJoin);
    switch (tier) {
    case CreditTier::Heart:
        outline.setColor(QColor(0xA3, 0x12, 0x3C));
        painter.setPen(outline);
        painter.setBrush(QColor(0xE5, 0x2B, 0x5C));
        painter.drawPath(heartPath());
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 255, 150));
        painter.drawEllipse(QPointF(0.28, 0.3), 0.09, 0.07);
        break;
    case CreditTier::Diamond: {
        outline.setColor(QColor(0x12, 0x4E, 0xA8));
        painter.setPen(outline);
        painter.setBrush(QColor(0x2F, 0x86, 0xEB));
        painter.drawPath(gemPath());
        QPen facet(QColor(0xC8, 0xE2, 0xFF));
        facet.setWidthF(0.05);
        painter.setPen(facet);
        painter.drawLine(QPointF(0.05, 0.4), QPointF(0.95, 0.4));
        painter.drawPolyline(QPolygonF({QPointF(0.24, 0.15), QPointF(0.36, 0.4), QPointF(0.5, 0.88),
                                        QPointF(0.64, 0.4), QPointF(0.76, 0.15)}));
        painter.drawPolyline(
            QPolygonF({QPointF(0.36, 0.4), QPointF(0.5, 0.15), QPointF(0.64, 0.4)}));
        break;
    }
    case CreditTier::Crown:
    case CreditTier::GoldCrown: {
        const bool gold = tier == CreditTier::GoldCrown;
        outline.setColor(gold ? QColor(0x9A, 0x62, 0x00) : QColor(0x1F, 0x33, 0x8C));
        painter.setPen(outline);
        painter.setBrush(gold ? QColor(0xF2, 0xB1, 0x1B) : QColor(0x3D, 0x5F, 0xD6));
        painter.drawPath(crownPath());
        painter.setPen(Qt::NoPen);
        painter.setBrush(gold ? QColor(0xFF, 0xE7, 0x9A) : QColor(0xB9, 0xC8, 0xFF));
        painter.drawRect(QRectF(0.14, 0.68, 0.72, 0.08));
        break;
    }
    case CreditTier::None:
        break;
    }
    painter.restore();
}

RiskVerdictView::RiskVerdictView(QWidget *parent) : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
    // Reached by Tab; Enter or Space opens the details as a click does.
    setFocusPolicy(Qt::TabFocus);
}

QColor RiskVerdictView::levelColour(RiskLevel level)
{
    switch (level) {
    case RiskLevel::Low:
        return QColor(0x1B, 0x7F, 0x3A);
    case RiskLevel::Medium:
        return QColor(0xC2, 0x6A, 0x00);
    case RiskLevel::High:
        return QColor(0xC6, 0x28, 0x28);
    case RiskLevel::Unknown:
        break;
    }
    return QColor(0x6B, 0x6B, 0x6B);
}

void RiskVerdictView::setAssessment(const BuyerAssessment &assessment, const PageResults &pages)
{
    m_assessment = assessment;
    m_pages = pages;
    setToolTip(tipText());
    // A screen reader says the verdict, then its reasons.
    setAccessibleName(verdictText());
    setAccessibleDescription(tipText().section(u'\n', 1));
    if (m_details)
        m_details->close();
    update();
}

QString RiskVerdictView::verdictText() const
{
    return QStringLiteral("风险：") + riskLevelText(m_assessment.risk.level);
}

QString RiskVerdictView::noteText() const
{
    if (m_assessment.risk.blocked)
        return QStringLiteral("页面被拦截");
    if (m_assessment.risk.reasons.isEmpty())
        return {};
    return QStringLiteral("%1条原因，点击查看").arg(m_assessment.risk.reasons.size());
}

QString RiskVerdictView::tipText() const
{
    QStringList lines = {verdictText()};
    const QString level = creditLevelText(m_assessment.creditLevel);
    if (m_assessment.creditScore)
        lines.append(QStringLiteral("信用积分：%1%2")
                         .arg(m_assessment.creditScoreText(),
                              level.isEmpty() ? QString() : QStringLiteral("（%1）").arg(level)));
    for (const QString &reason : m_assessment.risk.reasons)
        lines.append(QStringLiteral("· ") + reason);
    if (m_assessment.risk.reasons.isEmpty())
        lines.append(QStringLiteral("没有风险原因"));
    return lines.join(u'\n');
}

QRectF RiskVerdictView::verdictTextRect() const
{
    QFont bold = font();
    bold.setBold(true);
    const QFontMetricsF metrics(bold);
    return QRectF(kMargin, kMargin, metrics.horizontalAdvance(verdictText()), metrics.height());
}

QList<QRectF> RiskVerdictView::iconRects() const
{
    const int count = m_assessment.creditLevel.count;
    if (count <= 0)
        return {};
    const QRectF text = verdictTextRect();
    // Whole pixels: the shapes' edges then fall the same way on every icon.
    const qreal left = std::round(text.right() + 6);
    const qreal room = width() - kMargin - left;
    const qreal size = std::floor(qMin(qMin(kMaxIcon, text.height() - 2), room / count - 1));
    const qreal top = std::round(text.center().y() - size / 2);
    QList<QRectF> rects;
    for (int i = 0; i < count; ++i)
        rects.append(QRectF(left + i * (size + 1), top, size, size));
    return rects;
}

void RiskVerdictView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont bold = font();
    bold.setBold(true);
    painter.setFont(bold);
    painter.setPen(levelColour(m_assessment.risk.level));
    const QRectF text = verdictTextRect();
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, verdictText());
    for (const QRectF &box : iconRects())
        drawCreditIcon(painter, m_assessment.creditLevel.tier, box);

    if (hasFocus()) {
        painter.save();
        painter.setPen(QPen(QColor(0x6B, 0x5A, 0x48), 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
        painter.restore();
    }
    const QString note = noteText();
    if (note.isEmpty())
        return;
    painter.setFont(font());
    painter.setPen(m_assessment.risk.blocked ? levelColour(RiskLevel::High)
                                             : QColor(0x6B, 0x5A, 0x48));
    const QRectF line(kMargin, text.bottom() + 4, width() - 2 * kMargin, text.height());
    painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                     painter.fontMetrics().elidedText(note, Qt::ElideRight, int(line.width())));
}

void RiskVerdictView::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
        event->accept();
        showDetails();
        return;
    }
    QWidget::keyPressEvent(event);
}

void RiskVerdictView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        showDetails();
    QWidget::mouseReleaseEvent(event);
}

void RiskVerdictView::showDetails()
{
    if (m_details)
        m_details->close();
    auto *popup = new QFrame(this, Qt::Popup);
    popup->setObjectName(QStringLiteral("RiskDetails"));
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->setFrameShape(QFrame::Box);
    popup->setStyleSheet(
        QStringLiteral("#RiskDetails { background: #FFFDF8; border: 1px solid #B07840; }"));
    auto *layout = new QVBoxLayout(popup);
    layout->setContentsMargins(10, 8, 10, 8);
    auto *title = new QLabel(verdictText(), popup);
    title->setObjectName(QStringLiteral("RiskDetailsTitle"));
    QFont bold = font();
    bold.setBold(true);
    title->setFont(bold);
    title->setStyleSheet(
        QStringLiteral("color: %1;").arg(levelColour(m_assessment.risk.level).name()));
    layout->addWidget(title);
    QStringList lines = tipText().split(u'\n').mid(1);
    // Only pages actually read count; the ones that were not are named with how they ended.
    int buyerPages = 0;
    int read = 0;
    for (const PageResult &page : m_pages) {
        if (isBuyerPage(page.page)) {
            ++buyerPages;
            read += page.outcome == PageOutcome::Ok ? 1 : 0;
        }
    }
    if (buyerPages > 0)
        lines.append(
            QStringLiteral("页面：") +
            (read == buyerPages
                 ? QStringLiteral("%1个全部读到").arg(read)
                 : QStringLiteral("读到%1个（%2）").arg(read).arg(buyerPageOutcomesText(m_pages))));
    auto *body = new QLabel(lines.join(u'\n'), popup);
    body->setObjectName(QStringLiteral("RiskDetailsText"));
    body->setFont(font());
    body->setWordWrap(true);
    body->setMaximumWidth(360);
    layout->addWidget(body);
    popup->adjustSize();

    QPoint at = mapToGlobal(QPoint(0, height()));
    if (const QScreen *screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        at.setX(qBound(area.left(), at.x(), qMax(area.left(), area.right() - popup->width())));
        at.setY(qBound(area.top(), at.y(), qMax(area.top(), area.bottom() - popup->height())));
    }
    popup->move(at);
    m_details = popup;
    popup->show();
}
