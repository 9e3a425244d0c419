#include "engine/buyerquery.h"

#include "engine/taskpool.h"

#include "engine/blockmarkers.h"
#include "engine/pagefetch.h"
#include "engine/pagerules.h"
#include "web/canceltoken.h"
#include "web/fetchlimits.h"
#include "web/httpsession.h"
#include "web/requestpacer.h"
#include "web/texthelpers.h"

#include <QElapsedTimer>
#include <QLoggingCategory>

#include <atomic>

Q_LOGGING_CATEGORY(lcQuery, "brelvon.query", QtWarningMsg)

namespace {

// A fetched page that is a block page becomes one in its note, and gives no text. "Too many
// requests" and "service unavailable" are the marketplace's throttle, whatever the body says.
void markIfBlocked(PageResult &page, QString &text, const QStringList &anchors,
                   const QStringList &markers)
{
    if ((page.outcome == PageOutcome::Ok || page.outcome == PageOutcome::Empty) &&
        (page.status == 429 || page.status == 503)) {
        page.outcome = PageOutcome::Blocked;
        page.error = QStringLiteral("HTTP %1").arg(page.status);
        text.clear();
        return;
    }
    if (page.outcome != PageOutcome::Ok)
        return;
    const QString marker = findBlockMarker(text, anchors, markers);
    if (marker.isEmpty())
        return;
    page.outcome = PageOutcome::Blocked;
    page.error = marker;
    text.clear();
}

// A ratings-given page's count, only from a page that was read: one that failed, was blank,
// blocked or never asked for says nothing about the buyer, and "0" would read as a clean record.
QString givenCount(const PageResults &log, const QString &name, const QString &text,
                   const QString &marker)
{
    for (const PageResult &page : log) {
        if (page.page == name)
            return page.outcome == PageOutcome::Ok ? ratingsGivenCount(text, marker) : QString();
    }
    return {};
}

// Whether the lookup's time is up (the browser is not started then).
bool pastDeadline(const FetchContext &context)
{
    return context.limits && context.limits->deadline() > 0 &&
           fetchClockNow() >= context.limits->deadline();
}

} // namespace

// One buyer's query: the pages, their rules, the record. Lives for one call of queryBuyer.
class BuyerQuery
{
public:
    BuyerQuery(const QuerySetup &setup, const QuerySettings &settings, DetailPageBrowser *browser,
               TaskPool *pool)
        : m_setup(setup), m_settings(settings), m_browser(browser),
          m_pool(settings.parallelPages ? pool : nullptr)
    {
    }
    BuyerQueryResult queryBuyer(const QString &buyerId, const FetchContext &context) const;

private:
    struct DetailChain;
    struct NameCardChain;
    void runDetailChain(const QString &id, const FetchContext &context, DetailChain *out) const;
    void runNameCardChain(const QString &id, const FetchContext &context, NameCardChain *out) const;
    PageResult fetchPopupCard(const QString &id, const FetchContext &context) const;
    QString fetchBuyerPage(PageResults &log, const QString &page, const QString &address,
                           FetchWait mode, const FetchContext &context) const;
    QStringList anchorsOf(const QString &page) const;

    const QuerySetup &m_setup;
    const QuerySettings &m_settings;
    DetailPageBrowser *m_browser;
    TaskPool *m_pool; // set: the page chains run at once on it
    // Set by the first blocked page: the marketplace turns this buyer away for now, so none of
    // its other pages is asked for (they would be thrown away, and deepen the block).
    mutable std::atomic<bool> m_blocked{false};
};

struct BuyerQuery::DetailChain
{
    PageResults pages;
    bool listed = false;
    QString detailAddress;
    DetailPageResult facts;
    bool detailRead = false;
    QString neutralGiven;
    QString badGiven;
};

struct BuyerQuery::NameCardChain
{
    PageResults pages;
    NameCardResult card;
    PersonalPageResult personal;
};

// The markers a page's own rule starts from: a page holding one of them is the page asked for.
QStringList BuyerQuery::anchorsOf(const QString &page) const
{
    const auto entries = [this](std::initializer_list<int> indexes) {
        QStringList markers;
        for (int i : indexes)
            markers.append(m_setup.config.entry(i));
        return markers;
    };
    using namespace ConfigEntry;
    if (page == BuyerPage::Search)
        return entries({SearchEntryMarker});
    if (page == BuyerPage::Detail)
        return entries({LayoutAMarker, GoodCountAFirst, GoodCountABrowserFirst, GoodRateBFirst,
                        GoodRateBBrowserFirst, GoodCountBFirst, VerificationFirst,
                        RatingListFirst});
    if (page == BuyerPage::NeutralGiven)
        return entries({NeutralGivenMarker});
    if (page == BuyerPage::BadGiven)
        return {kBadRatingsGivenMarker};
    if (page == BuyerPage::NameCard)
        return {QStringLiteral("注册时间"), QStringLiteral("来自"), QStringLiteral("icon-jianghu")};
    if (page == BuyerPage::Personal)
        return QStringList{QStringLiteral("nick")} + entries({AreaCodeFirst});
    if (page == BuyerPage::Popup)
        return {QStringLiteral("买家好评率")};
    return {};
}

// A buyer's page: fetched, noted, and checked for a block page before its rule may read it.
QString BuyerQuery::fetchBuyerPage(PageResults &log, const QString &page, const QString &address,
                                   FetchWait mode, const FetchContext &context) const
{
    if (m_blocked)
        return {};
    const qsizetype before = log.size();
    QString text = fetchInto(log, page, address, mode, context);
    if (log.size() > before) {
        markIfBlocked(log.last(), text, anchorsOf(page), m_setup.blockMarkers);
        if (log.last().outcome == PageOutcome::Blocked)
            m_blocked = true;
        if (context.pacer)
            context.pacer->pageRead(log.last());
    }
    return text;
}

void BuyerQuery::runDetailChain(const QString &id, const FetchContext &context,
                                DetailChain *out) const
{
    // Search page: the buyer's entry gives the detail page address.
    const QString searchAddress = fillAddress(m_setup.config.entry(ConfigEntry::SearchAddress),
                                              QLatin1String("{mjna}"), EncodeQuery(id));
    const QString searchPage =
        fetchBuyerPage(out->pages, BuyerPage::Search, searchAddress, FetchWait::Long, context);
    SearchPageResult search;
    if (!isBlank(searchPage))
        search = searchPageRule(searchPage, id, m_setup.config);
    out->listed = !search.userNumber.isEmpty();

    // Detail page, then the two ratings-given pages it leads to. Without a detail address there
    // is nothing to fetch and nothing for the browser to load.
    if (isBlank(search.detailAddress))
        return;
    out->detailAddress = search.detailAddress;
    DetailSource source = DetailSource::Fetched;
    QString detail = fetchBuyerPage(out->pages, BuyerPage::Detail, search.detailAddress,
                                    FetchWait::Long, context);
    PageResult &detailNote = out->pages.last();
    // A page the site answered with an error status would show the browser the same error page.
    if (isBlank(detail) && !m_blocked && detailNote.outcome != PageOutcome::HttpError &&
        m_browser && !(context.cancel && context.cancel->isCancelled()) && !pastDeadline(context)) {
        QElapsedTimer timer;
        timer.start();
        const DetailPageBrowser::Read browserRead =
            m_browser->loadBody(search.detailAddress, context.cancel);
        detail = browserRead.html;
        source = DetailSource::Browser;
        // What the browser did, for the logs (no page name: it is the detail page's second try).
        PageResult read;
        read.browser = true;
        read.address = trimSpaces(search.detailAddress);
        read.elapsedMs = timer.elapsed();
        read.bytes = detail.toUtf8().size();
        read.outcome = context.cancel && context.cancel->isCancelled() ? PageOutcome::Cancelled
                       : browserRead.tooLarge                          ? PageOutcome::TooLarge
                       : isBlank(detail)                               ? PageOutcome::Empty
                                                                       : PageOutcome::Ok;
        // The browser may be shown the wall the fetch was spared.
        const QString marker =
            findBlockMarker(detail, anchorsOf(BuyerPage::Detail), m_setup.blockMarkers);
        if (!marker.isEmpty()) {
            detailNote.outcome = PageOutcome::Blocked;
            detailNote.error = QStringLiteral("in the browser: ") + marker;
            read.outcome = PageOutcome::Blocked;
            read.error = marker;
            detail.clear();
        }
        out->pages.append(read); // after the last use of detailNote, which this may move
    }
    if (isBlank(detail))
        return;
    out->facts = detailPageRule(detail, source, m_setup.config);
    out->detailRead = true;

    const QString neutralAddress =
        fillAddress(m_setup.config.entry(ConfigEntry::NeutralGivenAddress),
                    QLatin1String("{urlno}"), out->facts.ratingListNumber);
    const QString badAddress = fillAddress(m_setup.config.entry(ConfigEntry::BadGivenAddress),
                                           QLatin1String("{urlno}"), out->facts.ratingListNumber);
    if (m_pool) {
        PageResults badPages;
        QString badPage;
        const TaskPool::TaskHandle bad = m_pool->submit([&] {
            badPage = fetchBuyerPage(badPages, BuyerPage::BadGiven, badAddress, FetchWait::Short,
                                     context);
        });
        const QString neutralPage = fetchBuyerPage(out->pages, BuyerPage::NeutralGiven,
                                                   neutralAddress, FetchWait::Short, context);
        m_pool->wait(bad);
        out->pages += badPages;
        out->neutralGiven = givenCount(out->pages, BuyerPage::NeutralGiven, neutralPage,
                                       m_setup.config.entry(ConfigEntry::NeutralGivenMarker));
        out->badGiven =
            givenCount(out->pages, BuyerPage::BadGiven, badPage, kBadRatingsGivenMarker);
    } else {
        const QString neutralPage = fetchBuyerPage(out->pages, BuyerPage::NeutralGiven,
                                                   neutralAddress, FetchWait::Short, context);
        out->neutralGiven = givenCount(out->pages, BuyerPage::NeutralGiven, neutralPage,
                                       m_setup.config.entry(ConfigEntry::NeutralGivenMarker));
        const QString badPage =
            fetchBuyerPage(out->pages, BuyerPage::BadGiven, badAddress, FetchWait::Short, context);
        out->badGiven =
            givenCount(out->pages, BuyerPage::BadGiven, badPage, kBadRatingsGivenMarker);
    }
}

void BuyerQuery::runNameCardChain(const QString &id, const FetchContext &context,
                                  NameCardChain *out) const
{
    // Name card, and the personal page it links to. The id goes into the trade-card addresses in
    // the search address's form, so whatever it holds stays one value of one parameter.
    const QString nameCardPage = fetchBuyerPage(
        out->pages, BuyerPage::NameCard,
        hostAddress(
            m_settings.tradeCardHost,
            QLatin1String("/tradecard/nameCard.htm?jumpFrom=wwclient&signmode=im&loginId=") +
                m_settings.nameCardLogin + QLatin1String("&uid=cntaobao") + EncodeQuery(id) +
                QLatin1String("&type=0&imgFolderPath=d%3a%2fProgram%20Files%2fAliWangWang%2f"
                              "7.10.07T%2fHeadImgShow%2f&imgFileName=&showtype=1&"
                              "filehashcode=&ver=7.10.07T&edition=1&cssname=default")),
        FetchWait::Long, context);
    if (isBlank(nameCardPage))
        return;
    out->card = nameCardRule(nameCardPage);
    if (!out->card.personalUrl.startsWith(QLatin1String("http://")))
        return;
    const QString personalPage = fetchBuyerPage(out->pages, BuyerPage::Personal,
                                                out->card.personalUrl, FetchWait::Long, context);
    if (!isBlank(personalPage))
        out->personal = personalPageRule(personalPage, m_setup.config, m_setup.areaTable);
}

PageResult BuyerQuery::fetchPopupCard(const QString &id, const FetchContext &context) const
{
    const QString popupAddress =
        hostAddress(m_settings.tradeCardHost,
                    QLatin1String("/tradecard/popupNameCard.htm?uid=cntaobao") + EncodeQuery(id) +
                        QLatin1String("&loginId=") + m_settings.popupLogin +
                        QLatin1String("&type=1&jumpFrom=aliwwserver"));
    if (isBlank(popupAddress) || m_blocked)
        return {};
    if (context.pageStarted && *context.pageStarted)
        (*context.pageStarted)(BuyerPage::Popup);
    PageResult page = fetchNamedPage(BuyerPage::Popup, popupAddress, FetchWait::Long, context);
    markIfBlocked(page, page.text, anchorsOf(BuyerPage::Popup), m_setup.blockMarkers);
    if (page.outcome == PageOutcome::Blocked)
        m_blocked = true;
    if (context.pacer)
        context.pacer->pageRead(page);
    return page;
}

BuyerQueryResult BuyerQuery::queryBuyer(const QString &buyerId, const FetchContext &context) const
{
    BuyerQueryResult result;
    BuyerCreditRecord &record = result.record;
    record.buyerId = buyerId;
    const QString &id = record.buyerId;

    DetailChain detail;
    NameCardChain card;
    PageResult popup;
    if (m_pool) {
        // The chains share the context's session, so each host's connections are still reused.
        const FetchContext &shared = context;
        const TaskPool::TaskHandle cardDone =
            m_pool->submit([&] { runNameCardChain(id, shared, &card); });
        const TaskPool::TaskHandle popupDone =
            m_pool->submit([&] { popup = fetchPopupCard(id, shared); });
        runDetailChain(id, shared, &detail);
        m_pool->wait(cardDone);
        m_pool->wait(popupDone);
    } else {
        runDetailChain(id, context, &detail);
        runNameCardChain(id, context, &card);
        popup = fetchPopupCard(id, context);
    }

    if (detail.detailRead) {
        record.goodCount = detail.facts.goodCount;
        record.verification = detail.facts.verification;
        record.neutralCount = detail.facts.neutralCount;
        record.badCount = detail.facts.badCount;
        record.creditUrl = detail.detailAddress;
        record.neutralGiven = detail.neutralGiven;
        record.badGiven = detail.badGiven;
    }
    record.regTime = card.card.regTime;
    record.nick = card.personal.nick;
    // Popup name card: the good rate, else the detail page's own percentage.
    if (!isBlank(popup.text))
        record.goodRate = popupNameCardRule(popup.text);
    if (record.goodRate.isEmpty() && detail.detailRead)
        record.goodRate = detail.facts.goodRatePercent;
    record.address = !isBlank(card.personal.areaName) ? card.personal.areaName : card.card.address;

    result.listed = detail.listed;
    result.pages = detail.pages + card.pages;
    if (!popup.address.isEmpty()) {
        popup.text.clear();
        result.pages.append(popup);
    }
    for (const PageResult &page : std::as_const(result.pages))
        qCDebug(lcQuery).noquote() << id << page.summary();
    return result;
}

BuyerQueryResult queryBuyer(const QuerySetup &setup, const QuerySettings &settings,
                            const QString &buyerId, const FetchContext &context,
                            DetailPageBrowser *browser, TaskPool *pool)
{
    return BuyerQuery(setup, settings, browser, pool).queryBuyer(buyerId, context);
}
