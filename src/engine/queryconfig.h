#pragma once

#include <QObject>
#include <QString>

#include <array>

// The roles of the configuration entries the query reads: address templates ("{mjna}", "{xyid}",
// "{urlno}") and page markers. A cut is a first, a second and an end marker; layout A and B are
// the two detail page layouts, browser text the detail page as the embedded browser rewrote it.
namespace ConfigEntry {
Q_NAMESPACE
enum Entry : int {
    SearchAddress = 0,
    DetailAddress = 4,
    LayoutAMarker = 5, // also the first marker of the good rate, layout A
    GoodRateASecond = 6,
    GoodRateAEnd = 7,
    GoodCountAFirst = 8,
    GoodCountASecond = 9,
    GoodCountAEnd = 10,
    GoodRateBFirst = 14,
    GoodRateBSecond = 15,
    GoodRateBEnd = 16,
    GoodCountBFirst = 17,
    GoodCountBSecond = 18,
    GoodCountBEnd = 19,
    VerificationFirst = 24,
    VerificationSecond = 25,
    VerificationEnd = 26,
    AlipayVerifiedMarker = 27,
    PhoneVerifiedMarker = 28,
    GoodCountABrowserFirst = 29,
    GoodRateBBrowserFirst = 31,
    VerificationBrowserSecond = 32,
    VerificationBrowserEnd = 33,
    RatingListFirst = 34,
    RatingListSecond = 35,
    RatingListEnd = 36,
    NeutralGivenAddress = 37,
    NeutralGivenMarker = 38, // must not be empty
    BadGivenAddress = 39,
    AreaCodeFirst = 61,
    AreaCodeSecond = 62,
    AreaCodeEnd = 63,
    SearchEntryMarker = 64, // must not be empty
    UserNumberStart = 65,
    UserNumberEnd = 66,
    NickStart = 67,
    NickEnd = 68,
    NickRemoved1 = 69,
    NickRemoved2 = 70,
    NeutralCountFirst = 71,
    NeutralCountSecond = 72,
    NeutralCountEnd = 73,
    BadCountFirst = 74,
    BadCountSecond = 75,
    BadCountEnd = 76,
    BlockMarkerFirst = 77, // 77 to 88: block markers of the configuration's own (any may be empty)
    BlockMarkerLast = 88,
};
Q_ENUM_NS(Entry)
} // namespace ConfigEntry

// The downloaded query configuration: 91 text entries, indexes 0 to 90, all empty at start.
// Entries hold address templates ("{mjna}", "{xyid}", "{urlno}") and page markers.
//
// Besides the entries every configuration has, ours uses 71, 72, 73 (neutral ratings received:
// first, second, end marker) and 74, 75, 76 (bad ratings received: first, second, end marker) on
// the detail page; left empty, those counts stay empty. Entries 77 to 88 may each hold a block
// marker that adds to the settings' (blockmarkers.h).
class QueryConfig
{
public:
    static constexpr int kSize = 91;

    QString entry(int index) const;
    void setEntry(int index, const QString &value);

    // Reads an indexed list: value "#" index "#", repeated. A later pair for the same index
    // overwrites an earlier one; a pair whose index is not a whole number from 0 to 90, or a
    // value with no index after it, is skipped.
    void readIndexedList(const QString &text);

private:
    std::array<QString, kSize> m_entries;
};

// Whether a configuration's text is ours: it names the program. The program takes no other (an
// error page, a portal's placeholder), whether downloaded or given as a local file.
bool isOurConfiguration(const QString &text);
