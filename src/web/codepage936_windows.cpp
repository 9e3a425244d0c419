#include "web/codepage936.h"

#include <windows.h>

// Windows' own table for code page 936 (the one ICU's "windows-936" copies). Its converter
// would guess at broken input, so the byte structure is checked here first and anything that is
// not a character becomes U+FFFD, as on the other platforms.

namespace {

constexpr UINT kCodePage = 936;

bool isLead(uchar b)
{
    return b >= 0x81 && b <= 0xFE;
}

bool isTrail(uchar b)
{
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFE);
}

// Appends the characters of bytes (well-formed single bytes and pairs) to out: the whole run in
// one call, or character by character when some pair has no character.
void appendRun(const char *bytes, int size, QString *out)
{
    if (size == 0)
        return;
    const int start = int(out->size());
    out->resize(start + size);
    auto *to = reinterpret_cast<wchar_t *>(out->data() + start);
    int n = MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes, size, to, size);
    if (n > 0) {
        out->resize(start + n);
        return;
    }
    out->resize(start);
    for (int i = 0; i < size;) {
        const int length = uchar(bytes[i]) >= 0x81 ? 2 : 1;
        wchar_t c = 0;
        n = MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes + i, length, &c, 1);
        out->append(n == 1 ? QChar(char16_t(c)) : QChar(QChar::ReplacementCharacter));
        i += length;
    }
}

} // namespace

QString decode936(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    const char *data = bytes.constData();
    const int size = int(bytes.size());
    int run = 0;
    for (int i = 0; i < size;) {
        const uchar b = uchar(data[i]);
        if (b < 0x80 || b == 0x80) {
            ++i; // ASCII, and the euro sign at 0x80
        } else if (isLead(b) && i + 1 < size && isTrail(uchar(data[i + 1]))) {
            i += 2;
        } else {
            // A byte that starts no character (0xFF, or a lead byte without its trail byte):
            // U+FFFD, and the next byte starts afresh.
            appendRun(data + run, i - run, &out);
            out.append(QChar(QChar::ReplacementCharacter));
            run = ++i;
        }
    }
    appendRun(data + run, size - run, &out);
    return out;
}

QString decodeGb18030(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return {};
    // Windows' GB18030 code page; broken sequences become U+FFFD without MB_ERR_INVALID_CHARS.
    constexpr UINT kGb18030 = 54936;
    const int size = int(bytes.size());
    const int n = MultiByteToWideChar(kGb18030, 0, bytes.constData(), size, nullptr, 0);
    if (n <= 0)
        return {};
    QString out(n, Qt::Uninitialized);
    MultiByteToWideChar(kGb18030, 0, bytes.constData(), size,
                        reinterpret_cast<wchar_t *>(out.data()), n);
    return out;
}

QByteArray encode936(QStringView text)
{
    if (text.isEmpty())
        return {};
    // The code page has no character outside the first plane: one "?" for each such character
    // (Windows would write one per half of its surrogate pair), and one for a lone half.
    QString bmp;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!text[i].isSurrogate())
            continue;
        if (bmp.isEmpty())
            bmp = text.toString();
        const bool pair =
            text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        bmp.replace(i - (text.size() - bmp.size()), pair ? 2 : 1, u'?');
        i += pair ? 1 : 0;
    }
    if (!bmp.isEmpty())
        text = bmp;
    const auto *from = reinterpret_cast<const wchar_t *>(text.data());
    const int size = int(text.size());
    // No "best fit" (à written as a): what the code page cannot hold becomes "?".
    const DWORD flags = WC_NO_BEST_FIT_CHARS;
    const int n = WideCharToMultiByte(kCodePage, flags, from, size, nullptr, 0, "?", nullptr);
    if (n <= 0)
        return {};
    QByteArray out(n, Qt::Uninitialized);
    WideCharToMultiByte(kCodePage, flags, from, size, out.data(), n, "?", nullptr);
    return out;
}
