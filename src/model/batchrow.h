#pragma once

#include "model/buyercreditrecord.h"
#include "model/lookupstatus.h"
#include "model/riskverdict.h"
#include "web/pageresult.h"

#include <QList>
#include <QString>
#include <QStringList>

// One row of the table: the id as read from the id file and what its query delivered.
struct BatchRow
{
    QString id;
    BuyerCreditRecord record;
    PageResults pages = {}; // what the query's page fetches did: only the extra columns read it
    LookupStatus status = LookupStatus::Found; // the extra columns say it before the pages
    // The seller's own word on the buyer. Blacklisted (seller.listed, the reason in seller.note):
    // the row in red with sellerMark as the id cell's note, and the verdict high.
    SellerNotes seller = {};
    QString sellerMark = {}; // "黑名单：reason", "信任" or empty: an extra column
    QString sellerNote = {}; // the seller's note: an extra column
    // The verdict on the buyer, for the risk order, the row's colour and the summary sheet.
    RiskLevel risk = RiskLevel::Unknown;
    QStringList reasons = {}; // the verdict's reasons: the review queue keeps them
    // From an order file: the buyer's orders and their numbers (the order columns).
    int orders = 0;
    QStringList orderNumbers = {}; // the first ones, as kept from the file
    int orderNumberCount = 0;      // all of them (0: as many as orderNumbers)
    // Taken from the history, this many minutes old (-1: looked up now).
    int reusedMinutes = -1;
    // Why the buyer was never looked up (empty: it was): the row says it instead of a name.
    QString unread = {};
};

// The twelve column headers, in column order.
const QStringList &batchTableHeaders();
// The headers of the extra columns.
const QStringList &batchTableExtraHeaders();
// The headers of the order columns: "订单数", "订单编号".
const QStringList &batchTableOrderHeaders();

// Orders the rows for action: 高 first, then 未知, 中, 低, the file's order kept within each.
void sortRowsByRisk(QList<BatchRow> *rows);
