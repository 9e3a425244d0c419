#pragma once

#include <QPixmap>

// The help window's three pictures, drawn at their fixed sizes: the browser's menu bar with an
// arrow at its Tools menu (337 x 176), its options dialog with an arrow at the Advanced tab
// (398 x 180), and the Advanced tab's settings list with the warning option underlined
// (397 x 360).
QPixmap drawMenuBarPicture();
QPixmap drawOptionsDialogPicture();
QPixmap drawAdvancedSettingsPicture();
