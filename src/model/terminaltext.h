#pragma once

#include <QString>

// Whether line feeds and tabs in a text written to a terminal stay as they are: a message's own
// lines and columns do; a name from outside (a file name, an id) is one item, and a line feed in
// it would forge a line.
enum class LineFeeds { Keep, Escape };

// Text from outside (ids, file names, pages, a library's message) as it may reach a terminal:
// control characters written as \xHH (line feeds and tabs too when asked), and the characters that
// turn the text's direction as \u{HHHH}, so nothing in it can drive the terminal or disguise a
// line.
QString escapeControls(const QString &text, LineFeeds lineFeeds = LineFeeds::Keep);
