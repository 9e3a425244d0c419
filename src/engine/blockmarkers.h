#pragma once

#include "engine/queryconfig.h"
#include "files/querysettings.h"

#include <QString>
#include <QStringList>

// Pages the marketplace sends instead of the one asked for: its login page, its slider check, a
// captcha, an access-denied page. Read as the buyer's page, such a page would give empty fields
// that look like a clean new buyer, so the query recognises it by its text and reads nothing
// from it.

// The configuration's own markers: every non-blank entry from 77 to 88.
QStringList configBlockMarkers(const QueryConfig &config);

// The first of the markers (in their order) that the page contains, or "" when the page is no
// block page. A page that holds any of `anchors`, the markers its own rule starts from, is a real
// page whatever else it says (a page's top bar may well say "请登录"), so a block marker counts
// only on a page that lacks them all. Empty markers and anchors are ignored.
QString findBlockMarker(const QString &page, const QStringList &anchors,
                        const QStringList &markers);
