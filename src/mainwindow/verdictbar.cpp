#include "mainwindow/verdictbar.h"

#include <QPainter>

VerdictBar::VerdictBar(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("BatchVerdictBar"));
}

const std::array<RiskLevel, 4> &VerdictBar::order()
{
    static const std::array<RiskLevel, 4> levels = {RiskLevel::High, RiskLevel::Unknown,
                                                    RiskLevel::Medium, RiskLevel::Low};
    return levels;
}

QColor VerdictBar::colour(RiskLevel level)
{
    switch (level) {
    case RiskLevel::High:
        return QColor(0xE0, 0x40, 0x40);
    case RiskLevel::Unknown:
        return QColor(0xA0, 0xA0, 0xA0);
    case RiskLevel::Medium:
        return QColor(0xF0, 0xA0, 0x30);
    case RiskLevel::Low:
        return QColor(0x40, 0xA0, 0x60);
    }
    return Qt::black;
}

void VerdictBar::setCounts(const std::array<int, 4> &counts)
{
    m_counts = counts;
    QStringList parts;
    for (size_t i = 0; i < counts.size(); ++i)
        parts.append(tr("%1 %2个").arg(riskLevelText(order()[i])).arg(counts[i]));
    setToolTip(parts.join(QStringLiteral("，")));
    update();
}

void VerdictBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect area = rect().adjusted(0, 0, -1, -1);
    painter.fillRect(area, palette().window());
    qint64 total = 0;
    for (int c : m_counts)
        total += c;
    if (total > 0) {
        // Each share from its running sum, so the segments meet without gaps or rounding drift.
        qint64 before = 0;
        for (size_t i = 0; i < m_counts.size(); ++i) {
            const int left = area.left() + int(before * area.width() / total);
            before += m_counts[i];
            const int right = area.left() + int(before * area.width() / total);
            if (right > left)
                painter.fillRect(QRect(left, area.top(), right - left, area.height()),
                                 colour(order()[i]));
        }
    }
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(area);
}
