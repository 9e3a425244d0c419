#include "engine/capturereplay.h"

#include "model/buyerqueryresult.h"

#include <QUrl>

namespace {

// Whether the lookup asks the marketplace page the capture holds: the same path and query (the
// host may differ, as a configuration for another host may). The trade-card pages carry the
// seller's logins, which a capture leaves out: any address of theirs is theirs.
bool samePage(const QString &page, const QString &asked, const QString &captured)
{
    if (page == BuyerPage::NameCard || page == BuyerPage::Popup || captured.isEmpty())
        return true;
    const QUrl a(asked);
    const QUrl c(captured);
    return a.path() == c.path() && a.query() == c.query();
}

} // namespace

PageResult CaptureReplay::replay(const QString &page, const QString &address)
{
    const auto found = m_pages.pages.constFind(page);
    if (found == m_pages.pages.constEnd() || !samePage(page, address, found->result.address)) {
        PageResult missing;
        missing.address = address;
        missing.outcome = PageOutcome::Refused;
        missing.error = kNotInCapture;
        return missing;
    }
    PageResult result = found->result;
    result.page = page;
    result.address = address;
    result.browser = false;
    // A body arrived: the capture's block page stays one (the markers that made it one may be the
    // seller's own, which a capture does not hold).
    if (result.outcome == PageOutcome::Ok || result.outcome == PageOutcome::Empty) {
        result.outcome = found->text.isEmpty() ? PageOutcome::Empty : PageOutcome::Ok;
        result.text = found->text;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_served.insert(page, result.text);
    }
    return result;
}

QString CaptureReplay::loadBodyHtml(const QString &address, const CancelToken *cancel)
{
    return loadBody(address, cancel).html;
}

DetailPageBrowser::Read CaptureReplay::loadBody(const QString &, const CancelToken *)
{
    if (!m_pages.browserDetail)
        return {};
    if (m_pages.browserDetail->result.outcome == PageOutcome::TooLarge)
        return {QString(), true};
    Read read{m_pages.browserDetail->text, false};
    std::lock_guard<std::mutex> lock(m_mutex);
    m_browserText = read.html;
    return read;
}

QString CaptureReplay::servedText(const QString &page) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_served.value(page);
}

QString CaptureReplay::browserText() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_browserText;
}
