#include "app/cli/batchcommand.h"

#include "app/cli/clicommon.h"
#include "files/batchinput.h"
#include "files/batchjournal.h"
#include "files/idfile.h"
#include "files/spreadsheetexport.h"
#include "model/uilanguage.h"
#include "storage/historytext.h"
#include "watch/batchfindings.h"

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
    // The table never lands on the id file, the database or the settings, whatever OUT is.
    const QList<OwnFile> ownFiles = programFiles(
        run.profile.storage.path(),
        run.profile.settingsPath.isEmpty() ? defaultSettingsPath() : run.profile.settingsPath,
        idPath);
    QString error;
    for (const QString &out : {outPath, csvPath}) {
        if (!out.isEmpty() && !checkBatchOutput(out, ownFiles, &error)) {
            printMessage(error);
            return CliUsage;
        }
    }
    const QuerySettings &settings = run.profile.settings;
    // The user's choice of encoding wins over the settings', and either over the guess.
    BatchInputOptions inputOptions;
    inputOptions.maxIds = maxIds > 0 ? maxIds : settings.batchMaxIds;
    inputOptions.encoding = encoding.value_or(settings.idFileEncoding);
    inputOptions.buyerColumn = columnText.isEmpty() ? settings.buyerColumn : columnText;
    inputOptions.orderFile = !columnText.isEmpty();
    const BatchInput idFile = readBatchInput(idPath, inputOptions);
    if (!idFile.ok()) {
        printMessage(idFile.error);
        return CliUsage;
    }
    if (idFile.orderFile && idFile.ids.isEmpty()) {
        printMessage(inUserLanguage(QStringLiteral("订单文件中没有买家：%1"),
                                    QStringLiteral("no buyer in the order file %1"))
                         .arg(idPath));
        return CliUsage;
    }
    if (idFile.leftOut > 0) // said before anything is looked up
        printMessage(leftOutText(idFile.ids.size(), idFile.leftOut));
    // The command line's values win over the settings'.
    if (jobsText.isEmpty())
        batch.jobs = settings.batchJobs;
    if (paceText.isEmpty())
        batch.paceMs = settings.batchPaceMs;
    // The journal beside the output: a killed batch continues from it with --resume.
    const QString journalPath = BatchJournal::pathFor(outPath.isEmpty() ? csvPath : outPath);
    BatchInputIdentity identity;
    if (!BatchInputIdentity::of(idPath, idFile.ids, &identity, &error)) {
        printMessage(error);
        return CliUsage;
    }
    BatchJournal journal;
    const bool resume = cli.parser().isSet(resumeOption);
    if (QFileInfo::exists(journalPath) && !resume) {
        printMessage(
            inUserLanguage(QStringLiteral("上次的批量查询未完成（记录在 %1），用 --resume 继续，"
                                          "或删除该文件重新开始"),
                           QStringLiteral("the last batch to this output did not finish (its "
                                          "journal is %1): continue it with --resume, or remove "
                                          "that file to start again"))
                .arg(journalPath));
        return CliUsage;
    }
    if (resume && QFileInfo::exists(journalPath)) {
        if (!journal.open(journalPath, &error)) {
            printMessage(error);
            return CliUsage;
        }
        if (!(journal.input() == identity)) {
            printMessage(inUserLanguage(QStringLiteral("批量查询记录 %1 属于另一个输入（%2），"
                                                       "与 %3 不符：未继续"),
                                        QStringLiteral("the batch journal %1 belongs to another "
                                                       "input (%2), not %3: not resumed"))
                             .arg(journalPath, journal.input().path, identity.path));
            return CliUsage;
        }
        printMessage(inUserLanguage(QStringLiteral("继续上次的批量查询：已有%1个，还需查询%2个"),
                                    QStringLiteral("resuming the last batch: %1 done, %2 to go"))
                         .arg(journal.rows().size())
                         .arg(idFile.ids.size() - journal.rows().size()));
    }
    if (const int code = startQueryRun(options, batch.jobs, &run); code != CliOk)
        return code;
    // A new journal only once the batch is sure to run: a refused one leaves nothing behind.
    if (journal.path().isEmpty() &&
        !journal.create(journalPath, identity, args.join(u' '), &error)) {
        printMessage(error);
        return CliUsage;
    }
    batch.journal = &journal;

    QElapsedTimer clock;
    clock.start();
    int finishedNow = 0;
    const int alreadyDone = int(journal.rows().size());
    LookupRunner::BatchProgress progress;
    progress.started = [&](int finished, int total, const QString &id) {
        // The estimate counts only the buyers this run looked up, at the pace in use.
        const QString left = run.service().paceProgressText(clock.elapsed(), finishedNow,
                                                            total - alreadyDone - finishedNow);
        printMessage(batchProgressText(total, finished, id) +
                     (left.isEmpty() ? QString() : QStringLiteral("，") + left));
    };
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
    progress.paused = [&](int seconds, const QString &why) {
        printMessage(batchPauseText(seconds) +
                     inUserLanguage(QStringLiteral("（%1）"), QStringLiteral(" (%1)")).arg(why));
        pauseEnd = QDateTime::currentDateTimeUtc().addSecs(seconds);
        countdown.start();
    };
    progress.finished = [&](int index, const LookupOutcome &outcome) {
        ++finishedNow;
        if (options.verbose) {
            for (const PageResult &page : outcome.result.pages)
                printPage(idFile.ids.at(index), page);
            printCachedConfiguration(idFile.ids.at(index), outcome);
        }
        tellAfterLookup(outcome);
    };
    QList<LookupOutcome> outcomes;
    bool cancelled = false;
    const QDateTime began = QDateTime::currentDateTime(); // the batch's own lookups from here
    LookupRunner runner(&run.service());
    const int code = runUntilDone(runner, [&] {
        runner.batch(idFile.ids, batch, progress,
                     [&](const QList<LookupOutcome> &done, bool wasCancelled) {
                         outcomes = done;
                         cancelled = wasCancelled;
                         QCoreApplication::exit(0);
                     });
    });
    if (code != CliOk || cancelled) {
        printMessage(
            inUserLanguage(
                QStringLiteral("已中断：未写入表格；已查完的买家保存在 %1，用 --resume 继续"),
                QStringLiteral("interrupted: no table written; the buyers finished are kept in %1, "
                               "--resume continues"))
                .arg(journalPath));
        return CliInterrupted;
    }
    QList<BatchRow> rows = batchRows(outcomes);
    BatchTableOptions table;
    table.extraColumns = settings.extraColumns || cli.parser().isSet(extraOption);
    table.risk = settings.risk;
    // An order file's table, or one sorted for action, gets the order columns (for an order
    // file), the risk colours and the summary sheet; a plain id file's table is as it always was.
    const bool byRisk =
        sortText.isEmpty() ? settings.sortByRisk : sortText == QLatin1String("risk");
    if (idFile.orderFile)
        addOrderColumns(&rows, idFile.buyers);
    if (byRisk)
        sortRowsByRisk(&rows);
    table.orderColumns = idFile.orderFile;
    table.markRisk = table.summarySheet = idFile.orderFile || byRisk;
    // A field most found buyers lack now but had over the last month: the rules went stale.
    const QList<StaleField> stale = staleFieldsOfBatch(outcomes, run.session->database(), began);
    if (!stale.isEmpty()) {
        const QString warning = staleRulesText(stale, configurationName(run.service()));
        printMessage(warning);
        table.warnings = {warning};
    }
    if (idFile.orderFile) {
        int queued = 0;
        if (!run.session->database()->queueForReview(
                reviewEntriesOf(rows, QFileInfo(idPath).fileName()), &queued))
            tellStorageProblem(run.session->database()->problem());
        else if (queued > 0)
            printMessage(
                inUserLanguage(QStringLiteral("%1 个高风险订单等待处理（brelvon-cli review）"),
                               QStringLiteral("%1 order(s) of high-risk buyers wait for "
                                              "review (brelvon-cli review)"))
                    .arg(queued));
    }
    if (!outPath.isEmpty() && !writeBatchSpreadsheet(outPath, rows, &error, table, ownFiles)) {
        printMessage(error);
        return CliUsage;
    }
    if (!csvPath.isEmpty() && !writeBatchCsv(csvPath, rows, &error, table, ownFiles)) {
        printMessage(error);
        return CliUsage;
    }
    journal.remove(); // the table is written: nothing left to resume
    // Every file written is named: with --xlsx and --csv, both.
    QStringList written;
    for (const QString &path : {outPath, csvPath}) {
        if (!path.isEmpty())
            written.append(path);
    }
    printMessage(
        inUserLanguage(QStringLiteral("已把 %1 个买家写入 %2"),
                       QStringLiteral("%1 buyer(s) written to %2"))
            .arg(rows.size())
            .arg(written.join(inUserLanguage(QStringLiteral(" 和 "), QStringLiteral(" and ")))));
    return CliOk;
}
