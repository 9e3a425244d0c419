#pragma once

#include "files/querysettings.h"
#include "web/pageresult.h"

#include <QDateTime>
#include <QList>
#include <QString>

class CancelToken;
class TaskPool;
class ConfigCache;

// One document asked of one host by the connection test.
struct ConnectionCheck
{
    enum class Host { Main, Second, TradeCard };
    enum class Document { StartupList, QueryConfiguration, NameCard };

    Host host = Host::Main;
    QString hostPort; // as the settings have it
    Document document = Document::NameCard;
    PageResult page;
    // For the configuration and the start-up list: how many entries it filled (0 when the
    // answer is not ours); -1 for the name card.
    int configEntries = -1;

    // Whether this is a query configuration a lookup could run with.
    bool gaveConfiguration() const;
    // Whether the document is usable: a configuration a lookup could run with, a start-up list
    // that names the program and fills entries (the window takes no other), a name card that
    // came with a 2xx status and a body.
    bool usable() const;
    // The answer's HTTP status was 4xx or 5xx.
    bool failedStatus() const;
    // How the fetch ended, in a word or two: "ok", "timeout", "refused" (the connection),
    // "not an http address", or the fetch's own outcome text.
    QString endingName() const;
    // One line for the command line: "main 127.0.0.1:8080 query configuration: ok 2048 bytes
    // 12 ms, 40 entries".
    QString summary() const;
    // The same in Chinese for the settings dialog.
    QString summaryText() const;
};

// Asks every host the settings name for what a lookup needs of it, with the usual waits: our
// site's two hosts for the start-up list and the query configuration, the trade-card host for a
// real name card (the viewer's own). The fetches run as tasks on the pool, as many at once as it
// has threads, so a silent host costs its wait once, not once per document. Blocks until every
// fetch has ended (a cancellation ends them within a tenth of a second); the checks come in the
// order host by host, document by document. LookupRunner::connectionTest runs it for a front end.
QList<ConnectionCheck> testConnections(const QuerySettings &settings, const CancelToken &cancel,
                                       TaskPool &pool);

// Whether every document asked for is usable (ConnectionCheck::usable) and there is at least one
// query configuration.
bool connectionsUsable(const QList<ConnectionCheck> &checks);

// When no host gave a query configuration and the kept copy is too old to stand in, says so:
// "保存的查询配置已有 40 天，超过 maxConfigAgeDays=30" (English under LANG=en*); "" otherwise.
QString agedOutConfigurationText(const QList<ConnectionCheck> &checks, const ConfigCache &cache,
                                 const QuerySettings &settings, const QDateTime &now);
