#pragma once

#include <QString>

// Text operations shared by the page rules and the main window. Positions count UTF-16 code
// units, searches are exact and case-sensitive, and "blank" means empty once leading and
// trailing spaces (U+0020 only) are removed.

// The text without leading and trailing spaces; tabs and line breaks stay.
QString trimSpaces(QStringView text);
bool isBlank(QStringView text);

// The text between markers: after the first marker, then after the second, up to the end
// marker. A blank marker's step is skipped; a missing marker, or a blank end marker, gives "".
QString CutText(const QString &text, const QString &first, const QString &second,
                const QString &end);

// Trims spaces, then removes every tab, line feed, carriage return, double and single quote.
QString CleanText(const QString &value);

// Query-string form of a buyer id: letters, digits and *-.@_ stay, a space becomes "+", every
// other character becomes its code page 936 bytes as %XX (upper-case hex; unmappable -> %3F).
QString EncodeQuery(const QString &text);

// An area name longer than this is no area name.
constexpr qsizetype kMaxAreaNameLength = 64;

// The area name for an area code: the text after the first "code#" that starts a line of the
// area table, up to the line's end (CR LF, LF or CR; or the end of the table), cleaned. Empty
// when no line starts with the key, and when the name is longer than kMaxAreaNameLength.
QString LookUpArea(const QString &areaCode, const QString &areaTable);

// An ordinary decimal number once surrounding spaces are removed: optional sign, digits with
// optional thousands separators, optional decimal point and fraction, optional exponent.
bool isNumeric(QStringView text);
