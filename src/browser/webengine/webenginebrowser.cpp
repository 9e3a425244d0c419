// brelvon-webengine.so: the embedded browser, Qt WebEngine behind the small interface of
// browserengine.h. Loaded by the program on the first detail page that needs a browser.

#include "browser/browserengine.h"
#include "model/uilanguage.h"
#include "web/httpsession.h"
#include "web/localnetwork.h"

#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>

#include <atomic>
#include <cstdio>
#include <memory>
#include <signal.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcBrowserEngine, "brelvon.browser", QtWarningMsg)

// Exported by Qt WebEngine for the modules that embed it (Qt WebEngine Widgets and Quick call it
// before the application object exists), but not declared in its public headers.
namespace QtWebEngineCore {
void initialize();
}

namespace {

bool isWebScheme(const QUrl &url)
{
    const QString scheme = url.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

// Chromium's sandbox refuses to run as root: then the browser runs without it, and says so.
void allowRunningAsRoot()
{
    if (geteuid() != 0)
        return;
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (flags.contains("--no-sandbox") || qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        return;
    flags += flags.isEmpty() ? "--no-sandbox" : " --no-sandbox";
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
    const QString message =
        inUserLanguage(QStringLiteral("%1：以 root 身份运行：内置浏览器不使用 Chromium 的沙箱"
                                      "（--no-sandbox）\n"),
                       QStringLiteral("%1: running as root: the embedded browser runs without "
                                      "Chromium's sandbox (--no-sandbox)\n"))
            .arg(QCoreApplication::applicationName());
    std::fputs(message.toUtf8().constData(), stderr);
    std::fflush(stderr);
}

// The resident memory of a process and of every process below it, from /proc.
qint64 treeResidentBytes(qint64 pid, int depth = 0)
{
    QFile statm(QStringLiteral("/proc/%1/statm").arg(pid));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> pages = statm.readAll().split(' ');
    qint64 bytes = pages.size() > 1 ? pages.at(1).toLongLong() * sysconf(_SC_PAGESIZE) : 0;
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (depth < 4 && children.open(QIODevice::ReadOnly)) {
        for (const QByteArray &child : children.readAll().split(' ')) {
            if (!child.trimmed().isEmpty())
                bytes += treeResidentBytes(child.trimmed().toLongLong(), depth + 1);
        }
    }
    return bytes;
}

// Whether a host is this machine or its local network, as far as its name tells: an address
// literal or "localhost". The browser resolves names itself, out of our sight, so a public name
// that resolves to a local address is not caught here (the plain fetch checks the address it
// connects to).
bool isLocalHost(const QString &host)
{
    return host == QLatin1String("localhost") || host.endsWith(QLatin1String(".localhost")) ||
           isLocalNetworkAddress(host);
}

// Everything the page and what it loads may request: http and https only, and nothing in the
// local network once the page came from a public host.
class SchemeGuard : public QWebEngineUrlRequestInterceptor
{
public:
    // The address the page starts from: a public host's page is kept out of the local network.
    void startAt(const QUrl &url) { m_fromPublic = !isLocalHost(url.host()); }
    bool allows(const QUrl &url) const
    {
        return isWebScheme(url) && !(m_fromPublic && isLocalHost(url.host()));
    }
    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        if (!allows(info.requestUrl())) {
            qCDebug(lcBrowserEngine) << "refused request" << info.requestUrl();
            info.block(true);
        }
    }

private:
    std::atomic<bool> m_fromPublic{false};
};

// What a page may run and load, beyond what the request interceptor sees: data:, blob: and
// javascript: addresses never reach it (Chromium serves them inside the page's process), so the
// page is given a policy of its own before any of its scripts runs. The Content Security Policy
// lets scripts, frames and everything else come from http and https only; Trusted Types refuse
// javascript: addresses, which the policy would otherwise let through with the page's inline
// scripts. A <meta> policy counts only inside <head>, and holds once it was there.
const char kPagePolicyScript[] = R"(
(function () {
    var policy = document.createElement('meta');
    policy.httpEquiv = 'Content-Security-Policy';
    policy.content = "default-src http: https: 'unsafe-inline' 'unsafe-eval'; " +
        "object-src 'none'; require-trusted-types-for 'script'";
    var head = document.createElement('head');
    head.appendChild(policy);
    var root = document.documentElement;
    if (root) {
        root.insertBefore(head, root.firstChild);
        root.removeChild(head);
    } else {
        // Before the page's own parsing: a root of ours for the moment, then none again.
        root = document.createElement('html');
        root.appendChild(head);
        document.appendChild(root);
        document.removeChild(root);
    }
    if (window.trustedTypes && trustedTypes.createPolicy) {
        var web = function (url) {
            return /^\s*(data|blob|javascript|filesystem):/i.test(url) ? null : url;
        };
        try {
            trustedTypes.createPolicy('default', {
                createHTML: function (s) { return s; },
                createScript: function (s, type, sink) {
                    return /href|location|navigat/i.test(sink || '') ? null : s;
                },
                createScriptURL: web
            });
        } catch (e) {}
    }
})();
)";

// A page that nobody sees: no new windows, no dialogs, navigation to http and https only.
class HiddenPage : public QWebEnginePage
{
public:
    HiddenPage(QWebEngineProfile *profile, const SchemeGuard *guard)
        : QWebEnginePage(profile), m_guard(guard)
    {
    }

protected:
    // Redirects included, in every frame.
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool) override
    {
        if (m_guard->allows(url))
            return true;
        qCDebug(lcBrowserEngine) << "refused navigation to" << url;
        return false;
    }
    QWebEnginePage *createWindow(WebWindowType) override { return nullptr; }
    void javaScriptAlert(const QUrl &, const QString &) override {}
    bool javaScriptConfirm(const QUrl &, const QString &) override { return false; }
    bool javaScriptPrompt(const QUrl &, const QString &, const QString &, QString *) override
    {
        return false;
    }
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &message, int line,
                                  const QString &source) override
    {
        qCDebug(lcBrowserEngine).noquote() << "js:" << source << line << message;
    }

private:
    const SchemeGuard *m_guard;
};

class WebEngineBrowser : public BrowserEngine
{
public:
    WebEngineBrowser()
    {
        allowRunningAsRoot();
        // Loaded as a module, Qt WebEngine leaves its set-up of the application (the shared
        // OpenGL context it expects) to whoever loads it.
        QtWebEngineCore::initialize();

        // No storage name: off the record, cookies and cache in memory only.
        m_profile = std::make_unique<QWebEngineProfile>();
        m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
        m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
        m_profile->setSpellCheckEnabled(false);
        m_profile->setUrlRequestInterceptor(&m_guard);
        QWebEngineScript policy;
        policy.setName(QStringLiteral("brelvon-page-policy"));
        policy.setInjectionPoint(QWebEngineScript::DocumentCreation);
        policy.setWorldId(QWebEngineScript::MainWorld);
        policy.setRunsOnSubFrames(true);
        policy.setSourceCode(QString::fromLatin1(kPagePolicyScript));
        m_profile->scripts()->insert(policy);
        QObject::connect(m_profile.get(), &QWebEngineProfile::downloadRequested, m_profile.get(),
                         [](QWebEngineDownloadRequest *download) {
                             qCDebug(lcBrowserEngine) << "refused download" << download->url();
                             download->cancel();
                         });

        QWebEngineSettings *s = m_profile->settings();
        using S = QWebEngineSettings;
        const S::WebAttribute off[] = {S::PluginsEnabled,
                                       S::PdfViewerEnabled,
                                       S::LocalContentCanAccessRemoteUrls,
                                       S::LocalContentCanAccessFileUrls,
                                       S::JavascriptCanOpenWindows,
                                       S::JavascriptCanAccessClipboard,
                                       S::JavascriptCanPaste,
                                       S::AutoLoadImages,
                                       S::ErrorPageEnabled,
                                       S::WebGLEnabled,
                                       S::Accelerated2dCanvasEnabled,
                                       S::ScreenCaptureEnabled,
                                       S::DnsPrefetchEnabled,
                                       S::AllowRunningInsecureContent,
                                       S::AllowGeolocationOnInsecureOrigins,
                                       S::FullScreenSupportEnabled,
                                       S::NavigateOnDropEnabled,
                                       S::TouchIconsEnabled,
                                       S::AutoLoadIconsForPage,
                                       S::FocusOnNavigationEnabled};
        for (const S::WebAttribute attribute : off)
            s->setAttribute(attribute, false);
        s->setAttribute(S::PlaybackRequiresUserGesture, true);
        s->setUnknownUrlSchemePolicy(S::DisallowUnknownUrlSchemes);

        // A page that grows without end (a script that hoards memory) is stopped, and its
        // process ended, before it takes the machine's memory.
        // Looked at often: a page can take a gigabyte a second.
        m_watch.setInterval(20);
        QObject::connect(&m_watch, &QTimer::timeout, &m_watch, [this] { watchMemory(); });
    }

    ~WebEngineBrowser() override
    {
        // Pages go before their profile.
        close();
        for (const QPointer<HiddenPage> &page : std::as_const(m_closing))
            delete page.data();
    }

    void open(const QString &address, std::function<void(bool)> finished) override
    {
        close();
        m_finished = std::move(finished);
        m_guard.startAt(QUrl(address));
        m_tooLarge = false;
        m_page = new HiddenPage(m_profile.get(), &m_guard);
        QObject::connect(m_page, &QWebEnginePage::loadFinished, m_page, [this](bool ok) {
            if (!m_page || !m_finished)
                return;
            qCDebug(lcBrowserEngine) << "load finished:" << ok << m_page->url();
            // A page that moves on by itself (a script's redirect) is still loading.
            if (m_page->isLoading())
                return;
            std::exchange(m_finished, nullptr)(ok);
        });
        QObject::connect(m_page, &QWebEnginePage::renderProcessTerminated, m_page,
                         [this](QWebEnginePage::RenderProcessTerminationStatus status, int code) {
                             if (status != QWebEnginePage::NormalTerminationStatus)
                                 qCWarning(lcBrowserEngine)
                                     << "the page's process ended, status" << status << code;
                             if (m_read)
                                 std::exchange(m_read, nullptr)(QString());
                             if (m_finished)
                                 std::exchange(m_finished, nullptr)(false);
                         });
        QObject::connect(m_page, &QWebEnginePage::featurePermissionRequested, m_page,
                         [this](const QUrl &origin, QWebEnginePage::Feature feature) {
                             m_page->setFeaturePermission(origin, feature,
                                                          QWebEnginePage::PermissionDeniedByUser);
                         });
        m_page->load(QUrl(address));
        m_watch.start();
    }

    void setMemoryLimit(qint64 bytes) override { m_memoryLimit = bytes; }
    bool tooLarge() const override { return m_tooLarge; }

    void stop() override
    {
        m_finished = nullptr;
        if (m_page)
            m_page->triggerAction(QWebEnginePage::Stop);
    }

    void readBody(std::function<void(const QString &)> done) override
    {
        // Whatever the page became, only a page of the web is read.
        if (!m_page || m_tooLarge || !isWebScheme(m_page->url())) {
            done(QString());
            return;
        }
        m_read = std::move(done);
        // In a world of its own, so the page's scripts cannot change what the read sees. A text
        // longer than the fetch takes is not even handed over.
        m_page->runJavaScript(
            QStringLiteral("(function () { var h = document.body ? document.body.innerHTML : '';"
                           " return h.length > %1 ? false : h; })()")
                .arg(kMaxFetchBodyBytes),
            QWebEngineScript::ApplicationWorld,
            [this, page = QPointer<HiddenPage>(m_page)](const QVariant &html) {
                if (!page || page != m_page || !m_read)
                    return;
                QString text = html.toString();
                if (html.typeId() == QMetaType::Bool || text.toUtf8().size() > kMaxFetchBodyBytes) {
                    qCWarning(lcBrowserEngine) << "the page's text is too large:" << page->url();
                    m_tooLarge = true;
                    text.clear();
                }
                std::exchange(m_read, nullptr)(text);
            });
    }

    void close() override
    {
        m_watch.stop();
        m_finished = nullptr;
        m_read = nullptr;
        if (!m_page)
            return;
        HiddenPage *page = std::exchange(m_page, nullptr);
        QObject::disconnect(page, nullptr, nullptr, nullptr);
        page->triggerAction(QWebEnginePage::Stop);
        // Not at once: this may run inside one of the page's own callbacks.
        page->deleteLater();
        m_closing.removeAll(QPointer<HiddenPage>());
        m_closing.append(page);
    }

private:
    void watchMemory()
    {
        if (!m_page || m_tooLarge || m_memoryLimit <= 0)
            return;
        const qint64 pid = m_page->renderProcessPid();
        if (pid <= 0)
            return;
        const qint64 used = treeResidentBytes(pid);
        if (used <= m_memoryLimit)
            return;
        qCWarning(lcBrowserEngine) << "the page's process holds" << used / (1024 * 1024)
                                   << "MiB, over the limit: ending it" << m_page->url();
        m_tooLarge = true;
        m_watch.stop();
        m_page->triggerAction(QWebEnginePage::Stop);
        // Its termination ends the load, or the read, that waits for it.
        ::kill(pid_t(pid), SIGKILL);
    }

    SchemeGuard m_guard; // outlives the profile that uses it
    std::unique_ptr<QWebEngineProfile> m_profile;
    HiddenPage *m_page = nullptr;
    QList<QPointer<HiddenPage>> m_closing; // closed pages not yet deleted
    std::function<void(bool)> m_finished;
    std::function<void(const QString &)> m_read;
    QTimer m_watch; // the page's memory, while a page is open
    qint64 m_memoryLimit = 0;
    bool m_tooLarge = false;
};

} // namespace

extern "C" Q_DECL_EXPORT BrowserEngine *brelvonCreateBrowserEngine(int interfaceVersion,
                                                                   QString *error)
{
    if (interfaceVersion != kBrowserEngineInterface) {
        if (error)
            *error = QStringLiteral("the browser module belongs to another build of the program");
        return nullptr;
    }
    return new WebEngineBrowser;
}
