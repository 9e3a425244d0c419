#pragma once

#include "lookup/lookupsession.h"
#include "mainwindow/mainwindow.h"

#include <memory>

// A window on a session of its own, as the program makes it but without a database or kept
// configuration: the session goes with the window, after the window's own runners.
inline std::unique_ptr<MainWindow> windowOn(const QuerySettings &settings)
{
    Profile profile;
    profile.settings = settings;
    profile.storage.history = false;
    LookupSession::Options options;
    options.jobs = BatchOptions::kMaxJobs;
    options.browser = true;
    auto *session = new LookupSession(profile, options);
    auto window = std::make_unique<MainWindow>(*session);
    session->setParent(window.get());
    return window;
}
