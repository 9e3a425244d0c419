#include "app/cli/settingscommand.h"

#include "app/cli/clicommon.h"
#include "lookup/configcache.h"
#include "lookup/connectiontest.h"
#include "web/canceltoken.h"

namespace {

class SettingsCommandLine : public SubcommandLine
{
public:
    SettingsCommandLine()
        : SubcommandLine(QStringLiteral("settings check [--settings FILE]"),
                         QStringLiteral("Asks each host of the settings for the start-up list "
                                        "and the query configuration (the trade-card host for "
                                        "the viewer's name card); one line per host and "
                                        "document.")),
          settingsOption(QStringLiteral("settings"),
                         QStringLiteral("The settings file naming the hosts (default: %1).")
                             .arg(defaultSettingsPath()),
                         QStringLiteral("FILE"))
    {
        parser().addOption(settingsOption);
        parser().addPositionalArgument(QStringLiteral("check"), QStringLiteral("The check."));
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
    if (!cli.singleValue(settingsOption, QStringLiteral("a file name"), &path, &exitCode))
        return exitCode;
    const QStringList operands = cli.parser().positionalArguments();
    if (operands != QStringList{QStringLiteral("check")})
        return cli.usage(
            operands.isEmpty()
                ? QStringLiteral("no settings command given")
                : QStringLiteral("unknown settings command %1").arg(operands.join(u' ')));
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

    // Ctrl-C ends the check at once: nothing is written.
    const CancelToken cancel;
    const QList<ConnectionCheck> checks = testConnections(settings, cancel);
    for (const ConnectionCheck &check : checks)
        printLine(escapeControls(check.summary()));
    // The kept copy would not stand in either: say why, so "couldn't connect" is not all.
    const QString aged = agedOutConfigurationText(checks, ConfigCache(ConfigCache::defaultFolder()),
                                                  settings, QDateTime::currentDateTimeUtc());
    if (!aged.isEmpty())
        printMessage(aged);
    return connectionsUsable(checks) ? CliOk : CliFailed;
}
