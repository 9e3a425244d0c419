#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QtGlobal>

// Pages and query configurations that several suites serve from their fixture servers.

// A page as the marketplace and our site send it: code page 936 (GBK).
QByteArray gbk(const QString &text);

// A query configuration's entries, index and value, in the order they are written.
using ConfigEntries = QList<QPair<int, QString>>;

// The configuration text a site serves: "value#index#" for each entry. No line breaks between
// pairs: they would belong to the next value.
QString indexedListText(const ConfigEntries &entries);

// The markers of the test marketplace's pages (search list, detail page layout A, ratings
// given, personal page, the neutral and bad counts) and its addresses other than the search
// (entry 0), which each suite writes with its name (entry 90). host: "http://127.0.0.1:PORT".
ConfigEntries marketplaceEntries(const QString &host);

// The process's peak resident memory so far (VmHWM), in KiB; 0 where /proc does not tell.
qint64 peakResidentKiB();
