#pragma once

#include <QString>

#include <array>

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
