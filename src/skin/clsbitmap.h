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
// replaces the picture. A failed load leaves the object empty (hdc() null) but Width() and
// Height() keep the size of the picture held before, as callers of the frame controls expect.
class clsBitmap
{
public:
    clsBitmap() = default;

    // Loads a picture file (PNG or BMP, within the skin size bounds). False when it cannot.
    bool LoadFile(const QString &FileName);
    // Takes the picture over. A null picture is the "no picture" case: returns false.
    bool LoadResource(QImage picture);
    bool LoadResource(QPixmap picture);

    int Width() const { return m_Width; }
    int Height() const { return m_Height; }
    // The drawable source; a null pixmap while the object is empty.
    const QPixmap &hdc() const { return m_hDC; }
    bool isEmpty() const { return m_hDC.isNull(); }

    // Copies the whole picture, opaque, with its top-left corner at (DestX, DestY). Nothing
    // happens when the object is empty.
    void Paint(QPainter &destdc, int DestX, int DestY) const;

private:
    bool CreateMemoryDC(QPixmap pixmap);
    void Cleanup();

    QPixmap m_hDC;
    int m_Width = 0;
    int m_Height = 0;
};
