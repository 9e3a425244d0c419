#include "app/cli/batchcommand.h"

#include "app/cli/clicommon.h"
#include "files/batchjournal.h"
#include "files/idfile.h"
#include "lookup/batchrun.h"
#include "model/uilanguage.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

namespace {

// The file a written name ends up in: links and dots resolved, also for a file not made yet, so
// two names of one file are told as one.
QString writtenFile(const QString &path)
{
    const QFileInfo info(path);
    const QString real = info.canonicalFilePath();
    if (!real.isEmpty())
        return real;
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? info.absoluteFilePath() : folder + u'/' + info.fileName();
}

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

// Says how the batch ended and gives the exit status: 0 when every row was read and written, 3
// when rows failed or were not read, 2 when it was refused or no table could be written, 130
// when interrupted.
static int batchExitCode(const BatchRunOutcome &result, bool interrupted,
                         const QString &journalPath);

int runBatchCommand(const QStringList &args)
{
    QueryCommandLine cli(
        QStringLiteral("batch [--settings FILE] [--demo] [--browser] [--jobs N] [--pace MS] "
                       "[--encoding gbk|utf-8] [--parallel-pages] [--extra-columns] [--verbose] "
                       "[--database FILE] [--no-history] [--config FILE] [--area-table FILE] "
                       "[--column NAME] [--max-ids N] [--sort file|risk] [--resume] "
                       "IDFILE|ORDERS.csv|ORDERS.xlsx [--xlsx OUT] [--csv OUT]"),
        inUserLanguage(
            QStringLiteral("查询买家ID文件中的每个买家ID，或订单导出文件中的每个买家（最多为 "
                           "[batch] maxIds，默认 %1，最大 %2），把表格存入 --xlsx 和（或）--csv "
                           "指定的文件。"),
            QStringLiteral("Looks up every id of IDFILE, or every buyer of an order export (at "
                           "most [batch] maxIds, default %1, up to %2), and saves the table to "
                           "the --xlsx file, the --csv file or both."))
            .arg(kMaxBatchIds)
            .arg(kMaxBatchIdsLimit));
    const QCommandLineOption xlsxOption(
        QStringLiteral("xlsx"),
        inUserLanguage(QStringLiteral("表格写入的 xlsx 文件。"),
                       QStringLiteral("The xlsx file to write the table to.")),
        QStringLiteral("OUT"));
    const QCommandLineOption jobsOption(
        QStringLiteral("jobs"),
        inUserLanguage(QStringLiteral("同时查询的买家数，1 到 %1（默认：设置的 [batch] jobs，"
                                      "否则 1）。"),
                       QStringLiteral("Buyers looked up at once, 1 to %1 (default: the settings' "
                                      "[batch] jobs, else 1)."))
            .arg(BatchOptions::kMaxJobs),
        QStringLiteral("N"));
    const QCommandLineOption paceOption(
        QStringLiteral("pace"),
        inUserLanguage(QStringLiteral("对同一主机两次请求之间至少相隔 MS 毫秒（默认：设置的 "
                                      "[batch] paceMs，否则 0）。"),
                       QStringLiteral("At least MS milliseconds between two request starts to "
                                      "one host (default: the settings' [batch] paceMs, else "
                                      "0).")),
        QStringLiteral("MS"));
    const QCommandLineOption encodingOption(
        QStringLiteral("encoding"),
        inUserLanguage(QStringLiteral("买家ID文件（或 CSV 订单导出文件）的编码，gbk 或 utf-8"
                                      "（默认：设置的 [batch] idFileEncoding，否则文件是有效的 "
                                      "UTF-8 时按 UTF-8，不然按 GBK）。"),
                       QStringLiteral("The id file's (or CSV order export's) encoding, gbk or "
                                      "utf-8 (default: the settings' [batch] idFileEncoding, "
                                      "else UTF-8 when the file is valid UTF-8, GBK "
                                      "otherwise).")),
        QStringLiteral("NAME"));
    const QCommandLineOption extraOption(
        QStringLiteral("extra-columns"),
        inUserLanguage(QStringLiteral("在第 12 列后加上信用积分、信用等级、风险及其原因和页面情况"
                                      "（默认：设置的 [batch] extraColumns）。"),
                       QStringLiteral("Add credit score, credit level, risk, its reasons and the "
                                      "pages' outcomes after column 12 (default: the settings' "
                                      "[batch] extraColumns).")));
    cli.parser().addOption(xlsxOption);
    // Order exports, longer batches, the order of the rows and a CSV copy.
    const QCommandLineOption csvOption(
        QStringLiteral("csv"),
        inUserLanguage(QStringLiteral("（也或只）把表格写成 CSV，UTF-8 带字节顺序标记。"),
                       QStringLiteral("Also (or only) write the table as CSV, UTF-8 with a byte "
                                      "order mark.")),
        QStringLiteral("OUT"));
    const QCommandLineOption columnOption(
        QStringLiteral("column"),
        inUserLanguage(QStringLiteral("订单文件的买家列（默认：设置的 [batch] buyerColumn，否则 "
                                      "买家会员名、买家昵称、buyer 或 buyerId）；不论文件名如何，"
                                      "都按订单文件读取。"),
                       QStringLiteral("The buyer column of an order file (default: the settings' "
                                      "[batch] buyerColumn, else 买家会员名, 买家昵称, buyer or "
                                      "buyerId); reads the file as an order file whatever its "
                                      "name.")),
        QStringLiteral("NAME"));
    const QCommandLineOption maxIdsOption(
        QStringLiteral("max-ids"),
        inUserLanguage(QStringLiteral("最多查询的买家ID数，1 到 %1（默认：设置的 [batch] "
                                      "maxIds，否则 %2）；其余的只计数，不查询。"),
                       QStringLiteral("The most ids (buyers) looked up, 1 to %1 (default: the "
                                      "settings' [batch] maxIds, else %2); the rest are counted "
                                      "and left out."))
            .arg(kMaxBatchIdsLimit)
            .arg(kMaxBatchIds),
        QStringLiteral("N"));
    const QCommandLineOption sortOption(
        QStringLiteral("sort"),
        inUserLanguage(QStringLiteral("各行的顺序：file（按读入顺序）或 risk（高、未知、中、低，"
                                      "同级按文件顺序；默认：设置的 [batch] sort，否则 file）。"),
                       QStringLiteral("The rows' order: file (as read) or risk (高, 未知, 中, 低, "
                                      "file order within each; default: the settings' [batch] "
                                      "sort, else file).")),
        QStringLiteral("ORDER"));
    const QCommandLineOption resumeOption(
        QStringLiteral("resume"),
        inUserLanguage(QStringLiteral("从中断处继续同一输入和输出的未完成批量查询（其记录 "
                                      "OUT.journal 保存已查完的行）。"),
                       QStringLiteral("Continue the unfinished batch of the same input and output "
                                      "where it stopped (its journal, OUT.journal, keeps the rows "
                                      "finished).")));
    cli.parser().addOption(resumeOption);
    cli.parser().addOption(csvOption);
    cli.parser().addOption(columnOption);
    cli.parser().addOption(maxIdsOption);
    cli.parser().addOption(sortOption);
    cli.parser().addOption(extraOption);
    cli.parser().addOption(jobsOption);
    cli.parser().addOption(paceOption);
    cli.parser().addOption(encodingOption);
    cli.parser().addPositionalArgument(
        QStringLiteral("IDFILE"),
        inUserLanguage(QStringLiteral("买家ID，以逗号或换行分隔；或订单导出文件（.csv、"
                                      ".xlsx）。"),
                       QStringLiteral("Buyer ids, separated by commas or lines; or an order "
                                      "export (.csv, .xlsx).")));
    QueryOptions options;
    int exitCode = CliOk;
    if (!cli.parse(args, &options, &exitCode))
        return exitCode;
    QString outPath;
    QString jobsText;
    QString paceText;
    QString encodingText;
    const QString number = inUserLanguage(QStringLiteral("数字"), QStringLiteral("a number"));
    if (!cli.singleValue(xlsxOption, fileNameWord(), &outPath, &exitCode) ||
        !cli.singleValue(jobsOption, number, &jobsText, &exitCode) ||
        !cli.singleValue(paceOption, number, &paceText, &exitCode) ||
        !cli.singleValue(
            encodingOption,
            inUserLanguage(QStringLiteral(" gbk 或 utf-8"), QStringLiteral("gbk or utf-8")),
            &encodingText, &exitCode))
        return exitCode;
    QString csvPath;
    QString columnText;
    QString maxIdsText;
    QString sortText;
    if (!cli.singleValue(csvOption, fileNameWord(), &csvPath, &exitCode) ||
        !cli.singleValue(columnOption,
                         inUserLanguage(QStringLiteral("列名"), QStringLiteral("a column name")),
                         &columnText, &exitCode) ||
        !cli.singleValue(maxIdsOption, number, &maxIdsText, &exitCode) ||
        !cli.singleValue(
            sortOption,
            inUserLanguage(QStringLiteral(" file 或 risk"), QStringLiteral("file or risk")),
            &sortText, &exitCode))
        return exitCode;
    int maxIds = 0;
    if (!maxIdsText.isEmpty() && !readBounded(maxIdsText, 1, kMaxBatchIdsLimit, &maxIds))
        return cli.usage(inUserLanguage(QStringLiteral("--max-ids 须是 1 到 %1 的数字，不能是 %2"),
                                        QStringLiteral("--max-ids must be a number from 1 to %1, "
                                                       "not %2"))
                             .arg(kMaxBatchIdsLimit)
                             .arg(maxIdsText));
    if (!sortText.isEmpty() && sortText != QLatin1String("file") &&
        sortText != QLatin1String("risk"))
        return cli.usage(inUserLanguage(QStringLiteral("--sort 须是 file 或 risk，不能是 %1"),
                                        QStringLiteral("--sort must be file or risk, not %1"))
                             .arg(sortText));
    BatchOptions batch;
    if (!jobsText.isEmpty() && !readBounded(jobsText, 1, BatchOptions::kMaxJobs, &batch.jobs))
        return cli.usage(inUserLanguage(QStringLiteral("--jobs 须是 1 到 %1 的数字，不能是 %2"),
                                        QStringLiteral("--jobs must be a number from 1 to %1, not "
                                                       "%2"))
                             .arg(BatchOptions::kMaxJobs)
                             .arg(jobsText));
    if (!paceText.isEmpty() && !readBounded(paceText, 0, 600000, &batch.paceMs))
        return cli.usage(
            inUserLanguage(QStringLiteral("--pace 须是 0 到 600000 的毫秒数，不能是 %1"),
                           QStringLiteral("--pace must be a number of milliseconds "
                                          "from 0 to 600000, not %1"))
                .arg(paceText));
    std::optional<IdFileEncoding> encoding;
    if (!encodingText.isEmpty()) {
        encoding = parseIdFileEncoding(encodingText);
        if (!encoding)
            return cli.usage(
                inUserLanguage(QStringLiteral("--encoding 须是 gbk 或 utf-8，不能是 %1"),
                               QStringLiteral("--encoding must be gbk or utf-8, not "
                                              "%1"))
                    .arg(encodingText));
    }
    if (options.operands.size() != 1)
        return cli.usage(options.operands.isEmpty()
                             ? inUserLanguage(QStringLiteral("没有给出买家ID文件"),
                                              QStringLiteral("no id file given"))
                             : inUserLanguage(QStringLiteral("只能给一个买家ID文件"),
                                              QStringLiteral("give exactly one id file")));
    if (outPath.isEmpty() && csvPath.isEmpty())
        return cli.usage(
            inUserLanguage(QStringLiteral("没有给出输出文件（--xlsx OUT 或 --csv OUT）"),
                           QStringLiteral("no output file given (--xlsx OUT or --csv "
                                          "OUT)")));
    if (!outPath.isEmpty() && !csvPath.isEmpty() && writtenFile(outPath) == writtenFile(csvPath))
        return cli.usage(inUserLanguage(QStringLiteral("--xlsx 和 --csv 指向同一个文件"),
                                        QStringLiteral("--xlsx and --csv name the same file")));

    const QString idPath = options.operands.first();
    QueryRun run;
    if (const int code = loadQueryProfile(options, &run); code != CliOk)
        return code;
    const QuerySettings &settings = run.profile.settings;
    BatchRequest request;
    request.inputPath = idPath;
    // The user's choice of encoding wins over the settings', and either over the guess.
    request.input.maxIds = maxIds > 0 ? maxIds : settings.batchMaxIds;
    request.input.encoding = encoding.value_or(settings.idFileEncoding);
    request.input.buyerColumn = columnText.isEmpty() ? settings.buyerColumn : columnText;
    request.input.orderFile = !columnText.isEmpty();
    // The command line's values win over the settings'.
    request.options = batch;
    if (jobsText.isEmpty())
        request.options.jobs = settings.batchJobs;
    if (paceText.isEmpty())
        request.options.paceMs = settings.batchPaceMs;
    request.xlsxPath = outPath;
    request.csvPath = csvPath;
    // The table never lands on the id file, the database or the settings, whatever OUT is.
    request.ownFiles = programFiles(run.profile.storage.path(),
                                    run.profile.settingsPath.isEmpty() ? defaultSettingsPath()
                                                                       : run.profile.settingsPath,
                                    idPath);
    request.extraColumns = settings.extraColumns || cli.parser().isSet(extraOption);
    request.sortByRisk =
        sortText.isEmpty() ? settings.sortByRisk : sortText == QLatin1String("risk");
    // The journal beside the output: a killed batch continues from it with --resume.
    request.journalPath = BatchJournal::pathFor(outPath.isEmpty() ? csvPath : outPath);
    request.resume = cli.parser().isSet(resumeOption);
    request.refuseUnfinished = true;
    request.journalNote = args.join(u' ');
    if (const int code = startQueryRun(options, request.options.jobs, &run); code != CliOk)
        return code;

    BatchRun *batchRun = run.session->makeBatchRun(request, nullptr);
    const std::unique_ptr<BatchRun> owner(batchRun);
    BatchRunOutcome result;
    QElapsedTimer clock;
    int finishedNow = 0;
    int alreadyDone = 0;
    QObject::connect(batchRun, &BatchRun::inputRead, [&](const BatchStart &start) {
        if (start.leftOut > 0) // said before anything is looked up
            printMessage(leftOutText(start.total, start.leftOut));
        if (request.resume && start.journalled + start.retried > 0) {
            QString line =
                inUserLanguage(QStringLiteral("继续上次的批量查询：已有%1个，还需查询%2个"),
                               QStringLiteral("resuming the last batch: %1 done, %2 "
                                              "to go"))
                    .arg(QString::number(start.journalled),
                         QString::number(start.total - start.journalled));
            if (start.retried > 0)
                line += inUserLanguage(QStringLiteral("（其中%1个上次失败，再试一次）"),
                                       QStringLiteral(" (%1 of them failed last time and are "
                                                      "tried again)"))
                            .arg(start.retried);
            printMessage(line);
        }
        alreadyDone = start.journalled;
        clock.start();
        batchRun->lookUp();
    });
    QObject::connect(batchRun, &BatchRun::buyerStarted,
                     [&](int finished, int total, const QString &id) {
                         // The estimate counts only the buyers this run looked up, at the pace in
                         // use.
                         const QString left = run.service().paceProgressText(
                             clock.elapsed(), finishedNow, total - alreadyDone - finishedNow);
                         printMessage(batchProgressText(total, finished, id) +
                                      (left.isEmpty() ? QString() : QStringLiteral("，") + left));
                     });
    // A pause is said when it begins, and counted down every ten seconds.
    QDateTime pauseEnd;
    QTimer countdown;
    countdown.setInterval(10000);
    QObject::connect(&countdown, &QTimer::timeout, [&] {
        const qint64 left = QDateTime::currentDateTimeUtc().secsTo(pauseEnd);
        if (left <= 0)
            countdown.stop();
        else
            printMessage(batchPauseText(int(left)));
    });
    QObject::connect(batchRun, &BatchRun::paused, [&](int seconds, const QString &why) {
        printMessage(batchPauseText(seconds) +
                     inUserLanguage(QStringLiteral("（%1）"), QStringLiteral(" (%1)")).arg(why));
        pauseEnd = QDateTime::currentDateTimeUtc().addSecs(seconds);
        countdown.start();
    });
    QObject::connect(batchRun, &BatchRun::buyerFinished, [&](int, const LookupOutcome &outcome) {
        ++finishedNow;
        if (options.verbose) {
            for (const PageResult &page : outcome.result.pages)
                printPage(outcome.id, page);
            printCachedConfiguration(outcome.id, outcome);
        }
        tellAfterLookup(outcome);
    });
    QObject::connect(batchRun, &BatchRun::finished, [&](const BatchRunOutcome &outcome) {
        result = outcome;
        QCoreApplication::exit(0);
    });
    const int code =
        runUntilDone([batchRun] { batchRun->cancel(); }, [batchRun] { batchRun->start(); });
    batchRun->join();
    return batchExitCode(result, code != CliOk, request.journalPath);
}

static int batchExitCode(const BatchRunOutcome &result, bool interrupted,
                         const QString &journalPath)
{
    using End = BatchRunOutcome::End;
    if (result.end == End::Refused) {
        printMessage(result.refusal);
        return CliUsage;
    }
    if (interrupted || result.end == End::Cancelled) {
        printMessage(
            inUserLanguage(
                QStringLiteral("已中断：未写入表格；已查完的买家保存在 %1，用 --resume 继续"),
                QStringLiteral("interrupted: no table written; the buyers finished are kept in %1, "
                               "--resume continues"))
                .arg(QDir::toNativeSeparators(journalPath)));
        return CliInterrupted;
    }
    if (!result.staleText.isEmpty())
        printMessage(result.staleText);
    if (result.queued > 0)
        printMessage(inUserLanguage(QStringLiteral("%1 个高风险订单等待处理（brelvon-cli review）"),
                                    QStringLiteral("%1 order(s) of high-risk buyers wait for "
                                                   "review (brelvon-cli review)"))
                         .arg(result.queued));
    for (const QString &problem : result.problems)
        printMessage(problem);
    const bool tableMissing = result.problems.size() > 0 && result.written.isEmpty();
    if (!result.written.isEmpty())
        // Every file written is named: with --xlsx and --csv, both.
        printMessage(inUserLanguage(QStringLiteral("已把 %1 个买家写入 %2"),
                                    QStringLiteral("%1 buyer(s) written to %2"))
                         .arg(QString::number(result.rows.size()),
                              QDir::toNativeSeparators(result.written.join(inUserLanguage(
                                  QStringLiteral(" 和 "), QStringLiteral(" and "))))));
    if (tableMissing)
        return CliUsage;
    if (result.failed > 0 || result.notQueried > 0) {
        QString line = result.shortfallText().section(u'\n', 0, 0);
        if (result.end == End::GaveUp)
            line += inUserLanguage(QStringLiteral("；用 --resume 再试未查到的买家"),
                                   QStringLiteral("; --resume tries the buyers not read again"));
        printMessage(line);
        return CliNotLookedUp;
    }
    return result.problems.isEmpty() ? CliOk : CliFailed;
}
