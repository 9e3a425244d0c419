#include "skin/skinpicture.h"

#include "skin/skinstore.h"

#include <QFile>
#include <QPainter>

bool SkinPicture::loadFile(const QString &fileName)
{
    clear();
    QFile file(fileName);
    if (file.size() > kSkinMaxEntryBytes || !file.open(QIODevice::ReadOnly))
        return false;
    const QImage image = SkinStore::decodePicture(file.read(kSkinMaxEntryBytes + 1));
    if (image.isNull())
        return false;
    return take(QPixmap::fromImage(image.convertToFormat(QImage::Format_RGB32)));
}

bool SkinPicture::load(QImage picture)
{
    clear();
    if (picture.isNull())
        return false;
    // A bitmap is opaque: an alpha channel would let the opaque copy punch holes in the surface.
    if (picture.hasAlphaChannel())
        picture = picture.convertToFormat(QImage::Format_RGB32);
    return take(QPixmap::fromImage(std::move(picture)));
}

bool SkinPicture::load(QPixmap picture)
{
    clear();
    if (picture.isNull())
        return false;
    if (picture.hasAlphaChannel())
        return take(QPixmap::fromImage(picture.toImage().convertToFormat(QImage::Format_RGB32)));
    return take(std::move(picture));
}

bool SkinPicture::take(QPixmap pixmap)
{
    if (pixmap.isNull())
        return false;
    m_pixmap = std::move(pixmap);
    // Sizes in device-independent pixels, the unit the frame controls lay out in.
    const QSizeF size = m_pixmap.deviceIndependentSize();
    m_width = qRound(size.width());
    m_height = qRound(size.height());
    return true;
}

void SkinPicture::clear()
{
    // The size stays: after a failed load width() and height() still give the previous picture's.
    m_pixmap = QPixmap();
}

void SkinPicture::paint(QPainter &painter, int x, int y) const
{
    if (m_pixmap.isNull())
        return;
    const QPainter::CompositionMode mode = painter.compositionMode();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawPixmap(x, y, m_pixmap);
    painter.setCompositionMode(mode);
}
