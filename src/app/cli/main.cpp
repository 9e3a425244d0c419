#include "batchcommand.h"
#include "clicommon.h"
#include "querycommand.h"
#include "storagecommands.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

const char kUsage[] =
    "usage: brelvon-cli COMMAND [OPTIONS] ...\n"
    "\n"
    "commands:\n"
    "  query [--settings FILE] [--demo] [--parallel-pages] [--verbose]\n"
    "        [--database FILE] [--no-history] ID...\n"
    "      look up each buyer id; one JSON object per id on its own line\n"
    "  batch [--settings FILE] [--demo] [--jobs N] [--pace MS] [--parallel-pages]\n"
    "        [--verbose] [--database FILE] [--no-history] IDFILE --xlsx OUT\n"
    "      look up every id of IDFILE (at most 101) and save the table to OUT\n"
    "  history [--since DATE] [--json|--csv] [ID...]\n"
    "      past lookups, newest first\n"
    "  note add [--blacklist|--trusted] ID TEXT | note remove ID | note list\n"
    "      the seller's own notes on buyers, the blacklist and trusted buyers\n"
    "  blacklist import FILE | blacklist export FILE\n"
    "      share the blacklist as CSV (id,reason,date)\n"
    "\n"
    "options:\n"
    "  --settings FILE   the settings file naming the hosts\n"
    "                    (default: ~/.config/Brelvon/brelvon.conf)\n"
    "  --demo            query the bundled demo site, started in this process\n"
    "  --jobs N          buyers looked up at once by a batch, 1 to 8\n"
    "  --pace MS         at least MS ms between two request starts to one host\n"
    "  --parallel-pages  fetch a buyer's three chains of pages at once\n"
    "  --verbose         one line per page fetch on stderr\n"
    "  --database FILE   the database of history, notes and blacklist (every\n"
    "                    command; default: ~/.local/share/Brelvon/brelvon.sqlite)\n"
    "  --no-history      do not record the lookups (query, batch)\n"
    "  --since DATE      history from DATE on (2026-11-02 or 2026-11-02T15:30)\n"
    "  --json, --csv     history as JSON lines or as a CSV table\n"
    "  --blacklist       note add: blacklist the buyer, TEXT is the reason\n"
    "  --trusted         note add: mark the buyer as trusted\n"
    "\n"
    "brelvon-cli COMMAND --help shows a command's own help.\n";

struct Command
{
    const char *name;
    int (*run)(const QStringList &args);
};

// Each subcommand gets the arguments after its name.
const Command kCommands[] = {
    {"query", runQueryCommand}, {"batch", runBatchCommand},         {"history", runHistoryCommand},
    {"note", runNoteCommand},   {"blacklist", runBlacklistCommand},
};

} // namespace

int main(int argc, char *argv[])
{
    // The queries run on worker threads while this thread's event loop serves the in-process
    // demo site and notices Ctrl-C.
    QCoreApplication app(argc, argv);
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
    for (const Command &command : kCommands) {
        if (name == QLatin1String(command.name))
            return command.run(args);
    }
    std::fprintf(stderr, "brelvon-cli: unknown command %s\n", name.toLocal8Bit().constData());
    std::fputs(kUsage, stderr);
    return 2;
}
