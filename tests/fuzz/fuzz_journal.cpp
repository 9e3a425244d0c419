// A batch journal as a resumed batch reads it: any bytes in the journal's file, the first line its
// head. Rows outside the batch's ids are never kept.
#include "files/batchjournal.h"
#include "fuzzinput.h"

#include <QTemporaryFile>

FUZZ_APPLICATION

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QTemporaryFile file;
    if (!file.open())
        return 0;
    file.write(fuzzBytes(data, size));
    file.close();
    BatchJournal journal;
    QString error;
    if (!journal.open(file.fileName(), &error)) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    for (auto it = journal.rows().cbegin(); it != journal.rows().cend(); ++it) {
        FUZZ_CHECK(it.key() == it->index);
        FUZZ_CHECK(it->index >= 0 && it->index < journal.input().idCount);
    }
    return 0;
}
