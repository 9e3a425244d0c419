#include "app/cli/capturecommand.h"
#include "app/cli/clicommon.h"
#include "app/cli/querycommand.h"
#include "engine/configcheck.h"
#include "files/inputfile.h"

#include <utility>

namespace {

class CheckConfigLine : public SubcommandLine
{
public:
    using SubcommandLine::addHelpOption;
    using SubcommandLine::SubcommandLine;
};

// A text on one line, quoted: line breaks, tabs and other control characters escaped.
QString quoted(const QString &text)
{
    return escapeControls(jsonString(text));
}

QString jsonNumbers(const QList<int> &numbers)
{
    QStringList items;
    for (int n : numbers)
        items.append(QString::number(n));
    return u'[' + items.join(u',') + u']';
}

// Reads and checks a configuration file. False (message printed) when it cannot be read or holds
// no configuration at all.
bool readConfiguration(const QString &path, ConfigFile *config)
{
    QFile file;
    QString reason;
    if (!openRegularFile(path, &file, &reason)) {
        printMessage(QStringLiteral("cannot read %1: %2").arg(path, reason));
        return false;
    }
    QString text;
    if (!decodeSiteText(file.read(16 * 1024 * 1024 + 1), &text, &reason)) {
        printMessage(QStringLiteral("%1 is %2").arg(path, reason));
        return false;
    }
    *config = readConfigFile(text);
    if (!config->parsed) {
        for (const QString &line : config->issueLines(path))
            printMessage(line);
        return false;
    }
    return true;
}

// The findings as one JSON line; "more" counts those not listed.
QString issuesJson(const QString &path, const QList<ConfigIssue> &issues, int more)
{
    QStringList items;
    for (const ConfigIssue &issue : issues)
        items.append(QStringLiteral("{\"line\":%1,\"entry\":%2,\"error\":%3,\"message\":%4}")
                         .arg(issue.line)
                         .arg(issue.entry)
                         .arg(issue.error ? QLatin1String("true") : QLatin1String("false"),
                              jsonString(issue.message)));
    return QStringLiteral("{\"configuration\":%1,\"issues\":[%2]%3}")
        .arg(jsonString(path), items.join(u','),
             more > 0 ? QStringLiteral(",\"more\":%1").arg(more) : QString());
}

QString missJson(const std::optional<MarkerMiss> &miss)
{
    if (!miss)
        return QStringLiteral("null");
    return QStringLiteral("{\"entry\":%1,\"marker\":%2,\"page\":%3,\"nearText\":%4}")
        .arg(miss->entry)
        .arg(jsonString(miss->marker), jsonString(miss->page), jsonString(miss->nearText));
}

QString checkJson(const LoadedCapture &capture, const CaptureCheck &check)
{
    QStringList fields;
    for (const FieldCheck &f : check.fields)
        fields.append(QStringLiteral("{\"field\":%1,\"value\":%2,\"recorded\":%3,\"differs\":%4,"
                                     "\"entries\":%5,\"missing\":%6,\"note\":%7}")
                          .arg(jsonString(f.field), jsonString(f.value), jsonString(f.recorded),
                               f.differs() ? QLatin1String("true") : QLatin1String("false"),
                               jsonNumbers(f.entries), missJson(f.miss), jsonString(f.note)));
    return QStringLiteral("{\"capture\":%1,\"buyerId\":%2,\"differs\":%3,\"fields\":[%4]}")
        .arg(jsonString(capture.folder), jsonString(capture.index.buyerId),
             check.differs() ? QLatin1String("true") : QLatin1String("false"), fields.join(u','));
}

void printCheck(const LoadedCapture &capture, const CaptureCheck &check)
{
    printLine(QStringLiteral("%1: %2 (captured %3, lookup %4)")
                  .arg(escapeControls(capture.folder), escapeControls(capture.index.buyerId),
                       capture.index.time.toString(Qt::ISODate),
                       escapeControls(capture.index.lookup)));
    for (const FieldCheck &f : check.fields) {
        QString line = QStringLiteral("  %1 %2").arg(f.field + u':', -13).arg(quoted(f.value));
        if (f.differs())
            line += QStringLiteral("  CHANGED, recorded %1").arg(quoted(f.recorded));
        QStringList entries;
        for (int e : f.entries)
            entries.append(QString::number(e));
        if (!entries.isEmpty())
            line += QStringLiteral("  [entries %1]").arg(entries.join(u' '));
        printLine(line);
        if (f.miss) {
            const MarkerMiss &m = *f.miss;
            printLine(QStringLiteral("      not found on the %1 page: %2 %3")
                          .arg(m.page,
                               m.entry >= 0 ? QStringLiteral("entry %1").arg(m.entry)
                                            : QStringLiteral("the rule's own marker"),
                               quoted(m.marker)));
            if (!m.nearText.isEmpty())
                printLine(QStringLiteral("      the page has there: %1").arg(quoted(m.nearText)));
        }
        if (!f.note.isEmpty())
            printLine(QStringLiteral("      %1").arg(escapeControls(f.note)));
    }
}

int runDiff(const QStringList &files, bool json)
{
    ConfigFile before;
    ConfigFile after;
    if (!readConfiguration(files.at(0), &before) || !readConfiguration(files.at(1), &after))
        return CliUsage;
    const QList<ConfigChange> changes = diffConfigFiles(before, after);
    for (const ConfigChange &c : changes) {
        const QString kind = c.kind == ConfigChange::Kind::Added     ? QStringLiteral("added")
                             : c.kind == ConfigChange::Kind::Removed ? QStringLiteral("removed")
                                                                     : QStringLiteral("changed");
        const QString meaning = configEntryMeaning(c.entry);
        if (json) {
            printLine(QStringLiteral("{\"entry\":%1,\"change\":%2,\"meaning\":%3,\"before\":%4,"
                                     "\"after\":%5}")
                          .arg(c.entry)
                          .arg(jsonString(kind), jsonString(meaning), jsonString(c.before),
                               jsonString(c.after)));
            continue;
        }
        QString values = c.kind == ConfigChange::Kind::Added ? quoted(c.after)
                         : c.kind == ConfigChange::Kind::Removed
                             ? quoted(c.before)
                             : quoted(c.before) + QStringLiteral(" -> ") + quoted(c.after);
        printLine(
            QStringLiteral("%1 entry %2 (%3): %4").arg(kind).arg(c.entry).arg(meaning, values));
    }
    if (!json && changes.isEmpty())
        printLine(QStringLiteral("no entry differs"));
    return CliOk;
}

} // namespace

int runCheckConfigCommand(const QStringList &args)
{
    CheckConfigLine cli(
        QStringLiteral("check-config [--expect] [--json] CONFIG CAPTURE... | check-config "
                       "--diff [--json] OLD NEW"),
        QStringLiteral("Checks a query configuration file (the text our web site serves, code "
                       "page 936 or UTF-8) and runs its page rules over captures, offline: per "
                       "field the value cut, the entries used and, for an empty or changed value, "
                       "the marker not found. With --diff, lists the entries two configurations "
                       "add, remove and change."));
    const QCommandLineOption expectOption(
        QStringLiteral("expect"),
        QStringLiteral("Exit with 1 when a field differs from the record the capture holds."));
    const QCommandLineOption jsonOption(QStringLiteral("json"),
                                        QStringLiteral("One JSON object per line, for scripts."));
    const QCommandLineOption diffOption(
        QStringLiteral("diff"), QStringLiteral("Compare two configuration files, OLD and NEW."));
    cli.parser().addOptions({expectOption, jsonOption, diffOption});
    cli.addHelpOption();
    cli.parser().addPositionalArgument(QStringLiteral("CONFIG"),
                                       QStringLiteral("The configuration file."));
    cli.parser().addPositionalArgument(QStringLiteral("CAPTURE"),
                                       QStringLiteral("Capture folders (brelvon-cli capture)."),
                                       QStringLiteral("CAPTURE..."));
    int exitCode = CliOk;
    if (!cli.parse(args, &exitCode))
        return exitCode;
    const QStringList operands = cli.parser().positionalArguments();
    const bool json = cli.parser().isSet(jsonOption);
    if (cli.parser().isSet(diffOption)) {
        if (operands.size() != 2 || cli.parser().isSet(expectOption))
            return cli.usage(QStringLiteral("--diff compares two files: OLD NEW"));
        return runDiff(operands, json);
    }
    if (operands.size() < 2)
        return cli.usage(QStringLiteral("give a configuration file and at least one capture"));

    const QString path = operands.constFirst();
    ConfigFile config;
    if (!readConfiguration(path, &config))
        return CliUsage;
    // One capture at a time, released once checked; the configuration's findings are printed
    // once the first capture is read (a damaged capture stops the check).
    bool reported = false;
    bool differs = false;
    UnmatchedEntries unmatched;
    for (const QString &folder : operands.mid(1)) {
        LoadedCapture capture;
        QString error;
        if (!loadCapture(folder, &capture, &error)) {
            printMessage(error);
            return CliUsage;
        }
        if (!std::exchange(reported, true)) {
            if (json)
                printLine(issuesJson(path, config.issues, config.moreIssues));
            else
                for (const QString &line : config.issueLines(path))
                    printLine(escapeControls(line));
        }
        const CaptureCheck check =
            checkCapture(config.config, capture.config.config, capture.pages, capture.index.record);
        differs = differs || check.differs();
        unmatched.add(check);
        if (json)
            printLine(checkJson(capture, check));
        else
            printCheck(capture, check);
    }
    // Markers the rules used and no capture had.
    if (const QList<ConfigIssue> issues = unmatched.issues(config); !issues.isEmpty()) {
        if (json) {
            printLine(issuesJson(path, issues, 0));
        } else {
            ConfigFile found;
            found.issues = issues;
            for (const QString &line : found.issueLines(path))
                printLine(escapeControls(line));
        }
    }
    if (config.hasErrors()) {
        printMessage(QStringLiteral("%1 has errors (see above)").arg(path));
        return CliUsage;
    }
    if (cli.parser().isSet(expectOption) && differs) {
        printMessage(QStringLiteral("fields differ from the captures' records"));
        return CliFailed;
    }
    return CliOk;
}
