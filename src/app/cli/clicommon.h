#pragma once

#include "demosite/demosite.h"
#include "files/querysettings.h"
#include "storage/sellerdatabase.h"
#include "storage/storagesettings.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>

struct PageResult;

// Exit codes of brelvon-cli.
enum CliExit { CliOk = 0, CliFailed = 1, CliUsage = 2, CliInterrupted = 130 };

// A message on stderr, prefixed with the program's name, control characters other than line
// feeds written as \xHH. Safe from any thread.
void printMessage(const QString &message);
// A line of UTF-8 on stdout, flushed at once so a pipe sees each result as it comes.
void printLine(const QString &line);
// One page fetch for --verbose: "brelvon-cli: page ID: outcome status=… bytes=… ms=… address".
void printPage(const QString &buyerId, const PageResult &page);

// The options every querying subcommand takes, parsed with QCommandLineParser (subcommand first,
// then its own options; "--" before ids that begin with "-").
struct QueryOptions
{
    QString settingsPath; // empty: the default settings file
    bool demo = false;
    bool browser = false;
    bool verbose = false;
    bool parallelPages = false;
    QString databasePath; // --database: wins over the settings' [storage] database
    bool noHistory = false;
    QStringList operands;
};

// What went wrong in a failed QCommandLineParser::parse, in the program's words.
QString parserError(const QCommandLineParser &parser);

// The command line of one subcommand: its usage line, QCommandLineParser with -h/--help, and the
// checks every subcommand shares.
class SubcommandLine
{
public:
    // synopsis: the usage line after "brelvon-cli "; description for --help.
    SubcommandLine(const QString &synopsis, const QString &description);
    QCommandLineParser &parser() { return m_parser; }

    // Parses the subcommand's arguments. False when the command ends here, with *exitCode set:
    // the usage error printed, or --help shown (CliOk).
    bool parse(const QStringList &args, int *exitCode);
    // A single-valued option's value; false (message printed) when given twice or empty.
    bool singleValue(const QCommandLineOption &option, const QString &what, QString *value,
                     int *exitCode);
    int usage(const QString &message);

protected:
    // Lists -h/--help after the options the subcommand's constructor added.
    void addHelpOption() { m_parser.addOption(m_help); }

private:
    QString m_synopsis;
    QCommandLineParser m_parser;
    QCommandLineOption m_help;
};

// The command line of a querying subcommand (query, batch): the options of QueryOptions.
class QueryCommandLine : public SubcommandLine
{
public:
    QueryCommandLine(const QString &synopsis, const QString &description);

    // As SubcommandLine::parse, filling *options.
    bool parse(const QStringList &args, QueryOptions *options, int *exitCode);

private:
    QCommandLineOption m_settings;
    QCommandLineOption m_demo;
    QCommandLineOption m_browser;
    QCommandLineOption m_verbose;
    QCommandLineOption m_parallel;
    QCommandLineOption m_database;
    QCommandLineOption m_noHistory;
};

// Where the queries go: the settings file, or the bundled demo site started in this process.
// Returns CliOk, or the exit code after the message has been printed. Settings values out of
// range are usage errors here.
struct QueryTarget
{
    QuerySettings settings;
    StorageSettings storage; // the settings' [storage] with --database and --no-history applied
    std::unique_ptr<DemoSite> site;
};
int prepareQueryTarget(const QueryOptions &options, QueryTarget *target);

// With --browser: the embedded browser, on this (the main) thread, and the hand-over through
// which the queries on their worker threads reach it. Returns CliOk, or the exit code after the
// message has been printed (a build without the browser, a broken installation).
class HiddenBrowser;
class PageHandOver;
struct QueryBrowser
{
    QueryBrowser();
    ~QueryBrowser();
    std::unique_ptr<HiddenBrowser> browser;
    std::unique_ptr<PageHandOver> handOver;
};
int prepareQueryBrowser(const QueryOptions &options, QueryBrowser *browser);
// The option --database FILE, shared by every subcommand.
QCommandLineOption databaseOption();

// The seller's database as the querying commands use it: after each lookup it warns about a
// blacklisted buyer, stores the lookup (unless history is off) and gives the buyer's note.
// Problems are told on stderr once. Safe from several threads.
class LookupJournal
{
public:
    // Opens the database the settings name; without history a missing file is not created.
    explicit LookupJournal(const StorageSettings &storage);
    BuyerNote afterLookup(const BuyerQueryResult &result);

private:
    void tellProblem();
    SellerDatabase m_database;
    bool m_history;
    std::mutex m_mutex;
    QString m_told;
};

// Ctrl-C and termination requests, noticed by the running command instead of killing the
// process, so a batch can stop cleanly and leave no half-written file.
void installInterruptHandler();
bool interrupted();
