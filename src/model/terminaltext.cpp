#include "model/terminaltext.h"

namespace {

bool turnsDirection(char16_t u)
{
    return u == 0x061C || u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E) ||
           (u >= 0x2066 && u <= 0x2069);
}

} // namespace

QString escapeControls(const QString &text, LineFeeds lineFeeds)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if ((u == u'\n' || u == u'\t') && lineFeeds == LineFeeds::Keep)
            out += c;
        else if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            out += QLatin1String("\\x") +
                   QString::number(uint(u), 16).toUpper().rightJustified(2, u'0');
        else if (turnsDirection(u))
            out += QLatin1String("\\u{") + QString::number(uint(u), 16).toUpper() + u'}';
        else
            out += c;
    }
    return out;
}
