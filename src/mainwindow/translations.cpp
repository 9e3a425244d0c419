#include "mainwindow/translations.h"

#include "model/uilanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool installQtTranslations(QCoreApplication *app)
{
    if (englishMessages())
        return false;
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    // A Chinese locale, or none at all (a desktop session without LANG, "C"): Simplified
    // Chinese. Another language gets its own translation where Qt has one, else Chinese.
    const QLocale system = QLocale::system();
    const bool chinese = messagesKeptChinese() || system.language() == QLocale::Chinese ||
                         system.language() == QLocale::C || system.name() == QLatin1String("C");
    auto *translator = new QTranslator(app);
    if ((!chinese &&
         translator->load(system, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) ||
        translator->load(QStringLiteral("qtbase_zh_CN"), folder)) {
        app->installTranslator(translator);
        if (chinese)
            QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
        return true;
    }
    delete translator;
    return false;
}
