#include "engine/indexedlist.h"

namespace {

int parseIndex(QStringView text, int count)
{
    while (!text.isEmpty() && text.front() == u' ')
        text = text.mid(1);
    while (!text.isEmpty() && text.back() == u' ')
        text.chop(1);
    if (text.isEmpty() || text.size() > 4)
        return -1;
    int value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value < count ? value : -1;
}

} // namespace

void readIndexedList(const QString &text, int count,
                     const std::function<void(int index, const QString &value)> &store)
{
    const QStringView all(text);
    qsizetype pos = 0;
    for (;;) {
        const qsizetype valueEnd = all.indexOf(u'#', pos);
        if (valueEnd < 0)
            return;
        const qsizetype indexEnd = all.indexOf(u'#', valueEnd + 1);
        if (indexEnd < 0)
            return; // a value with no index after it
        const int index = parseIndex(all.mid(valueEnd + 1, indexEnd - valueEnd - 1), count);
        if (index >= 0)
            store(index, all.mid(pos, valueEnd - pos).toString());
        pos = indexEnd + 1;
    }
}
