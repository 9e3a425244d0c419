#include "skin/captionlayout.h"

#include <QtGlobal>

namespace {

// The title starts this far right of XOFFSET, clear of the icon.
constexpr int kTitleIndent = 17;
constexpr int kIconDrop = 2;

} // namespace

CaptionMetrics CaptionMetrics::boundedTo(int width, int height) const
{
    const auto within = [](qint16 value, int limit) {
        return qint16(qBound(0, int(value), limit));
    };
    CaptionMetrics bounded;
    bounded.xOffset = within(xOffset, width);
    bounded.xOffset2 = within(xOffset2, width);
    bounded.fromRight = within(fromRight, width);
    bounded.iconSpace = within(iconSpace, width);
    bounded.yOffset = within(yOffset, height);
    bounded.fromTop = within(fromTop, height);
    return bounded;
}

CaptionLayout::CaptionLayout(QSize bar, const CaptionMetrics &metrics, const Pictures &pictures)
    : m_size(bar), m_metrics(metrics), m_pictures(pictures)
{
}

std::vector<int> CaptionLayout::middleTiles() const
{
    std::vector<int> tiles;
    const int step = m_pictures.middleWidth;
    if (step > 0) {
        for (int x = 0; x < m_size.width(); x += step)
            tiles.push_back(x);
    }
    return tiles;
}

QSize CaptionLayout::pictureSize(Button which) const
{
    switch (which) {
    case Close:
        return m_pictures.close;
    case Minimise:
        return m_pictures.minimise;
    case Maximise:
        return m_pictures.maximise;
    case StayOnTop:
        return m_pictures.stayOnTop;
    }
    return QSize();
}

QRect CaptionLayout::button(Button which) const
{
    const int gap = m_metrics.iconSpace;
    int x = m_size.width() - m_metrics.fromRight - m_pictures.close.width();
    if (which != Close) {
        x -= gap + m_pictures.maximise.width();
        if (which != Maximise) {
            x -= gap + m_pictures.minimise.width();
            if (which != Minimise)
                x -= gap + m_pictures.stayOnTop.width();
        }
    }
    return QRect(QPoint(x, m_metrics.fromTop), pictureSize(which));
}

QPoint CaptionLayout::title() const
{
    return QPoint(qMin(m_metrics.xOffset + kTitleIndent, m_size.width()), m_metrics.yOffset);
}

QPoint CaptionLayout::icon() const
{
    return QPoint(m_metrics.xOffset2, qMin(m_metrics.yOffset + kIconDrop, m_size.height()));
}

// Compared in float, the precision the bar follows the pointer in.
bool CaptionLayout::inButtonBand(QPointF at) const
{
    const float y = float(at.y());
    return m_metrics.fromTop < y && y < m_metrics.fromTop + m_pictures.close.height();
}

std::optional<CaptionLayout::Button> CaptionLayout::buttonAt(QPointF at) const
{
    if (!inButtonBand(at))
        return std::nullopt;
    const float x = float(at.x());
    for (Button which : {Close, Maximise, Minimise, StayOnTop}) {
        const QRect place = button(which);
        if (place.x() < x && x < place.x() + place.width())
            return which;
    }
    return std::nullopt;
}
