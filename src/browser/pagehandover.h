#pragma once

#include "browser/hiddenbrowser.h"
#include "engine/detailpagebrowser.h"

#include <QObject>

#include <vector>

// The embedded browser as the queries see it: hidden browser pages on the thread that owns this
// object (the GUI thread), used by queries on worker threads. The address is handed over by a
// queued call and the query's thread waits for the text or for its job's cancellation, which
// also tells the page to give the load up. Up to `pages` hidden pages load at once (one per
// buyer in flight); each is started on the first load that needs it.
class PageHandOver : public QObject, public DetailPageBrowser
{
    Q_OBJECT
public:
    using Load =
        std::function<void(const QString &address, HiddenBrowser::Done, HiddenBrowser::Wanted)>;

    explicit PageHandOver(int pages = 1, QObject *parent = nullptr);
    // Hands every load to `load` instead of hidden pages (tests).
    explicit PageHandOver(Load load, QObject *parent = nullptr);
    ~PageHandOver() override;

    // Call on a worker thread, never on this object's own.
    QString loadBodyHtml(const QString &address, const CancelToken *cancel) override;
    Read loadBody(const QString &address, const CancelToken *cancel) override;

    // The hidden pages started so far.
    int pagesStarted() const { return int(m_pages.size()); }

private:
    // On this object's thread: the load goes to an idle page, else a new one, else the page with
    // the fewest loads waiting.
    using Answer = std::function<void(const QString &html, bool tooLarge)>;
    void serve(const QString &address, Answer done, HiddenBrowser::Wanted wanted);

    struct Page
    {
        HiddenBrowser *browser;
        int loads; // in progress or waiting
    };
    const int m_maxPages;
    Load m_load;
    std::vector<Page> m_pages;
};
