// The settings reader on any file, and the settings dialog's editor of it.
#include "files/inidocument.h"
#include "files/querysettings.h"
#include "fuzzinput.h"

#include <QFile>
#include <QHash>
#include <QSettings>
#include <QTemporaryDir>

FUZZ_APPLICATION

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    static int n = 0;
    // A new name each time: QSettings keeps what it read of a file it has seen.
    const QString path = dir.filePath(QStringLiteral("brelvon-%1.conf").arg(++n));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        return 0;
    file.close();
    QuerySettings settings;
    QString error;
    QStringList problems;
    if (loadQuerySettings(path, &settings, &error, &problems)) {
        FUZZ_CHECK(!settings.mainHost.isEmpty() || !settings.secondHost.isEmpty() ||
                   !settings.tradeCardHost.isEmpty());
        for (const QString &host : {settings.mainHost, settings.secondHost, settings.tradeCardHost})
            FUZZ_CHECK(!host.contains(u' ') && !host.contains(u'/'));
        FUZZ_CHECK(settings.batchJobs >= 1 && settings.batchJobs <= 8);
        FUZZ_CHECK(settings.batchPaceMs >= 0 && settings.batchPaceMs <= 600000);
    } else {
        FUZZ_CHECK(!error.isEmpty());
    }

    // The editor reads the file as the program does, and changes one value and nothing else:
    // every other key reads as before, the value reads back as set, even with line breaks in it.
    // A file that is not UTF-8 is never saved.
    IniDocument document;
    FUZZ_CHECK(document.load(path, &error));
    const QString saved = dir.filePath(QStringLiteral("saved-%1.conf").arg(n));
    const auto readAll = [](const QString &file) {
        QSettings ini(file, QSettings::IniFormat);
        QHash<QString, QVariant> values;
        for (const QString &key : ini.allKeys()) {
            // value() reads "a//b" as "a/b": such a name cannot be asked for.
            if (!key.contains(QLatin1String("//")) && !key.startsWith(u'/') && !key.endsWith(u'/'))
                values.insert(key, ini.value(key));
        }
        return values;
    };
    // (Bytes that are not UTF-8 each program decodes its own way; such a file is never saved. A
    // byte order mark inside a value QSettings keeps or drops by where it stands. A
    // name with '/' in it, plain or escaped, can make QSettings skip a section when one key is
    // asked for, depending on what was asked before: no editor can follow that.)
    const QByteArray bytes = fuzzBytes(data, size);
    const bool plainNames = document.isUtf8() && !bytes.contains('/') && !bytes.contains('\\') &&
                            !bytes.contains('%') && bytes.lastIndexOf("\xEF\xBB\xBF") <= 0;
    for (const QString &key : {QStringLiteral("hosts/main"), QStringLiteral("viewer/popupLogin")}) {
        if (!plainNames)
            break;
        // Asked for by name, as the program asks (reading every key first reads more).
        const QVariant v = QSettings(path, QSettings::IniFormat).value(key);
        const auto shown = document.value(key.section(u'/', 0, 0), key.section(u'/', 1));
        if (v.metaType().id() == QMetaType::QString && !v.toString().startsWith(u'@'))
            FUZZ_CHECK(shown == v.toString());
        else if (v.metaType().id() == QMetaType::QStringList)
            FUZZ_CHECK(shown == v.toStringList().join(u','));
        else if (!v.isValid())
            FUZZ_CHECK(!shown);
    }
    QHash<QString, QVariant> before = readAll(path);
    QFile::remove(path);
    const QString value = QStringLiteral("fuzz.example\r[hosts]\nmain=evil");
    document.setValue(QStringLiteral("hosts"), QStringLiteral("main"), value);
    if (!document.save(saved, &error)) {
        FUZZ_CHECK(!document.isUtf8());
        return 0;
    }
    FUZZ_CHECK(document.isUtf8());
    FUZZ_CHECK(document.value(QStringLiteral("hosts"), QStringLiteral("main")) == value);
    if (plainNames)
        FUZZ_CHECK(QSettings(saved, QSettings::IniFormat).value(QStringLiteral("hosts/main")) ==
                   QVariant(value));
    QHash<QString, QVariant> after = readAll(saved);
    QFile::remove(saved);
    FUZZ_CHECK(after.take(QStringLiteral("hosts/main")) == QVariant(value));
    before.remove(QStringLiteral("hosts/main"));
    FUZZ_CHECK(after == before);
    return 0;
}
