#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

// Every file we write for the user (the batch table, a blacklist or history export) goes
// through here, so none of them can destroy something that is not a file of the user's, or one
// of our own.
//
// A path may be written when it is a missing file in an existing folder (made with the mode
// 0666 less the umask), a regular file the user may write (replaced, keeping its mode), or a
// symbolic link to one (the file it leads to is replaced; the link stays). Refused: a folder,
// a device, pipe or socket, a link to a missing file, and the program's own files under any
// name or link. On Windows also refused: the device names that exist in every folder (CON, NUL,
// COM1 …, also with an extension) and names ending in a dot or space.
//
// A file is replaced in one step once the new one is complete (written beside it, then renamed
// over it), so a failed write loses nothing.

// One of the program's own files, and what to call it in a message ("the id file").
struct OwnFile
{
    QString path;
    QString what;
};

// The program's own files: the seller's database with its journal files (-wal, -shm, -journal),
// the settings file and, for a batch, the id file. Empty paths are left out.
QList<OwnFile> programFiles(const QString &databasePath, const QString &settingsPath,
                            const QString &idFilePath = QString());

// Where the bytes for a path go, and with which mode and owner.
struct OutputTarget
{
    QString path;      // the file itself: a link's target
    unsigned mode = 0; // POSIX permission bits, owner and group; not used on Windows
    bool existed = false;
    unsigned uid = 0;
    unsigned gid = 0;
};

// Whether path may be written. False with the reason ("it is a folder") in *reason.
bool resolveOutput(const QString &path, const QList<OwnFile> &ownFiles, OutputTarget *target,
                   QString *reason);

// The same, with the message "cannot write PATH: reason" in *error.
bool checkOutput(const QString &path, const QList<OwnFile> &ownFiles, QString *error);

// Replaces target with what write puts into the partial file it is given (beside the target).
// False with the reason when write or the renaming fails; the target is then untouched.
bool replaceOutput(const OutputTarget &target,
                   const std::function<bool(const QString &partial, QString *reason)> &write,
                   QString *reason);

// The name under which a C library's fopen() opens the existing file at path: the UTF-8 bytes
// on POSIX systems; on Windows, where fopen() reads the ANSI code page, the path's short form when
// the long one has characters outside that page.
QByteArray fopenName(const QString &path);

// Checks path and writes bytes there. False with the reason in *reason.
bool writeOutputFile(const QString &path, const QByteArray &bytes, const QList<OwnFile> &ownFiles,
                     QString *reason);
