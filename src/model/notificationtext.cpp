#include "model/notificationtext.h"

QString cutToGlance(const QString &text, int chars)
{
    if (text.size() <= chars)
        return text;
    qsizetype keep = qMax(0, chars - 1);
    if (keep > 0 && text.at(keep - 1).isHighSurrogate())
        --keep;
    return text.left(keep) + u'…';
}

QString notificationMarkup(const QString &plain, int chars)
{
    const QString bounded = cutToGlance(plain, chars);
    QString out;
    out.reserve(bounded.size() + 16);
    for (QChar c : bounded) {
        switch (c.unicode()) {
        case u'&':
            out += QLatin1String("&amp;");
            break;
        case u'<':
            out += QLatin1String("&lt;");
            break;
        case u'>':
            out += QLatin1String("&gt;");
            break;
        case u'"':
            out += QLatin1String("&quot;");
            break;
        case u'\'':
            out += QLatin1String("&#39;");
            break;
        default:
            if (c == u'\n' || (c.category() != QChar::Other_Control && c != QChar::Null))
                out += c;
        }
    }
    return out;
}
