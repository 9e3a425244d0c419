#include "web/pagetext.h"

#include "web/codepage936.h"

#include <QRegularExpression>
#include <QStringDecoder>

namespace {

// How far into a page its <meta> is looked for; browsers look about as far.
constexpr qsizetype kMetaScanBytes = 4096;

QString charsetParameter(const QByteArray &value)
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(charset\s*=\s*["']?\s*([A-Za-z0-9._:\-]+))"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(value));
    return match.hasMatch() ? match.captured(1).toLower() : QString();
}

QString metaCharset(const QByteArray &body)
{
    const QString head = QString::fromLatin1(body.left(kMetaScanBytes));
    // <meta charset="utf-8">, and <meta http-equiv="Content-Type" content="text/html; charset=…">
    // in either order of its attributes.
    static const QRegularExpression meta(QStringLiteral(R"(<meta\b[^>]*>)"),
                                         QRegularExpression::CaseInsensitiveOption);
    for (auto it = meta.globalMatch(head); it.hasNext();) {
        const QString tag = it.next().captured(0);
        const QString charset = charsetParameter(tag.toLatin1());
        if (!charset.isEmpty())
            return charset;
    }
    return {};
}

enum class Encoding { Utf8, Gb18030, Gbk };

Encoding encodingOf(const QString &charset)
{
    if (charset == QLatin1String("utf-8") || charset == QLatin1String("utf8"))
        return Encoding::Utf8;
    if (charset == QLatin1String("gb18030"))
        return Encoding::Gb18030;
    // gbk, gb2312, x-gbk, cp936, windows-936 and anything unknown: the code page the marketplace
    // has always used.
    return Encoding::Gbk;
}

qint64 countReplacements(QStringView text)
{
    return text.count(QChar(QChar::ReplacementCharacter));
}

} // namespace

QString declaredCharset(const QByteArray &body, const QByteArray &contentType)
{
    const QString header = charsetParameter(contentType);
    return header.isEmpty() ? metaCharset(body) : header;
}

PageText decodePageBody(const QByteArray &body, const QByteArray &contentType)
{
    PageText page;
    if (body.isEmpty())
        return page;
    Encoding encoding = encodingOf(declaredCharset(body, contentType));
    QByteArrayView bytes(body);
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        encoding = Encoding::Utf8;
        bytes = bytes.sliced(3);
    }
    // A replacement character the page itself holds is no undecodable byte.
    qint64 ownReplacements = 0;
    switch (encoding) {
    case Encoding::Utf8: {
        QStringDecoder decoder(QStringDecoder::Utf8);
        page.text = decoder(bytes);
        page.encoding = QStringLiteral("utf-8");
        ownReplacements = bytes.count("\xEF\xBF\xBD");
        break;
    }
    case Encoding::Gb18030:
        page.text = decodeGb18030(bytes.toByteArray());
        page.encoding = QStringLiteral("gb18030");
        ownReplacements = bytes.count("\x84\x31\xA4\x37");
        break;
    case Encoding::Gbk:
        page.text = decode936(bytes.toByteArray());
        page.encoding = QStringLiteral("gbk");
        break;
    }
    page.undecodable = qMax<qint64>(0, countReplacements(page.text) - ownReplacements);
    return page;
}
