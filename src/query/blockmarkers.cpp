#include "blockmarkers.h"

#include "texthelpers.h"

const QStringList &builtInBlockMarkers()
{
    static const QStringList markers = {QStringLiteral("请登录"), QStringLiteral("滑块"),
                                        QStringLiteral("验证码"), QStringLiteral("访问被拒绝"),
                                        QStringLiteral("Access Denied")};
    return markers;
}

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
