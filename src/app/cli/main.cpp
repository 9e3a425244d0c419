#include "app/cli/batchcommand.h"
#include "app/cli/capturecommand.h"
#include "app/cli/clicommon.h"
#include "app/cli/querycommand.h"
#include "app/cli/settingscommand.h"
#include "app/cli/storagecommands.h"
#include "app/cli/watchcommand.h"
#include "browser/hiddenbrowser.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

const char kUsage[] =
    "usage: brelvon-cli COMMAND [OPTIONS] ...\n"
    "\n"
    "commands:\n"
    "  query [--settings FILE] [--demo] [--browser] [--parallel-pages] [--verbose]\n"
    "        [--database FILE] [--no-history] [--config FILE] [--area-table FILE] ID...\n"
    "      look up each buyer id; one JSON object per id on its own line\n"
    "  batch [--settings FILE] [--demo] [--browser] [--jobs N] [--pace MS]\n"
    "        [--encoding gbk|utf-8] [--parallel-pages] [--extra-columns] [--verbose]\n"
    "        [--database FILE] [--no-history] [--config FILE] [--area-table FILE]\n"
    "        IDFILE --xlsx OUT\n"
    "      look up every id of IDFILE (at most 101) and save the table to OUT\n"
    "  capture [--settings FILE] [--demo] [--browser] [--config FILE]\n"
    "        [--area-table FILE] ID --out DIR\n"
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
    "      ask each host for the start-up list and the query configuration\n"
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
    "  --parallel-pages  fetch a buyer's three chains of pages at once\n"
    "  --verbose         one line per page fetch on stderr\n"
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
    "the program's version and its embedded browser.\n";

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
        std::fputs("brelvon-cli: no command given\n", stderr);
        std::fputs(kUsage, stderr);
        return 2;
    }
    const QString name = args.takeFirst();
    if (name == QLatin1String("--help") || name == QLatin1String("-h") ||
        name == QLatin1String("help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (name == QLatin1String("--version")) {
        std::printf("brelvon-cli %s\n%s\n", BRELVON_VERSION,
                    qPrintable(HiddenBrowser::versionText()));
        return 0;
    }
    for (const Command &command : kCommands) {
        if (name == QLatin1String(command.name))
            return command.run(args);
    }
    std::fprintf(stderr, "brelvon-cli: unknown command %s\n", name.toLocal8Bit().constData());
    std::fputs(kUsage, stderr);
    return 2;
}
