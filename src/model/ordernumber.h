#pragma once

#include <QString>
#include <QStringView>

// Order numbers from exports are kept whole up to kWholeOrderNumberChars characters (a real one
// has about twenty digits); a longer one, a file's mistake or an attack, is kept as its first
// kKeptPrefixChars characters, "…#" and a digest of the whole, so it stays bounded, two numbers
// never merge, and the whole number finds its entry again. Lists show kShownOrderNumberChars.
constexpr int kWholeOrderNumberChars = 256;
constexpr int kKeptPrefixChars = 200;
constexpr int kShownOrderNumberChars = 64;

// The number as kept and matched: whole, or bounded as above. The same number always gives the
// same kept text.
QString keptOrderNumber(QStringView number);
// The number as a list shows it: at most kShownOrderNumberChars characters, a cut one ending
// in "…".
QString shownOrderNumber(QStringView number);
