#include "mainwindow/spreadsheetopener.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace {

// Whether the desktop associates an application with the type of path. Only asked where the
// desktop's opener is xdg-open (found beside xdg-mime), which starts whether or not anything can
// open the file and says so on its error output only; elsewhere the system's opener answers
// itself.
bool desktopHasApplicationFor(const QString &path)
{
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty())
        return true;
    const QString type = QFileInfo(path).isDir() ? QStringLiteral("inode/directory")
                                                 : QMimeDatabase().mimeTypeForFile(path).name();
    QProcess query;
    query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), type});
    if (!query.waitForFinished(5000)) {
        query.kill();
        query.waitForFinished(1000);
        return false;
    }
    return query.exitStatus() == QProcess::NormalExit && query.exitCode() == 0 &&
           !query.readAllStandardOutput().trimmed().isEmpty();
}

} // namespace

bool openWithSystem(const QString &path)
{
    return desktopHasApplicationFor(path) && QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool openSpreadsheet(const QString &path)
{
    if (openWithSystem(path))
        return true;
    // Only a program that is there.
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
