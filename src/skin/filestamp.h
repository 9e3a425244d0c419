#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

// What identifies one version of a skin file: a replaced file has another inode (file index) or
// change time even when its size and modification time happen to match.
struct FileStamp
{
    qint64 device = 0;
    qint64 inode = 0;
    qint64 size = 0;
    qint64 mtimeNs = 0;
    qint64 ctimeNs = 0;
    bool operator==(const FileStamp &o) const
    {
        return device == o.device && inode == o.inode && size == o.size && mtimeNs == o.mtimeNs &&
               ctimeNs == o.ctimeNs;
    }
};

// The stamp of the regular file at nativePath (QFile::encodeName); none for anything else.
std::optional<FileStamp> stampOf(const QByteArray &nativePath);
