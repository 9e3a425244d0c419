#include "lookup/connectiontest.h"

#include "engine/queryconfig.h"
#include "engine/taskpool.h"
#include "lookup/configcache.h"
#include "model/lookupstatus.h"
#include "web/canceltoken.h"
#include "web/fetchpage.h"
#include "web/httpsession.h"
#include "web/texthelpers.h"

#include <vector>

namespace {

// How a fetch ended, in Chinese words only (the network library's own text stays in the English
// summary and the log).
QString outcomeWords(PageOutcome outcome)
{
    switch (outcome) {
    case PageOutcome::Ok:
        return QStringLiteral("正常");
    case PageOutcome::Empty:
        return QStringLiteral("空白应答");
    case PageOutcome::Timeout:
        return QStringLiteral("超时");
    case PageOutcome::NetworkError:
        return QStringLiteral("网络错误");
    case PageOutcome::TooLarge:
        return QStringLiteral("应答太大");
    case PageOutcome::Cancelled:
        return QStringLiteral("已取消");
    case PageOutcome::Refused:
        return QStringLiteral("不是http地址");
    case PageOutcome::Blocked:
        return QStringLiteral("被拦截");
    case PageOutcome::HostSilent:
        return QStringLiteral("主机没有应答");
    case PageOutcome::ProxyRefused:
    case PageOutcome::ProxyPassword:
        return pageOutcomeWord(outcome);
    case PageOutcome::HttpError:
        return QStringLiteral("HTTP 错误");
    }
    return {};
}

const char *hostName(ConnectionCheck::Host host)
{
    switch (host) {
    case ConnectionCheck::Host::Main:
        return "main";
    case ConnectionCheck::Host::Second:
        return "second";
    case ConnectionCheck::Host::TradeCard:
        break;
    }
    return "tradecard";
}

QString hostTitle(ConnectionCheck::Host host)
{
    switch (host) {
    case ConnectionCheck::Host::Main:
        return QStringLiteral("主服务器");
    case ConnectionCheck::Host::Second:
        return QStringLiteral("备用服务器");
    case ConnectionCheck::Host::TradeCard:
        break;
    }
    return QStringLiteral("名片服务器");
}

const char *documentName(ConnectionCheck::Document document)
{
    switch (document) {
    case ConnectionCheck::Document::StartupList:
        return "start-up list";
    case ConnectionCheck::Document::QueryConfiguration:
        return "query configuration";
    case ConnectionCheck::Document::NameCard:
        break;
    }
    return "name card";
}

QString documentTitle(ConnectionCheck::Document document)
{
    switch (document) {
    case ConnectionCheck::Document::StartupList:
        return QStringLiteral("启动列表");
    case ConnectionCheck::Document::QueryConfiguration:
        return QStringLiteral("查询配置");
    case ConnectionCheck::Document::NameCard:
        break;
    }
    return QStringLiteral("名片页");
}

// How many entries a configuration or start-up list fills; 0 for anything that is not ours (the
// lookup and the window take only a text that names the program).
int configurationEntries(const QString &text)
{
    if (!trimSpaces(text).contains(QLatin1String("Brelvon")))
        return 0;
    QueryConfig config;
    config.readIndexedList(text);
    int filled = 0;
    for (int i = 0; i < QueryConfig::kSize; ++i) {
        if (!isBlank(config.entry(i)))
            ++filled;
    }
    return filled;
}

bool answered(const PageResult &page)
{
    return page.outcome == PageOutcome::Ok || page.outcome == PageOutcome::Empty;
}

bool isConnectionRefused(const PageResult &page)
{
    return page.outcome == PageOutcome::NetworkError &&
           (page.error.contains(QLatin1String("refused"), Qt::CaseInsensitive) ||
            page.error.contains(QLatin1String("couldn't connect"), Qt::CaseInsensitive) ||
            page.error.contains(QLatin1String("failed to connect"), Qt::CaseInsensitive));
}

} // namespace

bool ConnectionCheck::gaveConfiguration() const
{
    if (document != Document::QueryConfiguration || page.outcome != PageOutcome::Ok)
        return false;
    QueryConfig config;
    config.readIndexedList(page.text);
    return configEntries > 0 && !isBlank(config.entry(ConfigEntry::SearchAddress));
}

bool ConnectionCheck::failedStatus() const
{
    return answered(page) && page.status >= 400;
}

bool ConnectionCheck::usable() const
{
    switch (document) {
    case Document::QueryConfiguration:
        return gaveConfiguration();
    case Document::StartupList:
        return page.outcome == PageOutcome::Ok && configEntries > 0;
    case Document::NameCard:
        break;
    }
    return page.outcome == PageOutcome::Ok && page.status >= 200 && page.status < 300;
}

QString ConnectionCheck::endingName() const
{
    if (failedStatus())
        return QStringLiteral("HTTP %1").arg(page.status);
    if (page.outcome == PageOutcome::Ok)
        return QStringLiteral("ok");
    if (page.outcome == PageOutcome::Refused)
        return QStringLiteral("not an http address");
    if (isConnectionRefused(page))
        return QStringLiteral("refused");
    return page.outcomeText();
}

QString ConnectionCheck::summary() const
{
    QString line = QStringLiteral("%1 %2 %3: %4")
                       .arg(QLatin1String(hostName(host)), hostPort,
                            QLatin1String(documentName(document)), endingName());
    if (page.outcome == PageOutcome::Ok || page.outcome == PageOutcome::Empty)
        line += QStringLiteral(" %1 bytes %2 ms").arg(page.bytes).arg(page.elapsedMs);
    else if (page.outcome == PageOutcome::Timeout)
        line += QStringLiteral(" after %1 ms").arg(page.elapsedMs);
    if (page.outcome == PageOutcome::Ok && !failedStatus()) {
        if (document == Document::QueryConfiguration)
            line += configEntries > 0 ? QStringLiteral(", %1 entries").arg(configEntries)
                                      : QStringLiteral(", not a query configuration");
        else if (document == Document::StartupList)
            line += configEntries > 0 ? QStringLiteral(", %1 entries").arg(configEntries)
                                      : QStringLiteral(", not a start-up list");
    }
    return line;
}

QString ConnectionCheck::summaryText() const
{
    QString ending;
    if (failedStatus())
        ending = QStringLiteral("失败：HTTP %1").arg(page.status);
    else if (page.outcome == PageOutcome::Ok)
        ending = QStringLiteral("正常，%1字节，%2毫秒").arg(page.bytes).arg(page.elapsedMs);
    else if (page.outcome == PageOutcome::Timeout)
        ending = QStringLiteral("超时（%1毫秒）").arg(page.elapsedMs);
    else if (page.outcome == PageOutcome::Refused)
        ending = QStringLiteral("不是http地址");
    else if (page.outcome == PageOutcome::ProxyRefused ||
             page.outcome == PageOutcome::ProxyPassword)
        ending = pageOutcomeWord(page.outcome); // the proxy's failure, not the host's
    else if (isConnectionRefused(page))
        ending = QStringLiteral("网络错误：连接被拒绝");
    else if (page.outcome == PageOutcome::Cancelled)
        ending = QStringLiteral("已取消");
    else
        ending = QStringLiteral("失败：%1").arg(outcomeWords(page.outcome));
    QString line = QStringLiteral("%1 %2 %3：%4")
                       .arg(hostTitle(host), hostPort, documentTitle(document), ending);
    if (page.outcome == PageOutcome::Ok && !failedStatus()) {
        if (document == Document::QueryConfiguration)
            line += configEntries > 0 ? QStringLiteral("，读到%1项配置").arg(configEntries)
                                      : QStringLiteral("，不是查询配置");
        else if (document == Document::StartupList)
            line += configEntries > 0 ? QStringLiteral("，读到%1项").arg(configEntries)
                                      : QStringLiteral("，不是启动列表");
        else if (page.outcome == PageOutcome::Ok && !usable())
            line += QStringLiteral("，状态%1").arg(page.status);
    }
    return line;
}

QList<ConnectionCheck> testConnections(const QuerySettings &settings, const CancelToken &cancel,
                                       TaskPool &pool)
{
    struct Ask
    {
        ConnectionCheck::Host host;
        const QString *hostPort;
        ConnectionCheck::Document document;
        const char *path;
    };
    using H = ConnectionCheck::Host;
    using D = ConnectionCheck::Document;
    // The paths a lookup and the window's start-up use on each host.
    const Ask asks[] = {
        {H::Main, &settings.mainHost, D::StartupList, "/soft/qvdl/zkrap2.htm"},
        {H::Main, &settings.mainHost, D::QueryConfiguration, "/soft/qvdl/fmj2.htm"},
        {H::Second, &settings.secondHost, D::StartupList, "/soft/wrub/zkrap2.htm"},
        {H::Second, &settings.secondHost, D::QueryConfiguration, "/soft_set/fmj2.htm"},
        {H::TradeCard, &settings.tradeCardHost, D::NameCard, nullptr},
    };
    // A real name card, the viewer's own: the service's root says nothing about its pages.
    const QString nameCardPath =
        QLatin1String("/tradecard/nameCard.htm?jumpFrom=wwclient&signmode=im&loginId=") +
        settings.nameCardLogin + QLatin1String("&uid=") + EncodeQuery(settings.nameCardLogin) +
        QLatin1String("&type=0&showtype=1");
    QList<ConnectionCheck> checks;
    for (const Ask &ask : asks) {
        if (isBlank(*ask.hostPort))
            continue;
        ConnectionCheck check;
        check.host = ask.host;
        check.hostPort = trimSpaces(*ask.hostPort);
        check.document = ask.document;
        check.page.address = ask.path ? siteAddress(check.hostPort, ask.path)
                                      : QLatin1String("http://") + check.hostPort + nameCardPath;
        checks.append(check);
    }
    // The network settings tested, the proxy included, not necessarily the ones lookups run with
    // now (the settings dialog tests what it has before saving).
    HttpSession session(settings.network);
    std::vector<TaskPool::TaskHandle> tasks;
    tasks.reserve(size_t(checks.size()));
    for (ConnectionCheck &check : checks) {
        tasks.push_back(pool.submit([&check, &cancel, &session] {
            FetchContext context;
            context.session = &session;
            context.cancel = &cancel;
            check.page = fetchPageResult(check.page.address, FetchWait::Short, context);
            check.page.page = QString::fromLatin1(documentName(check.document));
            if (check.document != ConnectionCheck::Document::NameCard)
                check.configEntries = check.page.outcome == PageOutcome::Ok
                                          ? configurationEntries(check.page.text)
                                          : 0;
        }));
    }
    for (const TaskPool::TaskHandle &task : tasks)
        pool.wait(task);
    return checks;
}

bool connectionsUsable(const QList<ConnectionCheck> &checks)
{
    bool anyConfiguration = false;
    for (const ConnectionCheck &check : checks) {
        if (!check.usable())
            return false;
        if (check.document == ConnectionCheck::Document::QueryConfiguration)
            anyConfiguration = true;
    }
    return anyConfiguration;
}

QString agedOutConfigurationText(const QList<ConnectionCheck> &checks, const ConfigCache &cache,
                                 const QuerySettings &settings, const QDateTime &now)
{
    for (const ConnectionCheck &check : checks) {
        if (check.gaveConfiguration())
            return {};
    }
    return agedOutCopyText(cache, settings, now);
}
