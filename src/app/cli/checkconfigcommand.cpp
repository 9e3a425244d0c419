#include "app/cli/capturecommand.h"
#include "app/cli/clicommon.h"
#include "app/cli/querycommand.h"
#include "engine/configcheck.h"
#include "engine/markerfinder.h"
#include "files/inputfile.h"
#include "model/lookupstatus.h"

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

// Whether the capture holds the page the replay was asked for.
bool heldByCapture(const PageResult &page)
{
    return !(page.outcome == PageOutcome::Refused && page.error == kNotInCapture);
}

// A list number that holds markup ("183262695&amp"): its end marker cut too far.
bool looksCutTooFar(const QString &number)
{
    return std::any_of(number.begin(), number.end(),
                       [](QChar c) { return c.isSpace() || QStringView(u"&;<>\"'#").contains(c); });
}

// "now matches", "no longer matches" or "" when the search page says what it said.
QString searchMatchChange(const LoadedCapture &capture, const CaptureCheck &check)
{
    if (capture.index.lookup == QLatin1String("found") && !check.listed)
        return QStringLiteral("no longer matches");
    if (capture.index.lookup == QLatin1String("notFound") && check.listed)
        return QStringLiteral("now matches");
    return {};
}

QString seenJson(const CaptureCheck &check, const QString &match)
{
    QStringList pages;
    for (const PageResult &p : check.pages) {
        if (p.browser)
            continue;
        pages.append(QStringLiteral("{\"page\":%1,\"address\":%2,\"inCapture\":%3,"
                                    "\"outcome\":%4,\"encoding\":%5,\"undecodable\":%6}")
                         .arg(jsonString(p.page), jsonString(p.address),
                              heldByCapture(p) ? QLatin1String("true") : QLatin1String("false"),
                              jsonString(p.outcome == PageOutcome::HttpError ? p.outcomeText()
                                                                             : p.outcomeName()),
                              jsonString(p.encoding), QString::number(p.undecodable)));
    }
    return QStringLiteral("\"seen\":{\"listed\":%1,\"searchPage\":%2,\"userNumber\":%3,"
                          "\"ratingListNumber\":%4,\"pages\":[%5]}")
        .arg(check.listed ? QLatin1String("true") : QLatin1String("false"), jsonString(match),
             jsonString(check.userNumber), jsonString(check.ratingListNumber), pages.join(u','));
}

// What the lookup saw on the capture: its numbers and every address it built.
void printSeen(const LoadedCapture &capture, const CaptureCheck &check)
{
    printLine(inUserLanguage(QStringLiteral("  查询看到：用户编号 %1，列表编号 %2"),
                             QStringLiteral("  the lookup saw: user number %1, list number %2"))
                  .arg(quoted(check.userNumber), quoted(check.ratingListNumber)));
    if (looksCutTooFar(check.ratingListNumber))
        printLine(
            inUserLanguage(QStringLiteral("      列表编号含有网页代码：条目 36（结束标记）截得"
                                          "太长，给他人评价页的地址不对"),
                           QStringLiteral("      the list number holds markup: entry 36 (its "
                                          "end marker) cuts too far, and the ratings-given "
                                          "addresses are wrong")));
    const QString change = searchMatchChange(capture, check);
    if (change == QLatin1String("now matches"))
        printLine(inUserLanguage(QStringLiteral("  搜索页现在对得上这个买家（抓取时没有）"),
                                 QStringLiteral("  the search page now matches the buyer (it did "
                                                "not when captured)")));
    else if (!change.isEmpty())
        printLine(inUserLanguage(QStringLiteral("  搜索页不再对得上这个买家（抓取时对得上）"),
                                 QStringLiteral("  the search page no longer matches the buyer "
                                                "(it did when captured)")));
    for (const PageResult &p : check.pages) {
        if (p.browser)
            continue;
        QString how;
        if (!heldByCapture(p))
            how = inUserLanguage(QStringLiteral("抓取中没有这一页"),
                                 QStringLiteral("not in the capture"));
        else if (p.outcome != PageOutcome::Ok)
            how = englishMessages() ? p.outcomeText() : pageOutcomeWords(p);
        else
            how = inUserLanguage(QStringLiteral("编码 %1"), QStringLiteral("read as %1"))
                      .arg(p.encoding.isEmpty() ? QStringLiteral("gbk") : p.encoding) +
                  (p.undecodable > 0 ? inUserLanguage(QStringLiteral("，%1 处无法解码"),
                                                      QStringLiteral(", %1 undecodable"))
                                           .arg(p.undecodable)
                                     : QString());
        printLine(QStringLiteral("    %1 %2  %3")
                      .arg(englishMessages() ? p.page : buyerPageTitle(p.page),
                           escapeControls(p.address), how));
    }
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
    return QStringLiteral("{\"capture\":%1,\"buyerId\":%2,\"differs\":%3,\"fields\":[%4],%5}")
        .arg(jsonString(capture.folder), jsonString(capture.index.buyerId),
             check.differs() ? QLatin1String("true") : QLatin1String("false"), fields.join(u','),
             seenJson(check, searchMatchChange(capture, check)));
}

void printCheck(const LoadedCapture &capture, const CaptureCheck &check)
{
    printLine(inUserLanguage(QStringLiteral("%1：%2（抓取于 %3，查询结果 %4）"),
                             QStringLiteral("%1: %2 (captured %3, lookup %4)"))
                  .arg(escapeControls(capture.folder), escapeControls(capture.index.buyerId),
                       capture.index.time.toString(Qt::ISODate),
                       escapeControls(capture.index.lookup)));
    printSeen(capture, check);
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

// Where a value sits on the captures' pages, and the entries that cut it.
int runFind(const QString &value, const QString &field, const QStringList &folders, bool json)
{
    QList<LoadedCapture> captures;
    for (const QString &folder : folders) {
        LoadedCapture capture;
        QString error;
        if (!loadCapture(folder, &capture, &error)) {
            printMessage(error);
            return CliUsage;
        }
        captures.append(std::move(capture));
    }
    const MarkerFinder::Result found = MarkerFinder::find(value, captures, field);
    if (json) {
        QStringList sightings;
        for (const MarkerFinder::Sighting &s : found.sightings)
            sightings.append(QStringLiteral("{\"capture\":%1,\"page\":%2,\"browser\":%3,\"at\":%4,"
                                            "\"around\":%5,\"inScript\":%6}")
                                 .arg(jsonString(s.capture), jsonString(s.page),
                                      s.browser ? QLatin1String("true") : QLatin1String("false"),
                                      QString::number(s.at), jsonString(s.around),
                                      s.inScript ? QLatin1String("true") : QLatin1String("false")));
        QString proposal = QStringLiteral("null");
        if (const auto &p = found.proposal) {
            QStringList entries;
            QStringList lines;
            for (const QString &line : MarkerFinder::entryLines(*p))
                lines.append(jsonString(line));
            for (const auto &[entry, text] : p->entries)
                entries.append(
                    QStringLiteral("{\"entry\":%1,\"value\":%2}").arg(entry).arg(jsonString(text)));
            proposal =
                QStringLiteral("{\"field\":%1,\"entries\":[%2],\"lines\":%3,"
                               "\"reads\":%4,\"lookupReads\":%5}")
                    .arg(jsonString(p->field), entries.join(u','), u'[' + lines.join(u',') + u']',
                         p->reads ? QLatin1String("true") : QLatin1String("false"),
                         jsonString(p->readBack));
        }
        printLine(QStringLiteral("{\"value\":%1,\"sightings\":[%2],\"page\":%3,\"proposal\":%4,"
                                 "\"why\":%5}")
                      .arg(jsonString(value), sightings.join(u','), jsonString(found.page),
                           proposal, jsonString(found.whyEnglish)));
        return found.proposal ? CliOk : CliFailed;
    }
    // The places on the page the proposal is for first; a few of the others.
    QList<MarkerFinder::Sighting> shown;
    for (const MarkerFinder::Sighting &s : found.sightings)
        if (s.page == found.page && s.browser == found.browser)
            shown.append(s);
    for (const MarkerFinder::Sighting &s : found.sightings)
        if (!(s.page == found.page && s.browser == found.browser))
            shown.append(s);
    constexpr qsizetype kShown = 8;
    const qsizetype more = shown.size() - kShown;
    shown = shown.mid(0, kShown);
    for (const MarkerFinder::Sighting &s : std::as_const(shown)) {
        const QString where =
            (englishMessages() ? s.page + QStringLiteral(" page") : buyerPageTitle(s.page)) +
            (s.browser ? inUserLanguage(QStringLiteral("（内置浏览器的文本）"),
                                        QStringLiteral(" (the embedded browser's text)"))
                       : QString());
        printLine(inUserLanguage(QStringLiteral("%1：%2第 %3 个字符：%4%5"),
                                 QStringLiteral("%1: %2 at character %3: %4%5"))
                      .arg(escapeControls(s.capture), where, QString::number(s.at),
                           quoted(s.around),
                           s.inScript ? inUserLanguage(QStringLiteral("（在脚本中）"),
                                                       QStringLiteral(" (inside a script)"))
                                      : QString()));
    }
    if (more > 0)
        printLine(inUserLanguage(QStringLiteral("……另有 %1 处"), QStringLiteral("… and %1 more"))
                      .arg(more));
    const bool onlyByScript =
        !found.sightings.isEmpty() &&
        std::all_of(found.sightings.begin(), found.sightings.end(),
                    [](const MarkerFinder::Sighting &s) { return s.browser || s.inScript; });
    if (onlyByScript)
        printLine(inUserLanguage(
            QStringLiteral("它只在脚本里或内置浏览器的文本中：页面用脚本把它写出来，它在页面上的"
                           "样子可能与这里不同"),
            QStringLiteral("it is only inside scripts or in the embedded browser's text: a script "
                           "of the page writes it, and the page may show it otherwise")));
    if (!found.proposal) {
        printMessage(
            inUserLanguage(QStringLiteral("没有建议：%1"), QStringLiteral("no proposal: %1"))
                .arg(found.why));
        return CliFailed;
    }
    const MarkerFinder::Proposal &p = *found.proposal;
    printLine(inUserLanguage(QStringLiteral("建议（%1）：把配置中这些条目的行换成："),
                             QStringLiteral("proposed for %1: replace these entries' lines of "
                                            "the configuration with:"))
                  .arg(p.fieldShown));
    for (const QString &line : MarkerFinder::entryLines(p))
        printLine(QStringLiteral("  ") + escapeControls(line));
    if (p.reads)
        printLine(
            inUserLanguage(QStringLiteral("用这些条目，每个抓取上的规则都截出 %1；查询读到 %2"),
                           QStringLiteral("with them the rule cuts %1 on every capture; the "
                                          "lookup reads %2"))
                .arg(quoted(value), quoted(p.readBack)));
    else
        printLine(
            inUserLanguage(QStringLiteral("注意：用这些条目，规则截出的不是 %1（查询读到 %2）"),
                           QStringLiteral("note: with them the rule does not cut %1 (the "
                                          "lookup reads %2)"))
                .arg(quoted(value), quoted(p.readBack)));
    return CliOk;
}

} // namespace

int runCheckConfigCommand(const QStringList &args)
{
    CheckConfigLine cli(
        QStringLiteral("check-config [--expect] [--json] CONFIG CAPTURE... | check-config "
                       "--diff [--json] OLD NEW | check-config --find TEXT [--field NAME] "
                       "[--json] CAPTURE..."),
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
    const QCommandLineOption findOption(
        QStringLiteral("find"),
        inUserLanguage(QStringLiteral("在抓取的页面上找页面上显示的文字 TEXT（如 99.45），给出它"
                                      "所在的页面、周围的文字，以及在每个抓取上都正好截出它的开始"
                                      "和结束标记（可粘贴到配置中的条目行）。"),
                       QStringLiteral("Find TEXT, a value the page shows (such as 99.45), on the "
                                      "captures' pages: the page, the text around it, and start "
                                      "and end markers that cut exactly it from every capture, as "
                                      "entry lines to paste into the configuration.")),
        QStringLiteral("TEXT"));
    const QCommandLineOption fieldOption(
        QStringLiteral("field"),
        inUserLanguage(QStringLiteral("--find 的字段：%1（默认按页面和文字猜）。"),
                       QStringLiteral("The field for --find: %1 (default: guessed from the page "
                                      "and the text)."))
            .arg(MarkerFinder::fields().join(QStringLiteral(", "))),
        QStringLiteral("NAME"));
    cli.parser().addOptions({expectOption, jsonOption, diffOption, findOption, fieldOption});
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
    if (cli.parser().isSet(findOption)) {
        QString value;
        QString field;
        if (!cli.singleValue(findOption,
                             inUserLanguage(QStringLiteral("文字"), QStringLiteral("a text")),
                             &value, &exitCode) ||
            !cli.singleValue(
                fieldOption,
                inUserLanguage(QStringLiteral("字段名"), QStringLiteral("a field name")), &field,
                &exitCode))
            return exitCode;
        if (value.isEmpty() || operands.isEmpty() || cli.parser().isSet(expectOption))
            return cli.usage(inUserLanguage(QStringLiteral("--find 要一段文字和至少一个抓取文件夹"),
                                            QStringLiteral("--find takes a text and at least one "
                                                           "capture")));
        if (!field.isEmpty() && !MarkerFinder::fields().contains(field))
            return cli.usage(inUserLanguage(QStringLiteral("--field 应为 %1"),
                                            QStringLiteral("--field is one of %1"))
                                 .arg(MarkerFinder::fields().join(QStringLiteral(", "))));
        return runFind(value, field, operands, json);
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
