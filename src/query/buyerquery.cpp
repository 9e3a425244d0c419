#include "buyerquery.h"

#include "fetchpage.h"
#include "pagerules.h"
#include "texthelpers.h"

namespace {

// "http://" + host + path, or "" when the settings name no such host (no request is made).
QString address(const QString &host, const QString &path)
{
    if (isBlank(host))
        return {};
    return QLatin1String("http://") + host + path;
}

bool containsBrelvon(const QString &text)
{
    return trimSpaces(text).contains(QLatin1String("Brelvon"));
}

} // namespace

BuyerQuery::BuyerQuery(const QuerySettings &settings) : m_settings(settings) {}

void BuyerQuery::ensureConfiguration()
{
    if (!isBlank(m_config.entry(0)))
        return;

    QString config = FetchPage(address(m_settings.mainHost, "/soft/qvdl/fmj2.htm"), FetchShortWait);
    if (isBlank(config))
        config = FetchPage(address(m_settings.secondHost, "/soft_set/fmj2.htm"), FetchShortWait);
    // Anything else (an error page, a portal's placeholder) is not our configuration: keep what
    // we have and try again on the next query.
    if (containsBrelvon(config))
        m_config.readIndexedList(config);

    m_areaTable = FetchPage(address(m_settings.mainHost, "/soft/qvdl/city.txt"), FetchLongWait);
    if (!m_areaTable.contains(QStringLiteral("广东")))
        m_areaTable =
            FetchPage(address(m_settings.secondHost, "/soft/qvdl/city.txt"), FetchLongWait);
}

BuyerCreditRecord BuyerQuery::queryBuyer(const QString &buyerId)
{
    BuyerCreditRecord record;
    record.buyerId = trimSpaces(buyerId);
    const QString &id = record.buyerId;

    // Search page: the buyer's entry gives the detail page address.
    QString searchAddress = m_config.entry(0);
    searchAddress.replace(QLatin1String("{mjna}"), EncodeQuery(id));
    SearchPageResult search;
    const QString searchPage = FetchPage(searchAddress, FetchLongWait);
    if (!isBlank(searchPage))
        search = searchPageRule(searchPage, id, m_config);

    // Detail page, then the two ratings-given pages it leads to. Without a detail address there
    // is nothing to fetch and nothing for the browser to load.
    QString detailGoodRate;
    if (!isBlank(search.detailAddress)) {
        DetailSource source = DetailSource::Fetched;
        QString detail = FetchPage(search.detailAddress, FetchLongWait);
        if (isBlank(detail) && m_browser) {
            detail = m_browser->loadBodyHtml(search.detailAddress);
            source = DetailSource::Browser;
        }
        if (!isBlank(detail)) {
            const DetailPageResult facts = detailPageRule(detail, source, m_config);
            record.goodCount = facts.goodCount;
            record.verification = facts.verification;
            record.neutralCount = facts.neutralCount;
            record.badCount = facts.badCount;
            record.creditUrl = search.detailAddress;
            detailGoodRate = facts.goodRatePercent;

            QString neutralAddress = m_config.entry(37);
            neutralAddress.replace(QLatin1String("{urlno}"), facts.ratingListNumber);
            record.neutralGiven =
                ratingsGivenCount(FetchPage(neutralAddress, FetchShortWait), m_config.entry(38));
            QString badAddress = m_config.entry(39);
            badAddress.replace(QLatin1String("{urlno}"), facts.ratingListNumber);
            record.badGiven =
                ratingsGivenCount(FetchPage(badAddress, FetchShortWait), kBadRatingsGivenMarker);
        }
    }

    // Name card, and the personal page it links to. The trade-card addresses carry the id raw.
    const QString nameCardPage = FetchPage(
        address(m_settings.tradeCardHost,
                QLatin1String("/tradecard/nameCard.htm?jumpFrom=wwclient&signmode=im&loginId=") +
                    m_settings.nameCardLogin + QLatin1String("&uid=cntaobao") + id +
                    QLatin1String("&type=0&imgFolderPath=d%3a%2fProgram%20Files%2fAliWangWang%2f"
                                  "7.10.07T%2fHeadImgShow%2f&imgFileName=&showtype=1&"
                                  "filehashcode=&ver=7.10.07T&edition=1&cssname=default")),
        FetchLongWait);
    NameCardResult card;
    PersonalPageResult personal;
    if (!isBlank(nameCardPage)) {
        card = nameCardRule(nameCardPage);
        record.regTime = card.regTime;
        if (card.personalUrl.startsWith(QLatin1String("http://"))) {
            const QString personalPage = FetchPage(card.personalUrl, FetchLongWait);
            if (!isBlank(personalPage)) {
                personal = personalPageRule(personalPage, m_config, m_areaTable);
                record.nick = personal.nick;
            }
        }
    }

    // Popup name card: the good rate, else the detail page's own percentage.
    const QString popupPage =
        FetchPage(address(m_settings.tradeCardHost,
                          QLatin1String("/tradecard/popupNameCard.htm?uid=cntaobao") + id +
                              QLatin1String("&loginId=") + m_settings.popupLogin +
                              QLatin1String("&type=1&jumpFrom=aliwwserver")),
                  FetchLongWait);
    if (!isBlank(popupPage))
        record.goodRate = popupNameCardRule(popupPage);
    if (record.goodRate.isEmpty())
        record.goodRate = detailGoodRate;

    record.address = !isBlank(personal.areaName) ? personal.areaName : card.address;
    return record;
}

BuyerCreditRecord BuyerQuery::run(const QString &buyerId)
{
    ensureConfiguration();
    return queryBuyer(buyerId);
}
