#pragma once

#include "model/sellerdata.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Lookups as a CSV table for spreadsheet programs: UTF-8 with a byte order mark (so they read
// the Chinese), the batch table's columns between the time and the page outcomes. A value that
// a spreadsheet would run gets a leading apostrophe (files/csvwriter.h).
QByteArray historyCsv(const QList<StoredLookup> &lookups);

// The page outcomes of a lookup in one short text: "ok; ok; timeout; …".
QString pageOutcomesText(const QList<StoredPage> &pages);
