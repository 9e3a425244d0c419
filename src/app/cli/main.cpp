#include "app/cli/batchcommand.h"
#include "app/cli/capturecommand.h"
#include "app/cli/clicommon.h"
#include "app/cli/console.h"
#include "app/cli/pacecommand.h"
#include "app/cli/querycommand.h"
#include "app/cli/settingscommand.h"
#include "app/cli/storagecommands.h"
#include "app/cli/watchcommand.h"
#include "browser/hiddenbrowser.h"
#include "model/uilanguage.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// The overview --help prints; each command's --help has the details.
const char kUsageEnglish[] =
    "usage: brelvon-cli COMMAND [OPTIONS] ...\n"
    "\n"
    "commands:\n"
    "  query [--settings FILE] [--demo] [--browser] [--parallel-pages] [--verbose]\n"
    "        [--plain] [--database FILE] [--no-history] [--config FILE]\n"
    "        [--area-table FILE] ID...\n"
    "      look up each buyer id; one JSON object per id on its own line\n"
    "  batch [--settings FILE] [--demo] [--browser] [--jobs N] [--pace MS]\n"
    "        [--encoding gbk|utf-8] [--parallel-pages] [--extra-columns] [--verbose]\n"
    "        [--database FILE] [--no-history] [--config FILE] [--area-table FILE]\n"
    "        [--column NAME] [--max-ids N] [--sort file|risk] [--resume]\n"
    "        IDFILE|ORDERS.csv|ORDERS.xlsx [--xlsx OUT] [--csv OUT]\n"
    "      look up every id of an id file, or every buyer of an order export (at most\n"
    "      [batch] maxIds, default 101, up to 2000), and save the table as xlsx, CSV\n"
    "      or both\n"
    "  capture [--settings FILE] [--demo] [--browser] [--config FILE]\n"
    "        [--area-table FILE] [--verbose] ID --out DIR\n"
    "      look one buyer up and save every page it read into DIR\n"
    "  check-config [--expect] [--json] CONFIG CAPTURE... | check-config --diff OLD NEW\n"
    "      run a query configuration's page rules over captures; compare two\n"
    "  history [--since DATE] [--json|--csv] [ID...]\n"
    "      past lookups, newest first\n"
    "  note add [--blacklist|--trusted] ID TEXT | note remove ID | note list\n"
    "      the seller's own notes on buyers, the blacklist and trusted buyers\n"
    "  blacklist import FILE | blacklist export FILE\n"
    "      share the blacklist as CSV (id,reason,date)\n"
    "  settings check [--settings FILE]\n"
    "      ask each host for the start-up list and the query configuration, and the\n"
    "      trade-card host for the viewer's name card\n"
    "  pace [--settings FILE] [--reset]\n"
    "      the pace kept per host from the marketplace's blocks; --reset forgets it\n"
    "  watch [--settings FILE] [--demo] [FOLDER]\n"
    "      check every order export that appears in FOLDER, until Ctrl-C\n"
    "  review [--json] [--all] | review done ORDER [NOTE]\n"
    "      the orders of high-risk buyers waiting for review; mark one handled\n"
    "\n"
    "options:\n"
    "  --settings FILE   the settings file naming the hosts\n"
    "                    (default: ~/.config/Brelvon/brelvon.conf)\n"
    "  --demo            query the bundled demo site, started in this process\n"
    "  --browser         read a detail page the plain fetch cannot with the\n"
    "                    embedded browser (offscreen)\n"
    "  --jobs N          buyers looked up at once by a batch, 1 to 8\n"
    "  --pace MS         at least MS ms between two request starts to one host\n"
    "  --encoding NAME   the id file's encoding, gbk or utf-8 (batch)\n"
    "  --extra-columns   credit, risk and page columns after column 12 (batch)\n"
    "  --column NAME     the buyer column of an order export (batch)\n"
    "  --max-ids N       the most buyers a batch looks up, 1 to 2000\n"
    "  --sort ORDER      the table's rows in file order or by risk (batch)\n"
    "  --resume          continue the unfinished batch of the same input and output\n"
    "  --xlsx OUT, --csv OUT  the batch table's files; either or both\n"
    "  --parallel-pages  fetch a buyer's three chains of pages at once\n"
    "  --verbose         one line per page fetch on stderr\n"
    "  --plain           query: only the record's twelve keys\n"
    "  --database FILE   the database of history, notes and blacklist (every\n"
    "                    command; default: ~/.local/share/Brelvon/brelvon.sqlite)\n"
    "  --no-history      do not record the lookups (query, batch)\n"
    "  --config FILE     a local query configuration instead of the download\n"
    "  --area-table FILE a local area table instead of the download\n"
    "  --since DATE      history from DATE on (2026-11-02 or 2026-11-02T15:30)\n"
    "  --json, --csv     history as JSON lines or as a CSV table\n"
    "  --blacklist       note add: blacklist the buyer, TEXT is the reason\n"
    "  --trusted         note add: mark the buyer as trusted\n"
    "\n"
    "brelvon-cli COMMAND --help shows a command's own help; brelvon-cli --version\n"
    "the program's version and its embedded browser. Messages are in Chinese, in\n"
    "English when LANG (or LC_ALL, LC_MESSAGES) begins with \"en\".\n";

const char kUsageChinese[] =
    "用法：brelvon-cli 命令 [选项] ...\n"
    "\n"
    "命令：\n"
    "  query [--settings FILE] [--demo] [--browser] [--parallel-pages] [--verbose]\n"
    "        [--plain] [--database FILE] [--no-history] [--config FILE]\n"
    "        [--area-table FILE] ID...\n"
    "      逐个查询买家；每个买家输出一行 JSON\n"
    "  batch [--settings FILE] [--demo] [--browser] [--jobs N] [--pace MS]\n"
    "        [--encoding gbk|utf-8] [--parallel-pages] [--extra-columns] [--verbose]\n"
    "        [--database FILE] [--no-history] [--config FILE] [--area-table FILE]\n"
    "        [--column NAME] [--max-ids N] [--sort file|risk] [--resume]\n"
    "        IDFILE|ORDERS.csv|ORDERS.xlsx [--xlsx OUT] [--csv OUT]\n"
    "      批量查询：买家ID文件中的每个买家ID，或订单导出文件中的每个买家（最多为\n"
    "      [batch] maxIds，默认 101，最大 2000），表格存为 xlsx、CSV 或两者\n"
    "  capture [--settings FILE] [--demo] [--browser] [--config FILE]\n"
    "        [--area-table FILE] [--verbose] ID --out DIR\n"
    "      查询一个买家，把读到的每个页面存入 DIR\n"
    "  check-config [--expect] [--json] CONFIG CAPTURE... | check-config --diff OLD NEW\n"
    "      用抓取的页面检验查询配置的页面规则；比较两份配置\n"
    "  history [--since DATE] [--json|--csv] [ID...]\n"
    "      查询历史，最新的在前\n"
    "  note add [--blacklist|--trusted] ID TEXT | note remove ID | note list\n"
    "      卖家对买家的备注、黑名单和信任买家\n"
    "  blacklist import FILE | blacklist export FILE\n"
    "      以 CSV（id,reason,date）导入、导出黑名单\n"
    "  settings check [--settings FILE]\n"
    "      向每个主机索取启动列表和查询配置，向交易卡片主机索取查看者自己的名片\n"
    "  pace [--settings FILE] [--reset]\n"
    "      从市场的拦截学到并保存的每个主机的速度；--reset 忘掉它们\n"
    "  watch [--settings FILE] [--demo] [FOLDER]\n"
    "      检查 FOLDER 中新出现的每个订单导出文件，直到按 Ctrl-C\n"
    "  review [--json] [--all] | review done ORDER [NOTE]\n"
    "      等待处理的高风险买家订单；把一个订单标为已处理\n"
    "\n"
    "选项：\n"
    "  --settings FILE   指明各主机的设置文件\n"
    "                    （默认：~/.config/Brelvon/brelvon.conf）\n"
    "  --demo            查询随程序附带的演示网站（在本进程中启动）\n"
    "  --browser         普通读取读不到的信用页由内置浏览器读取（不显示窗口）\n"
    "  --jobs N          批量查询时同时查询的买家数，1 到 8\n"
    "  --pace MS         对同一主机两次请求之间至少相隔 MS 毫秒\n"
    "  --encoding NAME   买家ID文件的编码，gbk 或 utf-8（batch）\n"
    "  --extra-columns   在第 12 列后加上信用、风险和页面各列（batch）\n"
    "  --column NAME     订单导出文件中的买家列（batch）\n"
    "  --max-ids N       批量查询最多查询的买家数，1 到 2000\n"
    "  --sort ORDER      表格各行按文件顺序（file）或按风险（risk）排列（batch）\n"
    "  --resume          继续同一输入和输出未完成的批量查询\n"
    "  --xlsx OUT, --csv OUT  批量查询表格写入的文件，可以只给一个，也可以都给\n"
    "  --parallel-pages  同时读取一个买家的三组页面\n"
    "  --verbose         每读一个页面在标准错误上写一行\n"
    "  --plain           query：只输出记录的十二个字段\n"
    "  --database FILE   查询历史、备注和黑名单所在的数据库（所有命令；\n"
    "                    默认：~/.local/share/Brelvon/brelvon.sqlite）\n"
    "  --no-history      不记录这些查询（query、batch）\n"
    "  --config FILE     使用本地的查询配置，不下载\n"
    "  --area-table FILE 使用本地的地区表，不下载\n"
    "  --since DATE      从 DATE 起的查询历史（2026-11-02 或 2026-11-02T15:30）\n"
    "  --json, --csv     以 JSON 行或 CSV 表格输出查询历史\n"
    "  --blacklist       note add：把买家加入黑名单，TEXT 为原因\n"
    "  --trusted         note add：把买家标为信任\n"
    "\n"
    "brelvon-cli 命令 --help 显示该命令的帮助；brelvon-cli --version 显示程序版本\n"
    "和内置浏览器。信息用中文显示；LANG（或 LC_ALL、LC_MESSAGES）以 \"en\" 开头时\n"
    "用英文。\n";

const char *usageText()
{
    return englishMessages() ? kUsageEnglish : kUsageChinese;
}

struct Command
{
    const char *name;
    int (*run)(const QStringList &args);
};

// Each subcommand gets the arguments after its name.
const Command kCommands[] = {
    {"query", runQueryCommand},         {"batch", runBatchCommand},
    {"history", runHistoryCommand},     {"note", runNoteCommand},
    {"blacklist", runBlacklistCommand}, {"settings", runSettingsCommand},
    {"capture", runCaptureCommand},     {"check-config", runCheckConfigCommand},
    {"watch", runWatchCommand},         {"review", runReviewCommand},
    {"pace", runPaceCommand},
};

// Whether the command line asks for the embedded browser, which needs a graphical application
// object from the start. Only options count: everything after "--" is an id.
bool asksForBrowser(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        if (std::strcmp(argv[i], "--browser") == 0)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    // The queries run on worker threads while this thread's event loop serves the in-process
    // demo site, notices Ctrl-C and, with --browser, runs the embedded browser's page. That
    // needs a graphical application, without a window: offscreen unless told otherwise.
    std::unique_ptr<QCoreApplication> app;
    if (asksForBrowser(argc, argv)) {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    installInterruptHandler();
    QCoreApplication::setApplicationName(QStringLiteral("brelvon-cli"));

    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty()) {
        printMessage(
            inUserLanguage(QStringLiteral("没有给出命令"), QStringLiteral("no command given")));
        writeConsole(stderr, usageText());
        return 2;
    }
    const QString name = args.takeFirst();
    if (name == QLatin1String("--help") || name == QLatin1String("-h") ||
        name == QLatin1String("help")) {
        writeConsole(stdout, usageText());
        return 0;
    }
    if (name == QLatin1String("--version")) {
        writeConsole(stdout, QStringLiteral("brelvon-cli %1\n%2\n")
                                 .arg(QLatin1String(BRELVON_VERSION), HiddenBrowser::versionText())
                                 .toUtf8());
        return 0;
    }
    for (const Command &command : kCommands) {
        if (name == QLatin1String(command.name))
            return command.run(args);
    }
    printMessage(inUserLanguage(QStringLiteral("未知命令 %1"), QStringLiteral("unknown command %1"))
                     .arg(name));
    writeConsole(stderr, usageText());
    return 2;
}
