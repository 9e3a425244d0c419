#pragma once

#include <QFont>

// The Song typeface the window's texts are set in, or the nearest installed CJK family:
// "宋体" where it exists, else a Noto CJK family. pixelSize: 12 for 9 pt, 16 for 12 pt.
QFont cjkFont(int pixelSize);
