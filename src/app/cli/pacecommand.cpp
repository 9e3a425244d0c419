#include "app/cli/pacecommand.h"

#include "app/cli/clicommon.h"
#include "lookup/pacememory.h"

#include <QDateTime>

namespace {

class PaceCommandLine : public SubcommandLine
{
public:
    PaceCommandLine()
        : SubcommandLine(QStringLiteral("pace [--settings FILE] [--reset]"),
                         inUserLanguage(QStringLiteral("显示从市场的拦截学到并保存的每个主机的速度"
                                                       "和学到的时间；--reset 忘掉它们。"),
                                        QStringLiteral("Shows the pace kept per host from the "
                                                       "marketplace's blocks and when it was "
                                                       "learnt; --reset forgets it."))),
          settingsOption(::settingsOption()),
          resetOption(QStringLiteral("reset"),
                      inUserLanguage(QStringLiteral("忘掉保存的速度：下一次批量查询不限速开始。"),
                                     QStringLiteral("Forget the kept pace: the next batch starts "
                                                    "without a limit.")))
    {
        parser().addOption(settingsOption);
        parser().addOption(resetOption);
        addHelpOption();
    }
    const QCommandLineOption settingsOption;
    const QCommandLineOption resetOption;
};

} // namespace

int runPaceCommand(const QStringList &args)
{
    PaceCommandLine cli;
    int exitCode = CliOk;
    if (!cli.parse(args, &exitCode))
        return exitCode;
    QString path;
    if (!cli.singleValue(cli.settingsOption, fileNameWord(), &path, &exitCode))
        return exitCode;
    if (!cli.parser().positionalArguments().isEmpty())
        return cli.usage(inUserLanguage(QStringLiteral("多余的参数 %1"),
                                        QStringLiteral("unexpected argument %1"))
                             .arg(cli.parser().positionalArguments().constFirst()));
    const PaceMemory memory(PaceMemory::defaultPath());
    QString error;
    if (cli.parser().isSet(cli.resetOption)) {
        if (!memory.forget(&error)) {
            printMessage(error);
            return CliFailed;
        }
        printMessage(inUserLanguage(QStringLiteral("已忘掉保存的速度"),
                                    QStringLiteral("the kept pace is forgotten")));
        return CliOk;
    }

    if (path.isEmpty())
        path = defaultSettingsPath();
    QuerySettings settings;
    QStringList problems;
    if (!loadQuerySettings(path, &settings, &error, &problems)) {
        printMessage(error);
        return CliUsage;
    }
    PaceMemory::Kept kept;
    if (!memory.read(&kept, &error)) {
        printMessage(error);
        return CliFailed;
    }
    if (kept.paces.isEmpty()) {
        printMessage(inUserLanguage(QStringLiteral("没有保存的速度：批量查询不限速开始，"
                                                   "直到市场第一次拦截"),
                                    QStringLiteral("no pace is kept: a batch starts without a "
                                                   "limit until the marketplace first blocks it")));
        return CliOk;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QStringList hosts = kept.paces.keys();
    hosts.sort();
    for (const QString &host : hosts) {
        const HostPace &pace = kept.paces.value(host);
        const QString learnt = QDateTime::fromMSecsSinceEpoch(pace.learntAtMs)
                                   .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        QString state;
        if (kept.hosts != PaceMemory::hostsKey(settings))
            state = inUserLanguage(QStringLiteral("设置中的主机已改变，不再使用"),
                                   QStringLiteral("the settings' hosts changed: not used"));
        else if (!PaceMemory::inForce(kept, pace, settings, now))
            state = inUserLanguage(QStringLiteral("超过 %1 小时，不再使用"),
                                   QStringLiteral("older than %1 hours: not used"))
                        .arg(settings.paceMemoryHours);
        else
            state = inUserLanguage(QStringLiteral("下一次批量查询从这个速度开始"),
                                   QStringLiteral("the next batch starts at it"));
        printLine(escapeControls(
            inUserLanguage(QStringLiteral("%1：%2（最快 %3），学到于 %4；%5"),
                           QStringLiteral("%1: %2 (at most %3), learnt %4; %5"))
                .arg(host, pagesPerMinuteText(pace.pagesPerSecond * 60),
                     pagesPerMinuteText(pace.ceilingPagesPerSecond * 60), learnt, state)));
    }
    return CliOk;
}
