#pragma once

#include <atomic>
#include <memory>

// The cancellation of one job (a window's query, a batch, a command-line run) and of every page
// fetch it makes. Whoever starts the job keeps the token and may cancel it from any thread; the
// fetches notice within a tenth of a second and send nothing more. A cancelled token stays
// cancelled; a later job gets a token of its own.
class CancelToken
{
public:
    void cancel() { m_cancelled.store(true, std::memory_order_relaxed); }
    bool isCancelled() const { return m_cancelled.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> m_cancelled{false};
};

using CancelTokenPtr = std::shared_ptr<CancelToken>;

inline CancelTokenPtr makeCancelToken()
{
    return std::make_shared<CancelToken>();
}
