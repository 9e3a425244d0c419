#pragma once

#include <QString>

#include <functional>

// What the browser module (brelvon-webengine.so, Qt WebEngine) offers the program that loads it.
// The module is loaded on first use only, so a run that never needs the browser never pays for
// it. Everything here runs on the thread that created the engine (the GUI thread), and the
// interface is kept to plain virtual calls and callbacks: no Qt signals cross the boundary.
class BrowserEngine
{
public:
    virtual ~BrowserEngine() = default;

    // Opens a fresh hidden page and starts loading `address` (an http or https address). Any
    // page still open is closed first. `finished` is called once, when the loading ends by
    // itself: true when the page is complete, false when it failed. Never after stop() or
    // close().
    virtual void open(const QString &address, std::function<void(bool complete)> finished) = 0;
    // Stops the loading; what has arrived so far stays in the page.
    virtual void stop() = 0;
    // Hands the HTML of the open page's body as the browser writes it (document.body.innerHTML)
    // to `done`, or "" when there is no page, no body, or the page's process died.
    virtual void readBody(std::function<void(const QString &html)> done) = 0;
    // Closes the page and lets its process go. Pending callbacks are dropped.
    virtual void close() = 0;
    // The most the page's process (with any it starts) may hold in memory: past it, the load is
    // stopped and the process ended, so that one page never takes the machine's memory. Applies
    // from the next open().
    virtual void setMemoryLimit(qint64 bytes) = 0;
    // Whether the open page was given up for its size: its process passed the memory limit, or
    // its body's text passed kMaxFetchBodyBytes (readBody then hands over "").
    virtual bool tooLarge() const = 0;
};

// The module's one entry point: a new engine, or null with the reason in *error. The interface
// number guards against a module of another build.
constexpr int kBrowserEngineInterface = 2;
using CreateBrowserEngine = BrowserEngine *(*)(int interfaceVersion, QString *error);
#define BRELVON_BROWSER_ENGINE_ENTRY "brelvonCreateBrowserEngine"
