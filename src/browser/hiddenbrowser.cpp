#include "browser/hiddenbrowser.h"

#include "model/uilanguage.h"

#include "browser/browserengine.h"
#include "web/fetchpage.h"
#include "web/networksettings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>
#include <QLoggingCategory>
#include <QUrl>

#include <atomic>
#include <mutex>

Q_LOGGING_CATEGORY(lcBrowser, "brelvon.browser", QtWarningMsg)

// Set by CMake: whether the build made the browser module, which Qt WebEngine it uses, and
// where the installed module lies relative to the programs' folder.
#ifndef BRELVON_HAVE_WEBENGINE
#define BRELVON_HAVE_WEBENGINE 0
#endif
#ifndef BRELVON_WEBENGINE_VERSION
#define BRELVON_WEBENGINE_VERSION ""
#endif
#ifndef BRELVON_MODULE_DIR_FROM_BIN
#define BRELVON_MODULE_DIR_FROM_BIN "../lib/brelvon"
#endif

namespace {

const char kModuleName[] = "brelvon-webengine.so";

std::atomic<int> g_memoryLimitMB{512};

// The network switches for Chromium, and those it started with: it reads them once per process.
std::mutex g_networkMutex;
QStringList g_networkSwitches = NetworkSettings().browserSwitches();
QStringList g_startedSwitches; // empty until Chromium starts

// Added to the flags the user set, unless they name a proxy themselves.
void useNetworkSwitches()
{
    std::lock_guard<std::mutex> lock(g_networkMutex);
    if (!g_startedSwitches.isEmpty())
        return;
    g_startedSwitches = g_networkSwitches;
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (flags.contains("proxy-server"))
        return;
    for (const QString &flag : std::as_const(g_networkSwitches))
        flags += QByteArray(flags.isEmpty() ? "" : " ") + flag.toUtf8();
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
}

// Whether the browser, once started, still runs with the network settings of now. Chromium
// cannot change its proxy while it runs: with other settings it reads no more pages rather than
// go around the proxy the seller set.
bool networkUnchanged()
{
    std::lock_guard<std::mutex> lock(g_networkMutex);
    return g_startedSwitches.isEmpty() || g_startedSwitches == g_networkSwitches;
}

// Chromium reads its flags once, when the browser starts: the JavaScript heap gets half of the
// page's memory limit, so that a script that hoards objects fails inside the page before the
// process as a whole passes the limit. Added to the flags the user set, unless they name a
// JavaScript heap themselves.
void limitJavaScriptHeap(int limitMB)
{
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (flags.contains("--js-flags"))
        return;
    flags += QByteArray(flags.isEmpty() ? "" : " ") +
             "--js-flags=--max-old-space-size=" + QByteArray::number(qMax(32, limitMB / 2));
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
}
// A page's process that is still silent this long after it was asked for the body is given up.
constexpr int kReadTimeoutMs = 10000;
// How often a waiting load looks at the clock and at its job. Only while a page loads.
constexpr int kTickMs = 200;

// The clock's minute, as the fetch's long wait counts it.
qint64 minuteOf(qint64 ms)
{
    return ms >= 0 ? ms / 60000 : (ms - 59999) / 60000;
}

bool isWebAddress(const QString &address)
{
    const QUrl url(address.trimmed());
    const QString scheme = url.scheme();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

// Qt WebEngine reports its graphics set-up as it starts (and warns when it finds no OpenGL, as on
// a server or offscreen, where a hidden page needs none, or when it is loaded as a module after
// the application object exists, as here). That goes to our debug log instead.
QtMessageHandler g_previousHandler = nullptr;

void quietBrowserStartUp(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const bool chatter =
        (context.category && qstrcmp(context.category, "qt.webenginecontext") == 0) ||
        message.startsWith(QLatin1String("WebEngineContext used before")) ||
        message.startsWith(QLatin1String("Qt WebEngine seems to be initialized from a plugin")) ||
        message.startsWith(QLatin1String("Attribute Qt::AA_ShareOpenGLContexts must be set")) ||
        message.startsWith(QLatin1String("No suitable graphics backend found"));
    if (chatter && type != QtCriticalMsg && type != QtFatalMsg)
        qCDebug(lcBrowser).noquote() << message;
    else if (g_previousHandler)
        g_previousHandler(type, context, message);
    else
        qt_message_output(type, context, message);
}

// Beside the program (a build folder), else where an installed program finds it.
QString modulePath()
{
    const QString bin = QCoreApplication::applicationDirPath();
    for (const QString &dir :
         {bin, bin + QLatin1Char('/') + QLatin1String(BRELVON_MODULE_DIR_FROM_BIN)}) {
        const QFileInfo file(dir + QLatin1Char('/') + QLatin1String(kModuleName));
        if (file.isFile())
            return file.canonicalFilePath();
    }
    return {};
}

QString noBrowserText()
{
    return inUserLanguage(QStringLiteral("这个版本没有内置浏览器（构建时没有 Qt WebEngine）"),
                          QStringLiteral("this build has no embedded browser (built without Qt "
                                         "WebEngine)"));
}

QString missingModuleText()
{
    return inUserLanguage(QStringLiteral("缺少浏览器模块 %1"),
                          QStringLiteral("the browser module %1 is missing"))
        .arg(QLatin1String(kModuleName));
}

// The module's entry point, loaded once per process and never unloaded (a browser cannot be).
CreateBrowserEngine resolveModule(QString *why)
{
    static std::mutex mutex;
    static CreateBrowserEngine create = nullptr;
    static QString failure;
    static bool tried = false;
    std::lock_guard<std::mutex> lock(mutex);
    if (!tried) {
        tried = true;
        if (!BRELVON_HAVE_WEBENGINE) {
            failure = noBrowserText();
        } else if (const QString path = modulePath(); path.isEmpty()) {
            failure = missingModuleText();
        } else {
            g_previousHandler = qInstallMessageHandler(quietBrowserStartUp);
            // Never deleted: the module stays loaded for the rest of the process.
            static QLibrary *const library = new QLibrary(path);
            create = reinterpret_cast<CreateBrowserEngine>(
                library->resolve(BRELVON_BROWSER_ENGINE_ENTRY));
            if (!create)
                failure = library->errorString();
        }
    }
    if (!create && why)
        *why = failure;
    return create;
}

bool hasGuiApplication(QString *why)
{
    const QCoreApplication *app = QCoreApplication::instance();
    if (app && app->inherits("QGuiApplication"))
        return true;
    if (why)
        *why = inUserLanguage(QStringLiteral("内置浏览器需要图形界面的应用程序对象"),
                              QStringLiteral("the embedded browser needs a graphical application "
                                             "object"));
    return false;
}

} // namespace

HiddenBrowser::HiddenBrowser(QObject *parent) : QObject(parent)
{
    m_tick.setInterval(kTickMs);
    connect(&m_tick, &QTimer::timeout, this, &HiddenBrowser::onTick);
    m_readTimeout.setSingleShot(true);
    m_readTimeout.setInterval(kReadTimeoutMs);
    connect(&m_readTimeout, &QTimer::timeout, this, [this] {
        qCWarning(lcBrowser) << "the page did not hand over its body in time";
        finish({});
    });
}

HiddenBrowser::~HiddenBrowser()
{
    m_tick.stop();
    m_readTimeout.stop();
    m_engine.reset(); // the page and its profile go before anything they call back into
    const QList<Request> waiting = std::exchange(m_queue, {});
    for (const Request &r : waiting) {
        if (r.done)
            r.done(QString());
    }
}

bool HiddenBrowser::isBuiltIn()
{
    return BRELVON_HAVE_WEBENGINE;
}

QString HiddenBrowser::versionText()
{
    if (!BRELVON_HAVE_WEBENGINE)
        return inUserLanguage(QStringLiteral("内置浏览器：无（构建时没有 Qt WebEngine）；只有浏览器"
                                             "能读的信用页保持空白"),
                              QStringLiteral("embedded browser: none (built without Qt WebEngine); "
                                             "detail pages that only a browser can read stay "
                                             "empty"));
    QString text = inUserLanguage(QStringLiteral("内置浏览器：Qt WebEngine %1，信用页需要时启动"),
                                  QStringLiteral("embedded browser: Qt WebEngine %1, started when "
                                                 "a detail page needs it"))
                       .arg(QLatin1String(BRELVON_WEBENGINE_VERSION));
    if (modulePath().isEmpty())
        text += inUserLanguage(QStringLiteral("（但缺少它的模块 %1）"),
                               QStringLiteral(" (but its module %1 is missing)"))
                    .arg(QLatin1String(kModuleName));
    return text;
}

bool HiddenBrowser::checkAvailable(QString *why)
{
    if (!hasGuiApplication(why))
        return false;
    if (!BRELVON_HAVE_WEBENGINE) {
        *why = noBrowserText();
        return false;
    }
    // Only whether the module is there: loading it costs memory that only a query needing the
    // browser should pay.
    if (modulePath().isEmpty()) {
        *why = missingModuleText();
        return false;
    }
    return true;
}

void HiddenBrowser::load(const QString &address, Done done, Wanted wanted)
{
    if (!isWebAddress(address)) {
        qCDebug(lcBrowser) << "not loading" << address << "(not an http or https address)";
        if (done)
            done(QString());
        return;
    }
    m_queue.append({address.trimmed(), std::move(done), std::move(wanted)});
    startNext();
}

void HiddenBrowser::setMemoryLimitMB(int megabytes)
{
    g_memoryLimitMB = megabytes;
}

void HiddenBrowser::setNetwork(const NetworkSettings &network)
{
    std::lock_guard<std::mutex> lock(g_networkMutex);
    g_networkSwitches = network.browserSwitches();
}

bool HiddenBrowser::startEngine()
{
    if (m_engine)
        return true;
    if (m_engineFailed)
        return false;
    QString why;
    if (hasGuiApplication(&why)) {
        if (const CreateBrowserEngine create = resolveModule(&why)) {
            limitJavaScriptHeap(g_memoryLimitMB);
            useNetworkSwitches();
            m_engine.reset(create(kBrowserEngineInterface, &why));
        }
    }
    if (!m_engine) {
        m_engineFailed = true;
        // A build without the browser simply reads nothing, as documented; anything else is a
        // broken installation worth a word.
        if (BRELVON_HAVE_WEBENGINE)
            qCWarning(lcBrowser).noquote() << "the embedded browser cannot be used:" << why;
        else
            qCDebug(lcBrowser).noquote() << why;
        return false;
    }
    qCDebug(lcBrowser) << "embedded browser started";
    return true;
}

void HiddenBrowser::startNext()
{
    if (m_phase != Phase::Idle || m_queue.isEmpty())
        return;
    const Request &request = m_queue.constFirst();
    if ((request.wanted && !request.wanted()) || !startEngine()) {
        finish({});
        return;
    }
    if (!networkUnchanged()) {
        qCWarning(lcBrowser) << "the embedded browser started with other network settings; it "
                                "reads pages again once the program is restarted";
        finish({});
        return;
    }
    m_phase = Phase::Loading;
    const quint64 generation = ++m_generation;
    m_startMinute = minuteOf(fetchClockNow());
    qCDebug(lcBrowser) << "loading" << request.address;
    m_engine->setMemoryLimit(qint64(g_memoryLimitMB.load()) * 1024 * 1024);
    m_tick.start();
    m_engine->open(request.address, [this, generation](bool complete) {
        if (generation == m_generation && m_phase == Phase::Loading)
            onLoadEnded(complete);
    });
}

void HiddenBrowser::onTick()
{
    if (m_phase != Phase::Loading)
        return;
    const Request &request = m_queue.constFirst();
    if (request.wanted && !request.wanted()) {
        qCDebug(lcBrowser) << "load no longer wanted:" << request.address;
        m_engine->stop();
        finish({});
    } else if (minuteOf(fetchClockNow()) != m_startMinute) {
        // The wait has run out: what has arrived is the page.
        qCDebug(lcBrowser) << "the clock's minute changed: stopping" << request.address;
        m_engine->stop();
        readPage();
    }
}

void HiddenBrowser::onLoadEnded(bool complete)
{
    qCDebug(lcBrowser) << (complete ? "complete:" : "failed:") << m_queue.constFirst().address;
    if (complete)
        readPage();
    else
        finish({});
}

void HiddenBrowser::readPage()
{
    m_phase = Phase::Reading;
    m_tick.stop();
    m_readTimeout.start();
    const quint64 generation = m_generation;
    m_engine->readBody([this, generation](const QString &html) {
        if (generation == m_generation && m_phase == Phase::Reading)
            finish(html);
    });
}

void HiddenBrowser::finish(const QString &html)
{
    qCDebug(lcBrowser) << "answer:" << html.size() << "characters";
    m_tick.stop();
    m_readTimeout.stop();
    ++m_generation; // whatever the page still calls back belongs to a load that is over
    m_lastTooLarge = m_engine && m_phase != Phase::Idle && m_engine->tooLarge();
    if (m_engine && m_phase != Phase::Idle)
        m_engine->close();
    m_phase = Phase::Idle;
    const Request request = m_queue.takeFirst();
    if (!m_queue.isEmpty())
        QTimer::singleShot(0, this, &HiddenBrowser::startNext);
    if (request.done)
        request.done(html);
}
