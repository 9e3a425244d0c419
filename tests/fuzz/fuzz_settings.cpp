// The settings reader on any file, and the settings dialog's editor of it.
#include "files/inidocument.h"
#include "files/querysettings.h"
#include "fuzzinput.h"

#include <QFile>
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
    QFile::remove(path);

    // The editor changes one value and nothing else: every other line stays, the value reads
    // back as set.
    IniDocument document;
    document.setText(QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)));
    const qsizetype before = document.text().count(u'\n');
    document.setValue(QStringLiteral("hosts"), QStringLiteral("main"),
                      QStringLiteral("fuzz.example"));
    FUZZ_CHECK(document.value(QStringLiteral("hosts"), QStringLiteral("main")) ==
               QStringLiteral("fuzz.example"));
    const qsizetype after = document.text().count(u'\n');
    FUZZ_CHECK(after >= before && after <= before + 3);
    return 0;
}
