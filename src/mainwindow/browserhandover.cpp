#include "browserhandover.h"

#include "canceltoken.h"
#include "detailbrowserwidget.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

struct HandOver
{
    std::mutex mutex;
    std::condition_variable ready;
    bool done = false;
    QString html;
};

} // namespace

QString BrowserHandOver::loadBodyHtml(const QString &address, const CancelToken *cancel)
{
    const QPointer<DetailBrowserWidget> browser = m_browser;
    if (!browser)
        return {};
    // Shared: the browser may answer after this worker stopped waiting.
    const auto state = std::make_shared<HandOver>();
    QMetaObject::invokeMethod(
        browser.data(),
        [browser, address, state] {
            if (!browser)
                return;
            browser->load(address, [state](const QString &html) {
                std::lock_guard<std::mutex> lock(state->mutex);
                state->html = html;
                state->done = true;
                state->ready.notify_all();
            });
        },
        Qt::QueuedConnection);

    std::unique_lock<std::mutex> lock(state->mutex);
    while (!state->done) {
        if (cancel && cancel->isCancelled())
            return {};
        state->ready.wait_for(lock, std::chrono::milliseconds(100));
    }
    return state->html;
}
