#pragma once

#include "model/buyercreditrecord.h"

#include <QStringList>

// brelvon-cli query [--settings FILE] [--demo] [--parallel-pages] [--verbose] ID...: one JSON
// object per id on stdout, in the order of the ids. Exits with CliNotLookedUp when some id could
// not be looked up (a status other than found and not found).
int runQueryCommand(const QStringList &args);

// A JSON string literal; everything beyond the escapes JSON requires goes out as is (UTF-8).
QString jsonString(const QString &text);
// The record's twelve fields in their order, under their own names, as one JSON object.
QString recordJson(const BuyerCreditRecord &record);
