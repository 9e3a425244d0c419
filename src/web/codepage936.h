#pragma once

#include <QByteArray>
#include <QString>

// Code page 936 (GBK as Windows writes it) in both directions, through ICU's "windows-936" table.
// Invalid byte sequences decode to replacement characters; characters the code page cannot hold
// encode as "?".
QString decode936(const QByteArray &bytes);
QByteArray encode936(QStringView text);
// GB18030, the code page's superset that reaches every character; invalid sequences decode to
// replacement characters.
QString decodeGb18030(const QByteArray &bytes);
