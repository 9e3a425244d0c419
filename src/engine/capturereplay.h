#pragma once

#include "engine/detailpagebrowser.h"
#include "web/fetchpage.h"

#include <QHash>
#include <QString>

#include <mutex>
#include <optional>

// What a capture holds of a buyer's pages: each fetch as it ended, with its body as a fetch decodes
// it (the browser's text as it gave it).
struct CapturePages
{
    struct Page
    {
        PageResult result; // as the capture's index says
        QString text;      // "" when nothing was read
    };
    QString buyerId;
    QHash<QString, Page> pages;        // page -> the capture's first fetch of that name
    std::optional<Page> browserDetail; // the embedded browser's text of the detail page (UTF-8)
    QString areaTable;
};

// Why the replay refuses a page the capture does not hold.
inline const QString kNotInCapture = QStringLiteral("not in the capture");

// A capture's pages in place of the network and of the embedded browser: a lookup (queryBuyer,
// with this in its FetchContext and as its browser) reads them as it would the marketplace's
// answers. A page is answered as its fetch ended in the capture: its body decoded as a fetch
// decodes it, a block page as blocked, a time-out as a time-out; a page the capture lacks (also
// one at another path or query than the capture's, as a changed marker builds) is refused ("not
// in the capture").
class CaptureReplay : public FetchReplay, public DetailPageBrowser
{
public:
    explicit CaptureReplay(const CapturePages &pages) : m_pages(pages) {}

    PageResult replay(const QString &page, const QString &address) override;
    QString loadBodyHtml(const QString &address, const CancelToken *cancel) override;
    Read loadBody(const QString &address, const CancelToken *cancel) override;

    // The text given for the page ("" when it was not asked for or gave none); the browser's
    // text of the detail page.
    QString servedText(const QString &page) const;
    QString browserText() const;

private:
    const CapturePages &m_pages;
    mutable std::mutex m_mutex;
    QHash<QString, QString> m_served;
    QString m_browserText;
};
