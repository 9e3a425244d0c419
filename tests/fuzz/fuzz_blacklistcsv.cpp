// The shared blacklist's CSV reader on any bytes, and the export read back: what was read must
// come back unchanged, so a list passed between sellers loses nothing.
#include "files/blacklistcsv.h"
#include "fuzzinput.h"

#include <QSet>

FUZZ_APPLICATION

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const BlacklistFile file = parseBlacklistCsv(fuzzBytes(data, size));
    FUZZ_CHECK(file.ok() || file.entries.isEmpty());
    QSet<QString> ids;
    for (const BlacklistEntry &entry : file.entries) {
        FUZZ_CHECK(!entry.buyerId.trimmed().isEmpty());
        FUZZ_CHECK(entry.buyerId.size() <= kMaxBlacklistIdLength);
        FUZZ_CHECK(!entry.buyerId.contains(u'\n') && !entry.buyerId.contains(u'\r'));
        FUZZ_CHECK(!ids.contains(entry.buyerId));
        ids.insert(entry.buyerId);
    }

    const BlacklistFile again = parseBlacklistCsv(blacklistCsv(file.entries));
    FUZZ_CHECK(again.ok() && again.refused == 0);
    FUZZ_CHECK(again.entries.size() == file.entries.size());
    for (qsizetype i = 0; i < file.entries.size(); ++i) {
        FUZZ_CHECK(again.entries.at(i).buyerId == file.entries.at(i).buyerId);
        FUZZ_CHECK(again.entries.at(i).reason == file.entries.at(i).reason);
        FUZZ_CHECK(again.entries.at(i).date == file.entries.at(i).date);
    }
    return 0;
}
