#pragma once

#include "browser/hiddenbrowser.h"

#include <QWidget>

#include <functional>

// The main window's hidden page loader (WebBrowser1), on the window's thread: the place of the
// browser in the window. The browser itself (HiddenBrowser) starts on the first load.
class DetailBrowserWidget : public QWidget
{
    Q_OBJECT
public:
    explicit DetailBrowserWidget(QWidget *parent = nullptr) : QWidget(parent) {}

    // Loads the address and hands the document body's HTML to `done` once the page is complete
    // or its wait has run out ("" when nothing could be read; at once in a build without the
    // browser). `wanted` turning false gives the load up. Never blocks.
    virtual void load(const QString &address, HiddenBrowser::Done done,
                      HiddenBrowser::Wanted wanted = {})
    {
        if (!m_browser)
            m_browser = new HiddenBrowser(this);
        m_browser->load(address, std::move(done), std::move(wanted));
    }

    // The browser, once a load has needed it; null before.
    HiddenBrowser *browser() const { return m_browser; }

private:
    HiddenBrowser *m_browser = nullptr;
};
