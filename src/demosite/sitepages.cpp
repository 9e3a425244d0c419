#include "demosite/sitepages.h"

#include "web/codepage936.h"
#include "web/texthelpers.h"

#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

namespace {

const QString kRoot = QStringLiteral(":/site/");
const QByteArray kSitePlaceholder = "{SITE}";

// Paths served under a second name: the fallback addresses of the second host point at the
// same files when both hosts are this site.
const QHash<QString, QString> &aliases()
{
    static const QHash<QString, QString> map = {
        {QStringLiteral("soft_set/fmj2.htm"), QStringLiteral("soft/qvdl/fmj2.htm")},
        {QStringLiteral("soft/wrub/zkrap2.htm"), QStringLiteral("soft/qvdl/zkrap2.htm")},
        {QString(), QStringLiteral("index.htm")},
    };
    return map;
}

QByteArray contentTypeFor(const QString &path)
{
    if (path.endsWith(QLatin1String(".htm")) || path.endsWith(QLatin1String(".html")))
        return "text/html; charset=gbk";
    if (path.endsWith(QLatin1String(".txt")))
        return "text/plain; charset=gbk";
    if (path.endsWith(QLatin1String(".css")))
        return "text/css; charset=gbk";
    return "application/octet-stream";
}

// The raw value of the first "key=value" pair of a query string.
QByteArray queryValue(const QByteArray &query, const QByteArray &key)
{
    for (const QByteArray &pair : query.split('&')) {
        const qsizetype eq = pair.indexOf('=');
        if (eq > 0 && pair.left(eq) == key)
            return pair.mid(eq + 1);
    }
    return {};
}

// Replaces every "{KEY}" whose key is in values, in one pass, so inserted values are never
// searched for keys themselves.
QString fill(const QString &text, const QHash<QString, QString> &values)
{
    QString out;
    out.reserve(text.size() + 256);
    qsizetype pos = 0;
    while (pos < text.size()) {
        const qsizetype open = text.indexOf(u'{', pos);
        if (open < 0)
            break;
        const qsizetype close = text.indexOf(u'}', open + 1);
        if (close < 0)
            break;
        const auto it = values.constFind(text.mid(open + 1, close - open - 1));
        if (it == values.constEnd()) {
            out += QStringView(text).mid(pos, open + 1 - pos);
            pos = open + 1;
            continue;
        }
        out += QStringView(text).mid(pos, open - pos);
        out += *it;
        pos = close + 1;
    }
    out += QStringView(text).mid(pos);
    return out;
}

QString esc(const QString &text)
{
    return text.toHtmlEscaped();
}

QString num(int n)
{
    return QString::number(n);
}

// A count of ratings over the rate table's periods: the last week, month and half year (each
// within the next), and before the half year.
void splitPeriods(QHash<QString, QString> &values, const QString &prefix, int total)
{
    const int halfYear = total * 2 / 5;
    const int month = halfYear / 3;
    values.insert(prefix + QLatin1String("_W"), num(month / 4));
    values.insert(prefix + QLatin1String("_M"), num(month));
    values.insert(prefix + QLatin1String("_H"), num(halfYear));
    values.insert(prefix + QLatin1String("_O"), num(total - halfYear));
    values.insert(prefix, num(total));
}

QString goodRate(const SitePages::Member &m)
{
    const int total = m.good + m.neutral + m.bad;
    return total == 0 ? QStringLiteral("0.00") : QString::number(100.0 * m.good / total, 'f', 2);
}

QList<QStringList> readRows(const QJsonValue &value)
{
    QList<QStringList> rows;
    for (const QJsonValue &row : value.toArray()) {
        QStringList cells;
        for (const QJsonValue &cell : row.toArray())
            cells << cell.toString();
        while (cells.size() < 6)
            cells << QString();
        rows << cells;
    }
    return rows;
}

bool fromBrowser(const QByteArray &userAgent)
{
    return userAgent.contains("Mozilla") && userAgent.contains("AppleWebKit");
}

} // namespace

SitePages::SitePages(const QString &hostPort, const QString &versionText) : m_hostPort(hostPort)
{
    QDirIterator it(kRoot, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString path = file.mid(kRoot.size());
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        QByteArray bytes = f.readAll();
        if (path == QLatin1String("market/members.json")) {
            const QJsonArray list =
                QJsonDocument::fromJson(bytes).object().value(QLatin1String("members")).toArray();
            for (const QJsonValue &v : list) {
                const QJsonObject o = v.toObject();
                Member m;
                m.id = o.value(QLatin1String("id")).toString();
                m.num = o.value(QLatin1String("num")).toString();
                m.xyid = o.value(QLatin1String("xyid")).toString();
                m.decoy = o.value(QLatin1String("decoy")).toBool(false);
                m.listed = o.value(QLatin1String("listed")).toBool(true);
                m.browserOnly = o.value(QLatin1String("browserOnly")).toBool(false);
                m.popupRate = o.value(QLatin1String("popupRate")).toBool(true);
                m.layout = o.value(QLatin1String("layout")).toString(QStringLiteral("A"));
                m.auth = o.value(QLatin1String("auth")).toString(QStringLiteral("none"));
                m.nick = o.value(QLatin1String("nick")).toString();
                m.regDate = o.value(QLatin1String("regDate")).toString();
                m.from = o.value(QLatin1String("from")).toString();
                m.areaCode = o.value(QLatin1String("areaCode")).toString();
                m.signature = o.value(QLatin1String("signature")).toString();
                m.good = o.value(QLatin1String("good")).toInt();
                m.neutral = o.value(QLatin1String("neutral")).toInt();
                m.bad = o.value(QLatin1String("bad")).toInt();
                m.givenNeutral = readRows(o.value(QLatin1String("givenNeutral")));
                m.givenBad = readRows(o.value(QLatin1String("givenBad")));
                m_members << m;
            }
            continue;
        }
        if (path.endsWith(QLatin1String(".md")) || path.endsWith(QLatin1String(".py")))
            continue;
        // Only texts that name the site go through the code page; the rest (the area table)
        // is served byte for byte.
        QString text;
        const bool named = bytes.contains(kSitePlaceholder);
        if (named || path.startsWith(QLatin1String("market/"))) {
            text = decode936(bytes);
            text.replace(QLatin1String(kSitePlaceholder), hostPort);
        }
        if (path.startsWith(QLatin1String("market/"))) {
            m_templates.insert(path.mid(7), text);
            continue;
        }
        if (path == QLatin1String("soft/qvdl/zkrap2.htm") && !versionText.isEmpty()) {
            // A later pair for slot 0 overwrites the one in the file.
            if (!named)
                text = decode936(bytes);
            if (!text.endsWith(u'\n'))
                text += QLatin1String("\r\n");
            text += QLatin1String("#20#") + versionText + QLatin1String("#0#\r\n");
            bytes = encode936(text);
        } else if (named) {
            bytes = encode936(text);
        }
        m_files.insert(path, bytes);
    }
}

QString SitePages::tmpl(const QString &name) const
{
    return m_templates.value(name);
}

SiteResponse SitePages::answer(const QByteArray &target, const QByteArray &userAgent) const
{
    const qsizetype q = target.indexOf('?');
    const QString path = QString::fromLatin1(q < 0 ? target : target.left(q));
    const QByteArray query = q < 0 ? QByteArray() : target.mid(q + 1);

    if (path == QLatin1String("/member/search.htm"))
        return searchPage(query);
    if (path.startsWith(QLatin1String("/rate/user-rate-")) && path.endsWith(QLatin1String(".htm")))
        return ratePage(path.mid(16, path.size() - 16 - 4), userAgent);
    if (path == QLatin1String("/rate/given_list.htm"))
        return givenPage(query);
    if (path == QLatin1String("/tradecard/nameCard.htm"))
        return nameCardPage(query, false);
    if (path == QLatin1String("/tradecard/popupNameCard.htm"))
        return nameCardPage(query, true);
    // The name card links the old community address; both reach the personal page.
    if (path == QLatin1String("/i/member/home.htm") ||
        path == QLatin1String("/jianghu/member/home.htm"))
        return homePage(query);

    if (!path.startsWith(u'/'))
        return notFound();
    QString file = path.mid(1);
    file = aliases().value(file, file);
    if (file.startsWith(QLatin1String("market/")))
        return notFound();
    const auto it = m_files.constFind(file);
    if (it == m_files.constEnd())
        return notFound();
    SiteResponse r;
    r.contentType = contentTypeFor(file);
    r.body = *it;
    return r;
}

bool SitePages::isMarketplaceRequest(const QByteArray &target)
{
    const qsizetype q = target.indexOf('?');
    const QByteArray path = q < 0 ? target : target.left(q);
    return path == "/member/search.htm" || path.startsWith("/rate/") ||
           path.startsWith("/tradecard/") || path == "/i/member/home.htm" ||
           path == "/jianghu/member/home.htm";
}

SiteResponse SitePages::blockedPage() const
{
    return htmlPage(tmpl(QStringLiteral("blocked.htm")));
}

QString SitePages::decodeSearchValue(const QByteArray &raw)
{
    QByteArray bytes = raw;
    bytes.replace('+', ' ');
    return decode936(QByteArray::fromPercentEncoding(bytes));
}

QString SitePages::decodeTradeCardValue(const QByteArray &raw)
{
    QByteArray bytes = raw;
    bytes.replace('+', ' ');
    bytes = QByteArray::fromPercentEncoding(bytes);
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    return decode936(bytes);
}

const SitePages::Member *SitePages::memberById(const QString &id) const
{
    for (const Member &m : m_members) {
        if (!m.decoy && m.id == id)
            return &m;
    }
    return nullptr;
}

const SitePages::Member *SitePages::memberByNum(const QString &n) const
{
    for (const Member &m : m_members) {
        if (!m.decoy && m.num == n)
            return &m;
    }
    return nullptr;
}

const SitePages::Member *SitePages::memberByXyid(const QString &xyid) const
{
    for (const Member &m : m_members) {
        if (!m.decoy && m.xyid == xyid)
            return &m;
    }
    return nullptr;
}

SiteResponse SitePages::htmlPage(const QString &text, int status) const
{
    SiteResponse r;
    r.status = status;
    r.contentType = "text/html; charset=gbk";
    r.body = encode936(text);
    return r;
}

SiteResponse SitePages::notFound() const
{
    SiteResponse r;
    r.status = 404;
    r.contentType = "text/html; charset=gbk";
    r.body = m_files.value(QStringLiteral("404.htm"), "<html><body>404 Not Found</body></html>");
    return r;
}

SiteResponse SitePages::searchPage(const QByteArray &query) const
{
    const QString wanted = trimSpaces(decodeSearchValue(queryValue(query, "nick")));
    QString items;
    int count = 0;
    const QString itemTemplate = tmpl(QStringLiteral("search-item.htm"));
    if (!wanted.isEmpty()) {
        for (const Member &m : m_members) {
            if (!m.listed)
                continue;
            const qsizetype at = m.id.indexOf(wanted, 0, Qt::CaseInsensitive);
            if (at < 0)
                continue;
            // The matched part is highlighted, as the marketplace's search did.
            const QString nickHtml = esc(m.id.left(at)) + QLatin1String("<span class=\"H\">") +
                                     esc(m.id.mid(at, wanted.size())) + QLatin1String("</span>") +
                                     esc(m.id.mid(at + wanted.size()));
            items += fill(itemTemplate, {{QStringLiteral("NUM"), m.num},
                                         {QStringLiteral("XYID"), m.xyid},
                                         {QStringLiteral("NICK_HTML"), nickHtml},
                                         {QStringLiteral("FROM"), m.from},
                                         {QStringLiteral("REGDATE"), m.regDate}});
            ++count;
        }
    }
    return htmlPage(
        fill(tmpl(QStringLiteral("search.htm")), {{QStringLiteral("QUERY"), esc(wanted)},
                                                  {QStringLiteral("COUNT"), num(count)},
                                                  {QStringLiteral("ITEMS"), items}}));
}

SiteResponse SitePages::ratePage(const QString &xyid, const QByteArray &userAgent) const
{
    const Member *m = memberByXyid(xyid);
    if (!m)
        return notFound();
    // This page is built by script in a browser; a plain HTTP client gets an empty page.
    if (m->browserOnly && !fromBrowser(userAgent))
        return htmlPage(QString());
    QString auth;
    if (m->auth == QLatin1String("alipay"))
        auth = QStringLiteral("<IMG src=\"/img/auth/alipay.gif\" align=absMiddle>支付宝实名认证");
    else if (m->auth == QLatin1String("phone"))
        auth = QStringLiteral("<IMG src=\"/img/auth/mobile.gif\" align=absMiddle>手机认证");
    else
        auth = QStringLiteral("尚未通过认证");
    QHash<QString, QString> values = {{QStringLiteral("ID"), esc(m->id)},
                                      {QStringLiteral("NUM"), m->num},
                                      {QStringLiteral("POINTS"), num(m->good - m->bad)},
                                      {QStringLiteral("RATE"), goodRate(*m)},
                                      {QStringLiteral("AUTH"), auth}};
    splitPeriods(values, QStringLiteral("G"), m->good);
    splitPeriods(values, QStringLiteral("N"), m->neutral);
    splitPeriods(values, QStringLiteral("B"), m->bad);
    const QString name = m->layout == QLatin1String("B") ? QStringLiteral("rate-b.htm")
                                                         : QStringLiteral("rate-a.htm");
    return htmlPage(fill(tmpl(name), values));
}

SiteResponse SitePages::givenPage(const QByteArray &query) const
{
    const QString userId = QString::fromLatin1(queryValue(query, "user_id"));
    const QByteArray result = queryValue(query, "result");
    if (result != "0" && result != "-1")
        return notFound();
    const bool neutral = result == "0";
    const QString kind = neutral ? QStringLiteral("中评") : QStringLiteral("差评");
    const Member *m = memberByNum(userId);
    const QList<QStringList> rows =
        m ? (neutral ? m->givenNeutral : m->givenBad) : QList<QStringList>();
    QString html;
    const QString rowTemplate = tmpl(QStringLiteral("given-item.htm"));
    for (const QStringList &row : rows) {
        html += fill(rowTemplate, {{QStringLiteral("ICON"),
                                    neutral ? QStringLiteral("neutral") : QStringLiteral("bad")},
                                   {QStringLiteral("KIND"), kind},
                                   {QStringLiteral("DATE"), row.at(0)},
                                   {QStringLiteral("SELLER"), esc(row.at(1))},
                                   {QStringLiteral("SELLER_Q"), EncodeQuery(row.at(1))},
                                   {QStringLiteral("ITEMID"), row.at(2)},
                                   {QStringLiteral("ITEM"), esc(row.at(3))},
                                   {QStringLiteral("PRICE"), row.at(4)},
                                   {QStringLiteral("COMMENT"), esc(row.at(5))}});
    }
    if (rows.isEmpty())
        html = tmpl(QStringLiteral("given-empty.htm"));
    return htmlPage(fill(tmpl(QStringLiteral("given.htm")),
                         {{QStringLiteral("ID"), m ? esc(m->id) : esc(userId)},
                          {QStringLiteral("KIND"), kind},
                          {QStringLiteral("COUNT"), num(int(rows.size()))},
                          {QStringLiteral("ROWS"), html}}));
}

SiteResponse SitePages::nameCardPage(const QByteArray &query, bool popup) const
{
    const QString uid = decodeTradeCardValue(queryValue(query, "uid"));
    const Member *m = nullptr;
    if (uid.startsWith(QLatin1String("cntaobao")))
        m = memberById(uid.mid(8));
    if (!m) { // GBK bytes that happen to be valid UTF-8 too
        const QString gbk = decodeSearchValue(queryValue(query, "uid"));
        if (gbk.startsWith(QLatin1String("cntaobao")))
            m = memberById(gbk.mid(8));
    }
    if (!m)
        return htmlPage(tmpl(QStringLiteral("namecard-missing.htm")));
    const QString rateLine = m->popupRate ? QStringLiteral("买家好评率：") + goodRate(*m) + u'%'
                                          : QStringLiteral("买家好评率：暂无");
    return htmlPage(fill(tmpl(popup ? QStringLiteral("popup.htm") : QStringLiteral("namecard.htm")),
                         {{QStringLiteral("ID"), esc(m->id)},
                          {QStringLiteral("ID_Q"), EncodeQuery(m->id)},
                          {QStringLiteral("NUM"), m->num},
                          {QStringLiteral("REGDATE"), m->regDate},
                          {QStringLiteral("FROM"), m->from},
                          {QStringLiteral("POINTS"), num(m->good - m->bad)},
                          {QStringLiteral("RATE_LINE"), rateLine}}));
}

SiteResponse SitePages::homePage(const QByteArray &query) const
{
    const Member *m = memberByNum(QString::fromLatin1(queryValue(query, "user_id")));
    if (!m)
        return notFound();
    return htmlPage(
        fill(tmpl(QStringLiteral("home.htm")), {{QStringLiteral("ID"), esc(m->id)},
                                                {QStringLiteral("NICK"), esc(m->nick)},
                                                {QStringLiteral("LOCATION"), m->from},
                                                {QStringLiteral("AREACODE"), m->areaCode},
                                                {QStringLiteral("SIGNATURE"), esc(m->signature)}}));
}
