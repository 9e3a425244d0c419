#pragma once

class QCoreApplication;

// Puts Qt's own texts (message box buttons, file dialogs) into the user's language: Chinese
// unless English is asked for (englishMessages()), and always after keepMessagesChinese(), from
// the qtbase translation Qt ships. Returns
// whether a translation was installed; without one, Qt's English stays.
bool installQtTranslations(QCoreApplication *app);
