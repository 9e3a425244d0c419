#pragma once

#include "demosite.h"
#include "querysettings.h"

#include <QString>
#include <QStringList>

#include <memory>

// Exit codes of brelvon-cli.
enum CliExit { CliOk = 0, CliFailed = 1, CliUsage = 2 };

// A message on stderr, prefixed with the program's name.
void printMessage(const QString &message);
// A line of UTF-8 on stdout, flushed at once so a pipe sees each result as it comes.
void printLine(const QString &line);

// The options every querying subcommand takes: --settings FILE, --demo, and "--" before ids
// that begin with "-". Everything else that begins with "-" is a usage error.
struct QueryOptions
{
    QString settingsPath; // empty: the default settings file
    bool demo = false;
    QStringList operands;
};
bool parseQueryOptions(const QStringList &args, QueryOptions *options, QString *error);

// Where the queries go: the settings file, or the bundled demo site started in this process.
// Returns CliOk, or the exit code after the message has been printed.
struct QueryTarget
{
    QuerySettings settings;
    std::unique_ptr<DemoSite> site;
};
int prepareQueryTarget(const QueryOptions &options, QueryTarget *target);
