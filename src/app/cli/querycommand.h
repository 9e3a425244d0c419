#pragma once

#include <QStringList>

// brelvon-cli query [--settings FILE] [--demo] ID...: one JSON object per id on stdout.
int runQueryCommand(const QStringList &args);
