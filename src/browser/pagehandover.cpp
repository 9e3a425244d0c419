#include "browser/pagehandover.h"

#include "web/canceltoken.h"

#include <QPointer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

namespace {

// Shared by both sides: the page may answer after the query stopped waiting.
struct HandOver
{
    std::mutex mutex;
    std::condition_variable ready;
    bool done = false;
    QString html;
    bool tooLarge = false;
    std::atomic<bool> abandoned{false};

    void answer(const QString &text, bool large)
    {
        std::lock_guard<std::mutex> lock(mutex);
        html = text;
        tooLarge = large;
        done = true;
        ready.notify_all();
    }
};

constexpr std::chrono::milliseconds kCancelPoll(100);

} // namespace

PageHandOver::PageHandOver(int pages, QObject *parent) : QObject(parent), m_maxPages(qMax(1, pages))
{
}

PageHandOver::PageHandOver(Load load, QObject *parent)
    : QObject(parent), m_maxPages(1), m_load(std::move(load))
{
}

PageHandOver::~PageHandOver()
{
    // Each page answers "" to its loads as it goes, while the list of pages is still here.
    for (Page &page : m_pages)
        delete std::exchange(page.browser, nullptr);
}

void PageHandOver::serve(const QString &address, Answer done, HiddenBrowser::Wanted wanted)
{
    if (m_load) {
        m_load(
            address, [done = std::move(done)](const QString &html) { done(html, false); },
            std::move(wanted));
        return;
    }
    Page *chosen = nullptr;
    for (Page &page : m_pages) {
        if (!chosen || page.loads < chosen->loads)
            chosen = &page;
    }
    if ((!chosen || chosen->loads > 0) && int(m_pages.size()) < m_maxPages) {
        m_pages.push_back({new HiddenBrowser(this), 0});
        chosen = &m_pages.back();
    }
    HiddenBrowser *browser = chosen->browser;
    ++chosen->loads;
    browser->load(
        address,
        [this, browser, done = std::move(done)](const QString &html) {
            for (Page &page : m_pages) {
                if (page.browser == browser)
                    --page.loads;
            }
            done(html, browser->lastLoadTooLarge());
        },
        std::move(wanted));
}

QString PageHandOver::loadBodyHtml(const QString &address, const CancelToken *cancel)
{
    return loadBody(address, cancel).html;
}

DetailPageBrowser::Read PageHandOver::loadBody(const QString &address, const CancelToken *cancel)
{
    const auto state = std::make_shared<HandOver>();
    HiddenBrowser::Wanted wanted = [state] { return !state->abandoned.load(); };
    const QPointer<PageHandOver> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, address, state, wanted] {
            if (!self || state->abandoned)
                return;
            self->serve(
                address,
                [state](const QString &html, bool tooLarge) { state->answer(html, tooLarge); },
                wanted);
        },
        Qt::QueuedConnection);

    std::unique_lock<std::mutex> lock(state->mutex);
    while (!state->done) {
        if (cancel && cancel->isCancelled()) {
            state->abandoned = true; // the page gives the load up at its next look
            return {};
        }
        state->ready.wait_for(lock, kCancelPoll);
    }
    return {state->html, state->tooLarge};
}
