#include "engine/capturereplay.h"

PageResult CaptureReplay::replay(const QString &page, const QString &address)
{
    const auto found = m_pages.pages.constFind(page);
    if (found == m_pages.pages.constEnd()) {
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
