#pragma once

#include <QString>

// Whether the user asked for English messages: LC_ALL, else LC_MESSAGES, else LANG begins with
// "en". Our users are Chinese sellers, so every other locale, and none, gets Chinese.
bool englishMessages();

// The message in the user's language: zh, or en when englishMessages().
QString inUserLanguage(const QString &zh, const QString &en);
