#include "app/cli/capturecommand.h"

#include "app/cli/clicommon.h"
#include "files/capturefolder.h"
#include "lookup/capturerecording.h"
#include "web/texthelpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

int runCaptureCommand(const QStringList &args)
{
    QueryCommandLine cli(
        QStringLiteral("capture [--settings FILE] [--demo] [--browser] [--config FILE] "
                       "[--area-table FILE] [--verbose] ID --out DIR"),
        QStringLiteral("Looks one buyer up and saves what the lookup read into DIR: every page "
                       "body as it arrived, the configuration and area table used, the record, "
                       "and capture.json, their index."));
    const QCommandLineOption outOption(
        QStringLiteral("out"),
        QStringLiteral("The folder to save the capture in (made when missing; must be empty)."),
        QStringLiteral("DIR"));
    cli.parser().addOption(outOption);
    cli.parser().addPositionalArgument(QStringLiteral("ID"), QStringLiteral("A buyer id."));
    QueryOptions options;
    int exitCode = CliOk;
    if (!cli.parse(args, &options, &exitCode))
        return exitCode;
    QString out;
    if (!cli.singleValue(outOption, QStringLiteral("a folder name"), &out, &exitCode))
        return exitCode;
    if (out.isEmpty())
        return cli.usage(QStringLiteral("--out DIR is missing"));
    if (options.operands.size() != 1 || isBlank(options.operands.constFirst()))
        return cli.usage(QStringLiteral("give one buyer id"));
    const QString id = trimSpaces(options.operands.constFirst());
    const QFileInfo outInfo(out);
    if (outInfo.exists() &&
        (!outInfo.isDir() ||
         !QDir(out)
              .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)
              .isEmpty())) {
        printMessage(QStringLiteral("%1 is not an empty folder: a capture goes into a folder of "
                                    "its own")
                         .arg(out));
        return CliUsage;
    }
    // A capture never holds the seller's history: the lookup is not recorded.
    options.noHistory = true;
    options.parallelPages = false;

    QueryRun run;
    if (const int code = prepareQueryRun(options, 1, &run); code != CliOk)
        return code;
    const QuerySettings settings = run.profile.settings;
    CaptureRecording recording(run.service());

    std::optional<LookupOutcome> outcome;
    LookupRunner runner(&run.service());
    const int code = runUntilDone(runner, [&] {
        runner.lookup(id, [&](const LookupOutcome &done) {
            outcome = done;
            QCoreApplication::exit(0);
        });
    });
    if (code != CliOk || !outcome || outcome->status == LookupStatus::Cancelled)
        return code != CliOk ? code : CliInterrupted;

    if (options.verbose)
        for (const PageResult &page : outcome->result.pages)
            printPage(id, page);
    const CaptureRecording::Result saved =
        recording.capture(*outcome, settings, QStringLiteral("brelvon-cli " BRELVON_VERSION));
    const Capture &capture = saved.capture;
    QString error;
    if (!writeCaptureFolder(out, capture, saved.files, &error)) {
        printMessage(error);
        return CliFailed;
    }
    printMessage(QStringLiteral("%1: %2, %3 pages (%4 saved) in %5")
                     .arg(id, capture.lookup)
                     .arg(capture.pages.size())
                     .arg(std::count_if(capture.pages.begin(), capture.pages.end(),
                                        [](const CapturedPage &p) { return !p.file.isEmpty(); }))
                     .arg(QDir::cleanPath(out)));
    return isLookedUp(outcome->status) ? CliOk : CliNotLookedUp;
}
