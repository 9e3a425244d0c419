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
        inUserLanguage(QStringLiteral("查询一个买家，把这次查询读到的内容存入 DIR：每个页面收到时的"
                                      "原样内容、所用的查询配置和地区表、查询结果，以及它们的索引 "
                                      "capture.json。"),
                       QStringLiteral("Looks one buyer up and saves what the lookup read into "
                                      "DIR: every page body as it arrived, the configuration and "
                                      "area table used, the record, and capture.json, their "
                                      "index.")));
    const QCommandLineOption outOption(
        QStringLiteral("out"),
        inUserLanguage(QStringLiteral("保存抓取内容的文件夹（不存在时新建；必须是空的）。"),
                       QStringLiteral("The folder to save the capture in (made when missing; "
                                      "must be empty).")),
        QStringLiteral("DIR"));
    cli.parser().addOption(outOption);
    cli.parser().addPositionalArgument(
        QStringLiteral("ID"),
        inUserLanguage(QStringLiteral("买家ID。"), QStringLiteral("A buyer id.")));
    QueryOptions options;
    int exitCode = CliOk;
    if (!cli.parse(args, &options, &exitCode))
        return exitCode;
    QString out;
    if (!cli.singleValue(
            outOption, inUserLanguage(QStringLiteral("文件夹名"), QStringLiteral("a folder name")),
            &out, &exitCode))
        return exitCode;
    if (out.isEmpty())
        return cli.usage(inUserLanguage(QStringLiteral("缺少 --out DIR"),
                                        QStringLiteral("--out DIR is missing")));
    if (options.operands.size() != 1 || isBlank(options.operands.constFirst()))
        return cli.usage(inUserLanguage(QStringLiteral("请给出一个买家ID"),
                                        QStringLiteral("give one buyer id")));
    const QString id = trimSpaces(options.operands.constFirst());
    const QFileInfo outInfo(out);
    if (outInfo.exists() &&
        (!outInfo.isDir() ||
         !QDir(out)
              .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)
              .isEmpty())) {
        printMessage(inUserLanguage(QStringLiteral("%1 不是空文件夹：抓取内容要放在单独的文件夹里"),
                                    QStringLiteral("%1 is not an empty folder: a capture goes into "
                                                   "a folder of its own"))
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
    printMessage(
        inUserLanguage(QStringLiteral("%1：%2，%3 个页面（保存了 %4 个），在 %5"),
                       QStringLiteral("%1: %2, %3 pages (%4 saved) in %5"))
            .arg(id, englishMessages() ? capture.lookup : lookupStatusText(outcome->status),
                 QString::number(capture.pages.size()),
                 QString::number(
                     std::count_if(capture.pages.begin(), capture.pages.end(),
                                   [](const CapturedPage &p) { return !p.file.isEmpty(); })),
                 QDir::cleanPath(out)));
    return isLookedUp(outcome->status) ? CliOk : CliNotLookedUp;
}
