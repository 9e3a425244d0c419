#include "app/cli/storagecommands.h"
#include "files/historycsv.h"

#include "app/cli/clicommon.h"
#include "app/cli/querycommand.h"
#include "files/blacklistcsv.h"
#include "files/outputguard.h"
#include "model/ordernumber.h"
#include "model/uilanguage.h"
#include "storage/historytext.h"
#include "storage/sellerdatabase.h"

#include <QFileInfo>

#include <cstdio>

namespace {

// The command line of a subcommand that works on the database alone.
class StorageCommandLine : public SubcommandLine
{
public:
    StorageCommandLine(const QString &synopsis, const QString &description)
        : SubcommandLine(synopsis, description),
          m_settings(settingsOption(QStringLiteral("使用其中 [storage] database 的设置文件"
                                                   "（默认：%1）。"),
                                    QStringLiteral("The settings file whose [storage] database "
                                                   "is used (default: %1)."))),
          m_database(databaseOption())
    {
        parser().addOptions({m_settings, m_database});
        addHelpOption();
    }

    // False when the command ends here, with *exitCode set (after --help: CliOk).
    bool parse(const QStringList &args, int *exitCode)
    {
        QString value;
        return SubcommandLine::parse(args, exitCode) &&
               singleValue(m_settings, fileNameWord(), &value, exitCode) &&
               singleValue(m_database, fileNameWord(), &value, exitCode);
    }

    // Opens the database --database names, else the settings' one, else the default. A message
    // and CliFailed when it cannot be used as asked.
    int open(SellerDatabase *database, SellerDatabase::OpenMode mode, bool forWriting)
    {
        QString settingsPath = parser().value(m_settings);
        if (!settingsPath.isEmpty() && !QFileInfo(settingsPath).isFile()) {
            printMessage(inUserLanguage(QStringLiteral("设置文件 %1 不存在"),
                                        QStringLiteral("settings file %1 does not exist"))
                             .arg(settingsPath));
            return CliUsage;
        }
        if (settingsPath.isEmpty())
            settingsPath = defaultSettingsPath();
        m_settingsPath = settingsPath;
        QStringList problems;
        StorageSettings storage = loadStorageSettings(settingsPath, &problems);
        if (parser().isSet(m_database))
            storage.databasePath = parser().value(m_database);
        database->open(storage.path(), mode);
        const SellerDatabase::State state = database->state();
        if (state == SellerDatabase::State::Off ||
            (forWriting && state == SellerDatabase::State::ReadOnly)) {
            printMessage(QString(database->problem())
                             .remove(QLatin1String("history is off: "))
                             .remove(QStringLiteral("查询历史已关闭：")));
            return CliFailed;
        }
        return CliOk;
    }

    // The settings file open() read (or would have).
    const QString &settingsPath() const { return m_settingsPath; }

private:
    QCommandLineOption m_settings;
    QCommandLineOption m_database;
    QString m_settingsPath;
};

// A text on one line of a tab-separated table. Other control characters (an imported reason
// may hold any) are written as \xHH, as messages are, so they cannot drive the terminal.
QString cell(QString text)
{
    return escapeControls(text.replace(u'\\', QLatin1String("\\\\"))
                              .replace(u'\t', QLatin1String("\\t"))
                              .replace(u'\n', QLatin1String("\\n"))
                              .replace(u'\r', QLatin1String("\\r")));
}

QString lookupJson(const StoredLookup &l)
{
    QStringList pages;
    for (const StoredPage &p : l.pages) {
        pages.append(QStringLiteral("{\"outcome\":%1,\"status\":%2,\"bytes\":%3,\"ms\":%4,"
                                    "\"address\":%5}")
                         .arg(jsonString(p.outcome), QString::number(p.status),
                              QString::number(p.bytes), QString::number(p.elapsedMs),
                              jsonString(p.address)));
    }
    const QString record = recordJson(l.record);
    return QLatin1String("{\"time\":") +
           jsonString(l.time.toOffsetFromUtc(l.time.offsetFromUtc()).toString(Qt::ISODate)) + u',' +
           record.mid(1, record.size() - 2) + QLatin1String(",\"pages\":[") + pages.join(u',') +
           QLatin1String("]}");
}

// 2026-11-02 (from its start) or 2026-11-02T15:30[:00], local time.
QDateTime parseSince(const QString &text)
{
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (day.isValid())
        return day.startOfDay();
    QDateTime time = QDateTime::fromString(text, Qt::ISODate);
    if (!time.isValid())
        time = QDateTime::fromString(QString(text).replace(u' ', u'T'), Qt::ISODate);
    return time;
}

int printHistory(const QList<StoredLookup> &lookups, bool json, bool csv)
{
    if (csv) {
        const QByteArray bytes = historyCsv(lookups);
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
        return CliOk;
    }
    if (!json)
        printLine(QStringLiteral("time\tbuyerId\tnick\tregTime\taddress\tverification\tgoodRate\t"
                                 "goodCount\tneutralCount\tbadCount\tneutralGiven\tbadGiven"));
    for (const StoredLookup &l : lookups) {
        if (json) {
            printLine(lookupJson(l));
            continue;
        }
        const BuyerCreditRecord &r = l.record;
        QStringList fields{l.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))};
        for (const QString *v :
             {&r.buyerId, &r.nick, &r.regTime, &r.address, &r.verification, &r.goodRate,
              &r.goodCount, &r.neutralCount, &r.badCount, &r.neutralGiven, &r.badGiven})
            fields.append(cell(*v));
        printLine(fields.join(u'\t'));
    }
    return CliOk;
}

} // namespace

int runHistoryCommand(const QStringList &args)
{
    StorageCommandLine cli(
        QStringLiteral("history [--settings FILE] [--database FILE] [--since DATE] "
                       "[--json|--csv] [ID...]"),
        inUserLanguage(
            QStringLiteral("显示查询历史，最新的在前：给出的买家ID的，否则所有买家的。"),
            QStringLiteral(
                "Shows past lookups, newest first: of the ids given, else of every buyer.")));
    const QCommandLineOption since(
        QStringLiteral("since"),
        inUserLanguage(
            QStringLiteral("只显示从 DATE 起的查询（2026-11-02 或 2026-11-02T15:30，本地时间）。"),
            QStringLiteral(
                "Only lookups from DATE on (2026-11-02 or 2026-11-02T15:30, local time).")),
        QStringLiteral("DATE"));
    const QCommandLineOption json(
        QStringLiteral("json"),
        inUserLanguage(
            QStringLiteral("每次查询一个 JSON 对象：时间、十二个字段、页面。"),
            QStringLiteral("One JSON object per lookup: time, the twelve fields, pages.")));
    const QCommandLineOption csv(
        QStringLiteral("csv"),
        inUserLanguage(
            QStringLiteral("CSV 表格，UTF-8 带字节顺序标记，供电子表格程序使用。"),
            QStringLiteral(
                "A CSV table in UTF-8 with a byte order mark, for spreadsheet programs.")));
    cli.parser().addOption(since);
    cli.parser().addOption(json);
    cli.parser().addOption(csv);
    cli.parser().addPositionalArgument(
        QStringLiteral("ID"),
        inUserLanguage(QStringLiteral("买家ID（默认：所有买家）。"),
                       QStringLiteral("Buyer ids (default: every buyer).")),
        QStringLiteral("[ID...]"));
    int exitCode = CliOk;
    if (!cli.parse(args, &exitCode))
        return exitCode;
    const QCommandLineParser &p = cli.parser();
    if (p.isSet(json) && p.isSet(csv))
        return cli.usage(
            inUserLanguage(QStringLiteral("--json 和 --csv 不能同时使用"),
                           QStringLiteral("--json and --csv cannot be used together")));
    HistoryFilter filter;
    if (p.isSet(since)) {
        filter.since = parseSince(p.value(since));
        if (p.values(since).size() > 1 || !filter.since.isValid())
            return cli.usage(
                inUserLanguage(
                    QStringLiteral(
                        "--since 只接受一个日期，如 2026-11-02 或 2026-11-02T15:30，不能是 %1"),
                    QStringLiteral(
                        "--since takes one date like 2026-11-02 or 2026-11-02T15:30, not %1"))
                    .arg(p.values(since).join(QLatin1String(" "))));
    }
    for (const QString &id : p.positionalArguments()) {
        if (!id.trimmed().isEmpty())
            filter.buyerIds.append(id.trimmed());
    }
    SellerDatabase database;
    if (const int code = cli.open(&database, SellerDatabase::OpenMode::ExistingOnly, false);
        code != CliOk)
        return code;
    if (database.state() == SellerDatabase::State::Closed)
        printMessage(inUserLanguage(QStringLiteral("还没有查询历史（%1 不存在）"),
                                    QStringLiteral("no lookups recorded yet (%1 does not exist)"))
                         .arg(database.path()));
    const QList<StoredLookup> lookups = database.history(filter);
    if (!database.problem().isEmpty() && database.state() != SellerDatabase::State::ReadOnly) {
        printMessage(database.problem());
        return CliFailed;
    }
    return printHistory(lookups, p.isSet(json), p.isSet(csv));
}

int runNoteCommand(const QStringList &args)
{
    const QString synopsis =
        QStringLiteral("note add [--settings FILE] [--database FILE] [--blacklist|--trusted] ID "
                       "TEXT | note remove ID | note list");
    QStringList rest = args;
    const QString action = rest.isEmpty() ? QString() : rest.takeFirst();
    StorageCommandLine cli(
        synopsis,
        inUserLanguage(
            QStringLiteral(
                "add：把 TEXT 存为买家 ID 的备注（--blacklist：同时把买家加入黑名单，TEXT "
                "为原因；--"
                "trusted：把买家标为信任）。remove：删除买家的备注和标记。list：列出所有备注：会员"
                "名、标记、原因、日期、备注。"),
            QStringLiteral(
                "add: keeps TEXT as the note on buyer ID (--blacklist: and blacklists the buyer "
                "with TEXT as the reason; --trusted: marks the buyer trusted). remove: drops the "
                "buyer's note and mark. list: every note, as id, mark, reason, date, note.")));
    const QCommandLineOption blacklist(
        QStringLiteral("blacklist"),
        inUserLanguage(QStringLiteral("把买家加入黑名单，TEXT 为原因。"),
                       QStringLiteral("Blacklist the buyer, with TEXT as the reason.")));
    const QCommandLineOption trusted(QStringLiteral("trusted"),
                                     inUserLanguage(QStringLiteral("把买家标为信任。"),
                                                    QStringLiteral("Mark the buyer as trusted.")));
    cli.parser().addOption(blacklist);
    cli.parser().addOption(trusted);
    if (action == QLatin1String("--help") || action == QLatin1String("-h"))
        rest = QStringList{action};
    else if (action != QLatin1String("add") && action != QLatin1String("remove") &&
             action != QLatin1String("list"))
        return cli.usage(action.isEmpty() ? inUserLanguage(QStringLiteral("没有给出 note 的操作"),
                                                           QStringLiteral("no note action given"))
                                          : inUserLanguage(QStringLiteral("未知的 note 操作 %1"),
                                                           QStringLiteral("unknown note action %1"))
                                                .arg(action));
    int exitCode = CliOk;
    if (!cli.parse(rest, &exitCode))
        return exitCode;
    const QStringList operands = cli.parser().positionalArguments();
    if (action != QLatin1String("add") &&
        (cli.parser().isSet(blacklist) || cli.parser().isSet(trusted)))
        return cli.usage(
            inUserLanguage(QStringLiteral("--blacklist 和 --trusted 只用于 note add"),
                           QStringLiteral("--blacklist and --trusted belong to note add")));
    const int wanted = action == QLatin1String("add")      ? 2
                       : action == QLatin1String("remove") ? 1
                                                           : 0;
    if (operands.size() != wanted)
        return cli.usage(
            inUserLanguage(QStringLiteral("note %1 要的是%2"), QStringLiteral("note %1 takes %2"))
                .arg(action, wanted == 2 ? inUserLanguage(QStringLiteral("一个买家ID和一段文字"),
                                                          QStringLiteral("an id and a text"))
                             : wanted == 1 ? inUserLanguage(QStringLiteral("一个买家ID"),
                                                            QStringLiteral("one id"))
                                           : inUserLanguage(QStringLiteral("空（不带参数）"),
                                                            QStringLiteral("no operands"))));
    const QString id = wanted ? operands.at(0).trimmed() : QString();
    if (wanted && id.isEmpty())
        return cli.usage(inUserLanguage(QStringLiteral("买家ID是空白的"),
                                        QStringLiteral("the buyer id is blank")));
    if (id.size() > kMaxBlacklistIdLength)
        return cli.usage(inUserLanguage(QStringLiteral("买家ID超过 %1 个字符"),
                                        QStringLiteral("the buyer id is longer than %1 characters"))
                             .arg(kMaxBlacklistIdLength));

    SellerDatabase database;
    const bool writing = action != QLatin1String("list");
    if (const int code = cli.open(&database,
                                  writing ? SellerDatabase::OpenMode::CreateIfMissing
                                          : SellerDatabase::OpenMode::ExistingOnly,
                                  writing);
        code != CliOk)
        return code;

    if (action == QLatin1String("list")) {
        for (const BuyerNote &n : database.notes()) {
            printLine(QStringList{cell(n.buyerId), listMarkName(n.listed), cell(n.reason),
                                  n.listedOn.toString(Qt::ISODate), cell(n.note)}
                          .join(u'\t'));
        }
        return CliOk;
    }
    if (action == QLatin1String("remove")) {
        bool existed = false;
        if (!database.removeNote(id, &existed)) {
            printMessage(database.problem());
            return CliFailed;
        }
        if (!existed) {
            printMessage(
                inUserLanguage(QStringLiteral("%1 没有备注"), QStringLiteral("%1 has no note"))
                    .arg(id));
            return CliFailed;
        }
        printMessage(inUserLanguage(QStringLiteral("已删除 %1 的备注和标记"),
                                    QStringLiteral("note and mark of %1 removed"))
                         .arg(id));
        return CliOk;
    }

    const QCommandLineParser &p = cli.parser();
    if (p.isSet(blacklist) && p.isSet(trusted))
        return cli.usage(
            inUserLanguage(QStringLiteral("--blacklist 和 --trusted 不能同时使用"),
                           QStringLiteral("--blacklist and --trusted cannot be used together")));
    const QString text = operands.at(1).trimmed();
    if (text.isEmpty() && !p.isSet(trusted))
        return cli.usage(
            inUserLanguage(QStringLiteral("备注是空白的（删除备注请用 note remove %1）"),
                           QStringLiteral("the note is blank (note remove %1 drops a note)"))
                .arg(id));
    BuyerNote note = database.note(id);
    const QString before = note.note;
    if (!text.isEmpty()) // --trusted alone keeps the note there is
        note.note = text;
    if (p.isSet(blacklist) || p.isSet(trusted)) {
        note.listed = p.isSet(blacklist) ? ListMark::Blacklist : ListMark::Trusted;
        note.reason = p.isSet(blacklist) ? text : QString();
        note.listedOn = QDate::currentDate();
    }
    if (!database.saveNote(note)) {
        printMessage(database.problem());
        return CliFailed;
    }
    QString said =
        inUserLanguage(QStringLiteral("已保存 %1 的备注"), QStringLiteral("note on %1 saved"))
            .arg(id);
    if (note.listed != ListMark::None)
        said += englishMessages() ? QStringLiteral(" (%1)").arg(listMarkName(note.listed))
                : note.listed == ListMark::Blacklist ? QStringLiteral("（黑名单）")
                                                     : QStringLiteral("（信任）");
    if (!before.isEmpty() && before != note.note)
        said +=
            inUserLanguage(QStringLiteral("；它取代了：%1"), QStringLiteral("; it replaces: %1"))
                .arg(before);
    printMessage(said);
    return CliOk;
}

int runBlacklistCommand(const QStringList &args)
{
    QStringList rest = args;
    const QString action = rest.isEmpty() ? QString() : rest.takeFirst();
    StorageCommandLine cli(
        QStringLiteral("blacklist import|export [--settings FILE] [--database FILE] FILE"),
        inUserLanguage(
            QStringLiteral("import：把表头为 id,reason,date 的 CSV 文件（UTF-8 或 "
                           "GBK）中的每个买家加入黑名单，并说明新增、更新和拒绝了多少个。export：以"
                           "同样的格式把黑名单写入 FILE（- 为标准输出），UTF-8 带字节顺序标记。"),
            QStringLiteral("import: blacklists every buyer of a CSV file with the header "
                           "id,reason,date (UTF-8 or GBK) and says how many were added, updated "
                           "and refused. export: writes the blacklist to FILE (- for stdout) in "
                           "that form, UTF-8 with a byte order mark.")));
    cli.parser().addPositionalArgument(
        QStringLiteral("FILE"),
        inUserLanguage(QStringLiteral("CSV 文件。"), QStringLiteral("The CSV file.")));
    if (action == QLatin1String("--help") || action == QLatin1String("-h"))
        rest = QStringList{action};
    else if (action != QLatin1String("import") && action != QLatin1String("export"))
        return cli.usage(action.isEmpty()
                             ? inUserLanguage(QStringLiteral("没有给出 blacklist 的操作"),
                                              QStringLiteral("no blacklist action given"))
                             : inUserLanguage(QStringLiteral("未知的 blacklist 操作 %1"),
                                              QStringLiteral("unknown blacklist action %1"))
                                   .arg(action));
    int exitCode = CliOk;
    if (!cli.parse(rest, &exitCode))
        return exitCode;
    const QStringList operands = cli.parser().positionalArguments();
    if (operands.size() != 1)
        return cli.usage(inUserLanguage(QStringLiteral("blacklist %1 只接受一个文件"),
                                        QStringLiteral("blacklist %1 takes one file"))
                             .arg(action));
    const QString path = operands.at(0);

    if (action == QLatin1String("import")) {
        const BlacklistFile file = readBlacklistCsv(path);
        if (!file.ok()) {
            printMessage(file.error);
            return file.notRegular ? CliUsage : CliFailed;
        }
        SellerDatabase database;
        if (const int code = cli.open(&database, SellerDatabase::OpenMode::CreateIfMissing, true);
            code != CliOk)
            return code;
        ImportReport report;
        if (!database.importBlacklist(file.entries, &report)) {
            if (report.imported == 0)
                printMessage(database.problem() +
                             inUserLanguage(QStringLiteral("；什么也没有导入"),
                                            QStringLiteral("; nothing was imported")));
            else
                printMessage(
                    database.problem() +
                    inUserLanguage(QStringLiteral("；%2 条中的前 %1 条已导入"),
                                   QStringLiteral("; the first %1 of %2 entries were imported"))
                        .arg(report.imported)
                        .arg(file.entries.size()));
            return CliFailed;
        }
        for (const QString &problem : file.problems + report.problems)
            printMessage(problem);
        printMessage(
            inUserLanguage(QStringLiteral("%1：新增 %2 个，更新 %3 个，未变 %4 个，拒绝 %5 个"),
                           QStringLiteral("%1: %2 added, %3 updated, %4 unchanged, %5 refused"))
                .arg(path, QString::number(report.added), QString::number(report.updated),
                     QString::number(report.unchanged),
                     QString::number(report.refused + file.refused)));
        return CliOk;
    }

    SellerDatabase database;
    if (const int code = cli.open(&database, SellerDatabase::OpenMode::ExistingOnly, false);
        code != CliOk)
        return code;
    QList<BlacklistEntry> entries;
    for (const BuyerNote &n : database.notes()) {
        if (n.listed == ListMark::Blacklist)
            entries.append(BlacklistEntry{n.buyerId, n.reason, n.listedOn, 0});
    }
    const QByteArray bytes = blacklistCsv(entries);
    if (path == QLatin1String("-")) {
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
    } else {
        const QList<OwnFile> ownFiles = programFiles(database.path(), cli.settingsPath());
        QString error;
        if (!checkOutput(path, ownFiles, &error)) {
            printMessage(error);
            return CliUsage;
        }
        if (QString reason; !writeOutputFile(path, bytes, ownFiles, &reason)) {
            printMessage(inUserLanguage(QStringLiteral("无法写入 %1：%2"),
                                        QStringLiteral("cannot write %1: %2"))
                             .arg(path, reason));
            return CliFailed;
        }
        printMessage(inUserLanguage(QStringLiteral("已把 %1 个黑名单买家写入 %2"),
                                    QStringLiteral("%1 blacklisted buyer(s) written to %2"))
                         .arg(entries.size())
                         .arg(path));
    }
    return CliOk;
}

int runReviewCommand(const QStringList &args)
{
    QStringList rest = args;
    const bool done = !rest.isEmpty() && rest.first() == QLatin1String("done");
    if (done)
        rest.removeFirst();
    StorageCommandLine cli(
        QStringLiteral("review [--settings FILE] [--database FILE] [--json] [--all] | "
                       "review done ORDER [NOTE]"),
        inUserLanguage(
            QStringLiteral("列出等待处理的高风险订单（订单编号、买家、原因、来源文件、时间）；"
                           "done：把订单（没有订单编号时为买家ID）标记为已处理，可附备注。"),
            QStringLiteral("Lists the orders of high-risk buyers waiting to be reviewed (order, "
                           "buyer, reasons, file, time); done: marks an order (a buyer id for "
                           "entries without an order number) handled, with an optional note.")));
    const QCommandLineOption json(QStringLiteral("json"),
                                  inUserLanguage(QStringLiteral("每个订单一个 JSON 对象。"),
                                                 QStringLiteral("One JSON object per order.")));
    const QCommandLineOption all(
        QStringLiteral("all"),
        inUserLanguage(QStringLiteral("也列出已处理的订单，附处理时间和备注。"),
                       QStringLiteral("Handled orders too, with when and the note.")));
    cli.parser().addOption(json);
    cli.parser().addOption(all);
    int exitCode = CliOk;
    if (!cli.parse(rest, &exitCode))
        return exitCode;
    const QStringList operands = cli.parser().positionalArguments();
    if (done && (operands.isEmpty() || operands.size() > 2))
        return cli.usage(inUserLanguage(QStringLiteral("review done 需要订单编号和可选的备注"),
                                        QStringLiteral("review done takes an order number and "
                                                       "an optional note")));
    if (!done && !operands.isEmpty())
        return cli.usage(inUserLanguage(QStringLiteral("未知的操作 %1"),
                                        QStringLiteral("unknown review action %1"))
                             .arg(operands.first()));
    if (done && (cli.parser().isSet(json) || cli.parser().isSet(all)))
        return cli.usage(inUserLanguage(QStringLiteral("--json 和 --all 只用于列出"),
                                        QStringLiteral("--json and --all belong to the list")));
    const QString key = done ? operands.at(0).trimmed() : QString();
    if (done && key.isEmpty())
        return cli.usage(inUserLanguage(QStringLiteral("订单编号为空"),
                                        QStringLiteral("the order number is blank")));

    SellerDatabase database;
    if (const int code = cli.open(&database,
                                  done ? SellerDatabase::OpenMode::CreateIfMissing
                                       : SellerDatabase::OpenMode::ExistingOnly,
                                  done);
        code != CliOk)
        return code;
    if (done) {
        int marked = 0;
        if (!database.markReviewed(key, operands.value(1).trimmed(), &marked)) {
            printMessage(database.problem());
            return CliFailed;
        }
        if (marked == 0) {
            printMessage(inUserLanguage(QStringLiteral("没有等待处理的订单 %1"),
                                        QStringLiteral("no order %1 waits for review"))
                             .arg(key));
            return CliFailed;
        }
        printMessage(inUserLanguage(QStringLiteral("订单 %1 已处理"),
                                    QStringLiteral("order %1 marked handled"))
                         .arg(key));
        return CliOk;
    }
    const auto time = [](const QDateTime &t) {
        return t.isValid() ? t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate) : QString();
    };
    for (const ReviewEntry &e : database.reviewQueue(cli.parser().isSet(all))) {
        if (cli.parser().isSet(json)) {
            QStringList reasons;
            for (const QString &r : e.reasons)
                reasons.append(jsonString(r));
            QString line =
                QStringLiteral("{\"order\":%1,\"buyerId\":%2,\"reasons\":[%3],"
                               "\"source\":%4,\"queued\":%5")
                    .arg(jsonString(e.orderNumber), jsonString(e.buyerId), reasons.join(u','),
                         jsonString(e.source), jsonString(time(e.queued)));
            if (cli.parser().isSet(all))
                line +=
                    QStringLiteral(",\"handled\":%1,\"note\":%2")
                        .arg(e.isHandled() ? jsonString(time(e.handled)) : QStringLiteral("null"),
                             jsonString(e.note));
            printLine(line + u'}');
        } else {
            QStringList cells{cell(shownOrderNumber(e.orderNumber)), cell(e.buyerId),
                              cell(e.reasons.join(QStringLiteral("；"))), cell(e.source),
                              time(e.queued)};
            if (cli.parser().isSet(all))
                cells << time(e.handled) << cell(e.note);
            printLine(cells.join(u'\t'));
        }
    }
    return CliOk;
}
