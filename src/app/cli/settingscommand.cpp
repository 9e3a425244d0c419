#include "app/cli/settingscommand.h"

#include "app/cli/clicommon.h"
#include "app/session/sessionopener.h"
#include "lookup/configcache.h"
#include "lookup/connectiontest.h"
#include "lookup/lookuprunner.h"
#include "lookup/lookupsession.h"

#include <QCoreApplication>

namespace {

class SettingsCommandLine : public SubcommandLine
{
public:
    SettingsCommandLine()
        : SubcommandLine(QStringLiteral("settings check [--settings FILE]"),
                         inUserLanguage(QStringLiteral("向设置中的每个主机索取启动列表和查询配置"
                                                       "（向交易卡片主机索取查看者自己的名片）；"
                                                       "每个主机和文档一行。"),
                                        QStringLiteral("Asks each host of the settings for the "
                                                       "start-up list and the query configuration "
                                                       "(the trade-card host for the viewer's name "
                                                       "card); one line per host and document."))),
          settingsOption(::settingsOption())
    {
        parser().addOption(settingsOption);
        parser().addPositionalArgument(
            QStringLiteral("check"),
            inUserLanguage(QStringLiteral("检查。"), QStringLiteral("The check.")));
        addHelpOption();
    }
    const QCommandLineOption settingsOption;
};

} // namespace

int runSettingsCommand(const QStringList &args)
{
    SettingsCommandLine cli;
    const QCommandLineOption &settingsOption = cli.settingsOption;
    int exitCode = CliOk;
    if (!cli.parse(args, &exitCode))
        return exitCode;
    QString path;
    if (!cli.singleValue(settingsOption, fileNameWord(), &path, &exitCode))
        return exitCode;
    const QStringList operands = cli.parser().positionalArguments();
    if (operands != QStringList{QStringLiteral("check")})
        return cli.usage(operands.isEmpty()
                             ? inUserLanguage(QStringLiteral("没有给出 settings 的子命令"),
                                              QStringLiteral("no settings command given"))
                             : inUserLanguage(QStringLiteral("未知的 settings 子命令 %1"),
                                              QStringLiteral("unknown settings command %1"))
                                   .arg(operands.join(u' ')));
    if (path.isEmpty())
        path = defaultSettingsPath();

    QuerySettings settings;
    QString error;
    QStringList problems;
    if (!loadQuerySettings(path, &settings, &error, &problems)) {
        printMessage(error);
        return CliUsage;
    }
    for (const QString &problem : problems)
        printMessage(problem);

    // Nothing is written: Ctrl-C ends the check at once.
    // Two jobs' threads: every document of both our hosts and the trade-card host at once.
    Profile profile;
    profile.settings = settings;
    const std::unique_ptr<LookupSession> session =
        openSession(profile, SessionOpening::check(), &error);
    if (!session) {
        printMessage(error);
        return CliUsage;
    }
    LookupRunner runner(&session->service());
    QList<ConnectionCheck> checks;
    const int code = runUntilDone(runner, [&] {
        runner.connectionTest(settings, [&](const QList<ConnectionCheck> &done, bool) {
            checks = done;
            QCoreApplication::exit(0);
        });
    });
    if (code != CliOk)
        return code;
    for (const ConnectionCheck &check : checks)
        printLine(escapeControls(englishMessages() ? check.summary() : check.summaryText()));
    // The kept copy would not stand in either: say why, so "couldn't connect" is not all.
    const QString aged = agedOutConfigurationText(checks, ConfigCache(ConfigCache::defaultFolder()),
                                                  settings, QDateTime::currentDateTimeUtc());
    if (!aged.isEmpty())
        printMessage(aged);
    return connectionsUsable(checks) ? CliOk : CliFailed;
}
