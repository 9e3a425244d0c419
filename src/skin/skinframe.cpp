#include "skin/skinframe.h"

#include <QEvent>
#include <QPolygon>
#include <QRegion>

#include <cmath>

namespace {

constexpr int kTwipsPerPixel = 15;

// Twips to whole pixels by the fixed factor of 15, halves to the even neighbour.
int shapePixels(double twips)
{
    return int(std::nearbyint(twips / kTwipsPerPixel));
}

} // namespace

SkinFrame::SkinFrame(QWidget *window) : QObject(window), m_window(window)
{
    m_captionBar = new SkinCaptionBar(window);
    m_captionBar->setObjectName(QStringLiteral("JSCAPTION1"));
    const std::pair<SkinBorder **, SkinBorder::BorderType> borders[] = {
        {&m_left, SkinBorder::Left},
        {&m_right, SkinBorder::Right},
        {&m_bottom, SkinBorder::Bottom}};
    int n = 1;
    for (const auto &[border, type] : borders) {
        *border = new SkinBorder(window);
        (*border)->setObjectName(QStringLiteral("JSBORDER%1").arg(n++));
        (*border)->setBorderType(type);
        connect(*border, &SkinBorder::thicknessChanged, this, &SkinFrame::dock);
    }
    // The frame lies over the content's edges.
    for (QWidget *w : {static_cast<QWidget *>(m_left), static_cast<QWidget *>(m_right),
                       static_cast<QWidget *>(m_bottom), static_cast<QWidget *>(m_captionBar)})
        w->raise();
    m_lastMode = m_captionBar->windowMode();
    connect(m_captionBar, &SkinCaptionBar::windowModeChanged, this,
            &SkinFrame::onWindowModeChanged);
    connect(m_captionBar, &SkinCaptionBar::barHeightChanged, this, &SkinFrame::dock);
    connect(m_captionBar, &SkinCaptionBar::captionStyleChanged, this, &SkinFrame::applyModeRules);
    window->installEventFilter(this);
    m_captionBar->noteWindowBounds();
    applyModeRules();
    dock();
}

SkinFrame::~SkinFrame()
{
    if (m_window)
        m_window->removeEventFilter(this);
}

SkinBorder *SkinFrame::border(SkinBorder::BorderType type) const
{
    switch (type) {
    case SkinBorder::Left:
        return m_left;
    case SkinBorder::Right:
        return m_right;
    case SkinBorder::Bottom:
        return m_bottom;
    default:
        return nullptr;
    }
}

void SkinFrame::setSkinFile(const QString &path)
{
    // The caption bar first, then the three borders; each loads the file itself, and a missing
    // file leaves the frame without pictures.
    m_captionBar->setSkinFile(path);
    for (SkinBorder *border : {m_left, m_right, m_bottom})
        border->setSkinFile(path);
}

void SkinFrame::setNormalMinimumSize(QSize size)
{
    m_normalMinimum = size;
    applyModeRules();
}

SkinFrame::WindowMode SkinFrame::windowMode() const
{
    return m_captionBar->windowMode();
}

bool SkinFrame::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window)
        return false;
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::WindowStateChange:
        // A window the platform maximised becomes a normal window held maximised by the bar;
        // minimised and restored windows change the bar's mode.
        m_captionBar->followWindowState();
        applyModeRules();
        break;
    case QEvent::Resize:
        m_captionBar->noteWindowBounds();
        dock();
        applyModeRules();
        break;
    case QEvent::Move:
        m_captionBar->noteWindowBounds();
        break;
    case QEvent::WindowTitleChange:
    case QEvent::WindowIconChange:
        m_captionBar->showTitleAndIcon();
        break;
    default:
        break;
    }
    return false;
}

void SkinFrame::onWindowModeChanged()
{
    applyModeRules();
    dock();
    const WindowMode mode = windowMode();
    if (mode != m_lastMode) {
        m_lastMode = mode;
        emit windowModeChanged(mode);
    }
}

void SkinFrame::applyModeRules()
{
    if (!m_window)
        return;
    const WindowMode mode = windowMode();
    const bool maximised = mode == SkinCaptionBar::Maximised;

    m_resizeAllowed = !maximised && m_captionBar->captionStyle() == SkinCaptionBar::AllButtons;
    for (SkinBorder *border : {m_left, m_right, m_bottom}) {
        border->setVisible(!maximised);
        border->setResizeEnabled(m_resizeAllowed);
    }

    if (mode == SkinCaptionBar::Normal) {
        const QPolygon shape = normalShape(m_window->frameGeometry().size());
        const QRegion mask(shape, Qt::WindingFill);
        if (m_window->mask() != mask)
            m_window->setMask(mask);
    } else if (!m_window->mask().isEmpty()) {
        m_window->clearMask();
    }

    // The minimum size holds in the normal mode only; a window held maximised over a small work
    // area may be smaller. As a minimum it also holds while a border resizes the window.
    if (m_normalMinimum.isEmpty())
        return;
    if (mode == SkinCaptionBar::Normal) {
        m_window->setMinimumSize(m_normalMinimum);
        if (m_window->width() < m_normalMinimum.width() ||
            m_window->height() < m_normalMinimum.height())
            m_window->resize(m_window->size().expandedTo(m_normalMinimum));
    } else {
        m_window->setMinimumSize(0, 0);
    }
}

void SkinFrame::dock()
{
    if (!m_window)
        return;
    const int W = m_window->width();
    const int H = m_window->height();
    const int top = qMin(m_captionBar->barHeight(), H);
    m_captionBar->setGeometry(0, 0, W, top);
    for (SkinBorder *border : {m_left, m_right, m_bottom})
        border->reloadThickness();
    const int bottom = m_bottom->isHidden() ? 0 : m_bottom->thickness();
    m_bottom->setGeometry(0, H - m_bottom->thickness(), W, m_bottom->thickness());
    const int length = qMax(0, H - top - bottom);
    m_left->setGeometry(0, top, m_left->thickness(), length);
    m_right->setGeometry(W - m_right->thickness(), top, m_right->thickness(), length);
}

QPolygon SkinFrame::normalShape(QSize outerSize)
{
    // The two top corners are cut: 3 x 3 pixels at the left, 3 wide and 4 high at the right.
    const double widthTwips = double(outerSize.width()) * kTwipsPerPixel;
    const double heightTwips = double(outerSize.height()) * kTwipsPerPixel;
    const int W = shapePixels(widthTwips);
    const int H = shapePixels(heightTwips);
    const int R = shapePixels(widthTwips - 45);
    return QPolygon({QPoint(0, H), QPoint(0, 3), QPoint(3, 0), QPoint(R, 0), QPoint(W, 4),
                     QPoint(W, H), QPoint(0, H)});
}
