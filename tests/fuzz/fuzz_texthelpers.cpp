// CutText, CleanText, LookUpArea, EncodeQuery and the number test on any text: the input is a
// text and three markers, separated by NUL bytes, in UTF-8.
#include "fuzzinput.h"
#include "web/texthelpers.h"

FUZZ_APPLICATION

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = fuzzParts(fuzzBytes(data, size), 4);
    const QString text = QString::fromUtf8(parts[0]);
    const QString first = QString::fromUtf8(parts[1]);
    const QString second = QString::fromUtf8(parts[2]);
    const QString end = QString::fromUtf8(parts[3]);

    const QString cut = CutText(text, first, second, end);
    FUZZ_CHECK(cut.isEmpty() || text.contains(cut));
    FUZZ_CHECK(!cut.contains(end) || isBlank(end));

    const QString clean = CleanText(text);
    for (QChar c : {u'\t', u'\n', u'\r', u'"', u'\''})
        FUZZ_CHECK(!clean.contains(c));

    // The text as an area table, the first marker as a code.
    const QString area = LookUpArea(first, text);
    FUZZ_CHECK(area.size() <= kMaxAreaNameLength);
    FUZZ_CHECK(!area.contains(u'\n') && !area.contains(u'\r'));

    const QString encoded = EncodeQuery(text);
    for (QChar c : encoded)
        FUZZ_CHECK(c.unicode() < 128 &&
                   (c.isLetterOrNumber() || QStringLiteral("*-.@_+%").contains(c)));

    isNumeric(text);
    return 0;
}
