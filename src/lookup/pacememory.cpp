#include "lookup/pacememory.h"

#include "files/querysettings.h"
#include "files/safewrite.h"
#include "model/defaultfolders.h"
#include "model/ownerfolders.h"
#include "model/uilanguage.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

constexpr qint64 kMostFileBytes = 1024 * 1024;
// Rates beyond this are no pace anyone learnt.
constexpr double kMostPagesPerSecond = 100000;

bool plausibleRate(double rate)
{
    return std::isfinite(rate) && rate > 0 && rate <= kMostPagesPerSecond;
}

} // namespace

QString PaceMemory::defaultPath()
{
    return defaultDataFolder() + QLatin1String("/pace.json");
}

QString PaceMemory::hostsKey(const QuerySettings &settings)
{
    return settings.mainHost.trimmed() + u'|' + settings.secondHost.trimmed() + u'|' +
           settings.tradeCardHost.trimmed();
}

bool PaceMemory::inForce(const Kept &kept, const HostPace &pace, const QuerySettings &settings,
                         qint64 nowMs)
{
    const qint64 maxAgeMs = qint64(settings.paceMemoryHours) * 3600 * 1000;
    return kept.hosts == hostsKey(settings) && pace.learntAtMs <= nowMs &&
           nowMs - pace.learntAtMs < maxAgeMs;
}

bool PaceMemory::read(Kept *kept, QString *error) const
{
    *kept = {};
    QFile file(m_path);
    if (!file.exists())
        return true;
    if (!QFileInfo(m_path).isFile() || !file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(m_path, file.errorString());
        return false;
    }
    const QByteArray bytes = file.read(kMostFileBytes + 1);
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parse);
    if (bytes.size() > kMostFileBytes || parse.error != QJsonParseError::NoError ||
        !document.isObject() || !document.object().value(QLatin1String("hosts")).isString()) {
        *error = inUserLanguage(QStringLiteral("%1：不是保存的速度文件"),
                                QStringLiteral("%1: not a kept pace file"))
                     .arg(m_path);
        return false;
    }
    const QJsonObject root = document.object();
    kept->hosts = root.value(QLatin1String("hosts")).toString();
    for (const QJsonValue &value : root.value(QLatin1String("paces")).toArray()) {
        const QJsonObject entry = value.toObject();
        const QString host = entry.value(QLatin1String("host")).toString();
        HostPace pace;
        pace.pagesPerSecond = entry.value(QLatin1String("pagesPerMinute")).toDouble() / 60.0;
        pace.ceilingPagesPerSecond =
            entry.value(QLatin1String("ceilingPagesPerMinute")).toDouble() / 60.0;
        const QDateTime learnt = QDateTime::fromString(
            entry.value(QLatin1String("learntAt")).toString(), Qt::ISODateWithMs);
        if (host.isEmpty() || !learnt.isValid() || !plausibleRate(pace.pagesPerSecond) ||
            !plausibleRate(pace.ceilingPagesPerSecond))
            continue; // a damaged entry is no pace
        pace.learntAtMs = learnt.toMSecsSinceEpoch();
        kept->paces.insert(host, pace);
    }
    return true;
}

QHash<QString, HostPace> PaceMemory::load(const QuerySettings &settings, qint64 nowMs) const
{
    Kept kept;
    QString error;
    if (!read(&kept, &error))
        return {};
    QHash<QString, HostPace> paces;
    for (auto it = kept.paces.cbegin(); it != kept.paces.cend(); ++it) {
        if (inForce(kept, *it, settings, nowMs))
            paces.insert(it.key(), *it);
    }
    return paces;
}

bool PaceMemory::save(const QuerySettings &settings, const QHash<QString, HostPace> &paces,
                      QString *error) const
{
    QJsonArray entries;
    for (auto it = paces.cbegin(); it != paces.cend(); ++it) {
        QJsonObject entry;
        entry.insert(QLatin1String("host"), it.key());
        entry.insert(QLatin1String("pagesPerMinute"), it->pagesPerSecond * 60.0);
        entry.insert(QLatin1String("ceilingPagesPerMinute"), it->ceilingPagesPerSecond * 60.0);
        entry.insert(
            QLatin1String("learntAt"),
            QDateTime::fromMSecsSinceEpoch(it->learntAtMs, Qt::UTC).toString(Qt::ISODateWithMs));
        entries.append(entry);
    }
    QJsonObject root;
    root.insert(QLatin1String("hosts"), hostsKey(settings));
    root.insert(QLatin1String("paces"), entries);
    if (!makeOwnerOnlyFolder(QFileInfo(m_path).absolutePath(), error))
        return false;
    return replaceOwnerOnlyFile(m_path, QJsonDocument(root).toJson(), error);
}

bool PaceMemory::forget(QString *error) const
{
    QFile file(m_path);
    if (!file.exists() && !QFileInfo(m_path).isSymLink())
        return true;
    if (!file.remove()) {
        *error = QStringLiteral("%1: %2").arg(m_path, file.errorString());
        return false;
    }
    return true;
}

QString pagesPerMinuteText(double pagesPerMinute)
{
    if (pagesPerMinute <= 0)
        return {};
    // Whole pages a minute read best; a slower pace keeps one decimal.
    const QString number = pagesPerMinute >= 10 ? QString::number(qRound(pagesPerMinute))
                                                : QString::number(pagesPerMinute, 'f', 1);
    return inUserLanguage(QStringLiteral("约每分钟 %1 页"),
                          QStringLiteral("about %1 pages a minute"))
        .arg(number);
}
