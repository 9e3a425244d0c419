// The demo site's request parser on what a client may send, pipelined requests included, and
// the site's answer to each request it reads.
#include "demosite/sitepages.h"
#include "fuzzinput.h"
#include "loopback/siterequest.h"

FUZZ_APPLICATION

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const SitePages pages(QStringLiteral("127.0.0.1:8080"));
    const QByteArray bytes = fuzzBytes(data, size);
    qsizetype pos = 0;
    for (int requests = 0; requests < 64; ++requests) {
        SiteRequest request;
        const qsizetype used = parseRequestHead(bytes, pos, &request);
        FUZZ_CHECK(used <= bytes.size() - pos);
        if (used < 0) {
            FUZZ_CHECK(bytes.size() - pos > kMaxRequestHead);
            break;
        }
        if (used == 0)
            break;
        pos += used;
        if (request.wellFormed && (request.method == "GET" || request.method == "HEAD")) {
            const SiteResponse response = pages.answer(request.target, request.userAgent);
            FUZZ_CHECK(response.status >= 200 && response.status < 600);
        }
    }
    return 0;
}
