#include "engine/pagerules.h"

#include "web/fetchpage.h"
#include "web/texthelpers.h"

namespace {

namespace E = ConfigEntry;

const QString kAlipayVerified = QStringLiteral("支付宝认证");
const QString kPhoneVerified = QStringLiteral("手机认证");
const QString kNotVerified = QStringLiteral("没有认证");

// An empty marker is found in any non-empty text and in no empty one.
bool containsMarker(const QString &text, const QString &marker)
{
    return marker.isEmpty() ? !text.isEmpty() : text.contains(marker);
}

// The configured cut: entries a, b, c as first, second and end marker, then cleaned.
QString cut(const QString &page, const QueryConfig &config, int a, int b, int c)
{
    return CleanText(CutText(page, config.entry(a), config.entry(b), config.entry(c)));
}

QString numericOrEmpty(const QString &value)
{
    return isNumeric(value) ? value : QString();
}

// Finds a marker at or after a start that never moves backwards, remembering the last answer:
// a marker missing from the rest of the page is looked for once, not once per search entry,
// which keeps the search page rule linear in the page size.
class ForwardFinder
{
public:
    ForwardFinder(QStringView text, const QString &marker) : m_text(text), m_marker(marker) {}

    qsizetype find(qsizetype from)
    {
        if (m_marker.isEmpty())
            return from < m_text.size() ? from : -1;
        if (m_last == kNone || (m_last != kUnknown && m_last >= from))
            return m_last;
        m_last = m_text.indexOf(m_marker, from);
        if (m_last < 0)
            m_last = kNone;
        return m_last;
    }

private:
    static constexpr qsizetype kUnknown = -2;
    static constexpr qsizetype kNone = -1;
    QStringView m_text;
    QString m_marker;
    qsizetype m_last = kUnknown;
};

} // namespace

SearchPageResult searchPageRule(const QString &page, const QString &buyerId,
                                const QueryConfig &config)
{
    SearchPageResult result;
    const QString entryMarker = config.entry(E::SearchEntryMarker);
    if (entryMarker.isEmpty())
        return result; // would match everywhere and never advance
    const QString numberStart = config.entry(E::UserNumberStart);
    const QString nickRemoved1 = config.entry(E::NickRemoved1);
    const QString nickRemoved2 = config.entry(E::NickRemoved2);

    const QStringView text(page);
    ForwardFinder entries(text, entryMarker);
    ForwardFinder numberStarts(text, numberStart);
    ForwardFinder numberEnds(text, config.entry(E::UserNumberEnd));
    ForwardFinder nickStarts(text, config.entry(E::NickStart));
    ForwardFinder nickEnds(text, config.entry(E::NickEnd));

    for (qsizetype at = entries.find(0); at >= 0;) {
        qsizetype rest = at + entryMarker.size();
        const qsizetype numberAt = numberStarts.find(rest);
        if (numberAt >= 0) {
            rest = numberAt + numberStart.size();
            const qsizetype numberEnd = numberEnds.find(rest);
            // Positions within the rest, counted from 1; 0 when the marker is missing.
            const qsizetype nickStart = nickStarts.find(rest);
            const qsizetype nickEnd = nickEnds.find(rest);
            const qsizetype a = nickStart < 0 ? 0 : nickStart - rest + 1;
            const qsizetype b = nickEnd < 0 ? 0 : nickEnd - rest + 1;
            // A nick ends within its own entry: one whose end marker lies beyond the next entry
            // is none. So each nick is cut from its own stretch of the page, and the rule stays
            // linear in the page size however the markers fall.
            const qsizetype nextEntry = entries.find(rest);
            const bool withinEntry = nextEntry < 0 || nickEnd <= nextEntry;
            if (numberEnd >= 0 && b > a && withinEntry) {
                const QStringView rawNick = text.mid(rest + a, b - a - 1);
                bool matches;
                if (nickRemoved1.isEmpty() && nickRemoved2.isEmpty()) {
                    matches = rawNick == buyerId;
                } else {
                    QString nick = rawNick.toString();
                    if (!nickRemoved1.isEmpty())
                        nick.remove(nickRemoved1);
                    if (!nickRemoved2.isEmpty())
                        nick.remove(nickRemoved2);
                    matches = nick == buyerId;
                }
                if (matches) {
                    // A number that cannot fit into an address is no number.
                    if (numberEnd - rest <= kMaxAddressLength) {
                        result.userNumber = text.mid(rest, numberEnd - rest).toString();
                        result.detailAddress =
                            fillAddress(config.entry(E::DetailAddress), QLatin1String("{xyid}"),
                                        result.userNumber);
                    }
                    return result;
                }
            }
        }
        at = entries.find(rest);
    }
    return result;
}

DetailPageResult detailPageRule(const QString &page, DetailSource source, const QueryConfig &config)
{
    DetailPageResult result;
    const bool fetched = source == DetailSource::Fetched;
    result.layoutA = containsMarker(page, config.entry(E::LayoutAMarker));
    if (result.layoutA) {
        result.goodCount =
            cut(page, config, fetched ? E::GoodCountAFirst : E::GoodCountABrowserFirst,
                E::GoodCountASecond, E::GoodCountAEnd);
        result.goodRatePercent = numericOrEmpty(
            cut(page, config, E::LayoutAMarker, E::GoodRateASecond, E::GoodRateAEnd));
    } else { // layout B
        result.goodCount = numericOrEmpty(
            cut(page, config, E::GoodCountBFirst, E::GoodCountBSecond, E::GoodCountBEnd));
        result.goodRatePercent =
            numericOrEmpty(cut(page, config, fetched ? E::GoodRateBFirst : E::GoodRateBBrowserFirst,
                               E::GoodRateBSecond, E::GoodRateBEnd));
    }

    const QString verificationText =
        fetched ? cut(page, config, E::VerificationFirst, E::VerificationSecond, E::VerificationEnd)
                : cut(page, config, E::VerificationFirst, E::VerificationBrowserSecond,
                      E::VerificationBrowserEnd);
    if (containsMarker(verificationText, config.entry(E::AlipayVerifiedMarker)))
        result.verification = kAlipayVerified;
    else if (containsMarker(verificationText, config.entry(E::PhoneVerifiedMarker)))
        result.verification = kPhoneVerified;
    else
        result.verification = kNotVerified;

    result.ratingListNumber =
        cut(page, config, E::RatingListFirst, E::RatingListSecond, E::RatingListEnd);
    result.neutralCount =
        cut(page, config, E::NeutralCountFirst, E::NeutralCountSecond, E::NeutralCountEnd);
    result.badCount = cut(page, config, E::BadCountFirst, E::BadCountSecond, E::BadCountEnd);
    return result;
}

QString ratingsGivenCount(const QString &page, const QString &marker)
{
    if (isBlank(page) || marker.isEmpty())
        return QStringLiteral("0");
    qsizetype count = 0;
    for (qsizetype at = page.indexOf(marker); at >= 0;
         at = page.indexOf(marker, at + marker.size()))
        ++count;
    return QString::number(count);
}

NameCardResult nameCardRule(const QString &page)
{
    NameCardResult result;
    const QString colon = QStringLiteral("：");
    const QString lt = QStringLiteral("<");
    result.regTime = CleanText(CutText(page, QStringLiteral("注册时间"), colon, lt));
    result.address = CleanText(CutText(page, QStringLiteral("来自"), colon, lt)
                                   .replace(QLatin1String("&nbsp;"), QLatin1String(" ")));
    result.personalUrl = CleanText(CutText(page, QStringLiteral("icon-jianghu"),
                                           QStringLiteral("href=\""), QStringLiteral("\"")))
                             .replace(QLatin1String("jianghu"), QLatin1String("i"));
    return result;
}

PersonalPageResult personalPageRule(const QString &page, const QueryConfig &config,
                                    const QString &areaTable)
{
    PersonalPageResult result;
    result.nick =
        CleanText(CutText(page, QStringLiteral("nick"), QStringLiteral(">"), QStringLiteral("<")));
    const QString areaCode = cut(page, config, E::AreaCodeFirst, E::AreaCodeSecond, E::AreaCodeEnd);
    if (isNumeric(areaCode)) {
        const QString province = areaCode.left(2) + QLatin1String("0000");
        result.areaName = LookUpArea(province, areaTable) + LookUpArea(areaCode, areaTable);
    }
    return result;
}

QString popupNameCardRule(const QString &page)
{
    return numericOrEmpty(CleanText(
        CutText(page, QStringLiteral("买家好评率"), QStringLiteral("："), QStringLiteral("%"))));
}
