#include "files/querysettings.h"

#include "files/orderfile.h"
#include "model/defaultfolders.h"
#include "model/ownerfolders.h"
#include "model/uilanguage.h"
#include "web/texthelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

// The Chinese template (settingstemplate.cpp).
extern const char kSettingsTemplateChinese[];

const HostKey kHostKeys[3] = {{"hosts/main", &QuerySettings::mainHost},
                              {"hosts/second", &QuerySettings::secondHost},
                              {"hosts/tradecard", &QuerySettings::tradeCardHost}};

namespace {

const QString kDemoNameCardLogin = QStringLiteral("cntaobaobrelvon_viewer");
const QString kDemoPopupLogin = QStringLiteral("cntaobaobrelvon_popup");

// What a value should be, as the settings' problems say it: "a number from 1 to 8" in English,
// "1 到 8 之间的数" in Chinese.
QString expectedText(const char *expected)
{
    const QString en = QLatin1String(expected);
    if (englishMessages())
        return en;
    static const QRegularExpression range(QStringLiteral(
        "^a (number|percentage)(?: of (milliseconds|seconds|minutes|days|MiB))? from (-?\\d+) to "
        "(-?\\d+)$"));
    const QRegularExpressionMatch m = range.match(en);
    if (m.hasMatch()) {
        const QString unit =
            m.captured(2) == QLatin1String("milliseconds") ? QStringLiteral("毫秒数")
            : m.captured(2) == QLatin1String("seconds")    ? QStringLiteral("秒数")
            : m.captured(2) == QLatin1String("minutes")    ? QStringLiteral("分钟数")
            : m.captured(2) == QLatin1String("days")       ? QStringLiteral("天数")
            : m.captured(2) == QLatin1String("MiB")        ? QStringLiteral("MiB 数")
            : m.captured(1) == QLatin1String("percentage") ? QStringLiteral("百分数")
                                                           : QStringLiteral("数");
        return QStringLiteral(" %1 到 %2 之间的%3").arg(m.captured(3), m.captured(4), unit);
    }
    if (en == QLatin1String("true or false"))
        return QStringLiteral(" true 或 false");
    // A list of words: "gbk, utf-8 or auto".
    QString zh = en;
    return u' ' + zh.replace(QLatin1String(", "), QStringLiteral("、"))
                      .replace(QLatin1String(" or "), QStringLiteral(" 或 "));
}

const char kTemplate[] =
    "; Brelvon settings: where a buyer query goes.\n"
    ";\n"
    "; Hosts are written as host or host:port, without \"http://\" and without a path.\n"
    "; Fill in at least one host, then run the query again.\n"
    "; (brelvon-cli query --demo ID runs against the bundled demo site without any settings.)\n"
    "\n"
    "[hosts]\n"
    "; our web site: query configuration, area table and start-up list\n"
    "main=\n"
    "; the fallback host of our web site\n"
    "second=\n"
    "; the trade-card service (name card and popup name card pages)\n"
    "tradecard=\n"
    "\n"
    "[viewer]\n"
    "; the viewer login ids sent with the two trade-card pages: \"cntaobao\" + an account name\n"
    "nameCardLogin=cntaobaobrelvon_viewer\n"
    "popupLogin=cntaobaobrelvon_popup\n"
    "\n"
    "[network]\n"
    "; how every request reaches the network, the embedded browser's included:\n"
    ";   empty: directly, whatever the environment's proxy variables say\n"
    ";   system: the environment's http_proxy, https_proxy and no_proxy (or upper-case)\n"
    ";   http://[user:password@]host:port or socks5://host:port: this proxy (it resolves the\n"
    ";   marketplace's names; the bundled demo site on this machine is always reached directly)\n"
    "proxy=\n"
    "\n"
    "[batch]\n"
    "; buyers looked up at once by a batch, 1 to 8 (1: one after another)\n"
    "jobs=1\n"
    "; the least gap in milliseconds between two requests to one host, for sites that throttle\n"
    "paceMs=0\n"
    "; seconds a batch pauses when the marketplace blocks a page (its login or check page, HTTP\n"
    "; 429 or 503), doubling for each block in a row up to 30 minutes; 1 to 3600\n"
    "blockedPauseSec=60\n"
    "; hours the pace learnt from the marketplace's blocks is kept for the next batch, also by\n"
    "; the next run of the program (0: forgotten when the program ends); 0 to 720\n"
    "paceMemoryHours=24\n"
    "; minutes within which a buyer found (or not found) before is taken from the history\n"
    "; instead of being looked up again (0: always look up)\n"
    "reuseWithinMinutes=0\n"
    "; minutes of pauses in a row after which a batch gives up on a marketplace that keeps\n"
    "; blocking: the ids not read yet are left \"未查询\"; 0.05 to 1440\n"
    "giveUpAfterMinutes=30\n"
    "; the id file's encoding: gbk, utf-8, or auto (UTF-8 when the bytes are valid UTF-8)\n"
    "idFileEncoding=auto\n"
    "; true: the table gets credit score, credit level, risk, its reasons and the pages' outcomes\n"
    "; after its twelve columns\n"
    "extraColumns=false\n"
    "; the most ids (buyers of an order file) a batch looks up, 1 to 2000; the rest are counted\n"
    "maxIds=101\n"
    "; an order file's buyer column (empty: 买家会员名, 买家昵称, buyer or buyerId)\n"
    "buyerColumn=\n"
    "; the table's rows: file (as in the file) or risk (高 first, then 未知, 中, 低)\n"
    "sort=file\n"
    "\n"
    "[query]\n"
    "; true: a buyer's pages are fetched in three chains at once (the same result, sooner)\n"
    "parallelPages=false\n"
    "; texts that mark a page as the marketplace's login, check or access-denied page,\n"
    "; \"|\" between them (such a page is not read; a marker counts only on a page that lacks\n"
    "; the markers of the page's own rule)\n"
    "blockMarkers=@BLOCKMARKERS@\n"
    "; while our web site gives no query configuration, the last one it gave is used, unless\n"
    "; it is older than this many days\n"
    "maxConfigAgeDays=30\n"
    "; seconds a lookup may take at most, whatever its hosts do (5 to 600); a host that did\n"
    "; not answer is not waited on again in the same lookup\n"
    "lookupTimeoutSec=30\n"
    "\n"
    "[risk]\n"
    "; each of these is a reason in the risk verdict (0 turns the first three off):\n"
    "; registered fewer than this many days ago\n"
    "newAccountDays=90\n"
    "; good rate below this percentage\n"
    "minGoodRate=97\n"
    "; this many bad ratings given to others, or more\n"
    "badGivenAtLeast=3\n"
    "; credit score (good minus bad ratings received) below this\n"
    "minCreditScore=4\n"
    "; no verification (true or false)\n"
    "requireVerification=true\n"
    "; this many reasons make the verdict high (高); one makes it medium (中), none low (低);\n"
    "; a blocked page or a missing figure makes it unknown (未知) unless it is high\n"
    "highAtReasons=2\n"
    "\n"
    "[browser]\n"
    "; the embedded browser's page may use this many MiB; a page that grows past it is stopped\n"
    "maxMemoryMB=512\n"
    "\n"
    "[storage]\n"
    "; the lookup history, notes and blacklist (empty: ~/.local/share/Brelvon/brelvon.sqlite)\n"
    "database=\n"
    "; false: lookups are not recorded (notes and the blacklist still apply)\n"
    "history=true\n"
    "\n"
    "[window]\n"
    "; true: an id copied elsewhere is put in the window's box and looked up (its 监视剪贴板)\n"
    "watchClipboard=false\n"
    "; true: closing the window keeps Brelvon in the tray, where the desktop has one\n"
    "closeToTray=false\n"
    "; true: start hidden in the tray at login. Linux: an XDG autostart entry,\n"
    "; ~/.config/autostart/brelvon.desktop; Windows: the value Brelvon under\n"
    "; HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\n"
    "startAtLogin=false\n"
    "\n"
    "[watch]\n"
    "; a folder watched for order exports (.csv, .xlsx), e.g. ~/Downloads (empty: none)\n"
    "folder=\n"
    "; where the tables go (empty: beside each export)\n"
    "outputFolder=\n"
    "; true: a checked export moves into the folder's done/\n"
    "archive=true\n"
    "; true: desktop notifications of checked files, 高 buyers and page rules gone stale\n"
    "notify=true\n";

// A value as text; a list (the INI reader splits values at commas) is joined back.
QString readText(const QSettings &ini, const QString &key)
{
    const QVariant v = ini.value(key);
    if (v.metaType().id() == QMetaType::QStringList)
        return v.toStringList().join(u',').trimmed();
    return v.toString().trimmed();
}

} // namespace

bool isHostPort(const QString &text)
{
    const qsizetype colon = text.lastIndexOf(u':');
    const QString host = colon < 0 ? text : text.left(colon);
    if (host.isEmpty())
        return false;
    for (QChar c : host) {
        if (!(c.isLetterOrNumber() || c == u'.' || c == u'-' || c == u'_'))
            return false;
    }
    if (colon < 0)
        return true;
    // Digits only: toInt() would take " 80" too, and every request would then fail.
    const QStringView digits = QStringView(text).mid(colon + 1);
    if (digits.isEmpty() || digits.size() > 5)
        return false;
    int port = 0;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return false;
        port = port * 10 + (c.unicode() - u'0');
    }
    return port > 0 && port <= 65535;
}

QString defaultSettingsPath()
{
    return defaultConfigFolder() + QLatin1String("/brelvon.conf");
}

bool loadQuerySettings(const QString &path, QuerySettings *settings, QString *error,
                       QStringList *problems)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = inUserLanguage(QStringLiteral("设置文件 %1 不存在"),
                                QStringLiteral("settings file %1 does not exist"))
                     .arg(QDir::toNativeSeparators(path));
        return false;
    }
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        *error = inUserLanguage(QStringLiteral("无法读取设置文件 %1"),
                                QStringLiteral("cannot read the settings file %1"))
                     .arg(QDir::toNativeSeparators(path));
        return false;
    }
    file.close();

    QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) {
        *error = inUserLanguage(QStringLiteral("设置文件 %1 不是有效的 INI 文件"),
                                QStringLiteral("settings file %1 is not a valid INI file"))
                     .arg(QDir::toNativeSeparators(path));
        return false;
    }

    QuerySettings s;
    for (const HostKey &h : kHostKeys) {
        QString *value = &(s.*h.host);
        *value = readText(ini, QLatin1String(h.key));
        if (!value->isEmpty() && !isHostPort(*value)) {
            *error = inUserLanguage(
                         QStringLiteral("设置文件 %1：[hosts] %2=%3 不是“主机”或“主机:端口”"),
                         QStringLiteral("settings file %1: [hosts] %2=%3 is not host or host:port"))
                         .arg(QDir::toNativeSeparators(path), QLatin1String(h.key + 6), *value);
            return false;
        }
    }
    if (s.mainHost.isEmpty() && s.secondHost.isEmpty() && s.tradeCardHost.isEmpty()) {
        *error =
            inUserLanguage(
                QStringLiteral(
                    "设置文件 %1 没有填写服务器：请在 [hosts] 下填入 main、second 和 tradecard"),
                QStringLiteral("settings file %1 names no host: fill in main, second and tradecard "
                               "under [hosts]"))
                .arg(QDir::toNativeSeparators(path));
        return false;
    }
    // A proxy that cannot be used must not quietly become a direct connection.
    const QString proxy = readText(ini, QStringLiteral("network/proxy"));
    QString badVariable;
    if (!NetworkSettings::fromProxyText(proxy, &s.network, &badVariable)) {
        *error =
            badVariable.isEmpty()
                ? inUserLanguage(QStringLiteral("设置文件 %1：[network] proxy=%2 不是空、"
                                                "system、http://[用户名:密码@]主机:端口 "
                                                "或 socks5://主机:端口"),
                                 QStringLiteral("settings file %1: [network] proxy=%2 is not "
                                                "empty, system, "
                                                "http://[user:password@]host:port or "
                                                "socks5://host:port"))
                      .arg(path, proxy)
                : inUserLanguage(QStringLiteral("设置文件 %1：[network] proxy=system，但环境变量 "
                                                "%2=%3 不是代理地址（http://主机:端口 或 "
                                                "socks5://主机:端口）"),
                                 QStringLiteral("settings file %1: [network] proxy=system, but "
                                                "the environment's %2=%3 is not a proxy "
                                                "address (http://host:port or "
                                                "socks5://host:port)"))
                      .arg(path, badVariable,
                           qEnvironmentVariable(badVariable.toLatin1().constData()));
        return false;
    }
    // The viewer logins have working defaults: the trade-card pages only need some viewer.
    s.nameCardLogin = readText(ini, QStringLiteral("viewer/nameCardLogin"));
    if (s.nameCardLogin.isEmpty())
        s.nameCardLogin = kDemoNameCardLogin;
    s.popupLogin = readText(ini, QStringLiteral("viewer/popupLogin"));
    if (s.popupLogin.isEmpty())
        s.popupLogin = kDemoPopupLogin;

    // How queries run: a bad value keeps the default and is reported.
    const auto problem = [&](const char *key, const QString &value, const char *expected) {
        if (problems)
            problems->append(
                inUserLanguage(QStringLiteral("设置文件 %1：[%2] %3=%4 不是%5，改用默认值"),
                               QStringLiteral("settings file %1: [%2] %3=%4 is not %5; using the "
                                              "default"))
                    .arg(QDir::toNativeSeparators(path),
                         QString::fromLatin1(key).section(u'/', 0, 0),
                         QString::fromLatin1(key).section(u'/', 1), value, expectedText(expected)));
    };
    const auto readInt = [&](const char *key, int low, int high, int *out, const char *expected) {
        const QString value = readText(ini, QLatin1String(key));
        if (value.isEmpty())
            return;
        bool ok = false;
        const int n = value.toInt(&ok);
        if (ok && n >= low && n <= high)
            *out = n;
        else
            problem(key, value, expected);
    };
    const auto readBool = [&](const char *key, bool *out) {
        const QString value = readText(ini, QLatin1String(key)).toLower();
        if (value == QLatin1String("true") || value == QLatin1String("1"))
            *out = true;
        else if (value == QLatin1String("false") || value == QLatin1String("0"))
            *out = false;
        else if (!value.isEmpty())
            problem(key, value, "true or false");
    };
    readInt("batch/jobs", 1, 8, &s.batchJobs, "a number from 1 to 8");
    readInt("batch/paceMs", 0, 600000, &s.batchPaceMs, "a number of milliseconds from 0 to 600000");
    const QString encoding = readText(ini, QStringLiteral("batch/idFileEncoding"));
    if (!encoding.isEmpty()) {
        if (const auto e = parseIdFileEncoding(encoding))
            s.idFileEncoding = *e;
        else
            problem("batch/idFileEncoding", encoding, "gbk, utf-8 or auto");
    }
    readBool("batch/extraColumns", &s.extraColumns);
    readBool("query/parallelPages", &s.parallelPages);
    // Present, even empty, the list replaces the built-in markers; the template lists them.
    if (ini.contains(QStringLiteral("query/blockMarkers")))
        s.blockMarkers = splitBlockMarkers(readText(ini, QStringLiteral("query/blockMarkers")));

    RiskSettings &risk = s.risk;
    readInt("risk/newAccountDays", 0, 36500, &risk.newAccountDays,
            "a number of days from 0 to 36500");
    const QString rate = readText(ini, QStringLiteral("risk/minGoodRate"));
    if (!rate.isEmpty()) {
        bool ok = false;
        const double value = rate.toDouble(&ok);
        if (ok && value >= 0 && value <= 100)
            risk.minGoodRate = value;
        else
            problem("risk/minGoodRate", rate, "a percentage from 0 to 100");
    }
    readInt("risk/badGivenAtLeast", 0, 1000000, &risk.badGivenAtLeast,
            "a number from 0 to 1000000");
    readInt("risk/minCreditScore", -1000000000, 1000000000, &risk.minCreditScore,
            "a number from -1000000000 to 1000000000");
    readBool("risk/requireVerification", &risk.requireVerification);
    readInt("risk/highAtReasons", 1, 6, &risk.highAtReasons, "a number from 1 to 6");
    readInt("query/maxConfigAgeDays", 1, 3650, &s.maxConfigAgeDays,
            "a number of days from 1 to 3650");
    readInt("query/lookupTimeoutSec", 5, 600, &s.lookupTimeoutSec,
            "a number of seconds from 5 to 600");
    readInt("batch/blockedPauseSec", 1, 3600, &s.blockedPauseSec,
            "a number of seconds from 1 to 3600");
    readInt("batch/paceMemoryHours", 0, 720, &s.paceMemoryHours, "a number of hours from 0 to 720");
    readInt("batch/reuseWithinMinutes", 0, 10080, &s.reuseWithinMinutes,
            "a number of minutes from 0 to 10080");
    if (const QString value = readText(ini, QStringLiteral("batch/giveUpAfterMinutes"));
        !value.isEmpty()) {
        bool ok = false;
        const double minutes = value.toDouble(&ok);
        if (ok && minutes >= 0.05 && minutes <= 1440)
            s.giveUpAfterMinutes = minutes;
        else
            problem("batch/giveUpAfterMinutes", value, "a number of minutes from 0.05 to 1440");
    }
    readInt("browser/maxMemoryMB", 64, 65536, &s.browserMaxMemoryMB,
            "a number of MiB from 64 to 65536");
    readBool("window/watchClipboard", &s.watchClipboard);
    readBool("window/closeToTray", &s.closeToTray);
    readBool("window/startAtLogin", &s.startAtLogin);
    // Folders as written, "~/" for the home folder; relative ones from the settings file's.
    const auto readFolder = [&](const char *key, QString *out) {
        QString value = readText(ini, QLatin1String(key));
        if (value.isEmpty())
            return;
        if (value == QLatin1String("~") || value.startsWith(QLatin1String("~/")))
            value = QDir::homePath() + value.mid(1);
        *out = QDir(QFileInfo(path).absolutePath()).absoluteFilePath(value);
    };
    readFolder("watch/folder", &s.watchFolder);
    readFolder("watch/outputFolder", &s.watchOutputFolder);
    readBool("watch/archive", &s.watchArchive);
    readBool("watch/notify", &s.watchNotify);

    readInt("batch/maxIds", 1, kMaxBatchIdsLimit, &s.batchMaxIds, "a number from 1 to 2000");
    s.buyerColumn = readText(ini, QStringLiteral("batch/buyerColumn"));
    const QString sort = readText(ini, QStringLiteral("batch/sort")).toLower();
    if (sort == QLatin1String("risk"))
        s.sortByRisk = true;
    else if (!sort.isEmpty() && sort != QLatin1String("file"))
        problem("batch/sort", sort, "file or risk");

    *settings = s;
    return true;
}

bool writeSettingsTemplate(const QString &path, QString *error)
{
    if (QFileInfo::exists(path)) {
        *error = QStringLiteral("%1 already exists; it was left as it is")
                     .arg(QDir::toNativeSeparators(path));
        return false;
    }
    const QString dir = QFileInfo(path).absolutePath();
    QString reason;
    if (!makeMissingFolders(dir, &reason)) {
        *error = inUserLanguage(QStringLiteral("无法创建文件夹 %1"),
                                QStringLiteral("cannot create the folder %1"))
                     .arg(QDir::toNativeSeparators(dir));
        return false;
    }
    const QByteArray text = settingsTemplateText().toUtf8();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(text) != text.size() ||
        !file.flush()) {
        *error =
            inUserLanguage(QStringLiteral("无法写入 %1：%2"), QStringLiteral("cannot write %1: %2"))
                .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}

QString settingsTemplateText()
{
    // The comments speak the user's language: Chinese, English for an English locale.
    const QByteArray lang =
        qgetenv("LC_ALL").isEmpty()
            ? (qgetenv("LC_MESSAGES").isEmpty() ? qgetenv("LANG") : qgetenv("LC_MESSAGES"))
            : qgetenv("LC_ALL");
    const char *text = lang.startsWith("en") ? kTemplate : kSettingsTemplateChinese;
    return QString::fromUtf8(text).replace(QLatin1String("@BLOCKMARKERS@"),
                                           builtInBlockMarkers().join(u'|'));
}

QuerySettings demoSettings(const QString &hostPort)
{
    QuerySettings s;
    s.mainHost = s.secondHost = s.tradeCardHost = hostPort;
    s.nameCardLogin = kDemoNameCardLogin;
    s.popupLogin = kDemoPopupLogin;
    return s;
}

const QStringList &builtInBlockMarkers()
{
    static const QStringList markers = {QStringLiteral("请登录"), QStringLiteral("滑块"),
                                        QStringLiteral("验证码"), QStringLiteral("访问被拒绝"),
                                        QStringLiteral("Access Denied")};
    return markers;
}

QStringList splitBlockMarkers(const QString &text)
{
    QStringList markers;
    for (const QString &piece : text.split(u'|')) {
        const QString marker = piece.trimmed();
        if (!marker.isEmpty())
            markers.append(marker);
    }
    return markers;
}

QString siteAddress(const QString &host, const char *path)
{
    if (isBlank(host))
        return {};
    return QStringLiteral("http://") + trimSpaces(host) + QLatin1String(path);
}
