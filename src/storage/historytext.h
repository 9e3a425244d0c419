#pragma once

#include "model/batchrow.h"
#include "storage/sellerdatabase.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The line the window shows for a buyer seen before: when, and what changed since, for example
// "上次查询 2026-11-02：好评 120→128，给他人差评 0→2", or "…：没有变化". A field empty on either
// side (a page that gave nothing) is no change; "" unless both lookups found the buyer (read their
// credit page).
QString lastLookupLine(const StoredLookup &previous, const BuyerCreditRecord &current);

// The warning for a blacklisted buyer, "黑名单：reason" (the window's red line and the batch
// table's mark); empty for any other buyer.
QString blacklistMark(const BuyerNote &note);

// What the risk verdict takes from the seller's note: a blacklisted buyer, and why.
SellerNotes sellerNotes(const BuyerNote &note);

// The seller's note on a batch table's row: a blacklisted buyer's row is marked, and the extra
// columns get the mark ("黑名单：reason", "信任") and the note.
void applySellerNote(BatchRow *row, const BuyerNote &note);
