#include "app/cli/querycommand.h"

#include "app/cli/clicommon.h"
#include "lookup/batchfindings.h"
#include "storage/historytext.h"
#include "web/texthelpers.h"

#include <QCoreApplication>
#include <QDateTime>

// A JSON string literal; everything beyond the escapes JSON requires goes out as is (UTF-8).
QString jsonString(const QString &text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += u'"';
    for (QChar c : text) {
        switch (c.unicode()) {
        case u'"':
            out += QLatin1String("\\\"");
            break;
        case u'\\':
            out += QLatin1String("\\\\");
            break;
        case u'\n':
            out += QLatin1String("\\n");
            break;
        case u'\r':
            out += QLatin1String("\\r");
            break;
        case u'\t':
            out += QLatin1String("\\t");
            break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x2028 || c.unicode() == 0x2029)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += u'"';
    return out;
}

namespace {

// One JSON object on one line, its keys in the order they are added.
class JsonLine
{
public:
    void text(const char *key, const QString &value) { member(key, jsonString(value)); }
    void texts(const char *key, const QStringList &values)
    {
        QStringList items;
        for (const QString &value : values)
            items.append(jsonString(value));
        member(key, u'[' + items.join(u',') + u']');
    }
    // An object of text values, in the order given.
    void textObject(const char *key, const QList<std::pair<QString, QString>> &members)
    {
        QStringList items;
        for (const auto &[name, value] : members)
            items.append(jsonString(name) + u':' + jsonString(value));
        member(key, u'{' + items.join(u',') + u'}');
    }
    QString line() const { return u'{' + m_members.join(u',') + u'}'; }

private:
    void member(const char *key, const QString &json)
    {
        m_members.append(jsonString(QLatin1String(key)) + u':' + json);
    }
    QStringList m_members;
};

// The record's fields in their order, under their own names.
void addRecord(JsonLine &json, const BuyerCreditRecord &r)
{
    const std::pair<const char *, const QString *> fields[] = {
        {"buyerId", &r.buyerId},           {"nick", &r.nick},
        {"regTime", &r.regTime},           {"address", &r.address},
        {"verification", &r.verification}, {"goodRate", &r.goodRate},
        {"goodCount", &r.goodCount},       {"neutralCount", &r.neutralCount},
        {"badCount", &r.badCount},         {"neutralGiven", &r.neutralGiven},
        {"badGiven", &r.badGiven},         {"creditUrl", &r.creditUrl}};
    for (const auto &[name, value] : fields)
        json.text(name, *value);
}

// After the record: credit score and level, the verdict and its reasons, the buyer's pages.
// (The seller's own note and mark follow them.)
void addAssessment(JsonLine &json, const LookupOutcome &outcome)
{
    const BuyerAssessment &a = outcome.assessment;
    const BuyerQueryResult &result = outcome.result;
    json.text("creditScore", a.creditScoreText());
    json.text("creditLevel", creditLevelText(a.creditLevel));
    json.text("risk", riskLevelText(a.risk.level));
    json.texts("riskReasons", a.risk.reasons);
    QList<std::pair<QString, QString>> outcomes;
    for (const PageResult &page : result.pages) {
        if (isBuyerPage(page.page))
            outcomes.append({page.page, page.outcome == PageOutcome::HttpError
                                            ? page.outcomeText()
                                            : page.outcomeName()});
    }
    if (const auto &cached = outcome.cachedConfiguration)
        outcomes.append(
            {QStringLiteral("configuration"),
             QLatin1String("cached ") + cached->ageName(QDateTime::currentDateTimeUtc())});
    json.textObject("pageOutcomes", outcomes);
}

} // namespace

QString recordJson(const BuyerCreditRecord &record)
{
    JsonLine json;
    addRecord(json, record);
    return json.line();
}

namespace {

// Why a lookup said nothing about the buyer: its status and what failed.
QString lookupFailureText(const LookupOutcome &outcome)
{
    const QString &detail = outcome.statusDetail;
    if (englishMessages())
        return QStringLiteral("%1: %2%3")
            .arg(outcome.id, lookupStatusName(outcome.status),
                 detail.isEmpty() ? QString() : QStringLiteral(" (") + detail + u')');
    return QStringLiteral("%1：%2%3")
        .arg(outcome.id, lookupStatusText(outcome.status),
             detail.isEmpty() ? QString() : u'（' + detail + u'）');
}

} // namespace

int runQueryCommand(const QStringList &args)
{
    QueryCommandLine cli(
        QStringLiteral("query [--settings FILE] [--demo] [--browser] "
                       "[--parallel-pages] [--verbose] [--plain] [--database FILE] "
                       "[--no-history] [--config FILE] [--area-table FILE] ID..."),
        inUserLanguage(QStringLiteral("逐个查询买家；每个买家输出一行 JSON。"),
                       QStringLiteral("Looks up each buyer id; prints one JSON object per id on "
                                      "its own line.")));
    const QCommandLineOption plainOption(
        QStringLiteral("plain"),
        inUserLanguage(QStringLiteral("只输出记录的十二个字段：没有信用等级、风险和页面结果。"),
                       QStringLiteral("Only the record's twelve keys: no credit level, risk or "
                                      "page outcomes.")));
    cli.parser().addOption(plainOption);
    cli.parser().addPositionalArgument(
        QStringLiteral("ID"),
        inUserLanguage(QStringLiteral("买家ID。"), QStringLiteral("Buyer ids.")),
        QStringLiteral("ID..."));
    QueryOptions options;
    int exitCode = CliOk;
    if (!cli.parse(args, &options, &exitCode))
        return exitCode;
    if (options.operands.isEmpty())
        return cli.usage(
            inUserLanguage(QStringLiteral("没有给出买家ID"), QStringLiteral("no buyer id given")));
    const bool plain = cli.parser().isSet(plainOption);

    QStringList ids;
    for (qsizetype i = 0; i < options.operands.size(); ++i) {
        const QString &id = options.operands.at(i);
        if (isBlank(id))
            printMessage(inUserLanguage(QStringLiteral("跳过第 %1 个买家ID：它是空白的"),
                                        QStringLiteral("skipping id %1: it is blank"))
                             .arg(i + 1));
        else
            ids.append(id); // the service trims it
    }
    if (ids.isEmpty()) {
        printMessage(inUserLanguage(QStringLiteral("没有可查询的买家ID"),
                                    QStringLiteral("no buyer id to query")));
        return CliUsage;
    }

    QueryRun run;
    if (const int code = prepareQueryRun(options, 0, &run); code != CliOk)
        return code;

    // One service for the whole run: configuration and area table are downloaded once, and one
    // session keeps each host's connection open from one buyer to the next.
    bool everyIdLookedUp = true;
    LookupRunner runner(&run.service());
    const int code = runUntilDone(runner, [&] {
        runner.lookupEach(
            ids,
            [&](const LookupOutcome &outcome) {
                const QString &id = outcome.id;
                if (options.verbose) {
                    for (const PageResult &page : outcome.result.pages)
                        printPage(id, page);
                    printCachedConfiguration(id, outcome);
                }
                tellAfterLookup(outcome);
                if (!isLookedUp(outcome.status)) {
                    everyIdLookedUp = false;
                    printMessage(lookupFailureText(outcome));
                }
                JsonLine json;
                addRecord(json, outcome.result.record);
                if (!plain) {
                    addAssessment(json, outcome);
                    json.text("note", outcome.note.note);
                    json.text("listed", listMarkName(outcome.note.listed));
                    json.text("lookup", lookupStatusName(outcome.status));
                }
                printLine(json.line());
            },
            [](bool) { QCoreApplication::exit(0); });
    });
    if (code != CliOk)
        return code;
    // The single lookups' check: the last lookups against the month before them.
    if (run.session->recordsHistory()) {
        if (const QList<StaleField> stale = RecentLookupsCheck().check(run.session->database());
            !stale.isEmpty())
            printMessage(staleRulesText(stale, configurationName(run.service())));
    }
    return everyIdLookedUp ? CliOk : CliNotLookedUp;
}
