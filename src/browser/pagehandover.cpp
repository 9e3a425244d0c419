#include "browser/pagehandover.h"

#include "web/canceltoken.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

// Shared by both sides: the loader may answer after the query stopped waiting.
struct HandOver
{
    std::mutex mutex;
    std::condition_variable ready;
    bool done = false;
    QString html;
    std::atomic<bool> abandoned{false};

    void answer(const QString &text)
    {
        std::lock_guard<std::mutex> lock(mutex);
        html = text;
        done = true;
        ready.notify_all();
    }
};

constexpr std::chrono::milliseconds kCancelPoll(100);

} // namespace

PageHandOver::PageHandOver(HiddenBrowser *browser)
    : PageHandOver(browser, [browser](const QString &address, HiddenBrowser::Done done,
                                      HiddenBrowser::Wanted wanted) {
          browser->load(address, std::move(done), std::move(wanted));
      })
{
}

QString PageHandOver::loadBodyHtml(const QString &address, const CancelToken *cancel)
{
    const QPointer<QObject> target = m_target;
    if (!target || !m_load)
        return {};
    const auto state = std::make_shared<HandOver>();
    const auto cancelled = [cancel] { return cancel && cancel->isCancelled(); };
    HiddenBrowser::Wanted wanted = [state] { return !state->abandoned.load(); };

    if (QThread::currentThread() == target->thread()) {
        // The loader's own thread: it must keep running its events while we wait.
        QEventLoop loop;
        const QPointer<QEventLoop> waiting(&loop);
        m_load(
            address,
            [state, waiting](const QString &html) {
                state->answer(html);
                if (waiting)
                    waiting->quit();
            },
            wanted);
        if (!state->done) {
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
                if (cancelled())
                    loop.quit();
            });
            poll.start(int(kCancelPoll.count()));
            loop.exec();
        }
        std::lock_guard<std::mutex> lock(state->mutex);
        if (!state->done) {
            state->abandoned = true;
            return {};
        }
        return state->html;
    }

    const Load load = m_load;
    QMetaObject::invokeMethod(
        target.data(),
        [target, load, address, state, wanted] {
            if (!target || state->abandoned)
                return;
            load(
                address, [state](const QString &html) { state->answer(html); }, wanted);
        },
        Qt::QueuedConnection);

    std::unique_lock<std::mutex> lock(state->mutex);
    while (!state->done) {
        if (cancelled()) {
            state->abandoned = true; // the loader gives the page up at its next look
            return {};
        }
        state->ready.wait_for(lock, kCancelPoll);
    }
    return state->html;
}
