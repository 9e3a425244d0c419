#include "model/lookupstatus.h"

#include "model/buyerqueryresult.h"

#include <QStringList>
#include <QUrl>

QString lookupStatusName(LookupStatus status)
{
    switch (status) {
    case LookupStatus::Found:
        return QStringLiteral("found");
    case LookupStatus::NotFound:
        return QStringLiteral("notFound");
    case LookupStatus::Blocked:
        return QStringLiteral("blocked");
    case LookupStatus::NoConfiguration:
        return QStringLiteral("noConfiguration");
    case LookupStatus::NotConfigured:
        return QStringLiteral("notConfigured");
    case LookupStatus::PagesFailed:
        return QStringLiteral("pagesFailed");
    case LookupStatus::Cancelled:
        break;
    }
    return QStringLiteral("cancelled");
}

QString lookupStatusText(LookupStatus status)
{
    switch (status) {
    case LookupStatus::Found:
        return QStringLiteral("已查到");
    case LookupStatus::NotFound:
        return QStringLiteral("查无此人");
    case LookupStatus::Blocked:
        return QStringLiteral("页面被拦截");
    case LookupStatus::NoConfiguration:
        return QStringLiteral("无法获取查询配置");
    case LookupStatus::NotConfigured:
        return QStringLiteral("未设置查询主机");
    case LookupStatus::PagesFailed:
        return QStringLiteral("部分页面失败");
    case LookupStatus::Cancelled:
        break;
    }
    return QStringLiteral("已取消");
}

bool isLookedUp(LookupStatus status)
{
    return status == LookupStatus::Found || status == LookupStatus::NotFound;
}

QString pageOutcomeWord(PageOutcome outcome)
{
    switch (outcome) {
    case PageOutcome::Ok:
        return QStringLiteral("正常");
    case PageOutcome::Empty:
        return QStringLiteral("空白");
    case PageOutcome::Timeout:
        return QStringLiteral("超时");
    case PageOutcome::NetworkError:
        return QStringLiteral("网络错误");
    case PageOutcome::TooLarge:
        return QStringLiteral("过大");
    case PageOutcome::Cancelled:
        return QStringLiteral("已取消");
    case PageOutcome::Refused:
        return QStringLiteral("地址无效");
    case PageOutcome::HostSilent:
        return QStringLiteral("主机无响应");
    case PageOutcome::ProxyRefused:
        return QStringLiteral("代理服务器拒绝连接");
    case PageOutcome::ProxyPassword:
        return QStringLiteral("代理需要密码");
    case PageOutcome::HttpError:
        return QStringLiteral("HTTP 错误");
    case PageOutcome::Blocked:
        break;
    }
    return QStringLiteral("被拦截");
}

QString pageOutcomeWords(const PageResult &page)
{
    return page.outcome == PageOutcome::HttpError ? page.outcomeText()
                                                  : pageOutcomeWord(page.outcome);
}

LookupStatus buyerPagesStatus(const PageResults &pages, bool listed, QString *detail)
{
    QStringList blocked;
    QStringList failed;
    bool searchRead = false;
    for (qsizetype i = 0; i < pages.size(); ++i) {
        const PageResult &page = pages.at(i);
        if (!isBuyerPage(page.page))
            continue;
        const QString words = buyerPageTitle(page.page) + u' ' + pageOutcomeWords(page);
        if (page.page == BuyerPage::Search && page.outcome == PageOutcome::Ok)
            searchRead = true;
        if (page.outcome == PageOutcome::Blocked) {
            blocked.append(words);
        } else if (page.outcome != PageOutcome::Ok) {
            // A detail page the fetch got nothing from counts as read when the browser read it
            // (its note follows with no page name).
            const bool readByBrowser = page.page == BuyerPage::Detail && i + 1 < pages.size() &&
                                       pages.at(i + 1).browser &&
                                       pages.at(i + 1).outcome == PageOutcome::Ok;
            if (!readByBrowser)
                failed.append(words);
        }
    }
    LookupStatus status = LookupStatus::Found;
    QStringList named;
    if (!blocked.isEmpty()) {
        status = LookupStatus::Blocked;
        named = blocked;
    } else if (!searchRead) {
        // The marketplace did not answer the search, or there was no search address to ask.
        status = LookupStatus::PagesFailed;
        named = failed;
        if (named.isEmpty())
            named.append(buyerPageTitle(BuyerPage::Search) + QStringLiteral(" 未请求"));
    } else if (!listed) {
        status = LookupStatus::NotFound;
    } else if (!failed.isEmpty()) {
        status = LookupStatus::PagesFailed;
        named = failed;
    }
    if (detail)
        *detail = named.join(QStringLiteral("，"));
    return status;
}

bool noBuyerPageAnswered(const PageResults &pages)
{
    bool asked = false;
    for (const PageResult &page : pages) {
        if (!isBuyerPage(page.page))
            continue;
        asked = true;
        // An error status, a blank page or a block page is an answer: the site is there.
        if (page.outcome == PageOutcome::Ok || page.outcome == PageOutcome::Empty ||
            page.outcome == PageOutcome::Blocked || page.outcome == PageOutcome::HttpError ||
            page.outcome == PageOutcome::Cancelled)
            return false;
    }
    return asked;
}

QString marketplaceUnreachableText()
{
    return QStringLiteral("无法连接集市：买家的页面一个也没有读到。请检查网络连接、代理设置"
                          "（[network] proxy）和设置中的服务器地址。");
}

QString noTradeCardHostText()
{
    return QStringLiteral("未设置名片服务器：读不到注册时间、昵称、地区和好评率");
}

QString configurationAttemptsText(const PageResults &pages)
{
    QStringList tried;
    for (const PageResult &page : pages) {
        if (page.page != BuyerPage::Config)
            continue;
        const QString host = QUrl(page.address).authority();
        tried.append((host.isEmpty() ? page.address : host) + u' ' +
                     (page.outcome == PageOutcome::Ok ? QStringLiteral("不是查询配置")
                                                      : pageOutcomeWords(page)));
    }
    return tried.join(QStringLiteral("；"));
}
