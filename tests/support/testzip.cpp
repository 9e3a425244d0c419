#include "testzip.h"

#include <QBuffer>
#include <QFile>

#include <zip.h>

bool writeZip(const QString &path, const ZipEntries &entries, bool stored)
{
    QFile::remove(path);
    int error = 0;
    zip_t *zip = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!zip)
        return false;
    // libzip reads the buffers when the archive closes: entries outlives that.
    for (const auto &[name, bytes] : entries) {
        zip_source_t *src =
            zip_source_buffer(zip, bytes.constData(), zip_uint64_t(bytes.size()), 0);
        const zip_int64_t index =
            src ? zip_file_add(zip, name.toUtf8().constData(), src, ZIP_FL_ENC_UTF_8) : -1;
        if (index < 0) {
            if (src)
                zip_source_free(src);
            zip_discard(zip);
            return false;
        }
        if (stored)
            zip_set_file_compression(zip, zip_uint64_t(index), ZIP_CM_STORE, 0);
    }
    return zip_close(zip) == 0;
}

QByteArray pngBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}
