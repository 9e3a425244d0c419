#include "mainwindow/spreadsheetopener.h"

#include <QProcess>
#include <QStandardPaths>

bool openSpreadsheet(const QString &path)
{
    // Only a program that is there: the desktop's opener starts whether or not anything can
    // open the file, so its start says nothing.
    for (const char *name : {"libreoffice", "soffice", "localc", "et", "gnumeric"}) {
        const QString program = QStandardPaths::findExecutable(QLatin1String(name));
        if (program.isEmpty())
            continue;
        // Started detached: the spreadsheet keeps running when Brelvon ends.
        const QLatin1String which(name);
        const QStringList arguments =
            which == QLatin1String("localc") ? QStringList{QStringLiteral("-n"), path}
            : which == QLatin1String("libreoffice") || which == QLatin1String("soffice")
                ? QStringList{QStringLiteral("--calc"), QStringLiteral("-n"), path}
                : QStringList{path};
        if (QProcess::startDetached(program, arguments))
            return true;
    }
    return false;
}
