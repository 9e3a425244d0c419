// The configuration file reader of check-config and --config on any bytes.
#include "engine/configcheck.h"
#include "fuzzinput.h"

FUZZ_APPLICATION

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QString text;
    QString error;
    if (!decodeSiteText(fuzzBytes(data, size), &text, &error)) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    const ConfigFile file = readConfigFile(text);
    FUZZ_CHECK(file.parsed || file.hasErrors());
    // The entries are the ones the program itself reads from that text.
    QueryConfig program;
    program.readIndexedList(text);
    for (int i = 0; i < QueryConfig::kSize; ++i)
        FUZZ_CHECK(program.entry(i) == file.config.entry(i));
    for (const ConfigIssue &issue : file.issues)
        FUZZ_CHECK(issue.line >= 0 && issue.entry < 10000 && !issue.message.isEmpty());
    // Written out and read again, the entries are the same: nothing differs.
    const ConfigFile again = readConfigFile(configText(file.config));
    for (int i = 0; i < QueryConfig::kSize; ++i) {
        if (i != 89)
            FUZZ_CHECK(again.config.entry(i) == file.config.entry(i));
    }
    return 0;
}
