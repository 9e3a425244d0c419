#pragma once

#include <QByteArray>
#include <QString>

// A page body decoded to text, and what it was read as.
struct PageText
{
    QString text;
    QString encoding;       // "utf-8", "gb18030" or "gbk" (code page 936)
    qint64 undecodable = 0; // byte sequences that are no character in that encoding (each one
                            // became U+FFFD)
};

// The charset an answer declares: the Content-Type header's charset parameter, else a
// <meta charset> or <meta http-equiv="Content-Type" content="…charset=…"> near the top of the
// page, as written (lower case); "" when neither says.
QString declaredCharset(const QByteArray &body, const QByteArray &contentType);

// The body decoded as the answer says: a UTF-8 byte order mark, else the declared charset when
// it is UTF-8, GB18030 or a name of GBK, else code page 936 (what the marketplace's own pages have
// always been, declared or not).
PageText decodePageBody(const QByteArray &body, const QByteArray &contentType = {});
