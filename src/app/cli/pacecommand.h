#pragma once

#include <QStringList>

// brelvon-cli pace [--settings FILE] [--reset]: the pace kept per host from the marketplace's
// blocks, and when it was learnt; --reset forgets it.
int runPaceCommand(const QStringList &args);
