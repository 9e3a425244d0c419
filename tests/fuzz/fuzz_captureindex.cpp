// The capture index reader (capture.json of a capture folder) on any bytes.
#include "files/capturefolder.h"
#include "fuzzinput.h"

FUZZ_APPLICATION

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Capture capture;
    QString error;
    if (!readCaptureIndex(fuzzBytes(data, size), &capture, &error)) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    // What was read names only files inside the folder, and writes back to the same capture.
    for (const CapturedPage &page : capture.pages)
        FUZZ_CHECK(!page.file.contains(u'/') && page.file != QLatin1String("..") &&
                   page.result.bytes >= 0);
    Capture again;
    FUZZ_CHECK(readCaptureIndex(captureIndexJson(capture), &again, &error));
    FUZZ_CHECK(again.pages.size() == capture.pages.size() && again.record == capture.record);
    return 0;
}
