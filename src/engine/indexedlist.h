#pragma once

#include <QString>

#include <functional>

// The text format of our downloaded settings (query configuration, start-up list): a value, "#",
// its decimal index, "#", repeated. Values may hold line breaks; anything after the last "#" is
// ignored. Calls store(index, value) pair by pair, in order, for every pair whose index is a whole
// number from 0 to count - 1 (surrounding spaces allowed); a pair with any other index, and a
// value with no index after it, is skipped.
void readIndexedList(const QString &text, int count,
                     const std::function<void(int index, const QString &value)> &store);
