#include "skinborder.h"

#include "allowresize.h"
#include "skinpicture.h"
#include "olecolour.h"
#include "skinload.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace {

// Shown wherever no picture is painted.
constexpr quint32 kBackColor = 0x00DC7E5A;
// Length of the corner zones at the lower end of a border, both ends included.
constexpr int kCornerZone = 10;

bool isDocked(int type)
{
    return type == SkinBorder::Left || type == SkinBorder::Right || type == SkinBorder::Bottom;
}

// The pictures of one paint: side borders hold their top piece in pic1 and the tiled piece in
// pic2; the bottom border its left end, right end and tiled piece in pic1, pic2, pic3.
struct BorderPictures
{
    SkinPicture pic1, pic2, pic3;

    int thickness(int type) const
    {
        return type == SkinBorder::Bottom ? pic3.height() : pic1.width();
    }
};

void loadPictures(int type, const QString &path, BorderPictures &pics)
{
    switch (type) {
    case SkinBorder::Left:
        SkinLoad(path).picture("LEFTTOP", pics.pic1).picture("LEFTMID", pics.pic2);
        break;
    case SkinBorder::Right:
        SkinLoad(path).picture("RIGHTTOP", pics.pic1).picture("RIGHTMID", pics.pic2);
        break;
    case SkinBorder::Bottom:
        SkinLoad(path)
            .picture("LEFTBOT", pics.pic1)
            .picture("RIGHTBOT", pics.pic2)
            .picture("BOTTOM", pics.pic3);
        break;
    default:
        break;
    }
}

} // namespace

SkinBorder::SkinBorder(QWidget *host) : QWidget(host)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    watchHost();
}

void SkinBorder::setBORDERTYPE(int NewBordertype)
{
    m_BorderType = NewBordertype;
    if (!isDocked(m_BorderType))
        return;
    // Docked at the thickness of this type, so that a border set up after its Path does not
    // keep a thickness it took as another type.
    BorderPictures pics;
    loadPictures(m_BorderType, m_Path, pics);
    m_Thickness = pics.thickness(m_BorderType);
    dock();
    redockSiblings();
}

void SkinBorder::setPath(const QString &NewPath)
{
    m_Path = NewPath;
    REDRAW();
}

void SkinBorder::REDRAW()
{
    // A border 0 pixels thick gets no paint events, so its thickness is taken here first.
    loadThickness();
    repaint();
}

void SkinBorder::setDockTop(int px)
{
    m_DockTop = qMax(0, px);
    dock();
}

QRect SkinBorder::dockedGeometry() const
{
    const QWidget *h = host();
    if (!h || !isDocked(m_BorderType))
        return {};
    const int W = h->width();
    const int H = h->height();
    if (m_BorderType == Bottom)
        return {0, H - m_Thickness, W, m_Thickness};

    int bottom = 0;
    const auto siblings = h->findChildren<SkinBorder *>(QString(), Qt::FindDirectChildrenOnly);
    for (const SkinBorder *b : siblings) {
        if (b->m_BorderType == Bottom && !b->isHidden()) {
            bottom = b->m_Thickness;
            break;
        }
    }
    const int top = qMin(m_DockTop, H);
    const int length = qMax(0, H - top - bottom);
    return {m_BorderType == Left ? 0 : W - m_Thickness, top, m_Thickness, length};
}

void SkinBorder::dock()
{
    if (host() && isDocked(m_BorderType))
        setGeometry(dockedGeometry());
}

void SkinBorder::redockSiblings()
{
    if (!host())
        return;
    const auto siblings = host()->findChildren<SkinBorder *>(QString(), Qt::FindDirectChildrenOnly);
    for (SkinBorder *b : siblings) {
        if (b != this && (b->m_BorderType == Left || b->m_BorderType == Right))
            b->dock();
    }
}

void SkinBorder::loadThickness()
{
    BorderPictures pics;
    loadPictures(m_BorderType, m_Path, pics);
    const int thickness = pics.thickness(m_BorderType);
    if (thickness == m_Thickness)
        return;
    m_Thickness = thickness;
    dock();
    if (m_BorderType == Bottom)
        redockSiblings();
}

void SkinBorder::watchHost()
{
    if (m_WatchedHost == host())
        return;
    if (m_WatchedHost)
        m_WatchedHost->removeEventFilter(this);
    m_WatchedHost = host();
    if (m_WatchedHost)
        m_WatchedHost->installEventFilter(this);
}

bool SkinBorder::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_WatchedHost && event->type() == QEvent::Resize && isDocked(m_BorderType)) {
        // The skin cache makes this a file status check; a border 0 pixels thick learns here
        // about a skin file that has gained its pictures.
        loadThickness();
        dock();
    }
    return QWidget::eventFilter(watched, event);
}

bool SkinBorder::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::ParentChange:
        watchHost();
        dock();
        redockSiblings();
        break;
    case QEvent::ShowToParent:
    case QEvent::HideToParent:
        // The side borders end at the bottom border only while it shows.
        if (m_BorderType == Bottom)
            redockSiblings();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void SkinBorder::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), colourFromOle(kBackColor));
    if (!isDocked(m_BorderType))
        return;

    // Fresh pictures on every paint: a replaced skin file shows at once.
    BorderPictures pics;
    loadPictures(m_BorderType, m_Path, pics);
    const int thickness = pics.thickness(m_BorderType);
    if (thickness != m_Thickness) {
        // Not resized inside the paint; this paint uses the size in force, the next the new one.
        QMetaObject::invokeMethod(this, &SkinBorder::loadThickness, Qt::QueuedConnection);
    }

    const int W = width();
    const int H = height();
    if (m_BorderType == Bottom) {
        const int w = pics.pic3.width();
        if (w > 0) {
            for (int x = 0; x < W; x += w)
                pics.pic3.paint(painter, x, 0);
        }
        pics.pic1.paint(painter, 0, 0);
        pics.pic2.paint(painter, W - pics.pic2.width(), 0);
    } else {
        const int h = pics.pic2.height();
        if (h > 0) {
            for (int y = 0; y < H; y += h)
                pics.pic2.paint(painter, 0, y);
        }
        pics.pic1.paint(painter, 0, 0);
    }
}

void SkinBorder::mouseMoveEvent(QMouseEvent *event)
{
    if (m_Following) {
        if (event->buttons() == Qt::NoButton)
            m_Following = false; // the release went elsewhere
        else
            followPointer(event->globalPosition());
        return;
    }
    if (!AllowResize)
        return;

    const qreal X = event->position().x();
    const qreal Y = event->position().y();
    const int W = width();
    const int H = height();
    if (m_BorderType == Bottom) {
        if (0 <= X && X <= kCornerZone) {
            m_HitZone = LowerLeft;
            setCursor(Qt::SizeBDiagCursor);
        } else if (W - kCornerZone <= X && X <= W) {
            m_HitZone = LowerRight;
            setCursor(Qt::SizeFDiagCursor);
        } else {
            m_HitZone = Edge;
            setCursor(Qt::SizeVerCursor);
        }
        return;
    }
    setCursor(Qt::SizeHorCursor);
    m_HitZone = Edge;
    if (H - kCornerZone <= Y && Y <= H) {
        if (m_BorderType == Left) {
            setCursor(Qt::SizeBDiagCursor);
            m_HitZone = LowerLeft;
        } else if (m_BorderType == Right) {
            m_HitZone = LowerRight;
            setCursor(Qt::SizeFDiagCursor);
        }
    }
}

Qt::Edges SkinBorder::edgesForPress() const
{
    switch (m_BorderType) {
    case Left:
        if (m_HitZone == LowerLeft)
            return Qt::BottomEdge | Qt::LeftEdge;
        if (m_HitZone == Edge)
            return Qt::LeftEdge;
        break;
    case Right:
        if (m_HitZone == Edge)
            return Qt::RightEdge;
        if (m_HitZone == LowerRight)
            return Qt::BottomEdge | Qt::RightEdge;
        break;
    case Bottom:
        if (m_HitZone == LowerLeft)
            return Qt::BottomEdge | Qt::LeftEdge;
        if (m_HitZone == Edge)
            return Qt::BottomEdge;
        if (m_HitZone == LowerRight)
            return Qt::BottomEdge | Qt::RightEdge;
        break;
    default:
        break;
    }
    return {};
}

void SkinBorder::mousePressEvent(QMouseEvent *event)
{
    // Any button; the border never passes a press on to its host.
    event->accept();
    if (!AllowResize || m_Following)
        return;
    const Qt::Edges edges = edgesForPress();
    QWidget *h = host();
    if (!edges || !h)
        return;
    m_LastEdges = edges;

    QWindow *window = h->isWindow() ? h->windowHandle() : nullptr;
    if (window && window->startSystemResize(edges))
        return;
    // No sizing loop on this platform (or no window manager): follow the pointer ourselves
    // until the button is released. The press grabbed the mouse for us.
    m_Following = true;
    m_PressGlobal = event->globalPosition();
    m_PressGeometry = h->geometry();
}

void SkinBorder::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (!m_Following)
        return;
    followPointer(event->globalPosition());
    if (event->buttons() == Qt::NoButton)
        m_Following = false;
}

void SkinBorder::followPointer(const QPointF &globalPos)
{
    QWidget *h = host();
    if (!h) {
        m_Following = false;
        return;
    }
    const QPoint delta = (globalPos - m_PressGlobal).toPoint();
    const QSize minSize = h->minimumSize();
    const QSize maxSize = h->maximumSize();
    QRect g = m_PressGeometry;
    if (m_LastEdges & Qt::LeftEdge) {
        // The right edge stays where it was; the left edge takes what the width allows.
        const int width = qBound(minSize.width(), g.width() - delta.x(), maxSize.width());
        g.setLeft(g.x() + g.width() - width);
    }
    if (m_LastEdges & Qt::RightEdge)
        g.setWidth(qBound(minSize.width(), g.width() + delta.x(), maxSize.width()));
    if (m_LastEdges & Qt::BottomEdge)
        g.setHeight(qBound(minSize.height(), g.height() + delta.y(), maxSize.height()));
    if (g != h->geometry())
        h->setGeometry(g);
}
