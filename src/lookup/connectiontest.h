#pragma once

#include "files/querysettings.h"
#include "web/pageresult.h"

#include <QList>
#include <QString>

class CancelToken;
class TaskPool;

// One document asked of one host by the connection test.
struct ConnectionCheck
{
    enum class Host { Main, Second, TradeCard };
    enum class Document { StartupList, QueryConfiguration, Service };

    Host host = Host::Main;
    QString hostPort; // as the settings have it
    Document document = Document::Service;
    PageResult page;
    // For the configuration: how many entries it filled (0 when the answer is not our
    // configuration); -1 for other documents.
    int configEntries = -1;

    // Whether this is a query configuration a lookup could run with.
    bool gaveConfiguration() const;
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
// site's two hosts for the start-up list and the query configuration, the trade-card host for any
// answer at all. The fetches run as tasks on the pool, as many at once as it has threads, so a
// silent host costs its wait once, not once per document. Blocks until every fetch has ended (a
// cancellation ends them within a tenth of a second); the checks come in the order host by host,
// document by document. LookupRunner::connectionTest runs it for a front end.
QList<ConnectionCheck> testConnections(const QuerySettings &settings, const CancelToken &cancel,
                                       TaskPool &pool);

// Whether every host of our site the settings name gave a query configuration (and there is at
// least one), and the trade-card host, when named, answered.
bool connectionsUsable(const QList<ConnectionCheck> &checks);
