#include "mainwindow/clicklabel.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

void ClickLabel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_pressed = true;
    QLabel::mousePressEvent(event);
}

void ClickLabel::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton)
        m_pressed = false;
    QLabel::mouseReleaseEvent(event);
    if (click)
        emit clicked();
}

void ClickLabel::paintEvent(QPaintEvent *event)
{
    const QRect area = contentsRect();
    const QString all = text();
    if (wordWrap() || all.contains(QLatin1Char('\n')) ||
        fontMetrics().horizontalAdvance(all) <= area.width()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    const QString shown = fontMetrics().elidedText(all, Qt::ElideRight, area.width());
    style()->drawItemText(&painter, area, QStyle::visualAlignment(layoutDirection(), alignment()),
                          palette(), isEnabled(), shown, foregroundRole());
}
