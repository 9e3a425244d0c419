#pragma once

#include <QString>

// The caption of the program's message boxes.
inline QString programTitle()
{
    return QStringLiteral("Brelvon");
}

class QMessageBox;
// Widens a message box so its caption shows whole: a box with a short text is narrower than the
// window manager's title needs, which then cuts "Brelvon" to "B…".
void fitTitle(QMessageBox *box);
