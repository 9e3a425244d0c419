#include "web/texthelpers.h"

#include "web/codepage936.h"

QString trimSpaces(QStringView text)
{
    qsizetype b = 0;
    qsizetype e = text.size();
    while (b < e && text[b] == u' ')
        ++b;
    while (e > b && text[e - 1] == u' ')
        --e;
    return text.mid(b, e - b).toString();
}

bool isBlank(QStringView text)
{
    for (QChar c : text) {
        if (c != u' ')
            return false;
    }
    return true;
}

QString CutText(const QString &text, const QString &first, const QString &second,
                const QString &end)
{
    QStringView t(text);
    for (const QString *marker : {&first, &second}) {
        if (isBlank(*marker))
            continue;
        const qsizetype at = t.indexOf(*marker);
        if (at < 0)
            return {};
        t = t.mid(at + marker->size());
    }
    if (isBlank(end))
        return {};
    const qsizetype at = t.indexOf(end);
    if (at < 0)
        return {};
    return t.left(at).toString();
}

QString CleanText(const QString &value)
{
    QString s = trimSpaces(value);
    if (s.isEmpty())
        return s;
    for (QChar c : {u'\t', u'\n', u'\r', u'"', u'\''})
        s.remove(c);
    return s;
}

QString EncodeQuery(const QString &text)
{
    static const char hex[] = "0123456789ABCDEF";
    QString out;
    out.reserve(text.size() * 3);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const char16_t u = c.unicode();
        if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') ||
            u == '*' || u == '-' || u == '.' || u == '@' || u == '_') {
            out += c;
        } else if (u == ' ') {
            out += u'+';
        } else {
            // A surrogate pair is one character: it goes to the code page whole (and comes
            // back as a single "?").
            qsizetype n = 1;
            if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
                n = 2;
            const QByteArray bytes = encode936(QStringView(text).mid(i, n));
            for (char b : bytes) {
                const auto v = static_cast<unsigned char>(b);
                out += u'%';
                out += QLatin1Char(hex[v >> 4]);
                out += QLatin1Char(hex[v & 15]);
            }
            i += n - 1;
        }
    }
    return out;
}

QString LookUpArea(const QString &areaCode, const QString &areaTable)
{
    const QString key = areaCode + u'#';
    qsizetype at = areaTable.indexOf(key);
    // An entry starts a line: a code inside another line (a name, a longer code) is no entry.
    while (at > 0 && areaTable[at - 1] != u'\n' && areaTable[at - 1] != u'\r')
        at = areaTable.indexOf(key, at + 1);
    if (at < 0)
        return {};
    const qsizetype start = at + key.size();
    qsizetype end = start;
    while (end < areaTable.size() && areaTable[end] != u'\r' && areaTable[end] != u'\n') {
        if (end - start >= kMaxAreaNameLength)
            return {}; // no area is called that; the page's own address is used instead
        ++end;
    }
    return CleanText(areaTable.mid(start, end - start));
}

bool isNumeric(QStringView text)
{
    qsizetype b = 0;
    qsizetype e = text.size();
    while (b < e && text[b] == u' ')
        ++b;
    while (e > b && text[e - 1] == u' ')
        --e;
    QStringView s = text.mid(b, e - b);
    qsizetype i = 0;
    const qsizetype n = s.size();
    auto digit = [&](qsizetype k) { return k < n && s[k] >= u'0' && s[k] <= u'9'; };

    if (i < n && (s[i] == u'+' || s[i] == u'-'))
        ++i;
    qsizetype intDigits = 0;
    qsizetype group = 0; // digits since the last separator
    bool grouped = false;
    while (i < n) {
        if (digit(i)) {
            ++intDigits;
            ++group;
            ++i;
        } else if (s[i] == u',' && intDigits > 0 && (grouped ? group == 3 : group <= 3) &&
                   digit(i + 1) && digit(i + 2) && digit(i + 3)) {
            grouped = true;
            group = 0;
            ++i;
        } else {
            break;
        }
    }
    if (grouped && group != 3)
        return false;
    qsizetype fracDigits = 0;
    if (i < n && s[i] == u'.') {
        ++i;
        while (digit(i)) {
            ++fracDigits;
            ++i;
        }
    }
    if (intDigits + fracDigits == 0)
        return false;
    if (i < n && (s[i] == u'e' || s[i] == u'E')) {
        ++i;
        if (i < n && (s[i] == u'+' || s[i] == u'-'))
            ++i;
        if (!digit(i))
            return false;
        while (digit(i))
            ++i;
    }
    return i == n;
}
