#pragma once

#include "buyerquery.h"

#include <QPointer>

class DetailBrowserWidget;

// Lets a query on a worker thread use the window's page loader, which lives on the window's
// thread: the address is handed over by a queued call and the worker waits for the text (or for
// its job's cancellation) without touching any widget.
class BrowserHandOver : public DetailPageBrowser
{
public:
    explicit BrowserHandOver(DetailBrowserWidget *browser) : m_browser(browser) {}
    QString loadBodyHtml(const QString &address, const CancelToken *cancel) override;

private:
    QPointer<DetailBrowserWidget> m_browser;
};
