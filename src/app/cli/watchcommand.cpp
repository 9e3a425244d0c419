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
                       "[--area-table FILE] [--all] [FOLDER]"),
        inUserLanguage(
            QStringLiteral("监视文件夹（默认为设置中的 [watch] folder）：每个新出现的订单文件"
                           "都按批量查询检查，表格写在旁边，订单文件移入 done/；每个文件一行，"
                           "每个高风险买家一行，直到按 Ctrl-C。"),
            QStringLiteral("Watches FOLDER (default: the settings' [watch] folder): every order "
                           "export that appears in it is checked as a batch, its table written "
                           "beside it and the export moved into done/; one line per file and one "
                           "per high-risk buyer, until Ctrl-C.")));
    const QCommandLineOption all(
        QStringLiteral("all"),
        inUserLanguage(QStringLiteral("也检查文件夹中已有的订单文件。"),
                       QStringLiteral("Check the exports already in the folder too.")));
    cli.parser().addOption(all);
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
    watch.all = cli.parser().isSet(all);
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
    // Names from the folder are one item each on the terminal: no control character or line
    // feed of theirs reaches it.
    const auto shown = [](const QString &path) {
        return escapeControls(QFileInfo(path).fileName(), LineFeeds::Escape);
    };
    QObject::connect(&watcher, &OrderWatcher::fileStarted, [&](const QString &path, int buyers) {
        printMessage(inUserLanguage(QStringLiteral("正在检查 %1（%2 个买家）"),
                                    QStringLiteral("checking %1 (%2 buyers)"))
                         .arg(shown(path), QString::number(buyers)));
    });
    QObject::connect(&watcher, &OrderWatcher::marketplacePaused,
                     [](int seconds, const QString &why) {
                         printMessage(batchPauseText(seconds) + QStringLiteral(" (") + why + u')');
                     });
    QObject::connect(&watcher, &OrderWatcher::highRiskFound,
                     [&](const QString &id, const QStringList &reasons) {
                         notifier.notify(Notifier::Kind::HighRisk, highRiskNotice(id, reasons));
                     });
    QObject::connect(&watcher, &OrderWatcher::fileChecked, [&](const CheckedFile &file) {
        printLine(
            file.summary(shown(file.exportPath)) +
            inUserLanguage(QStringLiteral("，表格：%1"), QStringLiteral(", table: %1"))
                .arg(escapeControls(QDir::toNativeSeparators(file.table), LineFeeds::Escape)));
        for (const FlaggedBuyer &b : file.highRisk)
            printLine(escapeControls(highRiskText(b.buyerId, b.reasons), LineFeeds::Escape));
        if (file.leftOut > 0)
            printMessage(
                inUserLanguage(QStringLiteral("%1：另有 %2 个买家超过 [batch] maxIds，未查询"),
                               QStringLiteral("%1: %2 more buyers past [batch] maxIds "
                                              "were not looked up"))
                    .arg(shown(file.exportPath), QString::number(file.leftOut)));
        if (!file.staleText.isEmpty()) {
            printMessage(file.staleText);
            notifier.notify(Notifier::Kind::StaleRules, file.staleText);
        }
        if (!file.problem.isEmpty())
            printMessage(escapeControls(file.problem, LineFeeds::Escape));
        notifier.notify(Notifier::Kind::FileChecked,
                        file.summary(Notifier::shortName(QFileInfo(file.exportPath).fileName())));
    });
    QObject::connect(&watcher, &OrderWatcher::fileFailed,
                     [](const QString &path, const QString &error) {
                         printMessage(escapeControls(QStringLiteral("%1: %2").arg(path, error),
                                                     LineFeeds::Escape));
                     });
    QObject::connect(&watcher, &OrderWatcher::folderChanged, [&](bool, const QString &text) {
        printMessage(escapeControls(text, LineFeeds::Escape));
        notifier.notify(Notifier::Kind::FileChecked, text);
    });
    QString error;
    if (!watcher.start(&error)) { // no folder, or another watcher holds it
        printMessage(escapeControls(error, LineFeeds::Escape));
        return CliUsage;
    }
    printMessage(
        inUserLanguage(QStringLiteral("正在监视 %1（按 Ctrl-C 结束）"),
                       QStringLiteral("watching %1 (Ctrl-C ends)"))
            .arg(escapeControls(QDir::toNativeSeparators(watch.folder), LineFeeds::Escape)));
    runUntilInterrupted([&] { watcher.stop(); });
    return CliOk;
}
