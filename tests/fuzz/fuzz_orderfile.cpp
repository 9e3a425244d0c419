// The order export reader on any bytes. First byte odd: the rest as CSV in each encoding. Even:
// the rest cut at NUL bytes into the parts of a workbook (workbook, its relationships, shared
// strings, first sheet), packed into a real zip, so the XML readers behind the unzipping see
// the fuzzer's bytes; a rest that is itself a zip is read as it is.
#include "files/orderfile.h"
#include "files/xlsxreader.h"
#include "fuzzinput.h"

#include <QSet>

#include <zip.h>

FUZZ_APPLICATION

namespace {

// The parts as a zip archive in memory ("" when libzip fails).
QByteArray zipOf(const QList<QByteArray> &parts)
{
    static const char *const names[] = {"xl/workbook.xml", "xl/_rels/workbook.xml.rels",
                                        "xl/sharedStrings.xml", "xl/worksheets/sheet1.xml"};
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_error_fini(&error);
    if (!buffer)
        return {};
    zip_source_keep(buffer);
    zip_t *archive = zip_open_from_source(buffer, ZIP_TRUNCATE, nullptr);
    if (!archive) {
        zip_source_free(buffer);
        return {};
    }
    for (int i = 0; i < 4; ++i) {
        zip_source_t *part =
            zip_source_buffer(archive, parts[i].constData(), zip_uint64_t(parts[i].size()), 0);
        if (part && zip_file_add(archive, names[i], part, ZIP_FL_OVERWRITE) < 0)
            zip_source_free(part);
    }
    QByteArray bytes;
    if (zip_close(archive) != 0) {
        zip_discard(archive);
    } else if (zip_source_open(buffer) == 0) {
        char chunk[65536];
        zip_int64_t n;
        while ((n = zip_source_read(buffer, chunk, sizeof chunk)) > 0)
            bytes.append(chunk, qsizetype(n));
        zip_source_close(buffer);
    }
    zip_source_free(buffer);
    return bytes;
}

void check(const OrderFileResult &result, int maxBuyers)
{
    FUZZ_CHECK(result.ok() || result.buyers.isEmpty());
    FUZZ_CHECK(result.buyers.size() <= maxBuyers);
    FUZZ_CHECK(result.leftOut == 0 || result.buyers.size() == maxBuyers);
    QSet<QString> seen;
    qint64 orders = 0;
    for (const OrderBuyer &b : result.buyers) {
        FUZZ_CHECK(!b.id.isEmpty() && b.id == b.id.trimmed());
        FUZZ_CHECK(!seen.contains(b.id));
        seen.insert(b.id);
        FUZZ_CHECK(b.orders >= 1 && b.orderNumbers.size() <= b.orders);
        orders += b.orders;
    }
    FUZZ_CHECK(!result.ok() || orders <= result.orders);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray rest = fuzzBytes(data + 1, size - 1);
    OrderFileOptions options;
    options.maxBuyers = 3;
    if (data[0] & 1) {
        for (IdFileEncoding encoding :
             {IdFileEncoding::Auto, IdFileEncoding::Utf8, IdFileEncoding::Gbk}) {
            options.encoding = encoding;
            check(parseOrderFile(rest, options), options.maxBuyers);
        }
        return 0;
    }
    const QByteArray workbook = looksLikeZip(rest) ? rest : zipOf(fuzzParts(rest, 4));
    check(parseOrderFile(workbook, options), options.maxBuyers);
    options.buyerColumn = QStringLiteral("B");
    check(parseOrderFile(workbook, options), options.maxBuyers);
    return 0;
}
