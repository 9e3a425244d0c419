#include "app/cli/capturecommand.h"
#include "app/cli/clicommon.h"
#include "app/cli/querycommand.h"
#include "engine/configcheck.h"
#include "files/inputfile.h"

#include <QDir>

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
        printMessage(
            inUserLanguage(QStringLiteral("无法读取 %1：%2"), QStringLiteral("cannot read %1: %2"))
                .arg(QDir::toNativeSeparators(path), reason));
        return false;
    }
    QString text;
    if (!decodeSiteText(file.read(16 * 1024 * 1024 + 1), &text, &reason)) {
        printMessage(inUserLanguage(QStringLiteral("%1 不能用：%2"), QStringLiteral("%1 is %2"))
                         .arg(QDir::toNativeSeparators(path), reason));
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
    printLine(inUserLanguage(QStringLiteral("%1：%2（抓取于 %3，查询结果 %4）"),
                             QStringLiteral("%1: %2 (captured %3, lookup %4)"))
                  .arg(escapeControls(capture.folder), escapeControls(capture.index.buyerId),
                       capture.index.time.toString(Qt::ISODate),
                       escapeControls(capture.index.lookup)));
    for (const FieldCheck &f : check.fields) {
        QString line = QStringLiteral("  %1 %2").arg(f.field + u':', -13).arg(quoted(f.value));
        if (f.differs())
            line += inUserLanguage(QStringLiteral("  有变化，记录的是 %1"),
                                   QStringLiteral("  CHANGED, recorded %1"))
                        .arg(quoted(f.recorded));
        QStringList entries;
        for (int e : f.entries)
            entries.append(QString::number(e));
        if (!entries.isEmpty())
            line += inUserLanguage(QStringLiteral("  [条目 %1]"), QStringLiteral("  [entries %1]"))
                        .arg(entries.join(u' '));
        printLine(line);
        if (f.miss) {
            const MarkerMiss &m = *f.miss;
            printLine(
                inUserLanguage(QStringLiteral("      在%1上找不到：%2 %3"),
                               QStringLiteral("      not found on the %1 page: %2 %3"))
                    .arg(englishMessages() ? m.page : buyerPageTitle(m.page),
                         m.entry >= 0
                             ? inUserLanguage(QStringLiteral("条目 %1"), QStringLiteral("entry %1"))
                                   .arg(m.entry)
                             : inUserLanguage(QStringLiteral("规则自带的标记"),
                                              QStringLiteral("the rule's own marker")),
                         quoted(m.marker)));
            if (!m.nearText.isEmpty())
                printLine(inUserLanguage(QStringLiteral("      页面在那里是：%1"),
                                         QStringLiteral("      the page has there: %1"))
                              .arg(quoted(m.nearText)));
        }
        if (!f.note.isEmpty())
            printLine(QStringLiteral("      %1")
                          .arg(escapeControls(f.noteShown.isEmpty() ? f.note : f.noteShown)));
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
        if (json) {
            const QString meaning = configEntryMeaning(c.entry, false);
            printLine(QStringLiteral("{\"entry\":%1,\"change\":%2,\"meaning\":%3,\"before\":%4,"
                                     "\"after\":%5}")
                          .arg(c.entry)
                          .arg(jsonString(kind), jsonString(meaning), jsonString(c.before),
                               jsonString(c.after)));
            continue;
        }
        const QString meaning = configEntryMeaning(c.entry);
        QString values = c.kind == ConfigChange::Kind::Added ? quoted(c.after)
                         : c.kind == ConfigChange::Kind::Removed
                             ? quoted(c.before)
                             : quoted(c.before) + QStringLiteral(" -> ") + quoted(c.after);
        const QString change = englishMessages()                       ? kind
                               : c.kind == ConfigChange::Kind::Added   ? QStringLiteral("新增")
                               : c.kind == ConfigChange::Kind::Removed ? QStringLiteral("删除")
                                                                       : QStringLiteral("改变");
        printLine(inUserLanguage(QStringLiteral("%1 条目 %2（%3）：%4"),
                                 QStringLiteral("%1 entry %2 (%3): %4"))
                      .arg(change)
                      .arg(c.entry)
                      .arg(meaning, values));
    }
    if (!json && changes.isEmpty())
        printLine(
            inUserLanguage(QStringLiteral("没有不同的条目"), QStringLiteral("no entry differs")));
    return CliOk;
}

} // namespace

int runCheckConfigCommand(const QStringList &args)
{
    CheckConfigLine cli(
        QStringLiteral("check-config [--expect] [--json] CONFIG CAPTURE... | check-config "
                       "--diff [--json] OLD NEW"),
        inUserLanguage(
            QStringLiteral("检查查询配置文件（我们网站提供的文本，代码页 936 或 UTF-8），并离线地用"
                           "抓取的页面运行它的页面规则：每个字段截取的值、用到的条目，值为空或有"
                           "变化时还有找不到的标记。加 --diff 时列出两份配置新增、删除和改变的"
                           "条目。"),
            QStringLiteral("Checks a query configuration file (the text our web site serves, "
                           "code page 936 or UTF-8) and runs its page rules over captures, "
                           "offline: per field the value cut, the entries used and, for an empty "
                           "or changed value, the marker not found. With --diff, lists the "
                           "entries two configurations add, remove and change.")));
    const QCommandLineOption expectOption(
        QStringLiteral("expect"),
        inUserLanguage(
            QStringLiteral("有字段与抓取内容中的记录不同时以 1 退出。"),
            QStringLiteral("Exit with 1 when a field differs from the record the capture holds.")));
    const QCommandLineOption jsonOption(
        QStringLiteral("json"),
        inUserLanguage(QStringLiteral("每行一个 JSON 对象，供脚本使用。"),
                       QStringLiteral("One JSON object per line, for scripts.")));
    const QCommandLineOption diffOption(
        QStringLiteral("diff"),
        inUserLanguage(QStringLiteral("比较两份配置文件 OLD 和 NEW。"),
                       QStringLiteral("Compare two configuration files, OLD and NEW.")));
    cli.parser().addOptions({expectOption, jsonOption, diffOption});
    cli.addHelpOption();
    cli.parser().addPositionalArgument(
        QStringLiteral("CONFIG"),
        inUserLanguage(QStringLiteral("配置文件。"), QStringLiteral("The configuration file.")));
    cli.parser().addPositionalArgument(
        QStringLiteral("CAPTURE"),
        inUserLanguage(QStringLiteral("抓取文件夹（brelvon-cli capture 所存）。"),
                       QStringLiteral("Capture folders (brelvon-cli capture).")),
        QStringLiteral("CAPTURE..."));
    int exitCode = CliOk;
    if (!cli.parse(args, &exitCode))
        return exitCode;
    const QStringList operands = cli.parser().positionalArguments();
    const bool json = cli.parser().isSet(jsonOption);
    if (cli.parser().isSet(diffOption)) {
        if (operands.size() != 2 || cli.parser().isSet(expectOption))
            return cli.usage(inUserLanguage(QStringLiteral("--diff 比较两个文件：OLD NEW"),
                                            QStringLiteral("--diff compares two files: OLD NEW")));
        return runDiff(operands, json);
    }
    if (operands.size() < 2)
        return cli.usage(
            inUserLanguage(QStringLiteral("请给出一个配置文件和至少一个抓取文件夹"),
                           QStringLiteral("give a configuration file and at least one capture")));

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
        printMessage(inUserLanguage(QStringLiteral("%1 有错误（见上文）"),
                                    QStringLiteral("%1 has errors (see above)"))
                         .arg(QDir::toNativeSeparators(path)));
        return CliUsage;
    }
    if (cli.parser().isSet(expectOption) && differs) {
        printMessage(inUserLanguage(QStringLiteral("有字段与抓取内容中的记录不同"),
                                    QStringLiteral("fields differ from the captures' records")));
        return CliFailed;
    }
    return CliOk;
}
