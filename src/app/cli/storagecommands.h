#pragma once

#include <QStringList>

// brelvon-cli history [--settings FILE] [--database FILE] [--since DATE] [--json|--csv] [ID...]:
// past lookups, newest first.
int runHistoryCommand(const QStringList &args);

// brelvon-cli note add ID TEXT [--blacklist|--trusted] | note remove ID | note list: the seller's
// notes and marks.
int runNoteCommand(const QStringList &args);

// brelvon-cli blacklist import FILE | blacklist export FILE: the blacklist as CSV.
int runBlacklistCommand(const QStringList &args);

// brelvon-cli review [--json] [--all] | review done ORDER [NOTE]: the orders of 高 buyers
// waiting for the seller's decision.
int runReviewCommand(const QStringList &args);
