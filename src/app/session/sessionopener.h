#pragma once

#include "lookup/lookupsession.h"
#include "lookup/profile.h"

#include <QString>

#include <memory>

// How a program opens its lookup session: the window, every command of brelvon-cli and the
// settings check each ask for theirs here, so a session is made one way.
struct SessionOpening
{
    int jobs = 0; // the most buyers at once (0: the settings' [batch] jobs)
    LookupSession::Options::Database database = LookupSession::Options::Database::None;
    bool browser = false;           // hidden browser pages for what the plain fetch cannot read
    bool keepConfiguration = false; // our site's last good configuration stands in while it is down
    bool keepPace = false;          // the pace learnt of the marketplace kept for the next run
    // A maintainer's local configuration and area table instead of the downloads (--config,
    // --area-table; empty: downloaded).
    QString configPath;
    QString areaTablePath;

    // The window: room for the most jobs (the settings may raise them while it runs), its
    // database made when missing (notes and the blacklist need it), the browser, the kept
    // configuration.
    static SessionOpening window(const QString &configPath, const QString &areaTablePath);
    // A querying command: jobs, the database as history asks (made only when history is kept).
    static SessionOpening command(int jobs, bool history, bool browser, const QString &configPath,
                                  const QString &areaTablePath);
    // The settings check: the hosts alone, two jobs (every document of the hosts at once).
    static SessionOpening check();
};

// The session for the profile, opened as asked; null with the reason in *error when the local
// configuration or area table cannot be read.
std::unique_ptr<LookupSession> openSession(const Profile &profile, const SessionOpening &how,
                                           QString *error);
