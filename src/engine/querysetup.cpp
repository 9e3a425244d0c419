#include "engine/querysetup.h"

#include "engine/blockmarkers.h"
#include "engine/pagefetch.h"
#include "model/buyerqueryresult.h"
#include "web/texthelpers.h"

bool QuerySetup::hasConfiguration() const
{
    return !isBlank(config.entry(ConfigEntry::SearchAddress));
}

QuerySetupPtr initialQuerySetup(const QuerySettings &settings)
{
    auto setup = std::make_shared<QuerySetup>();
    setup->blockMarkers = settings.blockMarkers;
    return setup;
}

QuerySetupPtr fetchQuerySetup(const QuerySettings &settings, const QuerySetupPtr &current,
                              const FetchContext &context, PageResults *pages)
{
    if (current && current->hasConfiguration())
        return current;
    auto setup = std::make_shared<QuerySetup>(current ? *current : *initialQuerySetup(settings));
    PageResults &log = *pages;

    QString config =
        fetchInto(log, BuyerPage::Config,
                  hostAddress(settings.mainHost, QStringLiteral("/soft/qvdl/fmj2.htm")),
                  FetchWait::Short, context);
    if (isBlank(config))
        config = fetchInto(log, BuyerPage::Config,
                           hostAddress(settings.secondHost, QStringLiteral("/soft_set/fmj2.htm")),
                           FetchWait::Short, context);
    // Anything else (an error page, a portal's placeholder) is not our configuration: keep what
    // we have and try again on the next query.
    if (isOurConfiguration(config)) {
        setup->config.readIndexedList(config);
        setup->blockMarkers = settings.blockMarkers + configBlockMarkers(setup->config);
    }

    setup->areaTable =
        fetchInto(log, BuyerPage::AreaTable,
                  hostAddress(settings.mainHost, QStringLiteral("/soft/qvdl/city.txt")),
                  FetchWait::Long, context);
    if (!setup->areaTable.contains(QStringLiteral("广东")))
        setup->areaTable =
            fetchInto(log, BuyerPage::AreaTable,
                      hostAddress(settings.secondHost, QStringLiteral("/soft/qvdl/city.txt")),
                      FetchWait::Long, context);
    return setup;
}
