#include "clsbitmap.h"

#include "skinstore.h"

#include <QFile>
#include <QPainter>

bool clsBitmap::LoadFile(const QString &FileName)
{
    Cleanup();
    QFile file(FileName);
    if (file.size() > kSkinMaxEntryBytes || !file.open(QIODevice::ReadOnly))
        return false;
    const QImage image = SkinStore::decodePicture(file.read(kSkinMaxEntryBytes + 1));
    if (image.isNull())
        return false;
    return CreateMemoryDC(QPixmap::fromImage(image.convertToFormat(QImage::Format_RGB32)));
}

bool clsBitmap::LoadResource(QImage picture)
{
    Cleanup();
    if (picture.isNull())
        return false;
    // A bitmap is opaque: an alpha channel would let the opaque copy punch holes in the surface.
    if (picture.hasAlphaChannel())
        picture = picture.convertToFormat(QImage::Format_RGB32);
    return CreateMemoryDC(QPixmap::fromImage(std::move(picture)));
}

bool clsBitmap::LoadResource(QPixmap picture)
{
    Cleanup();
    if (picture.isNull())
        return false;
    if (picture.hasAlphaChannel())
        return CreateMemoryDC(
            QPixmap::fromImage(picture.toImage().convertToFormat(QImage::Format_RGB32)));
    return CreateMemoryDC(std::move(picture));
}

bool clsBitmap::CreateMemoryDC(QPixmap pixmap)
{
    if (pixmap.isNull())
        return false;
    m_hDC = std::move(pixmap);
    // Sizes in device-independent pixels, the unit the frame controls lay out in.
    const QSizeF size = m_hDC.deviceIndependentSize();
    m_Width = qRound(size.width());
    m_Height = qRound(size.height());
    return true;
}

void clsBitmap::Cleanup()
{
    // The size stays: after a failed load Width and Height still give the previous picture's.
    m_hDC = QPixmap();
}

void clsBitmap::Paint(QPainter &destdc, int DestX, int DestY) const
{
    if (m_hDC.isNull())
        return;
    const QPainter::CompositionMode mode = destdc.compositionMode();
    destdc.setCompositionMode(QPainter::CompositionMode_Source);
    destdc.drawPixmap(DestX, DestY, m_hDC);
    destdc.setCompositionMode(mode);
}
