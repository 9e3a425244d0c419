#include "batchcommand.h"
#include "clicommon.h"
#include "querycommand.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

const char kUsage[] =
    "usage: brelvon-cli COMMAND [OPTIONS] ...\n"
    "\n"
    "commands:\n"
    "  query [--settings FILE] [--demo] [--parallel-pages] [--verbose] ID...\n"
    "      look up each buyer id; one JSON object per id on its own line\n"
    "  batch [--settings FILE] [--demo] [--jobs N] [--pace MS] [--parallel-pages]\n"
    "        [--verbose] IDFILE --xlsx OUT\n"
    "      look up every id of IDFILE (at most 101) and save the table to OUT\n"
    "\n"
    "options:\n"
    "  --settings FILE   the settings file naming the hosts\n"
    "                    (default: ~/.config/Brelvon/brelvon.conf)\n"
    "  --demo            query the bundled demo site, started in this process\n"
    "  --jobs N          buyers looked up at once by a batch, 1 to 8\n"
    "  --pace MS         at least MS ms between two request starts to one host\n"
    "  --parallel-pages  fetch a buyer's three chains of pages at once\n"
    "  --verbose         one line per page fetch on stderr\n"
    "\n"
    "brelvon-cli COMMAND --help shows a command's own help.\n";

struct Command
{
    const char *name;
    int (*run)(const QStringList &args);
};

// Each subcommand gets the arguments after its name.
const Command kCommands[] = {
    {"query", runQueryCommand},
    {"batch", runBatchCommand},
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
