// The batch's id file reader on any bytes, in each of its encodings.
#include "files/idfile.h"
#include "fuzzinput.h"
#include "web/texthelpers.h"

FUZZ_APPLICATION

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    for (IdFileEncoding encoding :
         {IdFileEncoding::Auto, IdFileEncoding::Utf8, IdFileEncoding::Gbk}) {
        const IdFileResult result = parseIdFile(bytes, kMaxBatchIds, encoding);
        FUZZ_CHECK(result.ok() || result.ids.isEmpty());
        FUZZ_CHECK(result.ids.size() <= kMaxBatchIds);
        for (const QString &id : result.ids) {
            FUZZ_CHECK(!isBlank(id));
            FUZZ_CHECK(!id.contains(u'\n') && !id.contains(u'\r') && !id.contains(QChar(0)));
        }
    }
    return 0;
}
