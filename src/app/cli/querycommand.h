#pragma once

#include "lookup/backgroundjob.h"
#include "model/buyercreditrecord.h"

#include <QStringList>

// brelvon-cli query [--settings FILE] [--demo] [--parallel-pages] [--verbose] ID...: one JSON
// object per id on stdout, in the order of the ids.
int runQueryCommand(const QStringList &args);

// Runs the work on a worker thread while this thread's event loop serves (an in-process demo
// site, Ctrl-C). CliOk, or CliInterrupted when Ctrl-C cancelled it.
int runJob(BackgroundJob::Work work);

// A JSON string literal; everything beyond the escapes JSON requires goes out as is (UTF-8).
QString jsonString(const QString &text);
// The record's twelve fields in their order, under their own names, as one JSON object.
QString recordJson(const BuyerCreditRecord &record);
