#include "lookup/configcache.h"

#include "model/uilanguage.h"

#include "engine/blockmarkers.h"
#include "files/inputfile.h"
#include "files/safewrite.h"
#include "model/buyerqueryresult.h"
#include "model/defaultfolders.h"
#include "model/ownerfolders.h"
#include "web/texthelpers.h"

#include <QCryptographicHash>
#include <QFile>
#include <QStandardPaths>

namespace {

const QByteArray kMagic = "Brelvon cached copy 1\n";
// A copy bigger than this is not one of ours: the fetch caps bodies at 16 MiB.
constexpr qint64 kMaxCopyBytes = 40 * 1024 * 1024;

const char *documentName(ConfigCache::Document document)
{
    switch (document) {
    case ConfigCache::Document::QueryConfiguration:
        return "queryconfig";
    case ConfigCache::Document::AreaTable:
        return "areatable";
    case ConfigCache::Document::StartupList:
        return "startuplist";
    }
    return "unknown";
}

// The pair of site hosts a copy belongs to, as a short file-name-safe key.
QString siteKey(const QuerySettings &settings)
{
    const QByteArray hosts =
        (trimSpaces(settings.mainHost).toLower() + u'|' + trimSpaces(settings.secondHost).toLower())
            .toUtf8();
    return QString::fromLatin1(
        QCryptographicHash::hash(hosts, QCryptographicHash::Sha256).toHex().left(16));
}

qint64 secondsBetween(const QDateTime &saved, const QDateTime &now)
{
    return qMax<qint64>(0, saved.secsTo(now));
}

} // namespace

ConfigCache::ConfigCache(const QString &folder) : m_folder(folder) {}

QString ConfigCache::defaultFolder()
{
    return defaultDataFolder() + QLatin1String("/cache");
}

QString ConfigCache::filePath(Document document, const QuerySettings &settings) const
{
    return m_folder + u'/' + QLatin1String(documentName(document)) + u'-' + siteKey(settings) +
           QLatin1String(".txt");
}

bool ConfigCache::store(Document document, const QuerySettings &settings, const QString &text,
                        const QString &address, const QDateTime &now, QString *error) const
{
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    QString why;
    // The copies say which hosts the seller uses: for the seller's eyes only.
    if (!makeOwnerOnlyFolder(m_folder, &why))
        return fail(why);

    QByteArray bytes = kMagic;
    bytes += "address=" + QString(address).replace(u'\n', u' ').toUtf8() + '\n';
    bytes += "saved=" + now.toUTC().toString(Qt::ISODate).toLatin1() + '\n';
    bytes += '\n';
    bytes += text.toUtf8();

    // Written beside the old copy and renamed over it: a crash leaves the old copy or the new,
    // and a link found at its name is replaced, never written through.
    if (!replaceOwnerOnlyFile(filePath(document, settings), bytes, &why))
        return fail(why);
    return true;
}

std::optional<ConfigCache::Copy> ConfigCache::load(Document document,
                                                   const QuerySettings &settings) const
{
    // A regular file only, checked on the opened descriptor: a pipe would never end the read, a
    // device never stop it.
    QFile file;
    QString reason;
    if (!openRegularFile(filePath(document, settings), &file, &reason) ||
        file.size() > kMaxCopyBytes)
        return std::nullopt;
    const QByteArray bytes = file.read(kMaxCopyBytes + 1);
    if (bytes.size() > kMaxCopyBytes || !bytes.startsWith(kMagic))
        return std::nullopt;
    const qsizetype end = bytes.indexOf("\n\n", kMagic.size() - 1);
    if (end < 0)
        return std::nullopt;
    Copy copy;
    const QList<QByteArray> head = bytes.mid(kMagic.size(), end - kMagic.size() + 1).split('\n');
    for (const QByteArray &line : head) {
        if (line.startsWith("address="))
            copy.address = QString::fromUtf8(line.mid(8));
        else if (line.startsWith("saved="))
            copy.saved = QDateTime::fromString(QString::fromLatin1(line.mid(6)), Qt::ISODate);
    }
    if (!copy.saved.isValid())
        return std::nullopt;
    copy.text = QString::fromUtf8(bytes.mid(end + 2));
    return copy;
}

bool isFreshEnough(const QDateTime &saved, const QDateTime &now, int maxAgeDays)
{
    // A copy dated ahead of the clock has no age we can tell: too old.
    if (!saved.isValid() || saved > now)
        return false;
    return saved.secsTo(now) <= qint64(maxAgeDays) * 86400;
}

QString CachedConfiguration::ageName(const QDateTime &now) const
{
    const qint64 seconds = secondsBetween(saved, now);
    const auto count = [](qint64 n, const char *unit) {
        return QStringLiteral("%1 %2%3").arg(n).arg(QLatin1String(unit),
                                                    n == 1 ? QString() : QStringLiteral("s"));
    };
    if (seconds >= 86400)
        return count(seconds / 86400, "day");
    if (seconds >= 3600)
        return count(seconds / 3600, "hour");
    return count(seconds / 60, "minute");
}

QString CachedConfiguration::ageText(const QDateTime &now) const
{
    const qint64 seconds = secondsBetween(saved, now);
    if (seconds >= 86400)
        return QStringLiteral("%1天").arg(seconds / 86400);
    if (seconds >= 3600)
        return QStringLiteral("%1小时").arg(seconds / 3600);
    return QStringLiteral("%1分钟").arg(seconds / 60);
}

namespace {

// The address of the page of the given name the setup took its text from: the last one that
// brought a body.
QString sourceAddress(const PageResults &pages, const QString &name)
{
    QString address;
    for (const PageResult &page : pages) {
        if (page.page == name && page.outcome == PageOutcome::Ok)
            address = page.address;
    }
    return address;
}

// The configuration as an indexed list again ("value#index#"; a value never holds '#'), so the
// stored copy is exactly what the lookup read.
QString indexedListText(const QueryConfig &config)
{
    QString text;
    for (int i = 0; i < QueryConfig::kSize; ++i) {
        if (!config.entry(i).isEmpty())
            text += config.entry(i) + u'#' + QString::number(i) + u'#';
    }
    return text;
}

bool isAreaTable(const QString &text)
{
    return text.contains(QStringLiteral("广东"));
}

} // namespace

SetupWithCopies keepOrUseStoredCopies(const ConfigCache &cache, const QuerySettings &settings,
                                      const QuerySetupPtr &fetched, const PageResults &pages,
                                      const QDateTime &now, QStringList *problems)
{
    SetupWithCopies result{fetched, std::nullopt};
    auto setup = std::make_shared<QuerySetup>(*fetched);
    bool changed = false;
    const auto keep = [&](ConfigCache::Document document, const QString &text,
                          const QString &page) {
        QString why;
        if (!cache.store(document, settings, text, sourceAddress(pages, page), now, &why) &&
            problems)
            problems->append(why);
    };

    if (fetched->hasConfiguration()) {
        keep(ConfigCache::Document::QueryConfiguration, indexedListText(fetched->config),
             BuyerPage::Config);
    } else if (const auto copy = cache.load(ConfigCache::Document::QueryConfiguration, settings);
               copy && isFreshEnough(copy->saved, now, settings.maxConfigAgeDays)) {
        QuerySetup stored = *initialQuerySetup(settings);
        stored.config.readIndexedList(copy->text);
        if (stored.hasConfiguration()) {
            setup->config = stored.config;
            setup->blockMarkers = settings.blockMarkers + configBlockMarkers(stored.config);
            result.cachedConfiguration = CachedConfiguration{copy->address, copy->saved};
            changed = true;
        }
    }

    if (isAreaTable(fetched->areaTable)) {
        keep(ConfigCache::Document::AreaTable, fetched->areaTable, BuyerPage::AreaTable);
    } else if (const auto copy = cache.load(ConfigCache::Document::AreaTable, settings);
               copy && isFreshEnough(copy->saved, now, settings.maxConfigAgeDays) &&
               isAreaTable(copy->text)) {
        setup->areaTable = copy->text;
        changed = true;
    }
    if (changed)
        result.setup = setup;
    return result;
}

QString keepOrUseStoredStartupList(const ConfigCache &cache, const QuerySettings &settings,
                                   const QString &list, const QString &address,
                                   const QDateTime &now)
{
    // Ours names the program, as the window's reader of it requires.
    const auto isOurs = [](const QString &text) {
        return trimSpaces(text).contains(QLatin1String("Brelvon"));
    };
    if (isOurs(list)) {
        cache.store(ConfigCache::Document::StartupList, settings, list, address, now);
        return list;
    }
    if (const auto copy = cache.load(ConfigCache::Document::StartupList, settings);
        copy && isFreshEnough(copy->saved, now, settings.maxConfigAgeDays) && isOurs(copy->text))
        return copy->text;
    return list;
}

QString agedOutCopyText(const ConfigCache &cache, const QuerySettings &settings,
                        const QDateTime &now)
{
    const std::optional<ConfigCache::Copy> copy =
        cache.load(ConfigCache::Document::QueryConfiguration, settings);
    if (!copy || isFreshEnough(copy->saved, now, settings.maxConfigAgeDays))
        return {};
    return inUserLanguage(QStringLiteral("保存的查询配置已有 %1 天，超过 maxConfigAgeDays=%2"),
                          QStringLiteral("the kept query configuration is %1 days old, beyond "
                                         "maxConfigAgeDays=%2"))
        .arg(copy->saved.daysTo(now))
        .arg(settings.maxConfigAgeDays);
}
