#pragma once

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>

#include <optional>
#include <vector>

// The skin's numbers that place things on the caption bar, in pixels, named as in skin.ini.
struct CaptionMetrics
{
    qint16 xOffset = 0;   // XOFFSET: the title starts 17 pixels right of it
    qint16 xOffset2 = 0;  // XOFFSET2: the icon's left edge
    qint16 yOffset = 0;   // YOFFSET: the title's top; the icon sits 2 pixels lower
    qint16 fromRight = 0; // FROMRIGHT: room right of the close button
    qint16 fromTop = 0;   // FROMTOP: the buttons' top
    qint16 iconSpace = 0; // ICONSPACE: the gap between two buttons

    // The numbers held within a bar of that size (x ones within [0, width], y ones within
    // [0, height]), so that a far-out skin cannot place anything outside its bar.
    CaptionMetrics boundedTo(int width, int height) const;
};

// Where everything on a caption bar goes, for a bar of a given size wearing pictures of given
// sizes: the left end at the origin, the middle tiled from x = 0, the right end flush right, the
// buttons right to left (close, maximise/restore, minimise, stay-on-top), the title and the icon.
// Pure arithmetic in the bar's pixels; what is drawn and what a button does is the bar's business.
class CaptionLayout
{
public:
    // The buttons; SkinCaptionBar::CaptionButton takes its numbers from these.
    enum Button { Close = 0, Minimise = 1, Maximise = 2, StayOnTop = 3 };

    // The sizes of the pictures the bar shows now; a picture the skin lacks is 0 x 0.
    struct Pictures
    {
        int middleWidth = 0; // TOPMID, the tile
        int rightWidth = 0;  // TOPRIGHT
        QSize close{0, 0}, maximise{0, 0}, minimise{0, 0}, stayOnTop{0, 0};
    };

    // height is the bar's own (its TOPLEFT picture's, capped), not its widget's.
    CaptionLayout(QSize bar, const CaptionMetrics &metrics, const Pictures &pictures);

    QSize size() const { return m_size; }
    const CaptionMetrics &metrics() const { return m_metrics; }

    // Left edges of the middle tiles, each at y = 0, covering the width (none for an empty tile).
    std::vector<int> middleTiles() const;
    QPoint rightEnd() const { return QPoint(m_size.width() - m_pictures.rightWidth, 0); }

    // A button's place at the size of its current picture. Each button's room is kept whether or
    // not it is drawn: stay-on-top always stands left of maximise and minimise.
    QRect button(Button which) const;

    QPoint title() const;
    QPoint titleShadow() const { return title() - QPoint(1, 1); }
    QPoint icon() const;

    // The pointer reaches the buttons only within the band between the close button's top and
    // bottom edges, both excluded; the band spans the whole bar.
    bool inButtonBand(QPointF at) const;
    // The button whose zone holds at: within the band, strictly between the button's left and
    // right edges. Nothing in the gaps, at the edges, or outside the band.
    std::optional<Button> buttonAt(QPointF at) const;

private:
    QSize pictureSize(Button which) const;

    QSize m_size;
    CaptionMetrics m_metrics;
    Pictures m_pictures;
};
