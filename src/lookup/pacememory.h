#pragma once

#include "web/requestpacer.h"

#include <QHash>
#include <QList>
#include <QString>

struct QuerySettings;

// The pace learnt from the marketplace's blocks, kept in the seller's data folder for the next
// batch and the next run: each host's rate and blocked rate with the time it was learnt, and the
// hosts of the settings it was learnt under. Kept paces are forgotten after the settings'
// paceMemoryHours or when the hosts change.
class PaceMemory
{
public:
    explicit PaceMemory(QString path) : m_path(std::move(path)) {}
    // pace.json in the seller's data folder.
    static QString defaultPath();
    QString path() const { return m_path; }

    struct Kept
    {
        QString hosts; // the settings' hosts it was learnt under, "main|second|tradecard"
        QHash<QString, HostPace> paces;
    };
    // What the file holds; empty when there is none. A file that is not ours is an error.
    bool read(Kept *kept, QString *error) const;
    // The paces still in force under these settings at nowMs (the fetch clock): same hosts, and
    // learnt within the settings' paceMemoryHours.
    QHash<QString, HostPace> load(const QuerySettings &settings, qint64 nowMs) const;
    bool save(const QuerySettings &settings, const QHash<QString, HostPace> &paces,
              QString *error) const;
    // Forgets every kept pace. True when nothing is kept afterwards.
    bool forget(QString *error) const;

    static QString hostsKey(const QuerySettings &settings);
    // Whether a kept pace is still in force under these settings.
    static bool inForce(const Kept &kept, const HostPace &pace, const QuerySettings &settings,
                        qint64 nowMs);

private:
    QString m_path;
};

// "约每分钟 40 页" ("about 40 pages a minute" in English); "" for no limit.
QString pagesPerMinuteText(double pagesPerMinute);
