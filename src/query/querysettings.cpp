#include "querysettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {

const QString kDemoNameCardLogin = QStringLiteral("cntaobaobrelvon_viewer");
const QString kDemoPopupLogin = QStringLiteral("cntaobaobrelvon_popup");

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
    "[batch]\n"
    "; buyers looked up at once by a batch, 1 to 8 (1: one after another)\n"
    "jobs=1\n"
    "; the least gap in milliseconds between two requests to one host, for sites that throttle\n"
    "paceMs=0\n"
    "\n"
    "[query]\n"
    "; true: a buyer's pages are fetched in three chains at once (the same result, sooner)\n"
    "parallelPages=false\n"
    "\n"
    "[storage]\n"
    "; the lookup history, notes and blacklist (empty: ~/.local/share/Brelvon/brelvon.sqlite)\n"
    "database=\n"
    "; false: lookups are not recorded (notes and the blacklist still apply)\n"
    "history=true\n";

// A value as text; a list (the INI reader splits values at commas) is joined back.
QString readText(const QSettings &ini, const QString &key)
{
    const QVariant v = ini.value(key);
    if (v.metaType().id() == QMetaType::QStringList)
        return v.toStringList().join(u',').trimmed();
    return v.toString().trimmed();
}

// host or host:port, where host is a name or an IPv4 address and port a number up to 65535.
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
    bool ok = false;
    const int port = text.mid(colon + 1).toInt(&ok);
    return ok && port > 0 && port <= 65535 && !text.mid(colon + 1).startsWith(u'+');
}

} // namespace

QString defaultSettingsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1String("/Brelvon/brelvon.conf");
}

bool loadQuerySettings(const QString &path, QuerySettings *settings, QString *error,
                       QStringList *problems)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("settings file %1 does not exist").arg(path);
        return false;
    }
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the settings file %1").arg(path);
        return false;
    }
    file.close();

    QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) {
        *error = QStringLiteral("settings file %1 is not a valid INI file").arg(path);
        return false;
    }

    QuerySettings s;
    const struct
    {
        const char *key;
        QString *value;
    } hosts[] = {{"hosts/main", &s.mainHost},
                 {"hosts/second", &s.secondHost},
                 {"hosts/tradecard", &s.tradeCardHost}};
    for (const auto &h : hosts) {
        *h.value = readText(ini, QLatin1String(h.key));
        if (!h.value->isEmpty() && !isHostPort(*h.value)) {
            *error = QStringLiteral("settings file %1: [hosts] %2=%3 is not host or host:port")
                         .arg(path, QLatin1String(h.key + 6), *h.value);
            return false;
        }
    }
    if (s.mainHost.isEmpty() && s.secondHost.isEmpty() && s.tradeCardHost.isEmpty()) {
        *error = QStringLiteral("settings file %1 names no host: fill in main, second and "
                                "tradecard under [hosts]")
                     .arg(path);
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
                QStringLiteral("settings file %1: [%2] %3=%4 is not %5; using the default")
                    .arg(path, QString::fromLatin1(key).section(u'/', 0, 0),
                         QString::fromLatin1(key).section(u'/', 1), value, QLatin1String(expected)));
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
    readInt("batch/jobs", 1, 8, &s.batchJobs, "a number from 1 to 8");
    readInt("batch/paceMs", 0, 600000, &s.batchPaceMs, "a number of milliseconds from 0 to 600000");
    const QString parallel = readText(ini, QStringLiteral("query/parallelPages")).toLower();
    if (parallel == QLatin1String("true") || parallel == QLatin1String("1"))
        s.parallelPages = true;
    else if (!parallel.isEmpty() && parallel != QLatin1String("false") && parallel != QLatin1String("0"))
        problem("query/parallelPages", parallel, "true or false");

    *settings = s;
    return true;
}

bool writeSettingsTemplate(const QString &path, QString *error)
{
    if (QFileInfo::exists(path)) {
        *error = QStringLiteral("%1 already exists; it was left as it is").arg(path);
        return false;
    }
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot create the folder %1").arg(dir);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        file.write(kTemplate, qint64(sizeof kTemplate - 1)) != qint64(sizeof kTemplate - 1) ||
        !file.flush()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

QuerySettings demoSettings(const QString &hostPort)
{
    QuerySettings s;
    s.mainHost = s.secondHost = s.tradeCardHost = hostPort;
    s.nameCardLogin = kDemoNameCardLogin;
    s.popupLogin = kDemoPopupLogin;
    return s;
}
