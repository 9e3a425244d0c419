#pragma once

#include "files/idfile.h"
#include "model/riskverdict.h"
#include "web/networksettings.h"

#include <QString>
#include <QStringList>

// The markers every query knows: the login page ("请登录"), the slider check ("滑块"), the captcha
// ("验证码") and the access-denied page.
const QStringList &builtInBlockMarkers();

// "a|b|c" as written in the settings: the pieces with surrounding blanks removed, empty ones
// dropped.
QStringList splitBlockMarkers(const QString &text);

// Where a query goes: our two web hosts, the trade-card service host, and the viewer login ids
// of the two trade-card pages. Hosts are "host" or "host:port"; an address is "http://" + host +
// path.
struct QuerySettings
{
    QString mainHost;           // [hosts] main
    QString secondHost;         // [hosts] second
    QString tradeCardHost;      // [hosts] tradecard
    QString nameCardLogin;      // [viewer] nameCardLogin
    QString popupLogin;         // [viewer] popupLogin
    int batchJobs = 1;          // [batch] jobs: buyers in flight at once, 1 to 8
    int batchPaceMs = 0;        // [batch] paceMs: least gap between two request starts to one host
    bool parallelPages = false; // [query] parallelPages: a buyer's page chains at once
    IdFileEncoding idFileEncoding = IdFileEncoding::Auto; // [batch] idFileEncoding
    // [query] blockMarkers, "|" between markers: texts that make a buyer's page a block page (the
    // configuration may add its own). Without the key, the built-in ones.
    QStringList blockMarkers = builtInBlockMarkers();
    bool extraColumns = false; // [batch] extraColumns: credit and risk columns after column 12
    RiskSettings risk = {};    // [risk]
    // [browser] maxMemoryMB: the embedded browser's page process may grow to this many MiB
    // before its page is stopped (64 to 65536).
    int browserMaxMemoryMB = 512;
    // [query] maxConfigAgeDays: a stored copy of the query configuration older than this many
    // days is not used when our site gives none (1 to 3650).
    int maxConfigAgeDays = 30;
    // [query] lookupTimeoutSec: a lookup ends by then whatever its hosts do (5 to 600).
    int lookupTimeoutSec = 30;
    // [batch] blockedPauseSec: a batch pauses this long after a blocked page, doubling for each
    // block in a row (1 to 3600).
    int blockedPauseSec = 60;
    // [batch] paceMemoryHours: how long the pace learnt from the marketplace's blocks is kept for
    // the next batch (0: not kept beyond the session)
    int paceMemoryHours = 24;
    // [batch] reuseWithinMinutes: a batch takes a buyer found or not found this many minutes ago
    // from the history (0: never; up to 10080, a week).
    int reuseWithinMinutes = 0;
    // [batch] giveUpAfterMinutes: after this long of pauses in a row (no clean page between) a
    // batch gives up on the marketplace; fractions allowed (0.05 to 1440).
    double giveUpAfterMinutes = 30;
    // [window] watchClipboard: the window looks up an id copied elsewhere.
    bool watchClipboard = false;

    // Batches of order exports and longer batches.
    int batchMaxIds = kMaxBatchIds; // [batch] maxIds: ids (buyers) a batch takes, 1 to 2000
    QString buyerColumn = {};       // [batch] buyerColumn: an order file's buyer column by name
    bool sortByRisk = false;        // [batch] sort=risk: the table's rows 高, 未知, 中, 低
    // The watched folder of order exports.
    QString watchFolder = {};       // [watch] folder: empty, no watch (~/ allowed)
    QString watchOutputFolder = {}; // [watch] outputFolder: empty, the tables go beside the exports
    bool watchArchive = true;       // [watch] archive: a checked export moves into done/
    bool watchNotify = true;        // [watch] notify: desktop notifications
    // The window and the tray.
    bool closeToTray = false;  // [window] closeToTray: closing hides the window into the tray
    bool startAtLogin = false; // [window] startAtLogin: an autostart entry starts it hidden
    // [network] proxy: how every request reaches the network ("": directly; "system": the
    // environment's proxy; http://[user:password@]host:port or socks5://host:port).
    NetworkSettings network = {};
};

// The three hosts: their keys in the settings file ("hosts/main" …) and their members.
struct HostKey
{
    const char *key;
    QString QuerySettings::*host;
};
extern const HostKey kHostKeys[3];

// "http://" + host + path on our own web site; empty without a host.
QString siteAddress(const QString &host, const char *path);

// The settings file used when none is named: <user config folder>/Brelvon/brelvon.conf.
QString defaultSettingsPath();

// Reads an INI settings file. False with a message in *error when it cannot be read or names no
// host at all. A value out of its range under [batch], [query] or [risk] keeps its default and is
// named in *problems (the command line refuses to run with one; the window says so on stderr).
bool loadQuerySettings(const QString &path, QuerySettings *settings, QString *error,
                       QStringList *problems = nullptr);

// host or host:port, where host is a name or an IPv4 address and port a number up to 65535.
bool isHostPort(const QString &text);

// The commented template: comments in Chinese, in English when the locale is English (LANG=en*).
QString settingsTemplateText();

// Writes a commented template for the user to fill in. False with a message on failure.
bool writeSettingsTemplate(const QString &path, QString *error);

// Every host pointed at one local site (the bundled demo site), with our demo viewer logins.
QuerySettings demoSettings(const QString &hostPort);
