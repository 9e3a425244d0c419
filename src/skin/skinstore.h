#pragma once

#include "skin/skinkeys.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// A loaded skin: the pictures, numbers and colours of one skin file, looked up by key. A skin
// file (skin.jss) is a zip archive holding skin.ini (sections [numbers] and [colours]; that exact
// name, at most 64 KiB) and one PNG or BMP per picture key, named after the key (LEFTTOP.png).
// Only the 33 keys of kSkinKeys are held, each with its own kind; anything unreadable simply
// reads as absent. The pictures are decoded in key order while a pixel budget for the whole
// skin lasts; a picture beyond it reads as absent.
//
// Stores are immutable and shared: the frame controls load the same file on every paint, so
// load() keeps decoded skins keyed by the file's identity, size and times, and a replaced file
// is decoded afresh at its next load.
class SkinStore
{
public:
    // The empty store: every key absent.
    SkinStore() = default;

    // The skin in the file at path, from the cache when the file is unchanged. A missing,
    // unreadable or corrupt file gives an empty store. Never creates or writes the file.
    static std::shared_ptr<const SkinStore> load(const QString &path);

    // Decodes the file without the cache. Problems (entries ignored and why) are appended to
    // problems when given; the tool shows them, the program does not.
    static std::shared_ptr<const SkinStore> readFile(const QString &path,
                                                     QStringList *problems = nullptr);
    // Decodes a skin archive held in memory.
    static std::shared_ptr<const SkinStore> fromArchive(const QByteArray &archive,
                                                        QStringList *problems = nullptr);
    static void clearCache();

    // Absent when the skin lacks the key or the key is not one of the 33 (exact spelling).
    SkinKind kind(const QString &key) const;
    // The picture, opaque (Format_RGB32), at most 4096 x 4096 pixels.
    std::optional<QImage> picture(const QString &key) const;
    std::optional<qint16> number(const QString &key) const;
    // OLE colour value: red in the low byte, 0x00BBGGRR.
    std::optional<quint32> colour(const QString &key) const;
    bool isEmpty() const;

    // Parses skin.ini text into this store's numbers and colours; used by the reader and by the
    // skin tool's checks. Lines that do not parse, unknown keys and keys in the wrong section
    // are skipped and reported.
    void readIni(const QByteArray &text, QStringList *problems);
    // Decodes one picture entry (PNG or BMP) within the size bounds and of at most maxPixels
    // pixels; a null image otherwise.
    static QImage decodePicture(const QByteArray &bytes, QString *problem = nullptr,
                                qint64 maxPixels = kSkinMaxTotalPixels);
    // Sets a picture (made opaque); used when building a store from a folder.
    void setPicture(const QString &key, const QImage &picture);

private:
    QHash<QString, QImage> m_pictures;
    QHash<QString, qint16> m_numbers;
    QHash<QString, quint32> m_colours;
};

// "#RRGGBB" to an OLE colour (0x00BBGGRR); nullopt unless exactly that form.
std::optional<quint32> parseSkinColour(QStringView text);
// An OLE colour written "#RRGGBB".
QString formatSkinColour(quint32 ole);
// A 16-bit signed decimal number ("-12", "+7", "300"); nullopt otherwise.
std::optional<qint16> parseSkinNumber(QStringView text);

// The picture entry name a key may have in the archive: the key followed by ".png" or ".bmp"
// (extension in any case). Gives the key, or an empty string for other names.
QString skinPictureKeyOfEntry(const QString &entryName);
