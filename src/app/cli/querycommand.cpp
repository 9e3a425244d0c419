#include "querycommand.h"

#include "buyerquery.h"
#include "clicommon.h"
#include "texthelpers.h"

namespace {

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

// The record's fields in their order, under their own names.
QString recordJson(const BuyerCreditRecord &r)
{
    const std::pair<const char *, const QString *> fields[] = {
        {"buyerId", &r.buyerId},           {"nick", &r.nick},
        {"regTime", &r.regTime},           {"address", &r.address},
        {"verification", &r.verification}, {"goodRate", &r.goodRate},
        {"goodCount", &r.goodCount},       {"neutralCount", &r.neutralCount},
        {"badCount", &r.badCount},         {"neutralGiven", &r.neutralGiven},
        {"badGiven", &r.badGiven},         {"creditUrl", &r.creditUrl}};
    QString out = QStringLiteral("{");
    for (const auto &[name, value] : fields) {
        if (out.size() > 1)
            out += QLatin1String(",");
        out += u'"' + QLatin1String(name) + QLatin1String("\":") + jsonString(*value);
    }
    return out + u'}';
}

} // namespace

int runQueryCommand(const QStringList &args)
{
    QueryOptions options;
    QString error;
    if (!parseQueryOptions(args, &options, &error)) {
        printMessage(error);
        printMessage(QStringLiteral("usage: brelvon-cli query [--settings FILE] [--demo] ID..."));
        return CliUsage;
    }
    if (options.operands.isEmpty()) {
        printMessage(QStringLiteral("no buyer id given"));
        printMessage(QStringLiteral("usage: brelvon-cli query [--settings FILE] [--demo] ID..."));
        return CliUsage;
    }

    QStringList ids;
    for (qsizetype i = 0; i < options.operands.size(); ++i) {
        const QString &id = options.operands.at(i);
        if (isBlank(id))
            printMessage(QStringLiteral("skipping id %1: it is blank").arg(i + 1));
        else
            ids.append(trimSpaces(id));
    }
    if (ids.isEmpty()) {
        printMessage(QStringLiteral("no buyer id to query"));
        return CliUsage;
    }

    QueryTarget target;
    if (const int code = prepareQueryTarget(options, &target); code != CliOk)
        return code;

    // One query object for the whole run: configuration and area table are downloaded once.
    BuyerQuery query(target.settings);
    for (const QString &id : std::as_const(ids))
        printLine(recordJson(query.run(id)));
    return CliOk;
}
