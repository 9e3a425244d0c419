// The batch's id file reader on any bytes, in each of its encodings, and through the file itself
// (opened, checked to be a regular file, read) as a batch reads it.
#include "files/idfile.h"
#include "fuzzinput.h"
#include "web/texthelpers.h"

#include <QDir>
#include <QFile>

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
    // The same bytes as a file give the same ids.
    static const QString path = QDir::temp().filePath(
        QStringLiteral("fuzz_idfile_%1.txt").arg(QCoreApplication::applicationPid()));
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(bytes) == bytes.size());
    file.close();
    const IdFileResult read = readIdFile(path);
    const IdFileResult parsed = parseIdFile(bytes);
    FUZZ_CHECK(read.ids == parsed.ids && read.ok() == parsed.ok() &&
               read.leftOut == parsed.leftOut);
    return 0;
}
