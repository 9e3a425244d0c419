#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class BrowserEngine;
class NetworkSettings;

// The page loader of last resort for the detail page: a hidden browser page, without a view, on
// the thread that owns this object (the GUI thread; it needs a QGuiApplication). The browser
// itself (Qt WebEngine) is loaded and started on the first load, not before, so a run that never
// needs it never pays for it.
//
// A load navigates to the address and waits until the page is complete or the clock's minute
// (fetchClockNow, in whole minutes as the fetch's long wait) changes, then stops the page and
// hands over the HTML of its body as the browser writes it. Loads are served one at a time, in
// the order asked for, each in a fresh page. The waits run on timers: the thread stays free.
//
// The page runs without plugins, pop-up windows or downloads, in an off-the-record profile of
// its own (nothing written to disk), and neither it nor anything it loads may use a scheme
// other than http and https.
class HiddenBrowser : public QObject
{
    Q_OBJECT
public:
    // Receives the body's HTML, "" when nothing could be read. Called on this object's thread.
    using Done = std::function<void(const QString &html)>;
    // Asked while a load waits: false once nobody wants its answer any more (the job was
    // cancelled); the page is then stopped and the answer is "".
    using Wanted = std::function<bool()>;

    explicit HiddenBrowser(QObject *parent = nullptr);
    ~HiddenBrowser() override; // answers "" to every load still waiting

    // Never blocks. An address that is not an http or https address is answered "" at once.
    void load(const QString &address, Done done, Wanted wanted = {});

    // Whether the browser has been started (by a first load that needed it).
    bool isStarted() const { return m_engine != nullptr; }
    // Whether the last load answered was given up for its size (the page's process passed the
    // memory limit, or its text passed the fetch's limit); from its Done callback on.
    bool lastLoadTooLarge() const { return m_lastTooLarge; }

    // The memory the page's process may hold, in MiB, for every browser of this program
    // ([browser] maxMemoryMB). Chromium's JavaScript heap limit follows it when the browser
    // starts; the watch of the process applies from the next load.
    static void setMemoryLimitMB(int megabytes);
    // How every browser of this program reaches the network (the proxy). Chromium takes it when
    // it starts; a browser started with other settings loads nothing until the program restarts,
    // rather than go around the proxy. The demo site on this machine is always reached directly.
    static void setNetwork(const NetworkSettings &network);

    // Whether this build carries the browser, and which; and a line for --version.
    static bool isBuiltIn();
    static QString versionText();
    // Whether the browser can be started here, without loading it: false, with the reason, for
    // a build without it, a missing module, or an application object without graphics.
    static bool checkAvailable(QString *why);

private:
    struct Request
    {
        QString address;
        Done done;
        Wanted wanted;
    };
    enum class Phase { Idle, Loading, Reading };

    void startNext();
    void onTick();
    void onLoadEnded(bool complete);
    void readPage();
    void finish(const QString &html);
    bool startEngine();

    QList<Request> m_queue; // the first is being served unless m_phase is Idle
    Phase m_phase = Phase::Idle;
    qint64 m_startMinute = 0;
    std::unique_ptr<BrowserEngine> m_engine;
    bool m_engineFailed = false;
    bool m_lastTooLarge = false;
    QTimer m_tick;            // while loading: the clock's minute and the job's cancellation
    QTimer m_readTimeout;     // a page's process that never answers the read
    quint64 m_generation = 0; // tells a late callback of an earlier load from the current one
};
