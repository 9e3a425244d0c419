#pragma once

#include "model/buyercreditrecord.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// What the seller's database keeps: completed lookups, the seller's notes and marks, the
// entries of a shared blacklist, and the orders waiting for review.

// One page fetch of a stored lookup.
struct StoredPage
{
    QString outcome; // as PageResult::outcomeText() says it
    int status = 0;
    qint64 bytes = 0;
    qint64 elapsedMs = 0;
    QString address;
};

// One completed lookup as the history keeps it.
struct StoredLookup
{
    qint64 rowId = 0;
    QDateTime time; // when it completed
    BuyerCreditRecord record;
    QList<StoredPage> pages;
};

// How the seller has marked a buyer.
enum class ListMark { None, Blacklist, Trusted };
// "", "blacklist", "trusted": the words of the command line and of the JSON.
QString listMarkName(ListMark mark);

// What the seller keeps about one buyer.
struct BuyerNote
{
    QString buyerId;
    QString note; // the seller's own words
    ListMark listed = ListMark::None;
    QString reason; // why the buyer is blacklisted
    QDate listedOn; // when the buyer was listed (invalid: not known)
    QDateTime updated;

    bool isEmpty() const { return note.isEmpty() && listed == ListMark::None; }
};

// A buyer id of a shared blacklist is at most this long.
constexpr int kMaxBlacklistIdLength = 100;

// One buyer of a shared blacklist.
struct BlacklistEntry
{
    QString buyerId;
    QString reason;
    QDate date;   // invalid: not given
    int line = 0; // where the entry starts in the file, from 1
};

// An order waiting for the seller's decision: its buyer was judged high risk by a batch of an
// order export or a watched file.
struct ReviewEntry
{
    qint64 rowId = 0;
    QString orderNumber; // empty when the export has no order numbers
    QString buyerId;
    QStringList reasons;
    QString source;    // the order export it came from
    QDateTime queued;  // when it was queued
    QDateTime handled; // when the seller marked it handled (invalid: still waiting)
    QString note;      // the seller's note on handling it

    bool isHandled() const { return handled.isValid(); }
};
