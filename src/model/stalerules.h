#pragma once

#include "model/buyercreditrecord.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <array>

// A field of the record that the page rules have stopped filling: filled for most found buyers
// before, empty for most of them now. The usual sign that a page changed and the query
// configuration's markers no longer match it.
struct StaleField
{
    QString key;          // the record's name for it: "goodCount"
    QString header;       // the table's: "好评数"
    int found = 0;        // found buyers now
    int empty = 0;        // of them, with the field empty
    int filledBefore = 0; // found buyers before, with the field filled
    int foundBefore = 0;  // found buyers before

    bool operator==(const StaleField &o) const
    {
        return key == o.key && found == o.found && empty == o.empty &&
               filledBefore == o.filledBefore && foundBefore == o.foundBefore;
    }
};

// The thresholds: at least kStaleMinFound found buyers now (and before), a field filled for at
// least kStaleFilledBefore percent of them before and for at most kStaleFilledNow percent now.
constexpr int kStaleMinFound = 10;
constexpr int kStaleFilledBefore = 80;
constexpr int kStaleFilledNow = 20;
// Over how many days of history a batch is compared, and how many single lookups make the
// sliding window the single lookups are checked over.
constexpr int kStaleHistoryDays = 30;
constexpr int kStaleSlidingWindow = 20;

// How many found buyers had each field filled, the fields in the order of staleCheckedFields().
struct FieldFill
{
    static constexpr size_t kFields = 10;
    int found = 0;
    std::array<int, kFields> filled = {};
};
// The fields a page rule fills, by the record's name: nick, regTime, address, verification,
// goodRate, goodCount, neutralCount, badCount, neutralGiven, badGiven.
const std::array<const char *, FieldFill::kFields> &staleCheckedFields();
FieldFill countFilled(const QList<BuyerCreditRecord> &records);

// Whether a record is of a found buyer: the detail page's address is there only when the search
// page listed the buyer and the detail page was read (history keeps no status).
bool isFoundRecord(const BuyerCreditRecord &record);

// The fields that went empty: `now` are the found buyers of a batch (or the last single
// lookups), `before` those of the history they are measured against. Records of buyers not found
// are skipped in both. Pure.
QList<StaleField> findStaleFields(const QList<BuyerCreditRecord> &now,
                                  const QList<BuyerCreditRecord> &before);
QList<StaleField> findStaleFields(const FieldFill &now, const FieldFill &before);

// "注册时间：40 个买家中 38 个为空，页面规则可能已过期" (in English for LANG=en*).
QString staleFieldText(const StaleField &field);
// One line for the command line and the notification: each field's text, then which query
// configuration the lookups used ("查询配置：ADDRESS"), when known.
QString staleRulesText(const QList<StaleField> &fields, const QString &configuration);
