#include "skin/olecolour.h"

#include <QGuiApplication>
#include <QPalette>

namespace {

QColor systemColour(quint32 index)
{
    const QPalette palette = qobject_cast<QGuiApplication *>(QCoreApplication::instance())
                                 ? QGuiApplication::palette()
                                 : QPalette();
    switch (index) {
    case 0x01: // desktop
    case 0x02: // active caption
    case 0x0D: // highlight
        return palette.color(QPalette::Highlight);
    case 0x05: // window background
        return palette.color(QPalette::Base);
    case 0x08: // window text
        return palette.color(QPalette::WindowText);
    case 0x09: // caption text
    case 0x0E: // highlight text
        return palette.color(QPalette::HighlightedText);
    case 0x0F: // button face
        return palette.color(QPalette::Button);
    case 0x10: // button shadow
        return palette.color(QPalette::Dark);
    case 0x11: // grey text
        return palette.color(QPalette::Disabled, QPalette::Text);
    case 0x12: // button text
        return palette.color(QPalette::ButtonText);
    case 0x14: // button highlight
        return palette.color(QPalette::Light);
    case 0x17: // tooltip text
        return palette.color(QPalette::ToolTipText);
    case 0x18: // tooltip background
        return palette.color(QPalette::ToolTipBase);
    default:
        return palette.color(QPalette::Window);
    }
}

} // namespace

QColor colourFromOle(quint32 ole)
{
    if (ole & 0x80000000u)
        return systemColour(ole & 0xFF);
    return QColor(int(ole & 0xFF), int(ole >> 8 & 0xFF), int(ole >> 16 & 0xFF));
}

quint32 oleFromColour(const QColor &colour)
{
    const QRgb rgb = colour.rgb();
    return quint32(qBlue(rgb)) << 16 | quint32(qGreen(rgb)) << 8 | quint32(qRed(rgb));
}
