#pragma once

#include "browser/pagehandover.h"
#include "mainwindow/detailbrowserwidget.h"

// Lets a query on a worker thread use the window's page loader, which lives on the window's
// thread: the address is handed over by a queued call and the worker waits for the text (or for
// its job's cancellation) without touching any widget.
class BrowserHandOver : public PageHandOver
{
public:
    explicit BrowserHandOver(DetailBrowserWidget *browser)
        : PageHandOver(browser, [browser](const QString &address, HiddenBrowser::Done done,
                                          HiddenBrowser::Wanted wanted) {
              browser->load(address, std::move(done), std::move(wanted));
          })
    {
    }
};
