#pragma once

#include <QString>

// Whether the user asked for English messages: LC_ALL, else LC_MESSAGES, else LANG begins with
// "en". Our users are Chinese sellers, so every other locale, and none, gets Chinese. Always
// false once keepMessagesChinese() was called.
bool englishMessages();

// The window program is Chinese by design: from now on every message of this process is
// Chinese whatever the locale says, so no English sentence turns up inside the window.
void keepMessagesChinese(bool keep = true);
bool messagesKeptChinese();

// The message in the user's language: zh, or en when englishMessages().
QString inUserLanguage(const QString &zh, const QString &en);
