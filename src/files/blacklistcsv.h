#pragma once

#include "model/sellerdata.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

// A blacklist shared between sellers: a CSV file with the header line id,reason,date (the
// columns in any order, others ignored), one buyer to a line.
//
// How a file is read:
// - The text is UTF-8 (a leading byte order mark is dropped) when its bytes are valid UTF-8,
//   otherwise code page 936 (GBK), as spreadsheet programs on Chinese systems save CSV.
// - Fields are separated by commas; a field in double quotes may hold commas, line breaks and
//   doubled quotes. Spaces around a field are dropped.
// - The first line that is not blank is the header; it must name an id column.
// - Blank lines are skipped. A line without an id, with an id that holds a line break or is
//   longer than kMaxBlacklistIdLength characters, or with a date that is not a date, is refused
//   (and named in the problems); the other lines still count.
// - A date is 2026-11-02, 2026/11/2 or 2026年11月2日, optionally followed by a time; blank means
//   "not given".
// - An id that appears again further down: the later line wins.
// - An id or reason written with a leading apostrophe so that a spreadsheet does not run it
//   (files/csvwriter.h) loses that apostrophe again.

// A shared list is a few thousand lines; anything far larger is not one.
constexpr qint64 kMaxBlacklistFileBytes = 16 * 1024 * 1024;

struct BlacklistFile
{
    QList<BlacklistEntry> entries; // one per id, where its last line was read
    QStringList problems;          // refused lines and repeated ids, "line N: ..."
    int refused = 0;               // lines refused
    QString error;                 // the file as a whole is unusable; nothing was read
    bool notRegular = false;       // with error: the path is a folder, device, pipe or socket
    bool ok() const { return error.isEmpty(); }
};

BlacklistFile parseBlacklistCsv(const QByteArray &bytes);
// Reads the file at path; an unreadable or oversized file sets error.
BlacklistFile readBlacklistCsv(const QString &path);

// The list in UTF-8 with a byte order mark (so spreadsheet programs read the Chinese), CRLF
// line ends, the header id,reason,date and dates as 2026-11-02; a cell a spreadsheet would run
// gets a leading apostrophe.
QByteArray blacklistCsv(const QList<BlacklistEntry> &entries);
