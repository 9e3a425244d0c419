#pragma once

#include "web/fetchpage.h"

#include <QString>

// "http://" + host + path, or "" when the settings name no such host (no request is made).
QString hostAddress(const QString &host, const QString &path);

// Fetches a page and notes what the fetch did; a blank address is no page and leaves no note.
QString fetchInto(PageResults &log, const QString &name, const QString &address, FetchWait mode,
                  const FetchContext &context);
