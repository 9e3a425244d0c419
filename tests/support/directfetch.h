#pragma once

#include "web/fetchpage.h"
#include "web/httpsession.h"

// A fetch context on a direct session of the test's own: every fetch needs a session, and a
// test that reads a page of its own servers wants no proxy.
inline FetchContext directFetch()
{
    static HttpSession session;
    FetchContext context;
    context.session = &session;
    return context;
}
