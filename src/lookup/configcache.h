#pragma once

#include "engine/querysetup.h"
#include "files/querysettings.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// The last good copy of each document our web site hands out (the query configuration, the area
// table, the start-up list), kept on disk so a lookup still works while the site is down. One copy
// per document and per pair of site hosts: a copy fetched from other hosts is never used for
// these. The folder is owner-only; every copy is written whole or not at all.
class ConfigCache
{
public:
    enum class Document { QueryConfiguration, AreaTable, StartupList };

    struct Copy
    {
        QString text;
        QString address; // where it was downloaded from
        QDateTime saved; // when (UTC)
    };

    explicit ConfigCache(const QString &folder);

    // <user data folder>/Brelvon/cache (~/.local/share/Brelvon/cache).
    static QString defaultFolder();
    QString folder() const { return m_folder; }

    // Stores text as the copy of the document for the settings' site hosts. False with a
    // message in *error when it could not be written (the previous copy then stays).
    bool store(Document document, const QuerySettings &settings, const QString &text,
               const QString &address, const QDateTime &now, QString *error = nullptr) const;
    // The stored copy, or none when there is none or the file is not one of ours.
    std::optional<Copy> load(Document document, const QuerySettings &settings) const;
    // The file a document's copy is kept in.
    QString filePath(Document document, const QuerySettings &settings) const;

private:
    QString m_folder;
};

// What a lookup says about a stored configuration it used.
struct CachedConfiguration
{
    QString address;
    QDateTime saved;

    // Whole days (or hours, or minutes under an hour) since it was saved, as of now:
    // "3 days", "1 day", "5 hours", "2 minutes".
    QString ageName(const QDateTime &now) const;
    // The same in Chinese for the window: "3天", "5小时", "2分钟".
    QString ageText(const QDateTime &now) const;
};

// Whether a copy saved at `saved` may still be used at `now` when copies are kept maxAgeDays; one
// dated ahead of `now` has no age that can be told, and is not.
bool isFreshEnough(const QDateTime &saved, const QDateTime &now, int maxAgeDays);

// When the kept query configuration is too old to stand in: "保存的查询配置已有 40 天，超过
// maxConfigAgeDays=30" (English under LANG=en*); "" when there is none or it is fresh enough.
QString agedOutCopyText(const ConfigCache &cache, const QuerySettings &settings,
                        const QDateTime &now);

// A setup just downloaded, with the stored copies kept up to date or standing in: a configuration
// and an area table that arrived and are good are stored (one that arrived but parses to nothing
// never replaces a stored one); a configuration or area table that did not arrive is taken from a
// stored copy not older than [query] maxConfigAgeDays. What could not be stored goes to
// *problems.
struct SetupWithCopies
{
    QuerySetupPtr setup;
    std::optional<CachedConfiguration> cachedConfiguration; // set when the stored one stands in
};
SetupWithCopies keepOrUseStoredCopies(const ConfigCache &cache, const QuerySettings &settings,
                                      const QuerySetupPtr &fetched, const PageResults &pages,
                                      const QDateTime &now, QStringList *problems = nullptr);

// The start-up list just downloaded ("" when none came), likewise: stored when it is ours, else
// the stored copy when it is fresh enough.
QString keepOrUseStoredStartupList(const ConfigCache &cache, const QuerySettings &settings,
                                   const QString &list, const QString &address,
                                   const QDateTime &now);
