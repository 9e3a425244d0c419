#include "web/codepage936.h"

#include <unicode/ucnv.h>

#include <memory>

namespace {

struct ConverterCloser
{
    void operator()(UConverter *c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Converter openConverter(const char *name)
{
    UErrorCode status = U_ZERO_ERROR;
    Converter c(ucnv_open(name, &status));
    if (U_FAILURE(status))
        return nullptr;
    status = U_ZERO_ERROR;
    ucnv_setSubstChars(c.get(), "?", 1, &status);
    return c;
}

// One converter per thread: opening is cheap but not free, and a converter is not thread-safe.
UConverter *converter()
{
    thread_local Converter c = openConverter("windows-936");
    if (c)
        ucnv_reset(c.get());
    return c.get();
}

UConverter *gb18030Converter()
{
    thread_local Converter c = openConverter("gb18030");
    if (c)
        ucnv_reset(c.get());
    return c.get();
}

QString decodeWith(UConverter *c, const QByteArray &bytes)
{
    if (bytes.isEmpty() || !c)
        return {};
    // Every byte yields at most one UTF-16 unit (a four-byte sequence of GB18030 at most two).
    QString out(bytes.size(), Qt::Uninitialized);
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = ucnv_toUChars(c, reinterpret_cast<UChar *>(out.data()), int32_t(out.size()),
                              bytes.constData(), int32_t(bytes.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        out.resize(n);
        status = U_ZERO_ERROR;
        ucnv_reset(c);
        n = ucnv_toUChars(c, reinterpret_cast<UChar *>(out.data()), int32_t(out.size()),
                          bytes.constData(), int32_t(bytes.size()), &status);
    }
    if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING)
        return {};
    out.resize(n);
    return out;
}

} // namespace

QString decode936(const QByteArray &bytes)
{
    return decodeWith(converter(), bytes);
}

QString decodeGb18030(const QByteArray &bytes)
{
    return decodeWith(gb18030Converter(), bytes);
}

QByteArray encode936(QStringView text)
{
    if (text.isEmpty())
        return {};
    UConverter *c = converter();
    if (!c)
        return {};
    QByteArray out(text.size() * 2, Qt::Uninitialized);
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = ucnv_fromUChars(c, out.data(), int32_t(out.size()),
                                reinterpret_cast<const UChar *>(text.data()), int32_t(text.size()),
                                &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        out.resize(n);
        status = U_ZERO_ERROR;
        ucnv_reset(c);
        n = ucnv_fromUChars(c, out.data(), int32_t(out.size()),
                            reinterpret_cast<const UChar *>(text.data()), int32_t(text.size()),
                            &status);
    }
    if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING)
        return {};
    out.resize(n);
    return out;
}
