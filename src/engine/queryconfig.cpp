#include "engine/queryconfig.h"

#include "engine/indexedlist.h"

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
    ::readIndexedList(
        text, kSize, [this](int index, const QString &value) { m_entries[size_t(index)] = value; });
}

bool isOurConfiguration(const QString &text)
{
    return text.contains(QLatin1String("Brelvon"));
}
