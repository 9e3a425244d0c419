#pragma once

#include <QStringList>

// brelvon-cli watch [--settings FILE] [FOLDER]: checks every order export that appears in the
// folder until Ctrl-C.
int runWatchCommand(const QStringList &args);
