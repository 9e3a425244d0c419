#include "skin/skinload.h"

#include "skin/olecolour.h"
#include "skin/skinpicture.h"

SkinLoad::SkinLoad(const QString &path) : m_store(SkinStore::load(path)) {}

SkinLoad &SkinLoad::picture(const char *key, SkinPicture &target)
{
    if (auto image = m_store->picture(QLatin1String(key)))
        target.load(std::move(*image));
    return *this;
}

SkinLoad &SkinLoad::number(const char *key, qint16 &target)
{
    if (auto value = m_store->number(QLatin1String(key)))
        target = *value;
    return *this;
}

SkinLoad &SkinLoad::colour(const char *key, quint32 &target)
{
    if (auto value = m_store->colour(QLatin1String(key)))
        target = *value;
    return *this;
}

SkinLoad &SkinLoad::colour(const char *key, QColor &target)
{
    if (auto value = m_store->colour(QLatin1String(key)))
        target = colourFromOle(*value);
    return *this;
}
