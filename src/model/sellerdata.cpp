#include "model/sellerdata.h"

QString listMarkName(ListMark mark)
{
    switch (mark) {
    case ListMark::Blacklist:
        return QStringLiteral("blacklist");
    case ListMark::Trusted:
        return QStringLiteral("trusted");
    case ListMark::None:
        break;
    }
    return {};
}
