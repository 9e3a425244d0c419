// The skin reader: a skin archive (zip, skin.ini, PNG and BMP pictures), or skin.ini text alone
// when the first byte is odd.
#include "fuzzinput.h"
#include "skin/skinkeys.h"
#include "skin/skinstore.h"

FUZZ_APPLICATION

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray rest = fuzzBytes(data + 1, size - 1);
    if (data[0] & 1) {
        SkinStore store;
        QStringList problems;
        store.readIni(rest, &problems);
        return 0;
    }
    QStringList problems;
    const auto store = SkinStore::fromArchive(rest, &problems);
    qint64 pixels = 0;
    for (const SkinKey &k : kSkinKeys) {
        const QString key = QLatin1String(k.name);
        const SkinKind kind = store->kind(key);
        FUZZ_CHECK(kind == SkinKind::Absent || kind == k.kind);
        if (const auto picture = store->picture(key)) {
            FUZZ_CHECK(picture->width() <= kSkinMaxPictureSide &&
                       picture->height() <= kSkinMaxPictureSide);
            pixels += qint64(picture->width()) * picture->height();
        }
    }
    FUZZ_CHECK(pixels <= kSkinMaxTotalPixels);
    return 0;
}
