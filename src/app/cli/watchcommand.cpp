#include "app/cli/watchcommand.h"

#include "app/cli/clicommon.h"
#include "engine/batchengine.h"
#include "model/uilanguage.h"
#include "watch/batchfindings.h"
#include "watch/notifier.h"
#include "watch/orderwatcher.h"

#include <QDir>
#include <QFileInfo>

int runWatchCommand(const QStringList &args)
{
    QueryCommandLine cli(
        QStringLiteral("watch [--settings FILE] [--demo] [--database FILE] [--config FILE] "
                       "[--area-table FILE] [FOLDER]"),
        inUserLanguage(
            QStringLiteral("监视文件夹（默认为设置中的 [watch] folder）：每个新出现的订单文件"
                           "都按批量查询检查，表格写在旁边，订单文件移入 done/；每个文件一行，"
                           "每个高风险买家一行，直到按 Ctrl-C。"),
            QStringLiteral("Watches FOLDER (default: the settings' [watch] folder): every order "
                           "export that appears in it is checked as a batch, its table written "
                           "beside it and the export moved into done/; one line per file and one "
                           "per high-risk buyer, until Ctrl-C.")));
    cli.parser().addPositionalArgument(
        QStringLiteral("FOLDER"),
        inUserLanguage(QStringLiteral("要监视的文件夹。"), QStringLiteral("The folder to watch.")));
    QueryOptions options;
    int exitCode = CliOk;
    if (!cli.parse(args, &options, &exitCode))
        return exitCode;
    if (options.operands.size() > 1)
        return cli.usage(inUserLanguage(QStringLiteral("只能监视一个文件夹"),
                                        QStringLiteral("give at most one folder")));
    QueryRun run;
    if (const int code = loadQueryProfile(options, &run); code != CliOk)
        return code;
    const QuerySettings settings = run.profile.settings;
    WatchOptions watch = WatchOptions::fromSettings(settings);
    if (!options.operands.isEmpty())
        watch.folder = QFileInfo(options.operands.first()).absoluteFilePath();
    if (watch.folder.isEmpty())
        return cli.usage(inUserLanguage(
            QStringLiteral("没有给出文件夹，设置中也没有 [watch] folder"),
            QStringLiteral("no folder given, and the settings have no [watch] folder")));
    if (const int code = startQueryRun(options, settings.batchJobs, &run); code != CliOk)
        return code;

    OrderWatcher watcher(*run.session);
    watcher.setOptions(watch);
    Notifier notifier;
    notifier.setEnabled(settings.watchNotify);
    QObject::connect(&watcher, &OrderWatcher::fileStarted, [](const QString &path, int buyers) {
        printMessage(inUserLanguage(QStringLiteral("正在检查 %1（%2 个买家）"),
                                    QStringLiteral("checking %1 (%2 buyers)"))
                         .arg(QFileInfo(path).fileName())
                         .arg(buyers));
    });
    QObject::connect(&watcher, &OrderWatcher::marketplacePaused,
                     [](int seconds, const QString &why) {
                         printMessage(batchPauseText(seconds) + QStringLiteral(" (") + why + u')');
                     });
    QObject::connect(&watcher, &OrderWatcher::fileChecked, [&](const CheckedFile &file) {
        printLine(file.summary() +
                  inUserLanguage(QStringLiteral("，表格：%1"), QStringLiteral(", table: %1"))
                      .arg(QDir::toNativeSeparators(file.table)));
        for (const FlaggedBuyer &b : file.highRisk)
            printLine(highRiskText(b.buyerId, b.reasons));
        if (file.leftOut > 0)
            printMessage(
                inUserLanguage(QStringLiteral("%1：另有 %2 个买家超过 [batch] maxIds，未查询"),
                               QStringLiteral("%1: %2 more buyers past [batch] maxIds "
                                              "were not looked up"))
                    .arg(QFileInfo(file.exportPath).fileName())
                    .arg(file.leftOut));
        if (!file.staleText.isEmpty()) {
            printMessage(file.staleText);
            notifier.notify(Notifier::Kind::StaleRules, file.staleText);
        }
        if (!file.problem.isEmpty())
            printMessage(file.problem);
        notifyFileChecked(&notifier, file);
    });
    QObject::connect(
        &watcher, &OrderWatcher::fileFailed, [](const QString &path, const QString &error) {
            printMessage(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), error));
        });
    QString error;
    if (!watcher.start(&error)) {
        printMessage(error);
        return CliUsage;
    }
    printMessage(inUserLanguage(QStringLiteral("正在监视 %1（按 Ctrl-C 结束）"),
                                QStringLiteral("watching %1 (Ctrl-C ends)"))
                     .arg(QDir::toNativeSeparators(watch.folder)));
    runUntilInterrupted([&] { watcher.stop(); });
    return CliOk;
}
