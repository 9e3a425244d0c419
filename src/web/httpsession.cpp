#include "web/httpsession.h"

#include "web/addresstext.h"
#include "web/canceltoken.h"
#include "web/fetchclock.h"
#include "web/localnetwork.h"

#include <QUrl>

#include <curl/curl.h>

#include <chrono>
#include <thread>

namespace {

// Wake-ups of a waiting fetch: the clock is re-read at least this often, so a clock that jumps
// (a change of system time, a test clock) and a cancellation are noticed; ten wake-ups a second
// cost nothing measurable.
constexpr int kPollMs = 100;

void initCurlOnce()
{
    static const bool done = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
    (void)done;
}

struct Transfer
{
    CURL *easy = nullptr;
    const NetworkSettings *network = nullptr;
    bool proxy = false; // a proxy is set for this fetch (a host it bypasses is reached directly)
    QByteArray *body = nullptr;
    qint64 headBytes = 0;
    bool tooLarge = false;
    bool publicHop = false;        // a request of this fetch went to a public address
    bool intoLocalNetwork = false; // and a redirect then led into the local network
};

// Called once connected, before each request is sent (the first and every redirect's), with
// the address actually connected to: a name cannot hide where it leads.
int onRequestReady(void *user, char *address, char *, int, int)
{
    auto *t = static_cast<Transfer *>(user);
    char *url = nullptr;
    curl_easy_getinfo(t->easy, CURLINFO_EFFECTIVE_URL, &url);
    const QString host = url ? QUrl(QString::fromUtf8(url)).host() : QString();
    // Through a proxy the address connected to is the proxy's: only an address literal in the
    // request says where it leads, and a name is not resolved here.
    QString connectedTo = QString::fromLatin1(address);
    if (t->proxy && !t->network->bypasses(host)) {
        unsigned char bytes[16];
        const QByteArray literal = host.toLatin1();
        const bool isLiteral = parseIPv4Address(literal.constData(), bytes) ||
                               parseIPv6Address(literal.constData(), bytes);
        connectedTo = isLiteral ? host : QString();
    }
    if (!goesIntoLocalNetwork(host, connectedTo)) {
        t->publicHop = true;
    } else if (t->publicHop) {
        t->intoLocalNetwork = true;
        return CURL_PREREQFUNC_ABORT;
    }
    return CURL_PREREQFUNC_OK;
}

size_t onBody(char *data, size_t size, size_t count, void *user)
{
    auto *t = static_cast<Transfer *>(user);
    const size_t n = size * count;
    if (t->body->size() + qint64(n) > kMaxFetchBodyBytes) {
        t->tooLarge = true;
        return 0; // aborts the transfer, whatever its framing
    }
    t->body->append(data, qsizetype(n));
    return n;
}

size_t onHeader(char *, size_t size, size_t count, void *user)
{
    auto *t = static_cast<Transfer *>(user);
    const size_t n = size * count;
    t->headBytes += qint64(n);
    if (t->headBytes > kMaxResponseHeadBytes) {
        t->tooLarge = true;
        return 0;
    }
    return n;
}

// Whether libcurl gave up on a response head longer than its own limit (100 KiB), which comes
// before ours when one header line never ends: it says it ran out of memory (newer versions say
// "too large"). Nothing else we ask of it needs that much, and no body was read yet.
bool headOverflow(CURLcode code, const QByteArray &body)
{
#if LIBCURL_VERSION_NUM >= 0x080600
    if (code == CURLE_TOO_LARGE)
        return true;
#endif
    return code == CURLE_OUT_OF_MEMORY && body.isEmpty();
}

} // namespace

// One connection set: a multi handle (its connection cache keeps idle connections to each
// host) and the easy handle whose transfers it drives.
struct HttpSession::Lane
{
    CURLM *multi = nullptr;
    CURL *easy = nullptr;

    Lane() : multi(curl_multi_init()), easy(curl_easy_init()) {}
    ~Lane()
    {
        curl_easy_cleanup(easy);
        curl_multi_cleanup(multi);
    }
};

HttpSession::HttpSession(const NetworkSettings &network) : m_network(network)
{
    initCurlOnce();
}

HttpSession::~HttpSession() = default;

void HttpSession::setNetwork(const NetworkSettings &network)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_network = network;
}

NetworkSettings HttpSession::network() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_network;
}

HttpSession::Lane *HttpSession::borrow()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_idle.empty()) {
        Lane *lane = m_idle.back();
        m_idle.pop_back();
        return lane;
    }
    m_lanes.push_back(std::make_unique<Lane>());
    return m_lanes.back().get();
}

void HttpSession::giveBack(Lane *lane)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_idle.push_back(lane);
}

HttpSession::Attempt HttpSession::get(const QByteArray &url, qint64 deadline,
                                      const CancelToken *cancel, QByteArray *body, int *status,
                                      QString *error, QByteArray *contentType)
{
    const NetworkSettings network = this->network();
    // Set even when empty: libcurl would otherwise take the environment's proxy by itself. The
    // hosts the proxy skips are libcurl's no-proxy list, for every hop of the fetch alike.
    const QByteArray proxy = network.proxyForScheme(QUrl::fromEncoded(url).scheme());
    const QByteArray bypass = network.bypassList();
    Lane *lane = borrow();
    CURL *easy = lane->easy;
    Transfer transfer;
    transfer.easy = easy;
    transfer.body = body;
    transfer.network = &network;
    transfer.proxy = !proxy.isEmpty();

    curl_easy_reset(easy);
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(kMaxFetchBodyBytes));
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Mozilla/5.0");
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, onRequestReady);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROXY, proxy.constData());
    curl_easy_setopt(easy, CURLOPT_NOPROXY, bypass.constData());
    curl_multi_add_handle(lane->multi, easy);

    Attempt attempt = Attempt::Failed;
    CURLcode code = CURLE_OK;
    bool done = false;
    while (!done) {
        int running = 0;
        curl_multi_perform(lane->multi, &running);
        int queued = 0;
        while (CURLMsg *msg = curl_multi_info_read(lane->multi, &queued)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
                code = msg->data.result;
                done = true;
            }
        }
        if (done)
            break;
        if (cancel && cancel->isCancelled()) {
            attempt = Attempt::Cancelled;
            break;
        }
        const qint64 left = deadline - fetchClockNow();
        if (left <= 0) {
            attempt = Attempt::TimedOut;
            break;
        }
        // Sleeps in the kernel until the socket is ready or the time is up: a silent server
        // costs no CPU.
        curl_multi_poll(lane->multi, nullptr, 0, int(qMin<qint64>(left, kPollMs)), nullptr);
    }

    long httpStatus = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &httpStatus);
    *status = int(httpStatus);
    long connectStatus = 0; // the proxy's answer to a tunnel for https
    curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &connectStatus);
    long proxyError = CURLPX_OK;
    curl_easy_getinfo(easy, CURLINFO_PROXY_ERROR, &proxyError);
    // Whether the last request went through the proxy (a redirect may lead to a host it skips).
    char *lastUrl = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &lastUrl);
    const bool viaProxy =
        transfer.proxy &&
        !network.bypasses(lastUrl ? QUrl(QString::fromUtf8(lastUrl)).host() : QString());
    if (contentType) {
        char *type = nullptr;
        curl_easy_getinfo(easy, CURLINFO_CONTENT_TYPE, &type);
        *contentType = type ? QByteArray(type) : QByteArray();
    }
    // Removing an unfinished transfer closes its connection and frees everything it held, so a
    // server that never ends its answer keeps nothing of ours.
    curl_multi_remove_handle(lane->multi, easy);
    giveBack(lane);

    if (done) {
        if (viaProxy && (connectStatus == 407 || (code == CURLE_OK && httpStatus == 407) ||
                         proxyError == CURLPX_NO_AUTH || proxyError == CURLPX_USER_REJECTED)) {
            attempt = Attempt::ProxyPassword;
            *error = QStringLiteral("the proxy asks for a password");
        } else if (viaProxy &&
                   (code == CURLE_COULDNT_CONNECT || code == CURLE_COULDNT_RESOLVE_PROXY)) {
            attempt = Attempt::ProxyRefused;
            *error = QString::fromUtf8(curl_easy_strerror(code));
        } else if (code == CURLE_OK) {
            attempt = Attempt::Finished;
        } else if (transfer.intoLocalNetwork) {
            attempt = Attempt::Refused;
            *error = QStringLiteral("redirect into the local network");
        } else if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED ||
                   headOverflow(code, *body)) {
            attempt = Attempt::TooLarge;
        } else {
            attempt = Attempt::Failed;
            *error = QString::fromUtf8(curl_easy_strerror(code));
        }
    }
    if (attempt != Attempt::Finished)
        body->clear();
    return attempt;
}
