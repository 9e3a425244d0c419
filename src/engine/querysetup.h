#pragma once

#include "engine/queryconfig.h"
#include "files/querysettings.h"
#include "web/fetchpage.h"

#include <QString>
#include <QStringList>

#include <memory>

// What every buyer query reads and none writes: the query configuration and the area table
// downloaded from our web site, and the block markers (the settings' and the configuration's).
// Shared read-only by every query in flight; a new download makes a new one.
struct QuerySetup
{
    QueryConfig config;
    QString areaTable;
    QStringList blockMarkers;

    // Whether the configuration has arrived (entry 0, the search address, is not blank).
    bool hasConfiguration() const;
};

using QuerySetupPtr = std::shared_ptr<const QuerySetup>;

// The setup before anything is downloaded: the settings' block markers alone.
QuerySetupPtr initialQuerySetup(const QuerySettings &settings);

// The setup a query uses, and what fetching it did (nothing when `current` already has the
// configuration; then it is returned as it is). Otherwise the configuration comes from our main
// host, else from the second one, and is taken only when it names the program (anything else,
// an error page or a portal's placeholder, is not our configuration: the next lookup tries
// again); the area table comes from the main host, else the second one when the first lacks
// "广东".
QuerySetupPtr fetchQuerySetup(const QuerySettings &settings, const QuerySetupPtr &current,
                              const FetchContext &context, PageResults *pages);
