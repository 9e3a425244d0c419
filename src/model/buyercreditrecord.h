#pragma once

#include <QString>

#include <tuple>

// Everything one query learns about a buyer. Every field is text; a field whose page or marker
// was missing is empty.
struct BuyerCreditRecord
{
    QString buyerId;      // the id as queried (trimmed input)
    QString nick;         // name (nickname), from the personal page
    QString regTime;      // registration time, from the name card page
    QString address;      // area name, else the name card's address
    QString verification; // "支付宝认证", "手机认证", "没有认证", or empty
    QString goodRate;     // good-rating percentage without "%", numeric or empty
    QString goodCount;    // good ratings received
    QString neutralCount; // neutral ratings received
    QString badCount;     // bad ratings received
    QString neutralGiven; // neutral ratings given to others, decimal
    QString badGiven;     // bad ratings given to others, decimal
    QString creditUrl;    // the detail (credit) page address

    // Spelled out: a defaulted comparison needs C++20.
    auto fields() const
    {
        return std::tie(buyerId, nick, regTime, address, verification, goodRate, goodCount,
                        neutralCount, badCount, neutralGiven, badGiven, creditUrl);
    }
    bool operator==(const BuyerCreditRecord &o) const { return fields() == o.fields(); }
    bool operator!=(const BuyerCreditRecord &o) const { return !(*this == o); }
};
