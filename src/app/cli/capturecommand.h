#pragma once

#include <QStringList>

// brelvon-cli capture [query options] ID --out DIR: one lookup, and everything it read saved into
// DIR (see files/capturefolder.h). Exits like query: CliNotLookedUp when the lookup came to
// anything but found or not found (the capture is written all the same).
int runCaptureCommand(const QStringList &args);

// brelvon-cli check-config [--expect] [--json] CONFIG CAPTURE... and check-config --diff OLD NEW:
// a configuration file's findings, its page rules run over captures, or two configurations
// compared. Exits with CliUsage for unreadable or unusable input (a configuration with errors
// included), CliFailed with --expect when a field differs from the capture's record.
int runCheckConfigCommand(const QStringList &args);
