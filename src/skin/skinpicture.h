#pragma once

#include <QImage>
#include <QPixmap>
#include <QString>

class QPainter;

// One skin picture held ready for drawing: the frame controls keep every picture in one of these
// and copy it opaquely, at its own size, onto their surface. Needs a QGuiApplication (it holds a
// QPixmap).
//
// Lifecycle: empty until a load succeeds. Every load first empties the object, so loading again
// replaces the picture. A failed load leaves the object empty (pixmap() null) but width() and
// height() keep the size of the picture held before, as callers of the frame controls expect.
class SkinPicture
{
public:
    SkinPicture() = default;

    // Loads a picture file (PNG or BMP, within the skin size bounds). False when it cannot.
    bool loadFile(const QString &fileName);
    // Takes the picture over. A null picture is the "no picture" case: returns false.
    bool load(QImage picture);
    bool load(QPixmap picture);

    int width() const { return m_width; }
    int height() const { return m_height; }
    // The drawable source; a null pixmap while the object is empty.
    const QPixmap &pixmap() const { return m_pixmap; }
    bool isEmpty() const { return m_pixmap.isNull(); }

    // Copies the whole picture, opaque, with its top-left corner at (x, y). Nothing happens when
    // the object is empty.
    void paint(QPainter &painter, int x, int y) const;

private:
    bool take(QPixmap pixmap);
    void clear();

    QPixmap m_pixmap;
    int m_width = 0;
    int m_height = 0;
};
