#include "batchcommand.h"

#include "buyerquery.h"
#include "clicommon.h"
#include "idfile.h"
#include "spreadsheetexport.h"
#include "texthelpers.h"

#include <QDir>
#include <QFileInfo>

namespace {

const char kBatchUsage[] = "usage: brelvon-cli batch [--settings FILE] [--demo] IDFILE --xlsx OUT";

int usage(const QString &message)
{
    printMessage(message);
    printMessage(QLatin1String(kBatchUsage));
    return CliUsage;
}

// Whether OUT can be written, checked before any page is fetched so a long batch never ends in
// a table that cannot be saved. The export itself reports what still goes wrong later.
bool outputWritable(const QString &path, QString *error)
{
    const QFileInfo out(path);
    if (out.isDir()) {
        *error = QStringLiteral("cannot write %1: it is a folder").arg(path);
        return false;
    }
    const QFileInfo folder(out.absolutePath());
    if (!folder.isDir()) {
        *error = QStringLiteral("cannot write %1: folder %2 does not exist")
                     .arg(path, QDir::toNativeSeparators(out.absolutePath()));
        return false;
    }
    if (!folder.isWritable() || (out.exists() && !out.isWritable())) {
        *error = QStringLiteral("cannot write %1: permission denied").arg(path);
        return false;
    }
    return true;
}

} // namespace

int runBatchCommand(const QStringList &args)
{
    // --xlsx OUT is this command's own option; the rest are the common query options.
    QStringList rest;
    QString outPath;
    bool sawXlsx = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--")) {
            rest += args.mid(i);
            break;
        }
        if (args.at(i) == QLatin1String("--xlsx")) {
            if (sawXlsx)
                return usage(QStringLiteral("--xlsx given twice"));
            if (i + 1 >= args.size())
                return usage(QStringLiteral("--xlsx needs a file name"));
            sawXlsx = true;
            outPath = args.at(++i);
        } else {
            rest += args.at(i);
        }
    }
    QueryOptions options;
    QString error;
    if (!parseQueryOptions(rest, &options, &error))
        return usage(error);
    if (options.operands.size() != 1)
        return usage(options.operands.isEmpty() ? QStringLiteral("no id file given")
                                                : QStringLiteral("give exactly one id file"));
    if (!sawXlsx || outPath.isEmpty())
        return usage(QStringLiteral("no output file given (--xlsx OUT)"));

    const IdFileResult idFile = readIdFile(options.operands.first());
    if (!idFile.ok()) {
        printMessage(idFile.error);
        return CliUsage;
    }
    if (!outputWritable(outPath, &error)) {
        printMessage(error);
        return CliUsage;
    }

    QueryTarget target;
    if (const int code = prepareQueryTarget(options, &target); code != CliOk)
        return code;

    BuyerQuery query(target.settings);
    QList<BatchRow> rows;
    const int total = int(idFile.ids.size());
    for (int j = 0; j < total; ++j) {
        const QString &id = idFile.ids.at(j);
        printMessage(batchProgressText(total, j, id));
        rows.append({id, query.run(trimSpaces(id))});
    }
    if (!writeBatchSpreadsheet(outPath, rows, &error)) {
        printMessage(error);
        return CliUsage;
    }
    printMessage(QStringLiteral("%1 buyer(s) written to %2").arg(total).arg(outPath));
    return CliOk;
}
