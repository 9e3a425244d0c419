#include "clicommon.h"

#include <QFileInfo>

#include <cstdio>

void printMessage(const QString &message)
{
    const QByteArray bytes = (QLatin1String("brelvon-cli: ") + message + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void printLine(const QString &line)
{
    const QByteArray bytes = (line + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

bool parseQueryOptions(const QStringList &args, QueryOptions *options, QString *error)
{
    bool onlyOperands = false;
    bool settingsGiven = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (onlyOperands || !arg.startsWith(u'-') || arg == QLatin1String("-")) {
            options->operands.append(arg);
        } else if (arg == QLatin1String("--")) {
            onlyOperands = true;
        } else if (arg == QLatin1String("--demo")) {
            options->demo = true;
        } else if (arg == QLatin1String("--settings") ||
                   arg.startsWith(QLatin1String("--settings="))) {
            QString value;
            if (arg == QLatin1String("--settings")) {
                if (i + 1 >= args.size()) {
                    *error = QStringLiteral("--settings needs a file name");
                    return false;
                }
                value = args.at(++i);
            } else {
                value = arg.mid(11);
            }
            if (value.isEmpty()) {
                *error = QStringLiteral("--settings needs a file name");
                return false;
            }
            if (settingsGiven) {
                *error = QStringLiteral("--settings given twice");
                return false;
            }
            settingsGiven = true;
            options->settingsPath = value;
        } else {
            *error = QStringLiteral("unknown option %1").arg(arg);
            return false;
        }
    }
    if (options->demo && settingsGiven) {
        *error = QStringLiteral("--demo and --settings cannot be used together");
        return false;
    }
    return true;
}

int prepareQueryTarget(const QueryOptions &options, QueryTarget *target)
{
    if (options.demo) {
        target->site = std::make_unique<DemoSite>();
        if (!target->site->start()) {
            printMessage(QStringLiteral("the bundled demo site could not be started"));
            return CliFailed;
        }
        target->settings = demoSettings(target->site->hostPort());
        return CliOk;
    }

    QString path = options.settingsPath;
    if (path.isEmpty()) {
        path = defaultSettingsPath();
        // Nobody named a host yet: hand the user a template instead of querying hosts that
        // nobody chose.
        if (!QFileInfo::exists(path)) {
            QString error;
            if (writeSettingsTemplate(path, &error))
                printMessage(QStringLiteral("no settings yet: wrote a template to %1; fill in the "
                                            "hosts there and run again, or use --demo")
                                 .arg(path));
            else
                printMessage(QStringLiteral("no settings yet: create %1 (%2), or use --demo")
                                 .arg(path, error));
            return CliUsage;
        }
    }
    QString error;
    if (!loadQuerySettings(path, &target->settings, &error)) {
        printMessage(error);
        return CliUsage;
    }
    return CliOk;
}
