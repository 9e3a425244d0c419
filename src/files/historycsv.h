#pragma once

#include "model/sellerdata.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Lookups as a CSV table for spreadsheet programs: UTF-8 with a byte order mark (so they read
// the Chinese), the batch table's columns between the time and the page outcomes. A value that
// a spreadsheet would run gets a leading apostrophe (files/csvwriter.h).
QByteArray historyCsv(const QList<StoredLookup> &lookups);

// The page outcomes of a lookup in one short text, in the table's words: "正常；正常；超时；…"
// (with the detail of a failure: "网络错误：…").
QString pageOutcomesText(const QList<StoredPage> &pages);
