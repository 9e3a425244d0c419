#include "engine/configcheck.h"

#include "engine/blockmarkers.h"
#include "engine/buyerquery.h"
#include "engine/capturereplay.h"
#include "engine/pagerules.h"
#include "files/querysettings.h"
#include "model/buyerqueryresult.h"
#include "model/lookupstatus.h"
#include "model/uilanguage.h"
#include "web/codepage936.h"
#include "web/texthelpers.h"

#include <QStringDecoder>

#include <algorithm>

namespace {

namespace E = ConfigEntry;

constexpr qsizetype kMaxTextBytes = 16 * 1024 * 1024;

ConfigEntryUse use(int entry, const char *page, const char *text, const char *zh,
                   bool required = true)
{
    return {entry, QLatin1String(page), QString::fromUtf8(text), required,
            inUserLanguage(QString::fromUtf8(zh), QString::fromUtf8(text))};
}

// A finding, in English for --json and in the user's language for people.
ConfigIssue configIssue(int line, int entry, const QString &zh, const QString &en, bool error)
{
    return {line, entry, en, error, inUserLanguage(zh, en)};
}

void setNote(FieldCheck &f, const QString &zh, const QString &en)
{
    f.note = en;
    f.noteShown = inUserLanguage(zh, en);
}

} // namespace

const QList<ConfigEntryUse> &configEntryUses()
{
    static const QList<ConfigEntryUse> uses = [] {
        QList<ConfigEntryUse> list = {
            use(0, "search", "search page address; {mjna} is the buyer id",
                "搜索页地址；{mjna} 为买家ID"),
            use(4, "detail", "detail (rate) page address; {xyid} is the user number",
                "信用页地址；{xyid} 为用户编号"),
            use(5, "detail", "layout A when the page holds it; good rate (layout A), first marker",
                "页面含有它时为版式 A；好评率（版式 A）第一个标记"),
            use(6, "detail", "good rate (layout A), second marker", "好评率（版式 A）第二个标记",
                false),
            use(7, "detail", "good rate (layout A), end marker", "好评率（版式 A）结束标记"),
            use(8, "detail", "good count (layout A), first marker", "好评数（版式 A）第一个标记"),
            use(9, "detail", "good count (layout A), second marker", "好评数（版式 A）第二个标记",
                false),
            use(10, "detail", "good count (layout A), end marker", "好评数（版式 A）结束标记"),
            use(14, "detail", "good rate (layout B), first marker", "好评率（版式 B）第一个标记"),
            use(15, "detail", "good rate (layout B), second marker", "好评率（版式 B）第二个标记",
                false),
            use(16, "detail", "good rate (layout B), end marker", "好评率（版式 B）结束标记"),
            use(17, "detail", "good count (layout B), first marker", "好评数（版式 B）第一个标记"),
            use(18, "detail", "good count (layout B), second marker", "好评数（版式 B）第二个标记",
                false),
            use(19, "detail", "good count (layout B), end marker", "好评数（版式 B）结束标记"),
            use(24, "detail", "verification, first marker", "认证第一个标记"),
            use(25, "detail", "verification, second marker", "认证第二个标记", false),
            use(26, "detail", "verification, end marker", "认证结束标记"),
            use(27, "detail", "verification text that means Alipay verified",
                "表示支付宝已认证的认证文字"),
            use(28, "detail", "verification text that means phone verified",
                "表示手机已认证的认证文字"),
            use(29, "detail", "good count (layout A), first marker in the browser's text",
                "浏览器文本中好评数（版式 A）第一个标记"),
            use(31, "detail", "good rate (layout B), first marker in the browser's text",
                "浏览器文本中好评率（版式 B）第一个标记"),
            use(32, "detail", "verification, second marker in the browser's text",
                "浏览器文本中认证第二个标记", false),
            use(33, "detail", "verification, end marker in the browser's text",
                "浏览器文本中认证结束标记"),
            use(34, "detail", "ratings-given list number, first marker",
                "给他人评价列表编号第一个标记"),
            use(35, "detail", "ratings-given list number, second marker",
                "给他人评价列表编号第二个标记", false),
            use(36, "detail", "ratings-given list number, end marker",
                "给他人评价列表编号结束标记"),
            use(37, "neutralGiven",
                "neutral-ratings-given page address; {urlno} is the list number",
                "给他人中评页地址；{urlno} 为列表编号"),
            use(38, "neutralGiven", "counted on the neutral-ratings-given page: one per rating",
                "在给他人中评页上计数：每条评价一个"),
            use(39, "badGiven", "bad-ratings-given page address; {urlno} is the list number",
                "给他人差评页地址；{urlno} 为列表编号"),
            use(61, "personal", "area code, first marker", "地区代码第一个标记"),
            use(62, "personal", "area code, second marker", "地区代码第二个标记", false),
            use(63, "personal", "area code, end marker", "地区代码结束标记"),
            use(64, "search", "opens each member entry of the search page",
                "搜索页上每个会员条目的开头"),
            use(65, "search", "user number, start marker (within an entry)",
                "用户编号开始标记（在条目内）"),
            use(66, "search", "user number, end marker", "用户编号结束标记"),
            use(67, "search", "member nick, start marker", "会员昵称开始标记"),
            use(68, "search", "member nick, end marker", "会员昵称结束标记"),
            use(69, "search", "text removed from the nick before it is compared",
                "比较前从昵称中去掉的文字", false),
            use(70, "search", "more text removed from the nick", "从昵称中再去掉的文字", false),
            use(71, "detail", "neutral ratings received, first marker (71 to 73: all or none)",
                "收到的中评第一个标记（71 到 73：全有或全无）", false),
            use(72, "detail", "neutral ratings received, second marker", "收到的中评第二个标记",
                false),
            use(73, "detail", "neutral ratings received, end marker", "收到的中评结束标记", false),
            use(74, "detail", "bad ratings received, first marker (74 to 76: all or none)",
                "收到的差评第一个标记（74 到 76：全有或全无）", false),
            use(75, "detail", "bad ratings received, second marker", "收到的差评第二个标记", false),
            use(76, "detail", "bad ratings received, end marker", "收到的差评结束标记", false),
        };
        for (int i = E::BlockMarkerFirst; i <= E::BlockMarkerLast; ++i)
            list.append(use(i, "",
                            "block marker: a buyer's page holding it is a login or check "
                            "page (may be blank)",
                            "拦截标记：含有它的买家页面是登录或验证页面（可以为空）", false));
        return list;
    }();
    return uses;
}

QString configEntryMeaning(int entry, bool inUserLanguage)
{
    const bool english = !inUserLanguage || englishMessages();
    for (const ConfigEntryUse &u : configEntryUses()) {
        if (u.entry != entry)
            continue;
        if (english)
            return u.page.isEmpty() ? u.use : u.page + QStringLiteral(" page: ") + u.use;
        return u.page.isEmpty() ? u.shownUse : buyerPageTitle(u.page) + u'：' + u.shownUse;
    }
    return english ? QStringLiteral("not read by the program") : QStringLiteral("程序不读取");
}

bool ConfigFile::hasErrors() const
{
    return !parsed || std::any_of(issues.begin(), issues.end(),
                                  [](const ConfigIssue &issue) { return issue.error; });
}

QStringList ConfigFile::issueLines(const QString &file) const
{
    QStringList lines;
    for (const ConfigIssue &issue : issues) {
        QString where = file;
        if (issue.line > 0)
            where += u':' + QString::number(issue.line);
        QString what = issue.error
                           ? inUserLanguage(QStringLiteral("错误："), QStringLiteral("error: "))
                           : inUserLanguage(QStringLiteral("警告："), QStringLiteral("warning: "));
        if (issue.entry >= 0)
            what += inUserLanguage(QStringLiteral("条目 %1："), QStringLiteral("entry %1: "))
                        .arg(issue.entry);
        lines.append(where + inUserLanguage(QStringLiteral("："), QStringLiteral(": ")) + what +
                     (issue.shown.isEmpty() ? issue.message : issue.shown));
    }
    if (moreIssues > 0)
        lines.append(
            file + inUserLanguage(QStringLiteral("："), QStringLiteral(": ")) +
            inUserLanguage(QStringLiteral("……另有 %1 条未列出"), QStringLiteral("… and %1 more"))
                .arg(moreIssues));
    return lines;
}

bool decodeSiteText(const QByteArray &bytes, QString *text, QString *error)
{
    if (bytes.size() > kMaxTextBytes) {
        *error =
            inUserLanguage(QStringLiteral("大于 16 MiB"), QStringLiteral("larger than 16 MiB"));
        return false;
    }
    if (bytes.contains('\0')) {
        *error = inUserLanguage(QStringLiteral("不是文本（含有 NUL 字节）"),
                                QStringLiteral("not text (it holds NUL bytes)"));
        return false;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8.decode(bytes);
    *text = utf8.hasError() ? decode936(bytes) : decoded;
    return true;
}

ConfigFile readConfigFile(const QString &text)
{
    ConfigFile file;
    const QStringView all(text);
    auto lineAt = [&, counted = qsizetype(0), line = 1](qsizetype pos) mutable {
        // Positions only grow, so the lines are counted once.
        for (; counted < pos && counted < all.size(); ++counted) {
            if (all[counted] == u'\n')
                ++line;
        }
        return line;
    };
    // A file of a million bad pairs is named by its first ones, and the rest counted.
    const auto issue = [&file](int line, int entry, const QString &zh, const QString &en,
                               bool error) {
        if (file.issues.size() < ConfigFile::kListedIssues)
            file.issues.append(configIssue(line, entry, zh, en, error));
        else
            ++file.moreIssues;
    };
    qsizetype pos = 0;
    int pairs = 0;
    for (;;) {
        const qsizetype valueEnd = all.indexOf(u'#', pos);
        if (valueEnd < 0) {
            if (!all.mid(pos).trimmed().isEmpty())
                issue(lineAt(pos), -1, QStringLiteral("最后一个条目后的文字没有索引（被忽略）"),
                      QStringLiteral("text after the last entry has no index (it is ignored)"),
                      false);
            break;
        }
        const qsizetype indexEnd = all.indexOf(u'#', valueEnd + 1);
        if (indexEnd < 0) {
            issue(lineAt(valueEnd), -1,
                  QStringLiteral("值后面没有索引（缺少一个“#”；这个值被忽略）"),
                  QStringLiteral("a value with no index after it (a \"#\" is missing; the value "
                                 "is ignored)"),
                  false);
            break;
        }
        const QStringView indexText = all.mid(valueEnd + 1, indexEnd - valueEnd - 1);
        const int line = lineAt(valueEnd);
        bool ok = false;
        // Spaces around an index are allowed, nothing else (as the program reads it).
        const QString trimmed = trimSpaces(indexText);
        const int index = trimmed.size() <= 4 ? trimmed.toInt(&ok) : -1;
        const bool digits = ok && std::all_of(trimmed.begin(), trimmed.end(),
                                              [](QChar c) { return c >= u'0' && c <= u'9'; });
        if (!digits) {
            const QString shown = indexText.left(40)
                                      .toString()
                                      .replace(u'\r', QLatin1String("\\r"))
                                      .replace(u'\n', QLatin1String("\\n"));
            issue(line, -1, QStringLiteral("“#%1#”不是条目索引（这一对被忽略）").arg(shown),
                  QStringLiteral("\"#%1#\" is not an entry index (the pair is ignored)").arg(shown),
                  false);
        } else if (index >= QueryConfig::kSize) {
            issue(line, index,
                  QStringLiteral("索引超出 0 到 %1 的范围（这一对被忽略）")
                      .arg(QueryConfig::kSize - 1),
                  QStringLiteral("index out of range 0 to %1 (the pair is ignored)")
                      .arg(QueryConfig::kSize - 1),
                  false);
        } else {
            ++pairs;
            if (file.line[size_t(index)] != 0 && index != 89)
                issue(line, index,
                      QStringLiteral("重复给出（第一次在第 %1 行）；用后面的值")
                          .arg(file.line[size_t(index)]),
                      QStringLiteral("given again (first on line %1); the later value is used")
                          .arg(file.line[size_t(index)]),
                      false);
            file.line[size_t(index)] = line;
            file.config.setEntry(index, all.mid(pos, valueEnd - pos).toString());
        }
        pos = indexEnd + 1;
    }
    if (pairs == 0) {
        file.issues = {configIssue(
            0, -1, QStringLiteral("不是查询配置：其中没有条目（值#索引#）"),
            QStringLiteral("not a query configuration: no entry (value#index#) in it"), true)};
        file.moreIssues = 0;
        return file;
    }
    file.parsed = true;

    const QueryConfig &c = file.config;
    // The place of an entry for a finding: its line, or the file when it is not given. Only what
    // the program refuses is an error: it takes everything else, and reads nothing from it.
    auto entryIssue = [&](int entry, const QString &zh, const QString &en, bool error = false) {
        file.issues.append(configIssue(file.line[size_t(entry)], entry, zh, en, error));
    };
    if (!isOurConfiguration(text))
        file.issues.append(configIssue(
            0, -1, QStringLiteral("文字中没有 Brelvon：程序只接受含有它的下载配置"),
            QStringLiteral("the text does not name Brelvon: the program takes a downloaded "
                           "configuration only when it does"),
            true));
    for (const ConfigEntryUse &u : configEntryUses()) {
        if (!u.required || !isBlank(c.entry(u.entry)))
            continue;
        if (u.entry == E::SearchAddress) { // without it there is no configuration
            if (file.line[size_t(u.entry)] == 0)
                entryIssue(u.entry, QStringLiteral("缺少；%1要用").arg(u.shownUse),
                           QStringLiteral("missing; needed for the %1").arg(u.use), true);
            else
                entryIssue(u.entry, QStringLiteral("空白；%1要用").arg(u.shownUse),
                           QStringLiteral("blank; needed for the %1").arg(u.use), true);
        } else {
            entryIssue(u.entry, QStringLiteral("为空（%1）：用到它的规则取不到值").arg(u.shownUse),
                       QStringLiteral("left empty (%1): its rule cuts nothing").arg(u.use));
        }
    }
    const std::pair<int, const char *> placeholders[] = {{E::SearchAddress, "{mjna}"},
                                                         {E::DetailAddress, "{xyid}"},
                                                         {E::NeutralGivenAddress, "{urlno}"},
                                                         {E::BadGivenAddress, "{urlno}"}};
    for (const auto &[entry, placeholder] : placeholders) {
        const QString address = c.entry(entry);
        if (!isBlank(address) && !address.contains(QLatin1String(placeholder)))
            entryIssue(entry, QStringLiteral("地址中没有 %1").arg(QLatin1String(placeholder)),
                       QStringLiteral("the address has no %1").arg(QLatin1String(placeholder)));
        else if (!isBlank(address) && !address.contains(QLatin1String("http://")))
            entryIssue(entry, QStringLiteral("不是 http:// 地址"),
                       QStringLiteral("not an http:// address"));
    }
    // The counts received are optional, but a cut needs all three of its markers.
    for (int first : {int(E::NeutralCountFirst), int(E::BadCountFirst)}) {
        const bool any = !isBlank(c.entry(first)) || !isBlank(c.entry(first + 1)) ||
                         !isBlank(c.entry(first + 2));
        for (int i : {first, first + 2}) {
            if (any && isBlank(c.entry(i)))
                entryIssue(i,
                           QStringLiteral("条目 %1 到 %2 已使用，这一条却是空白的")
                               .arg(first)
                               .arg(first + 2),
                           QStringLiteral("blank while entries %1 to %2 are used")
                               .arg(first)
                               .arg(first + 2));
        }
    }
    std::stable_sort(file.issues.begin(), file.issues.end(),
                     [](const ConfigIssue &a, const ConfigIssue &b) { return a.line < b.line; });
    if (file.issues.size() > ConfigFile::kListedIssues) {
        // The first by line, and every error whatever its line.
        const auto errors = std::count_if(file.issues.begin(), file.issues.end(),
                                          [](const ConfigIssue &i) { return i.error; });
        qsizetype warnings = ConfigFile::kListedIssues - errors;
        QList<ConfigIssue> listed;
        for (const ConfigIssue &i : std::as_const(file.issues)) {
            if (i.error || warnings-- > 0)
                listed.append(i);
        }
        file.moreIssues += int(file.issues.size() - listed.size());
        file.issues = listed;
    }
    return file;
}

QString configText(const QueryConfig &config)
{
    QString text = config.entry(90) + QStringLiteral("#90#");
    for (int i = 0; i < QueryConfig::kSize; ++i) {
        if (i == 89 || i == 90 || config.entry(i).isEmpty())
            continue;
        text += QStringLiteral("\r\n#89#") + config.entry(i) + u'#' + QString::number(i) + u'#';
    }
    return text + QStringLiteral("\r\n");
}

bool loadCapture(const QString &folder, LoadedCapture *capture, QString *error)
{
    LoadedCapture c;
    c.folder = folder;
    InputFolder opened;
    if (!readCaptureFolder(folder, &opened, &c.index, error))
        return false;
    c.pages.buyerId = c.index.buyerId;
    // Only the pages a check uses are read, each file once however many pages name it, and kept
    // decoded only (as a fetch decodes a body; the browser's text is UTF-8).
    struct Read
    {
        qint64 bytes;
        QString text;
    };
    QHash<std::pair<QString, bool>, Read> read;
    for (const CapturedPage &page : c.index.pages) {
        const QString &name = page.result.page;
        const bool browser = page.result.browser;
        if (!isBuyerPage(name) ||
            (browser ? c.pages.browserDetail.has_value() : c.pages.pages.contains(name)))
            continue;
        CapturePages::Page kept{page.result, {}};
        if (!page.file.isEmpty()) {
            auto known = read.constFind({page.file, browser});
            if (known == read.constEnd()) {
                QByteArray body;
                if (!readCaptureFile(opened, page.file, page.result.bytes, &body, error))
                    return false;
                known =
                    read.insert({page.file, browser},
                                {body.size(), browser ? QString::fromUtf8(body) : decode936(body)});
            } else if (known->bytes != page.result.bytes) {
                *error = QStringLiteral("%1/%2 holds %3 bytes, capture.json says %4: the file is "
                                        "damaged or was edited")
                             .arg(folder, page.file, QString::number(known->bytes),
                                  QString::number(page.result.bytes));
                return false;
            }
            kept.text = known->text;
        }
        if (browser)
            c.pages.browserDetail = std::move(kept);
        else
            c.pages.pages.insert(name, std::move(kept));
    }
    for (const auto &[file, what] : {std::pair{c.index.configurationFile, "configuration"},
                                     std::pair{c.index.areaTableFile, "area table"}}) {
        if (file.isEmpty())
            continue;
        QByteArray bytes;
        QString text;
        if (!readCaptureFile(opened, file, -1, &bytes, error))
            return false;
        // A download's own file is in code page 936, as the web site serves it; a local file
        // was saved in UTF-8.
        const bool download =
            std::any_of(c.index.pages.begin(), c.index.pages.end(),
                        [&file = file](const CapturedPage &page) { return page.file == file; });
        if (download) {
            text = decode936(bytes);
        } else if (!decodeSiteText(bytes, &text, error)) {
            *error = inUserLanguage(QStringLiteral("%1/%2：%3不能用：%4"),
                                    QStringLiteral("%1/%2: the %3 is %4"))
                         .arg(folder, file,
                              englishMessages()                   ? QLatin1String(what)
                              : file == c.index.configurationFile ? QStringLiteral("查询配置")
                                                                  : QStringLiteral("地区表"),
                              *error);
            return false;
        }
        if (file == c.index.configurationFile)
            c.config = readConfigFile(text);
        else
            c.pages.areaTable = text;
    }
    *capture = std::move(c);
    return true;
}

namespace {

// A marker of a rule: a configuration entry, or (entry -1) a text built into the rule.
struct Marker
{
    int entry;
    QString text;
};

// The page's text where a marker nearly stands: the former marker of the entry when the page
// still holds it, else the longest beginning of the marker the page holds.
QString nearText(QStringView page, qsizetype from, const QString &marker, const QString &former)
{
    const auto around = [&](qsizetype at, qsizetype length) {
        return page.mid(at, qMin<qsizetype>(length + 24, 200)).toString();
    };
    if (!former.isEmpty() && former != marker) {
        const qsizetype at = page.indexOf(former, from);
        if (at >= 0)
            return around(at, former.size());
    }
    for (qsizetype length = qMin<qsizetype>(marker.size() - 1, 200); length >= 2; --length) {
        const qsizetype at = page.indexOf(QStringView(marker).left(length), from);
        if (at >= 0)
            return around(at, marker.size());
    }
    return {};
}

// The trade-card host of a check's settings: never asked, the capture answers.
const QString kReplayHost = QStringLiteral("capture.invalid");

class Checker
{
public:
    Checker(const QueryConfig &config, const QueryConfig &former, const CapturePages &pages)
        : m_config(config), m_former(former), m_pages(pages), m_replay(pages)
    {
    }

    CaptureCheck run(const BuyerCreditRecord &recorded);

private:
    Marker entry(int index) const { return {index, m_config.entry(index)}; }
    // The lookup's fetch of the page (not the browser's read), or null when it was not asked for.
    const PageResult *fetched(const QString &page) const;
    // The page's text as the lookup read it: "" for a page not asked for, failed or blocked.
    QString text(const QString &page) const;
    // Why a page gave no text, as the field's note: blocked, failed (how), or otherwise (zh, en).
    void pageNote(FieldCheck &f, const QString &page, const QString &zh, const QString &en) const;
    // The first marker of a cut (first, second, end; a blank first or second is skipped) that the
    // page lacks, or none.
    std::optional<MarkerMiss> findMiss(const QString &page, const QString &pageText,
                                       const QList<Marker> &markers) const;
    FieldCheck &field(CaptureCheck &check, const char *name) const;

    const QueryConfig &m_config;
    const QueryConfig &m_former;
    const CapturePages &m_pages;
    CaptureReplay m_replay;
    BuyerQueryResult m_result;
};

const PageResult *Checker::fetched(const QString &page) const
{
    for (const PageResult &p : m_result.pages) {
        if (p.page == page && !p.browser)
            return &p;
    }
    return nullptr;
}

QString Checker::text(const QString &page) const
{
    const PageResult *p = fetched(page);
    return p && p->outcome == PageOutcome::Ok ? m_replay.servedText(page) : QString();
}

void Checker::pageNote(FieldCheck &f, const QString &page, const QString &zh,
                       const QString &en) const
{
    const PageResult *p = fetched(page);
    if (!p || p->outcome == PageOutcome::Ok ||
        (p->outcome == PageOutcome::Refused && p->error == kNotInCapture))
        setNote(f, zh, en);
    else if (p->outcome == PageOutcome::Blocked)
        setNote(f, QStringLiteral("%1是拦截页面").arg(buyerPageTitle(page)),
                QStringLiteral("the %1 page is a block page").arg(page));
    else
        setNote(f,
                QStringLiteral("%1没有给出内容：%2")
                    .arg(buyerPageTitle(page), pageOutcomeWord(p->outcome)),
                QStringLiteral("the %1 page gave nothing: %2").arg(page, p->outcomeText()));
}

std::optional<MarkerMiss> Checker::findMiss(const QString &page, const QString &pageText,
                                            const QList<Marker> &markers) const
{
    QStringView rest(pageText);
    qsizetype from = 0;
    for (qsizetype i = 0; i < markers.size(); ++i) {
        const Marker &m = markers.at(i);
        const bool end = i == markers.size() - 1;
        if (isBlank(m.text) && !end)
            continue;
        const qsizetype at = isBlank(m.text) ? -1 : rest.indexOf(m.text);
        if (at < 0) {
            const QString former = m.entry >= 0 ? m_former.entry(m.entry) : QString();
            return MarkerMiss{m.entry, m.text, page,
                              isBlank(m.text) ? QString()
                                              : nearText(pageText, from, m.text, former)};
        }
        from += at + m.text.size();
        rest = rest.mid(at + m.text.size());
    }
    return std::nullopt;
}

FieldCheck &Checker::field(CaptureCheck &check, const char *name) const
{
    for (FieldCheck &f : check.fields) {
        if (f.field == QLatin1String(name))
            return f;
    }
    Q_UNREACHABLE();
}

CaptureCheck Checker::run(const BuyerCreditRecord &recorded)
{
    // The lookup itself, on the capture's pages.
    QuerySetup setup;
    setup.config = m_config;
    setup.areaTable = m_pages.areaTable;
    setup.blockMarkers = builtInBlockMarkers() + configBlockMarkers(m_config);
    QuerySettings settings;
    settings.tradeCardHost = kReplayHost;
    FetchContext context;
    context.replay = &m_replay;
    m_result = queryBuyer(setup, settings, m_pages.buyerId, context,
                          m_pages.browserDetail ? &m_replay : nullptr);
    CaptureCheck check;
    check.record = m_result.record;
    const QString &id = check.record.buyerId;

    // What the lookup read, for saying why a field came out as it did.
    const QString searchText = text(BuyerPage::Search);
    QString detail = text(BuyerPage::Detail);
    DetailSource source = DetailSource::Fetched;
    if (isBlank(detail) &&
        std::any_of(m_result.pages.begin(), m_result.pages.end(), [](const PageResult &p) {
            return p.browser && p.outcome == PageOutcome::Ok;
        })) {
        detail = m_replay.browserText();
        source = DetailSource::Browser;
    }
    const bool detailRead = !isBlank(detail);
    const DetailPageResult facts =
        detailRead ? detailPageRule(detail, source, m_config) : DetailPageResult();
    const QString cardText = text(BuyerPage::NameCard);
    const NameCardResult card = isBlank(cardText) ? NameCardResult() : nameCardRule(cardText);
    const QString personalText = text(BuyerPage::Personal);
    const PersonalPageResult personal =
        isBlank(personalText) ? PersonalPageResult()
                              : personalPageRule(personalText, m_config, m_pages.areaTable);
    const QString popupText = text(BuyerPage::Popup);
    const bool rateFromPopup = !isBlank(popupText) && !popupNameCardRule(popupText).isEmpty();

    // Each field: the entries its rule used, and for an empty or changed value, why.
    const BuyerCreditRecord &r = check.record;
    const std::pair<const char *, std::pair<const QString *, const QString *>> names[] = {
        {"nick", {&r.nick, &recorded.nick}},
        {"regTime", {&r.regTime, &recorded.regTime}},
        {"address", {&r.address, &recorded.address}},
        {"verification", {&r.verification, &recorded.verification}},
        {"goodRate", {&r.goodRate, &recorded.goodRate}},
        {"goodCount", {&r.goodCount, &recorded.goodCount}},
        {"neutralCount", {&r.neutralCount, &recorded.neutralCount}},
        {"badCount", {&r.badCount, &recorded.badCount}},
        {"neutralGiven", {&r.neutralGiven, &recorded.neutralGiven}},
        {"badGiven", {&r.badGiven, &recorded.badGiven}},
        {"creditUrl", {&r.creditUrl, &recorded.creditUrl}}};
    for (const auto &[name, values] : names) {
        FieldCheck f;
        f.field = QLatin1String(name);
        f.value = *values.first;
        f.recorded = *values.second;
        check.fields.append(f);
    }

    const bool layoutA = detailRead && facts.layoutA;
    const bool browser = source == DetailSource::Browser;
    const QList<int> searchEntries = {E::SearchAddress, E::SearchEntryMarker, E::UserNumberStart,
                                      E::UserNumberEnd, E::NickStart,         E::NickEnd,
                                      E::NickRemoved1,  E::NickRemoved2};
    // Why the detail page gave nothing, when it did not: the search page, or the page itself.
    const auto explainDetail = [&](FieldCheck &f) {
        if (fetched(BuyerPage::Detail)) {
            pageNote(f, BuyerPage::Detail, QStringLiteral("抓取内容中没有信用页的文字"),
                     QStringLiteral("the capture holds no text of the detail page"));
            return;
        }
        if (isBlank(searchText)) {
            pageNote(f, BuyerPage::Search, QStringLiteral("抓取内容中没有搜索页"),
                     QStringLiteral("the capture holds no search page"));
            return;
        }
        f.miss = findMiss(
            BuyerPage::Search, searchText,
            {entry(E::SearchEntryMarker), entry(E::UserNumberStart), entry(E::UserNumberEnd)});
        if (!f.miss)
            f.miss =
                findMiss(BuyerPage::Search, searchText,
                         {entry(E::SearchEntryMarker), entry(E::NickStart), entry(E::NickEnd)});
        if (!f.miss)
            setNote(f,
                    QStringLiteral("搜索页上没有昵称为 %1 的条目（条目 67、68、69、70）").arg(id),
                    QStringLiteral("no entry of the search page has the nick %1 (entries 67, 68, "
                                   "69, 70)")
                        .arg(id));
    };
    const auto cutField = [&](const char *name, QList<int> cutEntries, bool needsLayout) {
        FieldCheck &f = field(check, name);
        if (needsLayout)
            f.entries.append(E::LayoutAMarker);
        f.entries += cutEntries;
        if (!f.value.isEmpty() && !f.differs())
            return;
        if (!detailRead)
            return explainDetail(f);
        QList<Marker> markers;
        for (int i : cutEntries)
            markers.append(entry(i));
        f.miss = findMiss(BuyerPage::Detail, detail, markers);
        if (!f.miss && needsLayout && !layoutA && !f.recorded.isEmpty())
            f.miss = findMiss(BuyerPage::Detail, detail, {entry(E::LayoutAMarker)});
    };

    cutField("goodCount",
             layoutA ? QList<int>{browser ? E::GoodCountABrowserFirst : E::GoodCountAFirst,
                                  E::GoodCountASecond, E::GoodCountAEnd}
                     : QList<int>{E::GoodCountBFirst, E::GoodCountBSecond, E::GoodCountBEnd},
             true);
    cutField("verification",
             browser ? QList<int>{E::VerificationFirst, E::VerificationBrowserSecond,
                                  E::VerificationBrowserEnd}
                     : QList<int>{E::VerificationFirst, E::VerificationSecond, E::VerificationEnd},
             false);
    {
        FieldCheck &f = field(check, "verification");
        f.entries += {E::AlipayVerifiedMarker, E::PhoneVerifiedMarker};
        if (f.differs() && !f.miss && detailRead)
            setNote(f, QStringLiteral("认证文字不再像以前那样含有条目 27 或 28"),
                    QStringLiteral("the verification text holds neither entry 27 nor 28 as "
                                   "before"));
    }
    cutField("neutralCount", {E::NeutralCountFirst, E::NeutralCountSecond, E::NeutralCountEnd},
             false);
    cutField("badCount", {E::BadCountFirst, E::BadCountSecond, E::BadCountEnd}, false);
    if (rateFromPopup) {
        FieldCheck &f = field(check, "goodRate");
        setNote(f, QStringLiteral("取自弹出名片页"), QStringLiteral("from the popup name card"));
    } else {
        cutField("goodRate",
                 layoutA ? QList<int>{E::LayoutAMarker, E::GoodRateASecond, E::GoodRateAEnd}
                         : QList<int>{browser ? E::GoodRateBBrowserFirst : E::GoodRateBFirst,
                                      E::GoodRateBSecond, E::GoodRateBEnd},
                 true);
    }
    for (const auto &[name, page, address, marker] :
         {std::tuple{"neutralGiven", BuyerPage::NeutralGiven, int(E::NeutralGivenAddress),
                     entry(E::NeutralGivenMarker)},
          std::tuple{"badGiven", BuyerPage::BadGiven, int(E::BadGivenAddress),
                     Marker{-1, kBadRatingsGivenMarker}}}) {
        FieldCheck &f = field(check, name);
        f.entries = {E::RatingListFirst, E::RatingListSecond, E::RatingListEnd, address};
        if (marker.entry >= 0)
            f.entries.append(marker.entry);
        if (!f.value.isEmpty() && !f.differs())
            continue;
        if (!detailRead) {
            explainDetail(f);
            continue;
        }
        if (facts.ratingListNumber.isEmpty()) {
            f.miss = findMiss(
                BuyerPage::Detail, detail,
                {entry(E::RatingListFirst), entry(E::RatingListSecond), entry(E::RatingListEnd)});
            if (f.miss)
                continue;
        }
        if (f.value == QLatin1String("0") && !isBlank(text(page)))
            f.miss = findMiss(page, text(page), {marker});
        else if (isBlank(text(page)))
            pageNote(f, page, QStringLiteral("抓取内容中没有%1").arg(buyerPageTitle(page)),
                     QStringLiteral("the capture holds no %1 page").arg(page));
    }
    {
        FieldCheck &f = field(check, "creditUrl");
        f.entries = searchEntries + QList<int>{E::DetailAddress};
        if (f.value.isEmpty())
            explainDetail(f);
        else if (f.differs())
            setNote(f, QStringLiteral("条目 4（信用页地址）或用户编号不同"),
                    QStringLiteral("entry 4 (the detail address) or the user number differs"));
    }
    // The name card's and personal page's own markers are built into their rules.
    {
        FieldCheck &f = field(check, "regTime");
        if (f.value.isEmpty() || f.differs()) {
            if (isBlank(cardText))
                pageNote(f, BuyerPage::NameCard, QStringLiteral("抓取内容中没有名片页"),
                         QStringLiteral("the capture holds no name card"));
            else
                f.miss = findMiss(BuyerPage::NameCard, cardText,
                                  {{-1, QStringLiteral("注册时间")},
                                   {-1, QStringLiteral("：")},
                                   {-1, QStringLiteral("<")}});
        }
    }
    {
        FieldCheck &f = field(check, "nick");
        if (f.value.isEmpty() || f.differs()) {
            if (isBlank(cardText) || !card.personalUrl.startsWith(QLatin1String("http://")))
                setNote(f, QStringLiteral("名片页没有链接个人空间页"),
                        QStringLiteral("the name card links no personal page"));
            else if (isBlank(personalText))
                pageNote(f, BuyerPage::Personal, QStringLiteral("抓取内容中没有个人空间页"),
                         QStringLiteral("the capture holds no personal page"));
            else
                f.miss = findMiss(BuyerPage::Personal, personalText,
                                  {{-1, QStringLiteral("nick")},
                                   {-1, QStringLiteral(">")},
                                   {-1, QStringLiteral("<")}});
        }
    }
    {
        FieldCheck &f = field(check, "address");
        f.entries = {E::AreaCodeFirst, E::AreaCodeSecond, E::AreaCodeEnd};
        if ((f.value.isEmpty() || f.differs()) && !isBlank(personalText) &&
            isBlank(personal.areaName)) {
            f.miss = findMiss(
                BuyerPage::Personal, personalText,
                {entry(E::AreaCodeFirst), entry(E::AreaCodeSecond), entry(E::AreaCodeEnd)});
            if (!f.miss)
                setNote(f, QStringLiteral("地区代码不在地区表中；用的是名片页上的地址"),
                        QStringLiteral("the area code is not in the area table; the name card's "
                                       "address is used"));
        }
    }
    return check;
}

} // namespace

bool CaptureCheck::differs() const
{
    return std::any_of(fields.begin(), fields.end(),
                       [](const FieldCheck &f) { return f.differs(); });
}

CaptureCheck checkCapture(const QueryConfig &config, const QueryConfig &former,
                          const CapturePages &pages, const BuyerCreditRecord &recorded)
{
    return Checker(config, former, pages).run(recorded);
}

void UnmatchedEntries::add(const CaptureCheck &check)
{
    for (const FieldCheck &f : check.fields) {
        if (!f.value.isEmpty())
            m_found.unite(QSet<int>(f.entries.begin(), f.entries.end()));
        if (f.miss && f.miss->entry >= 0)
            m_missed.insert(f.miss->entry);
    }
}

QList<ConfigIssue> UnmatchedEntries::issues(const ConfigFile &config) const
{
    QList<int> entries(m_missed.begin(), m_missed.end());
    std::sort(entries.begin(), entries.end());
    QList<ConfigIssue> issues;
    for (int entry : entries) {
        if (!m_found.contains(entry))
            issues.append(configIssue(
                config.line[size_t(entry)], entry,
                QStringLiteral("所给的抓取中都找不到它（%1）").arg(configEntryMeaning(entry)),
                QStringLiteral("found on none of the captures given (%1)")
                    .arg(configEntryMeaning(entry, false)),
                false));
    }
    return issues;
}

QList<ConfigChange> diffConfigFiles(const ConfigFile &before, const ConfigFile &after)
{
    QList<ConfigChange> changes;
    for (int i = 0; i < QueryConfig::kSize; ++i) {
        const bool was = before.line[size_t(i)] != 0;
        const bool is = after.line[size_t(i)] != 0;
        const QString a = before.config.entry(i);
        const QString b = after.config.entry(i);
        if (was && !is)
            changes.append({i, ConfigChange::Kind::Removed, a, {}});
        else if (!was && is)
            changes.append({i, ConfigChange::Kind::Added, {}, b});
        else if (was && a != b)
            changes.append({i, ConfigChange::Kind::Changed, a, b});
    }
    return changes;
}
