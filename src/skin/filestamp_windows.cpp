#include "skin/filestamp.h"

#include <QFile>

#include <string>

#include <windows.h>

std::optional<FileStamp> stampOf(const QByteArray &nativePath)
{
    const std::wstring path = QFile::decodeName(nativePath).toStdWString();
    const HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info = {};
    FILE_BASIC_INFO basic = {};
    const bool ok = GetFileInformationByHandle(h, &info) &&
                    GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) &&
                    GetFileType(h) == FILE_TYPE_DISK &&
                    !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(h);
    if (!ok)
        return std::nullopt;
    FileStamp s;
    s.device = qint64(info.dwVolumeSerialNumber);
    s.inode = qint64((quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
    s.size = qint64((quint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    // Hundreds of nanoseconds.
    s.mtimeNs = qint64(basic.LastWriteTime.QuadPart) * 100;
    s.ctimeNs = qint64(basic.ChangeTime.QuadPart) * 100;
    return s;
}
