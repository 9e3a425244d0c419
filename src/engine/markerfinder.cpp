#include "engine/markerfinder.h"

#include "engine/pagerules.h"
#include "model/buyerqueryresult.h"
#include "model/uilanguage.h"
#include "web/texthelpers.h"

namespace {

namespace E = ConfigEntry;

constexpr qsizetype kAround = 40;    // characters shown on either side of a sighting
constexpr qsizetype kMaxMarker = 60; // the longest marker proposed
constexpr qsizetype kMinMarker = 4;  // markers are grown to this where they stay exact
constexpr int kMaxSightings = 20;    // per page

// A configuration line holds no "#" (it ends the value) and is one line.
bool fitsMarker(QChar c)
{
    return c != u'#' && c != u'\r' && c != u'\n';
}

bool insideScript(const QString &text, qsizetype at)
{
    const qsizetype open = text.lastIndexOf(QLatin1String("<script"), at, Qt::CaseInsensitive);
    return open >= 0 && text.lastIndexOf(QLatin1String("</script"), at, Qt::CaseInsensitive) < open;
}

// Whether the value stands on its own there: "2" in "127" or "2008" is not the value a person
// reads.
bool standsAlone(const QString &text, qsizetype at, const QString &value)
{
    const auto word = [](QChar c) { return c.isLetterOrNumber() || c == u'.' || c == u'_'; };
    const qsizetype end = at + value.size();
    return !(word(value.front()) && at > 0 && word(text.at(at - 1))) &&
           !(word(value.back()) && end < text.size() && word(text.at(end)));
}

// The value's places in the text that stand alone, at most kMaxSightings.
QList<qsizetype> placesOf(const QString &text, const QString &value)
{
    QList<qsizetype> places;
    for (qsizetype at = text.indexOf(value); at >= 0 && places.size() < kMaxSightings;
         at = text.indexOf(value, at + 1)) {
        if (standsAlone(text, at, value))
            places.append(at);
    }
    return places;
}

// A capture's text of the page: fetched, or the embedded browser's; null without one.
const QString *pageText(const LoadedCapture &capture, const QString &page, bool browser)
{
    if (browser)
        return page == BuyerPage::Detail && capture.pages.browserDetail &&
                       !capture.pages.browserDetail->text.isEmpty()
                   ? &capture.pages.browserDetail->text
                   : nullptr;
    const auto found = capture.pages.pages.constFind(page);
    return found == capture.pages.pages.constEnd() || found->text.isEmpty() ? nullptr
                                                                            : &found->text;
}

// Whether `start` and `end` as first and end marker (no second) cut exactly `value` from text.
bool cutsExactly(const QString &text, const QString &start, const QString &end,
                 const QString &value)
{
    return CutText(text, start, QString(), end) == value;
}

// Whether the first occurrence of `start` in every text ends where the value stands.
bool startsValue(const QList<const QString *> &texts, const QString &start, const QString &value)
{
    for (const QString *text : texts) {
        const qsizetype at = text->indexOf(start);
        if (at < 0 || !QStringView(*text).mid(at + start.size()).startsWith(value))
            return false;
    }
    return true;
}

struct Markers
{
    QString start;
    QString end;
};

// The shortest start marker (grown to kMinMarker where it stays exact) before one of the value's
// places on the first page, then the end marker after it, that cut the value on every page.
std::optional<Markers> findMarkers(const QList<const QString *> &texts, const QString &value)
{
    const QString &first = *texts.first();
    for (const qsizetype at : placesOf(first, value)) {
        QString start;
        for (qsizetype length = 1; length <= qMin(at, kMaxMarker); ++length) {
            if (!fitsMarker(first.at(at - length)))
                break;
            const QString candidate = first.mid(at - length, length);
            if (isBlank(candidate) || !startsValue(texts, candidate, value))
                continue;
            // Grown back to the tag it lies in where that stays exact (a marker that reads as the
            // page's own markup outlives small changes better), else to a few characters.
            start = candidate;
            QString grown = start;
            while (!grown.startsWith(u'<') && grown.size() < kMaxMarker && at - grown.size() > 0 &&
                   fitsMarker(first.at(at - grown.size() - 1)))
                grown = first.mid(at - grown.size() - 1, grown.size() + 1);
            if (grown.startsWith(u'<') && startsValue(texts, grown, value)) {
                start = grown;
            } else {
                while (
                    start.size() < kMinMarker && at - start.size() > 0 &&
                    fitsMarker(first.at(at - start.size() - 1)) &&
                    startsValue(texts, first.mid(at - start.size() - 1, start.size() + 1), value))
                    start = first.mid(at - start.size() - 1, start.size() + 1);
            }
            break;
        }
        if (start.isEmpty())
            continue;
        const qsizetype after = at + value.size();
        const auto cutsAll = [&](const QString &end) {
            return std::all_of(texts.begin(), texts.end(), [&](const QString *text) {
                return cutsExactly(*text, start, end, value);
            });
        };
        for (qsizetype length = 1; length <= qMin(first.size() - after, kMaxMarker); ++length) {
            if (!fitsMarker(first.at(after + length - 1)))
                break;
            QString end = first.mid(after, length);
            if (isBlank(end) || !cutsAll(end))
                continue;
            // Grown to the end of the tag it reaches into, likewise.
            QString grown = end;
            while (!grown.endsWith(u'>') && grown.size() < kMaxMarker &&
                   after + grown.size() < first.size() &&
                   fitsMarker(first.at(after + grown.size())))
                grown = first.mid(after, grown.size() + 1);
            if (grown.endsWith(u'>') && grown.contains(u'<') && cutsAll(grown)) {
                end = grown;
            } else {
                while (end.size() < kMinMarker && after + end.size() < first.size() &&
                       fitsMarker(first.at(after + end.size())) &&
                       cutsAll(first.mid(after, end.size() + 1)))
                    end = first.mid(after, end.size() + 1);
            }
            return Markers{start, end};
        }
    }
    return std::nullopt;
}

// What a field is cut with on a page: first, second and end entry.
struct FieldEntries
{
    const char *field;
    int first;
    int second;
    int end;
    const char *shownZh;
    const char *shownEn;
};

// The field's entries on the page, for the page's layout (A: it holds entry 5 of the capture's
// configuration). Null when the page's rule has no entries for it.
std::optional<FieldEntries> entriesFor(const QString &field, const QString &page, bool browser,
                                       bool layoutA)
{
    if (page == BuyerPage::Personal && field == QLatin1String("areaCode"))
        return FieldEntries{"areaCode",     E::AreaCodeFirst, E::AreaCodeSecond,
                            E::AreaCodeEnd, "地区代码",       "area code"};
    if (page != BuyerPage::Detail)
        return std::nullopt;
    const QList<FieldEntries> detail = {
        layoutA   ? FieldEntries{"goodRate", E::LayoutAMarker, E::GoodRateASecond, E::GoodRateAEnd,
                               "好评率（版式 A）", "good rate (layout A)"}
        : browser ? FieldEntries{"goodRate", E::GoodRateBBrowserFirst, E::GoodRateBSecond,
                                 E::GoodRateBEnd, "好评率（版式 B，浏览器文本）",
                                 "good rate (layout B, browser text)"}
                  : FieldEntries{"goodRate", E::GoodRateBFirst, E::GoodRateBSecond, E::GoodRateBEnd,
                                 "好评率（版式 B）", "good rate (layout B)"},
        layoutA
            ? (browser
                   ? FieldEntries{"goodCount", E::GoodCountABrowserFirst, E::GoodCountASecond,
                                  E::GoodCountAEnd, "好评数（版式 A，浏览器文本）",
                                  "good count (layout A, browser text)"}
                   : FieldEntries{"goodCount", E::GoodCountAFirst, E::GoodCountASecond,
                                  E::GoodCountAEnd, "好评数（版式 A）", "good count (layout A)"})
            : FieldEntries{"goodCount", E::GoodCountBFirst, E::GoodCountBSecond, E::GoodCountBEnd,
                           "好评数（版式 B）", "good count (layout B)"},
        browser ? FieldEntries{"verification", E::VerificationFirst, E::VerificationBrowserSecond,
                               E::VerificationBrowserEnd, "认证（浏览器文本）",
                               "verification (browser text)"}
                : FieldEntries{"verification", E::VerificationFirst, E::VerificationSecond,
                               E::VerificationEnd, "认证", "verification"},
        {"ratingList", E::RatingListFirst, E::RatingListSecond, E::RatingListEnd,
         "给他人评价列表编号", "ratings-given list number"},
        {"neutralCount", E::NeutralCountFirst, E::NeutralCountSecond, E::NeutralCountEnd,
         "收到的中评", "neutral ratings received"},
        {"badCount", E::BadCountFirst, E::BadCountSecond, E::BadCountEnd, "收到的差评",
         "bad ratings received"},
    };
    for (const FieldEntries &f : detail) {
        if (field == QLatin1String(f.field))
            return f;
    }
    return std::nullopt;
}

// The field a value on the page most likely is: on the detail page a decimal number is the good
// rate, a whole number the good count, other text the verification; on the personal page the
// area code.
QString guessField(const QString &value, const QString &page)
{
    if (page == BuyerPage::Personal)
        return QStringLiteral("areaCode");
    if (isNumeric(value))
        return value.contains(u'.') ? QStringLiteral("goodRate") : QStringLiteral("goodCount");
    return QStringLiteral("verification");
}

// What the page's rule cuts for the field with the configuration.
QString ruleValue(const QString &field, const QString &page, const QString &text, bool browser,
                  const QueryConfig &config)
{
    if (page == BuyerPage::Personal)
        return CleanText(CutText(text, config.entry(E::AreaCodeFirst),
                                 config.entry(E::AreaCodeSecond), config.entry(E::AreaCodeEnd)));
    const DetailPageResult facts =
        detailPageRule(text, browser ? DetailSource::Browser : DetailSource::Fetched, config);
    if (field == QLatin1String("goodRate"))
        return facts.goodRatePercent;
    if (field == QLatin1String("goodCount"))
        return facts.goodCount;
    if (field == QLatin1String("ratingList"))
        return facts.ratingListNumber;
    if (field == QLatin1String("neutralCount"))
        return facts.neutralCount;
    if (field == QLatin1String("badCount"))
        return facts.badCount;
    // The verification's text itself, before entries 27 and 28 name it.
    return browser ? CleanText(CutText(text, config.entry(E::VerificationFirst),
                                       config.entry(E::VerificationBrowserSecond),
                                       config.entry(E::VerificationBrowserEnd)))
                   : CleanText(CutText(text, config.entry(E::VerificationFirst),
                                       config.entry(E::VerificationSecond),
                                       config.entry(E::VerificationEnd)));
}

QString recordValue(const BuyerCreditRecord &r, const QString &field)
{
    if (field == QLatin1String("goodRate"))
        return r.goodRate;
    if (field == QLatin1String("goodCount"))
        return r.goodCount;
    if (field == QLatin1String("neutralCount"))
        return r.neutralCount;
    if (field == QLatin1String("badCount"))
        return r.badCount;
    if (field == QLatin1String("verification"))
        return r.verification;
    if (field == QLatin1String("areaCode"))
        return r.address;
    return {};
}

} // namespace

QStringList MarkerFinder::fields()
{
    return {QStringLiteral("goodRate"),     QStringLiteral("goodCount"),
            QStringLiteral("verification"), QStringLiteral("ratingList"),
            QStringLiteral("neutralCount"), QStringLiteral("badCount"),
            QStringLiteral("areaCode")};
}

QStringList MarkerFinder::entryLines(const Proposal &proposal)
{
    QStringList lines;
    for (const auto &[entry, value] : proposal.entries)
        lines.append(QStringLiteral("#89#%1#%2#").arg(value).arg(entry));
    return lines;
}

MarkerFinder::Result MarkerFinder::find(const QString &value, const QList<LoadedCapture> &captures,
                                        const QString &field)
{
    Result result;
    const auto why = [&](const QString &zh, const QString &en) {
        result.why = inUserLanguage(zh, en);
        result.whyEnglish = en;
        return result;
    };
    if (value.isEmpty() || captures.isEmpty())
        return why(QStringLiteral("没有要找的文字"), QStringLiteral("nothing to look for"));

    // Every place of the value on every page, the fetched text before the browser's.
    const QStringList pages = {BuyerPage::Search,   BuyerPage::Detail,   BuyerPage::NeutralGiven,
                               BuyerPage::BadGiven, BuyerPage::NameCard, BuyerPage::Personal,
                               BuyerPage::Popup};
    for (const LoadedCapture &capture : captures) {
        for (const bool browser : {false, true}) {
            for (const QString &page : pages) {
                const QString *text = pageText(capture, page, browser);
                if (!text)
                    continue;
                for (const qsizetype at : placesOf(*text, value)) {
                    const qsizetype from = qMax<qsizetype>(0, at - kAround);
                    QString around = text->mid(from, at - from) + u'[' + value + u']' +
                                     text->mid(at + value.size(), kAround);
                    result.sightings.append(
                        {capture.folder, page, browser, at, around, insideScript(*text, at)});
                }
            }
        }
    }
    if (result.sightings.isEmpty()) {
        const bool scripted = std::any_of(captures.begin(), captures.end(), [](const auto &c) {
            return std::any_of(c.pages.pages.begin(), c.pages.pages.end(), [](const auto &p) {
                return p.text.contains(QLatin1String("<script"), Qt::CaseInsensitive);
            });
        });
        if (scripted)
            return why(QStringLiteral("抓取的页面上都没有它。页面含有脚本：若浏览器里能看到它，"
                                      "那是脚本写出来的，程序读取的页面中没有它（用 --browser "
                                      "抓取可得到内置浏览器的文本）"),
                       QStringLiteral("on no page of the captures. The pages hold scripts: if a "
                                      "browser shows it, a script writes it there and the page "
                                      "the program reads does not hold it (capture with --browser "
                                      "for the embedded browser's text)"));
        return why(QStringLiteral("抓取的页面上都没有它"),
                   QStringLiteral("on no page of the captures"));
    }

    // The page of the first sighting where the field has entries (the fetched text before the
    // browser's), else of the first sighting.
    const auto hasEntries = [&](const Sighting &s) {
        const QString f = field.isEmpty() ? guessField(value, s.page) : field;
        return entriesFor(f, s.page, s.browser, true).has_value();
    };
    const auto chosenSighting =
        std::find_if(result.sightings.cbegin(), result.sightings.cend(), hasEntries);
    const Sighting &first =
        chosenSighting != result.sightings.cend() ? *chosenSighting : result.sightings.constFirst();
    result.page = first.page;
    result.browser = first.browser;
    QList<const QString *> texts;
    for (const LoadedCapture &capture : captures) {
        const QString *text = pageText(capture, result.page, result.browser);
        if (!text || !text->contains(value))
            return why(QStringLiteral("%1的%2上没有它：每个抓取中都要有同样的文字")
                           .arg(capture.folder, buyerPageTitle(result.page)),
                       QStringLiteral("%1: its %2 page does not hold it; every capture must")
                           .arg(capture.folder, result.page));
        texts.append(text);
    }
    const LoadedCapture &base = captures.constFirst();
    const bool layoutA = [&] {
        const QString marker = base.config.config.entry(E::LayoutAMarker);
        return marker.isEmpty() ? !texts.first()->isEmpty() : texts.first()->contains(marker);
    }();
    const QString chosen = field.isEmpty() ? guessField(value, result.page) : field;
    const std::optional<FieldEntries> entries =
        entriesFor(chosen, result.page, result.browser, layoutA);
    if (!entries)
        return why(QStringLiteral("%1由程序自带的规则读取，没有可改的条目")
                       .arg(buyerPageTitle(result.page)),
                   QStringLiteral("the %1 page is read by the program's own rule: no entry to set "
                                  "for %2")
                       .arg(result.page, chosen));
    const std::optional<Markers> markers = findMarkers(texts, value);
    if (!markers)
        return why(QStringLiteral("找不到在每个抓取中都只截出它的标记"),
                   QStringLiteral("no markers cut exactly it from every capture"));

    Proposal proposal;
    proposal.field = QLatin1String(entries->field);
    proposal.fieldShown =
        inUserLanguage(QString::fromUtf8(entries->shownZh), QString::fromUtf8(entries->shownEn));
    proposal.entries = {{entries->first, markers->start},
                        {entries->second, QString()},
                        {entries->end, markers->end}};
    // The proof: the page's rule with the entries cuts the value on every capture, and what the
    // whole lookup then reads for the field.
    proposal.reads = true;
    QStringList readBack;
    for (qsizetype i = 0; i < captures.size(); ++i) {
        const LoadedCapture &capture = captures.at(i);
        QueryConfig config = capture.config.config;
        for (const auto &[entry, text] : proposal.entries)
            config.setEntry(entry, text);
        if (ruleValue(proposal.field, result.page, *texts.at(i), result.browser, config) !=
            CleanText(value))
            proposal.reads = false;
        const CaptureCheck check =
            checkCapture(config, capture.config.config, capture.pages, capture.index.record);
        const QString read = recordValue(check.record, proposal.field);
        if (!readBack.contains(read))
            readBack.append(read);
    }
    proposal.readBack = readBack.join(QStringLiteral(", "));
    result.proposal = proposal;
    return result;
}
