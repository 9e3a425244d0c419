#include "engine/blockmarkers.h"

#include "web/texthelpers.h"

QStringList configBlockMarkers(const QueryConfig &config)
{
    QStringList markers;
    for (int i = ConfigEntry::BlockMarkerFirst; i <= ConfigEntry::BlockMarkerLast; ++i) {
        const QString marker = config.entry(i);
        if (!isBlank(marker))
            markers.append(marker);
    }
    return markers;
}

QString findBlockMarker(const QString &page, const QStringList &anchors, const QStringList &markers)
{
    for (const QString &anchor : anchors) {
        if (!anchor.isEmpty() && page.contains(anchor))
            return {};
    }
    for (const QString &marker : markers) {
        if (!marker.isEmpty() && page.contains(marker))
            return marker;
    }
    return {};
}
