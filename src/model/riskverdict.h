#pragma once

#include "model/buyercreditrecord.h"
#include "web/pageresult.h"

#include <QDate>
#include <QString>
#include <QStringList>

// The thresholds of the risk verdict, [risk] in the settings file.
struct RiskSettings
{
    int newAccountDays = 90;         // a reason: registered fewer days ago than this (0: never)
    double minGoodRate = 97;         // a reason: a good rate (percent) below this
    int badGivenAtLeast = 3;         // a reason: this many bad ratings given to others, or more
    int minCreditScore = 4;          // a reason: a credit score below this
    bool requireVerification = true; // a reason: no verification at all
    int highAtReasons = 2;           // this many reasons make the verdict high
};

// What the seller keeps about a buyer, where the program has it: a place on the seller's own
// blacklist and a note. A listed buyer is high risk whatever the pages say.
struct SellerNotes
{
    bool listed = false;
    QString note;
};

enum class RiskLevel { Low, Medium, High, Unknown };

struct RiskVerdict
{
    RiskLevel level = RiskLevel::Unknown;
    QStringList reasons;  // short sentences, each with its figure, in a fixed order
    bool blocked = false; // a page of the buyer was a block page
};

// "低", "中", "高", "未知".
QString riskLevelText(RiskLevel level);

// The registration date in the formats the pages write it: 2008-03-15, 2008/3/15 or
// 2008年3月15日, optionally followed by a blank and a time. An invalid date for any other text.
QDate parseRegistrationDate(const QString &text);

// The verdict on a buyer from what the query read: the record, and its pages' outcomes (a page
// that was a block page). Every reason the record shows is listed; the level is high with
// `highAtReasons` reasons or more (or a listed buyer), otherwise unknown when a page was blocked
// or a figure the verdict rests on is missing (never low on half the facts), otherwise medium
// with a reason, low without. An unreadable registration date is no reason and not missing.
// Pure: `today` is the day registrations are counted to.
RiskVerdict assessRisk(const BuyerCreditRecord &record, const PageResults &pages,
                       const RiskSettings &settings, const QDate &today,
                       const SellerNotes *notes = nullptr);
