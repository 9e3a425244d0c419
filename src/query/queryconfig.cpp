#include "queryconfig.h"

namespace {

// A pair's index: decimal digits (surrounding spaces allowed) naming an entry, or -1.
int parseIndex(QStringView text)
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
    return value < QueryConfig::kSize ? value : -1;
}

} // namespace

QString QueryConfig::entry(int index) const
{
    if (index < 0 || index >= kSize)
        return {};
    return m_entries[size_t(index)];
}

void QueryConfig::setEntry(int index, const QString &value)
{
    if (index >= 0 && index < kSize)
        m_entries[size_t(index)] = value;
}

void QueryConfig::readIndexedList(const QString &text)
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
        const int index = parseIndex(all.mid(valueEnd + 1, indexEnd - valueEnd - 1));
        if (index >= 0)
            m_entries[size_t(index)] = all.mid(pos, valueEnd - pos).toString();
        pos = indexEnd + 1;
    }
}
