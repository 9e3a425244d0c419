#pragma once

#include <QString>

// The caption of the program's message boxes.
inline QString programTitle()
{
    return QStringLiteral("Brelvon");
}
