#include "skin/skinkeys.h"

SkinKind skinKeyKind(QStringView key)
{
    for (const SkinKey &k : kSkinKeys) {
        if (key == QLatin1String(k.name))
            return k.kind;
    }
    return SkinKind::Absent;
}

QString skinKindName(SkinKind kind)
{
    switch (kind) {
    case SkinKind::Picture:
        return QStringLiteral("picture");
    case SkinKind::Number:
        return QStringLiteral("number");
    case SkinKind::Colour:
        return QStringLiteral("colour");
    case SkinKind::Absent:
        break;
    }
    return QStringLiteral("absent");
}

QString skinIniSection(SkinKind kind)
{
    switch (kind) {
    case SkinKind::Number:
        return QStringLiteral("numbers");
    case SkinKind::Colour:
        return QStringLiteral("colours");
    default:
        return {};
    }
}
