#pragma once

#include "loopback/loopbackserver.h"

#include <QObject>
#include <QString>

#include <memory>
#include <vector>

// Our web site and the demo marketplace, served from the data bundled into the program, on a
// loopback port. The command line and the window start one in the process for --demo; the
// brelvon-site tool runs one on its own.
class DemoSite : public QObject
{
    Q_OBJECT
public:
    explicit DemoSite(QObject *parent = nullptr);
    ~DemoSite() override;

    // What the site allows its clients (LoopbackServer::Limits); takes effect at the next start().
    using Limits = LoopbackServer::Limits;
    void setLimits(const Limits &limits);

    // Listens on 127.0.0.1 (port 0: any free one). Every answer is held back delayMs.
    bool start(quint16 port = 0, int delayMs = 0);
    // Replaces the start-up list's version text (slot 0), e.g. to show the update notice.
    void setVersionText(const QString &text);
    // Answers every n-th request for a marketplace page with the marketplace's login page, as a
    // marketplace does that wants a login or a slider check; 0 (the default) never.
    void setBlockAfter(int n);
    // Serves the login page for 3 s whenever more than n marketplace pages were asked for within
    // one second, as a marketplace does that throttles; 0 (the default) never. The same as
    // setBudget(n, 1, 3).
    void setRateLimit(int n);
    // Serves at most `pages` marketplace pages within any sliding windowSec seconds; the next one
    // asked for, and every one for blockSec seconds after it, is the login page. 0 pages: no
    // budget.
    void setBudget(int pages, int windowSec, int blockSec);
    // How many times the budget has struck, and the marketplace pages asked for so far.
    int rateLimitBlocks() const;
    // With a budget: when each marketplace page was asked for and when each block began, in
    // milliseconds since the site was made.
    std::vector<qint64> marketplaceRequestTimes() const;
    std::vector<qint64> blockTimes() const;
    qint64 marketplaceRequests() const;
    qint64 searchRequests() const; // of the marketplace's search page
    // A second port that accepts connections and reads requests but never answers, for a host
    // that has gone silent. False when it cannot listen.
    bool startSilentHost();
    QString silentHostPort() const; // "127.0.0.1:PORT"; empty when not started
    quint16 port() const;
    QString hostPort() const; // "127.0.0.1:PORT"

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
