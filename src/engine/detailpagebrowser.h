#pragma once

#include <QString>

class CancelToken;

// The page loader of last resort for the detail page: an embedded browser that reads a page the
// plain fetch could not. Called on the query's thread: it loads the address, waits until the page
// is complete or the clock's minute changes (or the job is cancelled), and returns the HTML of the
// document body as the browser writes it, or "". Several queries may call it at once.
class DetailPageBrowser
{
public:
    virtual ~DetailPageBrowser() = default;
    virtual QString loadBodyHtml(const QString &address, const CancelToken *cancel) = 0;

    // The same, and whether the page was given up for its size (its process or its text passed
    // the browser's limits).
    struct Read
    {
        QString html;
        bool tooLarge = false;
    };
    virtual Read loadBody(const QString &address, const CancelToken *cancel)
    {
        return {loadBodyHtml(address, cancel), false};
    }
};
