// The indexed list reader (query configuration, start-up list) on downloaded bytes.
#include "engine/indexedlist.h"
#include "engine/queryconfig.h"
#include "fuzzinput.h"
#include "web/codepage936.h"

FUZZ_APPLICATION

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = decode936(fuzzBytes(data, size));
    QueryConfig config;
    config.readIndexedList(text);
    for (int i = 0; i < QueryConfig::kSize; ++i)
        FUZZ_CHECK(!config.entry(i).contains(u'#'));
    // The start-up list: 22 slots.
    readIndexedList(text, 22, [&](int index, const QString &value) {
        FUZZ_CHECK(index >= 0 && index < 22);
        FUZZ_CHECK(value.size() <= text.size());
    });
    return 0;
}
