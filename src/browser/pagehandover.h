#pragma once

#include "browser/hiddenbrowser.h"
#include "engine/buyerquery.h"

#include <QPointer>

// Lets a query use a page loader that lives on another thread (the window's, where the browser
// lives): the address is handed over by a queued call and the query's thread waits for the text
// or for its job's cancellation, which also tells the loader to give the page up. Called on the
// loader's own thread, it loads directly and waits in a local event loop, so that thread keeps
// serving its events meanwhile.
class PageHandOver : public DetailPageBrowser
{
public:
    using Load =
        std::function<void(const QString &address, HiddenBrowser::Done, HiddenBrowser::Wanted)>;

    // load runs on target's thread, and only while target lives.
    PageHandOver(QObject *target, Load load) : m_target(target), m_load(std::move(load)) {}
    // Hands over to a hidden browser.
    explicit PageHandOver(HiddenBrowser *browser);

    QString loadBodyHtml(const QString &address, const CancelToken *cancel) override;

private:
    QPointer<QObject> m_target;
    Load m_load;
};
