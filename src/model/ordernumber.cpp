#include "model/ordernumber.h"

#include <QCryptographicHash>

namespace {

// The first `chars` characters, one fewer when the last would split a surrogate pair.
QStringView headOf(QStringView text, qsizetype chars)
{
    if (chars > 0 && chars < text.size() && text.at(chars - 1).isHighSurrogate())
        --chars;
    return text.left(chars);
}

} // namespace

QString keptOrderNumber(QStringView number)
{
    if (number.size() <= kWholeOrderNumberChars)
        return number.toString();
    const QByteArray digest =
        QCryptographicHash::hash(number.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return headOf(number, kKeptPrefixChars).toString() + QStringLiteral("…#") +
           QString::fromLatin1(digest);
}

QString shownOrderNumber(QStringView number)
{
    if (number.size() <= kShownOrderNumberChars)
        return number.toString();
    return headOf(number, kShownOrderNumberChars - 1).toString() + u'…';
}
