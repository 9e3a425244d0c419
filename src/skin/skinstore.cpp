#include "skin/skinstore.h"

#include "skin/filestamp.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMutex>
#include <QMutexLocker>

#include <zip.h>

#include <vector>

namespace {

struct ZipCloser
{
    void operator()(zip_t *z) const { zip_discard(z); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipCloser>;

struct ZipFileCloser
{
    void operator()(zip_file_t *f) const { zip_fclose(f); }
};

void note(QStringList *problems, const QString &text)
{
    if (problems)
        problems->append(text);
}

// Reads one entry whole, refusing entries over the size bound. The archive's size field is not
// trusted: reading stops one byte past the bound. Reading to the end lets libzip check the CRC.
std::optional<QByteArray> readEntry(zip_t *zip, zip_uint64_t index, const QString &name,
                                    QStringList *problems, qint64 maxBytes = kSkinMaxEntryBytes)
{
    const QString tooLarge =
        maxBytes == kSkinMaxEntryBytes
            ? QStringLiteral(": entry larger than 16 MiB")
            : QStringLiteral(": larger than %1 KiB, ignored").arg(maxBytes / 1024);
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(zip, index, 0, &st) != 0) {
        note(problems, name + QStringLiteral(": unreadable entry"));
        return std::nullopt;
    }
    if ((st.valid & ZIP_STAT_SIZE) && st.size > zip_uint64_t(maxBytes)) {
        note(problems, name + tooLarge);
        return std::nullopt;
    }
    std::unique_ptr<zip_file_t, ZipFileCloser> file(zip_fopen_index(zip, index, 0));
    if (!file) {
        note(problems, name + QStringLiteral(": cannot open entry (%1)")
                                  .arg(QString::fromUtf8(zip_strerror(zip))));
        return std::nullopt;
    }
    QByteArray data;
    data.reserve(qsizetype((st.valid & ZIP_STAT_SIZE) ? st.size : 0));
    char chunk[65536];
    for (;;) {
        const zip_int64_t n = zip_fread(file.get(), chunk, sizeof chunk);
        if (n < 0) {
            note(problems, name + QStringLiteral(": damaged entry (%1)")
                                      .arg(QString::fromUtf8(zip_file_strerror(file.get()))));
            return std::nullopt;
        }
        if (n == 0)
            break;
        data.append(chunk, qsizetype(n));
        if (data.size() > maxBytes) {
            note(problems, name + tooLarge);
            return std::nullopt;
        }
    }
    return data;
}

std::shared_ptr<const SkinStore> readArchive(zip_t *zip, QStringList *problems)
{
    auto store = std::make_shared<SkinStore>();
    // First the names: one skin.ini (exactly that name), one entry per picture key.
    std::optional<zip_uint64_t> ini;
    QHash<QString, std::pair<zip_uint64_t, QString>> pictures; // key -> entry index, name
    const zip_int64_t count = zip_get_num_entries(zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char *rawName = zip_get_name(zip, zip_uint64_t(i), 0);
        if (!rawName)
            continue;
        const QString name = QString::fromUtf8(rawName);
        if (name == QLatin1String("skin.ini")) {
            if (ini)
                note(problems, name + QStringLiteral(": second skin.ini, ignored"));
            else
                ini = zip_uint64_t(i);
            continue;
        }
        const QString key = skinPictureKeyOfEntry(name);
        if (key.isEmpty()) {
            note(problems, name + QStringLiteral(": not a skin entry, ignored"));
            continue;
        }
        if (pictures.contains(key)) {
            note(problems, name + QStringLiteral(": second picture for %1, ignored").arg(key));
            continue;
        }
        pictures.insert(key, {zip_uint64_t(i), name});
    }

    if (ini) {
        if (auto text =
                readEntry(zip, *ini, QStringLiteral("skin.ini"), problems, kSkinMaxIniBytes))
            store->readIni(*text, problems);
    }

    // Then the pictures, in key order (borders, bar, buttons), while the pixel budget lasts: a
    // skin cannot hold more picture than a generous multiple of the default skin's.
    qint64 pixelsLeft = kSkinMaxTotalPixels;
    for (const SkinKey &k : kSkinKeys) {
        const auto it = pictures.constFind(QLatin1String(k.name));
        if (it == pictures.cend())
            continue;
        const QString &name = it->second;
        auto bytes = readEntry(zip, it->first, name, problems);
        if (!bytes)
            continue;
        QString problem;
        const QImage image = SkinStore::decodePicture(*bytes, &problem, pixelsLeft);
        if (image.isNull()) {
            note(problems, name + QStringLiteral(": ") + problem);
            continue;
        }
        pixelsLeft -= qint64(image.width()) * image.height();
        store->setPicture(it.key(), image);
    }
    return store;
}

const std::shared_ptr<const SkinStore> &emptyStore()
{
    static const std::shared_ptr<const SkinStore> empty = std::make_shared<const SkinStore>();
    return empty;
}

struct CacheEntry
{
    QString path;
    FileStamp stamp;
    std::shared_ptr<const SkinStore> store;
};

// A handful of skins at most are in use at once (one per skin file the program shows).
constexpr std::size_t kCacheSize = 8;

QMutex &cacheMutex()
{
    static QMutex mutex;
    return mutex;
}

std::vector<CacheEntry> &cache()
{
    static std::vector<CacheEntry> entries;
    return entries;
}

} // namespace

std::shared_ptr<const SkinStore> SkinStore::load(const QString &path)
{
    if (path.isEmpty())
        return emptyStore();
    const QByteArray native = QFile::encodeName(path);
    const auto stamp = stampOf(native);
    if (!stamp)
        return emptyStore();

    QMutexLocker lock(&cacheMutex());
    auto &entries = cache();
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->path != path)
            continue;
        if (it->stamp == *stamp) {
            // Most recently used first, so a long-running program keeps its own skins.
            if (it != entries.begin())
                std::rotate(entries.begin(), it, it + 1);
            return entries.front().store;
        }
        entries.erase(it);
        break;
    }
    auto store = readFile(path);
    // The file may have changed while it was read; stamp what was read.
    const auto after = stampOf(native);
    if (after && *after == *stamp) {
        entries.insert(entries.begin(), CacheEntry{path, *stamp, store});
        if (entries.size() > kCacheSize)
            entries.pop_back();
    }
    return store;
}

std::shared_ptr<const SkinStore> SkinStore::readFile(const QString &path, QStringList *problems)
{
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        note(problems, path + QStringLiteral(": no such file"));
        return emptyStore();
    }
    int error = 0;
    // Read only: a missing file is never created. libzip takes UTF-8 names on every system.
    ZipPtr zip(zip_open(path.toUtf8().constData(), ZIP_RDONLY, &error));
    if (!zip) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, error);
        note(problems, path + QStringLiteral(": not a skin archive (%1)")
                                  .arg(QString::fromUtf8(zip_error_strerror(&ze))));
        zip_error_fini(&ze);
        return emptyStore();
    }
    return readArchive(zip.get(), problems);
}

std::shared_ptr<const SkinStore> SkinStore::fromArchive(const QByteArray &archive,
                                                        QStringList *problems)
{
    if (archive.isEmpty()) {
        note(problems, QStringLiteral("empty archive"));
        return emptyStore();
    }
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source =
        zip_source_buffer_create(archive.constData(), zip_uint64_t(archive.size()), 0, &error);
    ZipPtr zip(source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr);
    if (!zip) {
        note(problems, QStringLiteral("not a skin archive (%1)")
                           .arg(QString::fromUtf8(zip_error_strerror(&error))));
        if (source)
            zip_source_free(source);
        zip_error_fini(&error);
        return emptyStore();
    }
    zip_error_fini(&error);
    return readArchive(zip.get(), problems);
}

void SkinStore::clearCache()
{
    QMutexLocker lock(&cacheMutex());
    cache().clear();
}

SkinKind SkinStore::kind(const QString &key) const
{
    if (m_pictures.contains(key))
        return SkinKind::Picture;
    if (m_numbers.contains(key))
        return SkinKind::Number;
    if (m_colours.contains(key))
        return SkinKind::Colour;
    return SkinKind::Absent;
}

std::optional<QImage> SkinStore::picture(const QString &key) const
{
    const auto it = m_pictures.constFind(key);
    if (it == m_pictures.cend())
        return std::nullopt;
    return *it;
}

std::optional<qint16> SkinStore::number(const QString &key) const
{
    const auto it = m_numbers.constFind(key);
    if (it == m_numbers.cend())
        return std::nullopt;
    return *it;
}

std::optional<quint32> SkinStore::colour(const QString &key) const
{
    const auto it = m_colours.constFind(key);
    if (it == m_colours.cend())
        return std::nullopt;
    return *it;
}

bool SkinStore::isEmpty() const
{
    return m_pictures.isEmpty() && m_numbers.isEmpty() && m_colours.isEmpty();
}

void SkinStore::readIni(const QByteArray &text, QStringList *problems)
{
    QString section;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        QString line = QString::fromUtf8(lines[n]).trimmed();
        if (n == 0 && line.startsWith(QChar(0xFEFF)))
            line = line.mid(1).trimmed();
        const QString where = QStringLiteral("skin.ini line %1: ").arg(n + 1);
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            const qsizetype comment = line.indexOf(u';');
            if (comment >= 0)
                line = line.left(comment).trimmed();
            if (!line.endsWith(u']')) {
                note(problems, where + QStringLiteral("unclosed section"));
                section = QString();
                continue;
            }
            section = line.mid(1, line.size() - 2).trimmed().toLower();
            if (section == QLatin1String("colors"))
                section = QStringLiteral("colours");
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0) {
            note(problems, where + QStringLiteral("not a key=value line"));
            continue;
        }
        const QString key = line.left(eq).trimmed();
        QString value = line.mid(eq + 1);
        const qsizetype comment = value.indexOf(u';');
        if (comment >= 0)
            value.truncate(comment);
        value = value.trimmed();
        const SkinKind kind = skinKeyKind(key);
        if (kind != SkinKind::Number && kind != SkinKind::Colour) {
            note(problems, where + QStringLiteral("%1 is not a number or colour key").arg(key));
            continue;
        }
        if (section != skinIniSection(kind)) {
            note(problems,
                 where + QStringLiteral("%1 belongs in [%2]").arg(key, skinIniSection(kind)));
            continue;
        }
        if (kind == SkinKind::Number) {
            if (auto number = parseSkinNumber(value))
                m_numbers.insert(key, *number);
            else
                note(problems, where + QStringLiteral("%1: not a 16-bit number").arg(key));
        } else {
            if (auto colour = parseSkinColour(value))
                m_colours.insert(key, *colour);
            else
                note(problems, where + QStringLiteral("%1: not a #RRGGBB colour").arg(key));
        }
    }
}

QImage SkinStore::decodePicture(const QByteArray &bytes, QString *problem, qint64 maxPixels)
{
    auto fail = [problem](const QString &why) {
        if (problem)
            *problem = why;
        return QImage();
    };
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    const QByteArray format = reader.format();
    // Skin pictures are PNG or BMP; other decoders are not exposed to skin files.
    if (format != "png" && format != "bmp")
        return fail(QStringLiteral("not a PNG or BMP picture"));
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        return fail(QStringLiteral("picture without a size"));
    if (size.width() > kSkinMaxPictureSide || size.height() > kSkinMaxPictureSide)
        return fail(QStringLiteral("picture larger than 4096 x 4096"));
    if (qint64(size.width()) * size.height() > maxPixels)
        return fail(QStringLiteral("picture beyond the skin's pixel budget (%1 pixels in all)")
                        .arg(kSkinMaxTotalPixels));
    QImage image = reader.read();
    if (image.isNull())
        return fail(QStringLiteral("undecodable picture (%1)").arg(reader.errorString()));
    return image;
}

void SkinStore::setPicture(const QString &key, const QImage &picture)
{
    // Skin pictures are bitmaps, drawn opaque: any alpha channel is dropped here, once.
    m_pictures.insert(key, picture.format() == QImage::Format_RGB32
                               ? picture
                               : picture.convertToFormat(QImage::Format_RGB32));
}

std::optional<quint32> parseSkinColour(QStringView text)
{
    if (text.size() != 7 || text[0] != u'#')
        return std::nullopt;
    quint32 rgb = 0;
    for (qsizetype i = 1; i < 7; ++i) {
        const char16_t c = text[i].unicode();
        int digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return std::nullopt;
        rgb = rgb << 4 | quint32(digit);
    }
    const quint32 r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
    return b << 16 | g << 8 | r;
}

QString formatSkinColour(quint32 ole)
{
    return QStringLiteral("#%1%2%3")
        .arg(ole & 0xFF, 2, 16, QChar(u'0'))
        .arg(ole >> 8 & 0xFF, 2, 16, QChar(u'0'))
        .arg(ole >> 16 & 0xFF, 2, 16, QChar(u'0'))
        .toUpper();
}

std::optional<qint16> parseSkinNumber(QStringView text)
{
    if (text.isEmpty() || text.size() > 7)
        return std::nullopt;
    qsizetype i = 0;
    bool negative = false;
    if (text[0] == u'-' || text[0] == u'+') {
        negative = text[0] == u'-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    int value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
    }
    if (negative)
        value = -value;
    if (value < -32768 || value > 32767)
        return std::nullopt;
    return qint16(value);
}

QString skinPictureKeyOfEntry(const QString &entryName)
{
    const qsizetype dot = entryName.lastIndexOf(u'.');
    if (dot <= 0)
        return {};
    const QStringView ext = QStringView(entryName).mid(dot + 1);
    if (ext.compare(QLatin1String("png"), Qt::CaseInsensitive) != 0 &&
        ext.compare(QLatin1String("bmp"), Qt::CaseInsensitive) != 0)
        return {};
    const QString key = entryName.left(dot);
    return skinKeyKind(key) == SkinKind::Picture ? key : QString();
}
