#pragma once

#include "app/cli/interrupt.h"
#include "lookup/lookuprunner.h"
#include "lookup/lookupservice.h"
#include "lookup/lookupsession.h"
#include "lookup/profile.h"
#include "model/terminaltext.h"
#include "model/uilanguage.h"
#include "storage/sellerdatabase.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

struct PageResult;

// Exit codes of brelvon-cli.
// CliNotLookedUp: every id was tried, but some could not be looked up (no configuration, no
// hosts, the marketplace blocked or did not answer).
enum CliExit { CliOk = 0, CliFailed = 1, CliUsage = 2, CliNotLookedUp = 3, CliInterrupted = 130 };

// A message on stderr, prefixed with the program's name, control characters other than line
// feeds written as \xHH (escapeControls). Safe from any thread. Names from outside in it pass
// escapeControls(name, LineFeeds::Escape) first.
void printMessage(const QString &message);
// A line of UTF-8 on stdout, escaped the same way, flushed at once so a pipe sees each result as
// it comes.
void printLine(const QString &line);
// One page fetch for --verbose: "brelvon-cli: page ID: outcome status=… bytes=… ms=… address".
void printPage(const QString &buyerId, const PageResult &page);
// For --verbose, when the lookup used the stored configuration: "brelvon-cli: configuration ID:
// cached 3 days (saved … from ADDRESS)".
void printCachedConfiguration(const QString &buyerId, const LookupOutcome &outcome);

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
    QString configPath;    // --config: a local query configuration instead of the download
    QString areaTablePath; // --area-table: likewise the area table
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
    QCommandLineOption m_config;
    QCommandLineOption m_areaTable;
};

// Everything a querying command runs with: the demo site the program serves (with --demo), the
// profile, and the lookup session made from it (the seller's database, the embedded browser's
// pages with --browser, the lookup service).
class DemoSite;
struct QueryRun
{
    QueryRun();
    ~QueryRun();
    std::unique_ptr<DemoSite> site;
    Profile profile;
    std::unique_ptr<LookupSession> session;
    LookupService &service() { return session->service(); }
};
// Loads the profile (starting the demo site with --demo) and makes the session for `jobs` buyers
// at once (0: the settings' [batch] jobs). Returns CliOk, or the exit code after the message has
// been printed. Settings values out of range are usage errors here.
int prepareQueryRun(const QueryOptions &options, int jobs, QueryRun *run);
// The two halves of prepareQueryRun: the profile alone, then the session.
int loadQueryProfile(const QueryOptions &options, QueryRun *run);
int startQueryRun(const QueryOptions &options, int jobs, QueryRun *run);

// Runs the runner's work while this thread's event loop serves (an in-process demo site, the
// embedded browser, Ctrl-C, the results handed back). start starts the work and says whether it
// began; the runner's final result must quit the loop with QCoreApplication::exit(0). CliOk, or
// CliInterrupted when Ctrl-C cancelled it.
int runUntilDone(LookupRunner &runner, const std::function<void()> &start);

// Serves this thread's event loop until Ctrl-C (or a termination request), then calls stop and
// returns CliInterrupted; or until something else quits the loop (QCoreApplication::exit(code)),
// returning its code.
int runUntilInterrupted(const std::function<void()> &stop);

// After each lookup, on stderr: the warning about a blacklisted buyer, a problem of the
// database (each problem once).
void tellAfterLookup(const LookupOutcome &outcome);
// A problem of the seller's database, unless it was told already.
void tellStorageProblem(const QString &problem);

// The option --database FILE, shared by every subcommand.
QCommandLineOption databaseOption();
// The option --settings FILE; zh/en: its description with %1 for the default path (empty: the
// querying commands' one).
QCommandLineOption settingsOption(const QString &zh = {}, const QString &en = {});
// "文件名" / "a file name": what an option naming a file needs (SubcommandLine::singleValue).
QString fileNameWord();
// A number, or "—" when it is not known.
QString numberOrDash(qint64 number, bool known);
// "用法：brelvon-cli SYNOPSIS" / "usage: brelvon-cli SYNOPSIS".
QString usageLine(const QString &synopsis);
