#include "model/systemerror.h"

#include "model/uilanguage.h"

#include <cerrno>
#include <cstring>

QString systemErrorText(int errnum)
{
    // The system's messages come in English where no Chinese locale is installed.
    static const std::pair<int, const char16_t *> kChinese[] = {
        {ENOENT, u"没有这个文件或文件夹"},
        {EACCES, u"没有权限"},
        {EPERM, u"不允许这样操作"},
        {ENOTDIR, u"路径中有一段不是文件夹"},
        {EISDIR, u"这是一个文件夹"},
        {ELOOP, u"符号链接太多"},
        {ENAMETOOLONG, u"文件名太长"},
        {EROFS, u"文件系统是只读的"},
        {ENOSPC, u"磁盘已满"},
        {EDQUOT, u"超出磁盘配额"},
        {EIO, u"读写出错"},
    };
    if (!englishMessages()) {
        for (const auto &[number, text] : kChinese) {
            if (number == errnum)
                return QString::fromUtf16(text);
        }
    }
    return QString::fromLocal8Bit(std::strerror(errnum));
}
