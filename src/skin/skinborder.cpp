#include "skin/skinborder.h"

#include "skin/olecolour.h"
#include "skin/skinload.h"
#include "skin/skinpicture.h"

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
}

void SkinBorder::setBorderType(int type)
{
    if (type == m_borderType)
        return;
    m_borderType = type;
    // The thickness of this type's pictures, so that a border set up after its skin file does
    // not keep a thickness it took as another type.
    BorderPictures pics;
    loadPictures(m_borderType, m_skinFile, pics);
    m_thickness = isDocked(m_borderType) ? pics.thickness(m_borderType) : 0;
    emit thicknessChanged();
}

void SkinBorder::setSkinFile(const QString &path)
{
    m_skinFile = path;
    REDRAW();
}

void SkinBorder::REDRAW()
{
    // A border 0 pixels thick gets no paint events, so its thickness is taken here first.
    reloadThickness();
    repaint();
}

void SkinBorder::reloadThickness()
{
    BorderPictures pics;
    loadPictures(m_borderType, m_skinFile, pics);
    const int thickness = pics.thickness(m_borderType);
    if (thickness == m_thickness)
        return;
    m_thickness = thickness;
    emit thicknessChanged();
}

void SkinBorder::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), colourFromOle(kBackColor));
    if (!isDocked(m_borderType))
        return;

    // Fresh pictures on every paint: a replaced skin file shows at once.
    BorderPictures pics;
    loadPictures(m_borderType, m_skinFile, pics);
    const int thickness = pics.thickness(m_borderType);
    if (thickness != m_thickness) {
        // Not resized inside the paint; this paint uses the size in force, the next the new one.
        QMetaObject::invokeMethod(this, &SkinBorder::reloadThickness, Qt::QueuedConnection);
    }

    const int W = width();
    const int H = height();
    if (m_borderType == Bottom) {
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
    if (m_following) {
        if (event->buttons() == Qt::NoButton)
            m_following = false; // the release went elsewhere
        else
            followPointer(event->globalPosition());
        return;
    }
    if (!m_resizeEnabled)
        return;

    const qreal X = event->position().x();
    const qreal Y = event->position().y();
    const int W = width();
    const int H = height();
    if (m_borderType == Bottom) {
        if (0 <= X && X <= kCornerZone) {
            m_hitZone = LowerLeft;
            setCursor(Qt::SizeBDiagCursor);
        } else if (W - kCornerZone <= X && X <= W) {
            m_hitZone = LowerRight;
            setCursor(Qt::SizeFDiagCursor);
        } else {
            m_hitZone = Edge;
            setCursor(Qt::SizeVerCursor);
        }
        return;
    }
    setCursor(Qt::SizeHorCursor);
    m_hitZone = Edge;
    if (H - kCornerZone <= Y && Y <= H) {
        if (m_borderType == Left) {
            setCursor(Qt::SizeBDiagCursor);
            m_hitZone = LowerLeft;
        } else if (m_borderType == Right) {
            m_hitZone = LowerRight;
            setCursor(Qt::SizeFDiagCursor);
        }
    }
}

Qt::Edges SkinBorder::edgesForPress() const
{
    switch (m_borderType) {
    case Left:
        if (m_hitZone == LowerLeft)
            return Qt::BottomEdge | Qt::LeftEdge;
        if (m_hitZone == Edge)
            return Qt::LeftEdge;
        break;
    case Right:
        if (m_hitZone == Edge)
            return Qt::RightEdge;
        if (m_hitZone == LowerRight)
            return Qt::BottomEdge | Qt::RightEdge;
        break;
    case Bottom:
        if (m_hitZone == LowerLeft)
            return Qt::BottomEdge | Qt::LeftEdge;
        if (m_hitZone == Edge)
            return Qt::BottomEdge;
        if (m_hitZone == LowerRight)
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
    if (!m_resizeEnabled || m_following)
        return;
    const Qt::Edges edges = edgesForPress();
    QWidget *h = parentWidget();
    if (!edges || !h)
        return;
    m_lastEdges = edges;

    QWindow *window = h->isWindow() ? h->windowHandle() : nullptr;
    if (window && window->startSystemResize(edges))
        return;
    // No sizing loop on this platform (or no window manager): follow the pointer ourselves
    // until the button is released. The press grabbed the mouse for us.
    m_following = true;
    m_pressGlobal = event->globalPosition();
    m_pressGeometry = h->geometry();
}

void SkinBorder::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (!m_following)
        return;
    followPointer(event->globalPosition());
    if (event->buttons() == Qt::NoButton)
        m_following = false;
}

void SkinBorder::followPointer(const QPointF &globalPos)
{
    QWidget *h = parentWidget();
    if (!h) {
        m_following = false;
        return;
    }
    const QPoint delta = (globalPos - m_pressGlobal).toPoint();
    const QSize minSize = h->minimumSize();
    const QSize maxSize = h->maximumSize();
    QRect g = m_pressGeometry;
    if (m_lastEdges & Qt::LeftEdge) {
        // The right edge stays where it was; the left edge takes what the width allows.
        const int width = qBound(minSize.width(), g.width() - delta.x(), maxSize.width());
        g.setLeft(g.x() + g.width() - width);
    }
    if (m_lastEdges & Qt::RightEdge)
        g.setWidth(qBound(minSize.width(), g.width() + delta.x(), maxSize.width()));
    if (m_lastEdges & Qt::BottomEdge)
        g.setHeight(qBound(minSize.height(), g.height() + delta.y(), maxSize.height()));
    if (g != h->geometry())
        h->setGeometry(g);
}
