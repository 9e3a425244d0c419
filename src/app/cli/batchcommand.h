#pragma once

#include <QStringList>

// brelvon-cli batch [--settings FILE] [--demo] [--jobs N] [--pace MS] [--parallel-pages]
// [--verbose] IDFILE --xlsx OUT: queries every id of the id file and saves the table to OUT;
// progress on stderr.
int runBatchCommand(const QStringList &args);
