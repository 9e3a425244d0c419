#pragma once

#include <QColor>

// Colours of skins and frame control properties are OLE colour values: 0x00BBGGRR for a plain
// colour (red in the low byte); with the high bit set, the low byte names a system colour
// (0x80000012 is the colour of button text).
QColor colourFromOle(quint32 ole);
// The plain OLE value of a colour (its alpha is dropped).
quint32 oleFromColour(const QColor &colour);
