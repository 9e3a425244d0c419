#pragma once

#include <QString>

// The system's message for an errno value, in the user's language where we have it.
QString systemErrorText(int errnum);
