#include "lookup/capturerecording.h"

#include "engine/configcheck.h"
#include "engine/detailpagebrowser.h"
#include "web/fetchpage.h"
#include "web/pagetext.h"

#include <mutex>

namespace {

// The viewer login ids are the seller's own: a capture names them by their setting instead (only
// where an address carries them, as the trade-card pages' loginId).
QString withoutLogins(QString address, const QuerySettings &settings)
{
    const std::pair<QString, QLatin1String> logins[] = {
        {settings.nameCardLogin, QLatin1String("loginId={nameCardLogin}&")},
        {settings.popupLogin, QLatin1String("loginId={popupLogin}&")}};
    for (const auto &[login, name] : logins) {
        if (!login.isEmpty())
            address.replace(QLatin1String("loginId=") + login + u'&', name);
    }
    return address;
}

} // namespace

// Every body the lookup received, in the order they arrived.
class CaptureRecording::BodyRecorder : public FetchRecorder
{
public:
    void bodyReceived(const QString &address, const QByteArray &body,
                      const QByteArray &contentType) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bodies.append({address, {body, contentType}});
    }
    // The first body of that address not taken yet (pages are requested one after another, so
    // the order of the bodies is the order of the pages).
    std::optional<std::pair<QByteArray, QByteArray>> take(const QString &address)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (qsizetype i = 0; i < m_bodies.size(); ++i) {
            if (m_bodies.at(i).first == address)
                return m_bodies.takeAt(i).second;
        }
        return std::nullopt;
    }

private:
    std::mutex m_mutex;
    QList<std::pair<QString, std::pair<QByteArray, QByteArray>>> m_bodies; // body, content type
};

// The embedded browser, keeping the text it gave.
class CaptureRecording::RecordingBrowser : public DetailPageBrowser
{
public:
    explicit RecordingBrowser(DetailPageBrowser *browser) : m_browser(browser) {}
    QString loadBodyHtml(const QString &address, const CancelToken *cancel) override
    {
        return loadBody(address, cancel).html;
    }
    Read loadBody(const QString &address, const CancelToken *cancel) override
    {
        Read read = m_browser->loadBody(address, cancel);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!read.tooLarge)
            m_texts.append(read.html);
        return read;
    }
    std::optional<QString> take()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_texts.isEmpty())
            return std::nullopt;
        return m_texts.takeFirst();
    }

private:
    DetailPageBrowser *m_browser;
    std::mutex m_mutex;
    QStringList m_texts;
};

CaptureRecording::CaptureRecording(LookupService &service)
    : m_service(service), m_browserBefore(service.browser()),
      m_bodies(std::make_unique<BodyRecorder>())
{
    m_service.setFetchRecorder(m_bodies.get());
    if (m_browserBefore) {
        m_browser = std::make_unique<RecordingBrowser>(m_browserBefore);
        m_service.setBrowser(m_browser.get());
    }
}

CaptureRecording::~CaptureRecording()
{
    m_service.setFetchRecorder(nullptr);
    m_service.setBrowser(m_browserBefore);
}

CaptureRecording::Result CaptureRecording::capture(const LookupOutcome &outcome,
                                                   const QuerySettings &settings,
                                                   const QString &program)
{
    RecordingBrowser *browser = m_browser.get();
    BodyRecorder &bodies = *m_bodies;
    Result result;
    Capture &capture = result.capture;
    QHash<QString, QByteArray> &files = result.files;
    capture.buyerId = outcome.id;
    capture.time = QDateTime::currentDateTimeUtc();
    capture.program = program;
    capture.lookup = lookupStatusName(outcome.status);
    capture.record = outcome.result.record;
    int number = 0;
    for (const PageResult &page : outcome.result.pages) {
        CapturedPage saved;
        saved.result = page;
        saved.result.text.clear();
        saved.result.address = withoutLogins(page.address, settings);
        ++number;
        std::optional<QByteArray> body;
        if (page.browser) {
            // The detail page's second try, by the embedded browser.
            saved.result.page = BuyerPage::Detail;
            if (page.outcome != PageOutcome::TooLarge && page.outcome != PageOutcome::Cancelled)
                if (const std::optional<QString> text = browser ? browser->take() : std::nullopt)
                    body = text->toUtf8();
        } else if (auto taken = bodies.take(page.address)) {
            body = taken->first;
            saved.contentType = taken->second;
        }
        if (body && !body->isEmpty()) {
            saved.file =
                QStringLiteral("%1-%2%3.htm")
                    .arg(number, 2, 10, QLatin1Char('0'))
                    .arg(saved.result.page, page.browser ? QStringLiteral("-browser") : QString());
            saved.result.bytes = body->size();
            files.insert(saved.file, *body);
        }
        capture.pages.append(saved);
    }
    // The configuration and area table used: the download's own file when they were downloaded,
    // else (local files) their text in UTF-8.
    const QuerySetupPtr setup = m_service.setup();
    const auto downloaded = [&](const QString &page, const auto &isUsed) {
        for (qsizetype i = capture.pages.size() - 1; i >= 0; --i) {
            const CapturedPage &p = capture.pages.at(i);
            if (p.result.page == page && !p.file.isEmpty() &&
                isUsed(decodePageBody(files.value(p.file), p.contentType).text))
                return p.file;
        }
        return QString();
    };
    if (setup->hasConfiguration()) {
        capture.configurationFile = downloaded(BuyerPage::Config, [&](const QString &text) {
            QueryConfig config;
            config.readIndexedList(text);
            return configText(config) == configText(setup->config);
        });
        if (capture.configurationFile.isEmpty()) {
            capture.configurationFile = QStringLiteral("configuration.txt");
            files.insert(capture.configurationFile, configText(setup->config).toUtf8());
        }
    }
    if (!setup->areaTable.isEmpty()) {
        capture.areaTableFile = downloaded(
            BuyerPage::AreaTable, [&](const QString &text) { return text == setup->areaTable; });
        if (capture.areaTableFile.isEmpty()) {
            capture.areaTableFile = QStringLiteral("areatable.txt");
            files.insert(capture.areaTableFile, setup->areaTable.toUtf8());
        }
    }
    return result;
}
