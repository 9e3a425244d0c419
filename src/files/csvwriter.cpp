#include "files/csvwriter.h"

namespace {

// Whether a spreadsheet would run the text: it begins with one of =+-@, a tab or a carriage
// return, or with apostrophes before one (so a text that already begins with an apostrophe
// also reads back as it was).
bool runnable(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == u'\'')
        ++i;
    return i < text.size() && QStringView(u"=+-@\t\r").contains(text.at(i));
}

} // namespace

QString csvSafeText(const QString &text)
{
    return runnable(text) ? u'\'' + text : text;
}

QString csvCellText(const QString &text)
{
    if (text.startsWith(u'\'') && runnable(text))
        return text.mid(1);
    return text;
}

QByteArray csvField(const QString &text)
{
    const QString safe = csvSafeText(text);
    const bool quote = safe.contains(u',') || safe.contains(u'"') || safe.contains(u'\n') ||
                       safe.contains(u'\r') || safe != safe.trimmed();
    if (!quote)
        return safe.toUtf8();
    return '"' + QString(safe).replace(u'"', QLatin1String("\"\"")).toUtf8() + '"';
}

QByteArray csvRecord(const QStringList &fields)
{
    QByteArray out;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            out += ',';
        out += csvField(fields.at(i));
    }
    return out + "\r\n";
}
