#include "mainwindow/spreadsheetopener.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

bool openSpreadsheet(const QString &path)
{
    for (const char *name : {"libreoffice", "soffice"}) {
        const QString program = QStandardPaths::findExecutable(QLatin1String(name));
        if (program.isEmpty())
            continue;
        // Started detached: the spreadsheet keeps running when Brelvon ends.
        if (QProcess::startDetached(program,
                                    {QStringLiteral("--calc"), QStringLiteral("-n"), path}))
            return true;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
