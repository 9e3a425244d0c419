#include "app/cli/batchcommand.h"

#include "app/cli/clicommon.h"
#include "files/idfile.h"
#include "files/spreadsheetexport.h"
#include "storage/historytext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

// A whole number in [low, high] from an option's text.
bool readBounded(const QString &text, int low, int high, int *value)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < low || n > high)
        return false;
    *value = n;
    return true;
}

} // namespace

int runBatchCommand(const QStringList &args)
{
    QueryCommandLine cli(
        QStringLiteral(
            "batch [--settings FILE] [--demo] [--browser] [--jobs N] [--pace MS] "
            "[--encoding gbk|utf-8] [--parallel-pages] [--extra-columns] [--verbose] "
            "[--database FILE] [--no-history] [--config FILE] [--area-table FILE] IDFILE "
            "--xlsx OUT"),
        QStringLiteral("Looks up every id of IDFILE (at most 101) and saves the table to OUT."));
    const QCommandLineOption xlsxOption(QStringLiteral("xlsx"),
                                        QStringLiteral("The xlsx file to write the table to."),
                                        QStringLiteral("OUT"));
    const QCommandLineOption jobsOption(
        QStringLiteral("jobs"),
        QStringLiteral("Buyers looked up at once, 1 to %1 (default: the settings' [batch] jobs, "
                       "else 1).")
            .arg(BatchOptions::kMaxJobs),
        QStringLiteral("N"));
    const QCommandLineOption paceOption(
        QStringLiteral("pace"),
        QStringLiteral("At least MS milliseconds between two request starts to one host "
                       "(default: the settings' [batch] paceMs, else 0)."),
        QStringLiteral("MS"));
    const QCommandLineOption encodingOption(
        QStringLiteral("encoding"),
        QStringLiteral("The id file's encoding, gbk or utf-8 (default: the settings' [batch] "
                       "idFileEncoding, else UTF-8 when the file is valid UTF-8, GBK otherwise)."),
        QStringLiteral("NAME"));
    const QCommandLineOption extraOption(
        QStringLiteral("extra-columns"),
        QStringLiteral("Add credit score, credit level, risk, its reasons and the pages' outcomes "
                       "after column 12 (default: the settings' [batch] extraColumns)."));
    cli.parser().addOption(xlsxOption);
    cli.parser().addOption(extraOption);
    cli.parser().addOption(jobsOption);
    cli.parser().addOption(paceOption);
    cli.parser().addOption(encodingOption);
    cli.parser().addPositionalArgument(QStringLiteral("IDFILE"),
                                       QStringLiteral("Buyer ids, separated by commas or lines."));
    QueryOptions options;
    int exitCode = CliOk;
    if (!cli.parse(args, &options, &exitCode))
        return exitCode;
    QString outPath;
    QString jobsText;
    QString paceText;
    QString encodingText;
    if (!cli.singleValue(xlsxOption, QStringLiteral("a file name"), &outPath, &exitCode) ||
        !cli.singleValue(jobsOption, QStringLiteral("a number"), &jobsText, &exitCode) ||
        !cli.singleValue(paceOption, QStringLiteral("a number"), &paceText, &exitCode) ||
        !cli.singleValue(encodingOption, QStringLiteral("gbk or utf-8"), &encodingText, &exitCode))
        return exitCode;
    BatchOptions batch;
    if (!jobsText.isEmpty() && !readBounded(jobsText, 1, BatchOptions::kMaxJobs, &batch.jobs))
        return cli.usage(QStringLiteral("--jobs must be a number from 1 to %1, not %2")
                             .arg(BatchOptions::kMaxJobs)
                             .arg(jobsText));
    if (!paceText.isEmpty() && !readBounded(paceText, 0, 600000, &batch.paceMs))
        return cli.usage(
            QStringLiteral("--pace must be a number of milliseconds from 0 to 600000, not %1")
                .arg(paceText));
    std::optional<IdFileEncoding> encoding;
    if (!encodingText.isEmpty()) {
        encoding = parseIdFileEncoding(encodingText);
        if (!encoding)
            return cli.usage(
                QStringLiteral("--encoding must be gbk or utf-8, not %1").arg(encodingText));
    }
    if (options.operands.size() != 1)
        return cli.usage(options.operands.isEmpty() ? QStringLiteral("no id file given")
                                                    : QStringLiteral("give exactly one id file"));
    if (outPath.isEmpty())
        return cli.usage(QStringLiteral("no output file given (--xlsx OUT)"));

    const QString idPath = options.operands.first();
    QueryRun run;
    if (const int code = loadQueryProfile(options, &run.profile); code != CliOk)
        return code;
    // The table never lands on the id file, the database or the settings, whatever OUT is.
    const QList<OwnFile> ownFiles = programFiles(
        run.profile.storage.path(),
        run.profile.settingsPath.isEmpty() ? defaultSettingsPath() : run.profile.settingsPath,
        idPath);
    QString error;
    if (!checkBatchOutput(outPath, ownFiles, &error)) {
        printMessage(error);
        return CliUsage;
    }
    const QuerySettings &settings = run.profile.settings;
    // The user's choice of encoding wins over the settings', and either over the guess.
    const IdFileResult idFile =
        readIdFile(idPath, kMaxBatchIds, encoding.value_or(settings.idFileEncoding));
    if (!idFile.ok()) {
        printMessage(idFile.error);
        return CliUsage;
    }
    // The command line's values win over the settings'.
    if (jobsText.isEmpty())
        batch.jobs = settings.batchJobs;
    if (paceText.isEmpty())
        batch.paceMs = settings.batchPaceMs;
    if (const int code = startQueryRun(options, batch.jobs, &run); code != CliOk)
        return code;

    LookupRunner::BatchProgress progress;
    progress.started = [](int finished, int total, const QString &id) {
        printMessage(batchProgressText(total, finished, id));
    };
    progress.finished = [&](int index, const LookupOutcome &outcome) {
        if (options.verbose) {
            for (const PageResult &page : outcome.result.pages)
                printPage(idFile.ids.at(index), page);
        }
        tellAfterLookup(outcome);
    };
    QList<LookupOutcome> outcomes;
    bool cancelled = false;
    LookupRunner runner(run.service.get());
    const int code = runUntilDone(runner, [&] {
        runner.batch(idFile.ids, batch, progress,
                     [&](const QList<LookupOutcome> &done, bool wasCancelled) {
                         outcomes = done;
                         cancelled = wasCancelled;
                         QCoreApplication::exit(0);
                     });
    });
    if (code != CliOk || cancelled) {
        printMessage(QStringLiteral("interrupted: no table written"));
        return CliInterrupted;
    }
    const QList<BatchRow> rows = batchRows(outcomes);
    BatchTableOptions table;
    table.extraColumns = settings.extraColumns || cli.parser().isSet(extraOption);
    table.risk = settings.risk;
    if (!writeBatchSpreadsheet(outPath, rows, &error, table, ownFiles)) {
        printMessage(error);
        return CliUsage;
    }
    printMessage(QStringLiteral("%1 buyer(s) written to %2").arg(rows.size()).arg(outPath));
    return CliOk;
}
