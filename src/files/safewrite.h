#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class QFile;

#include <utility>

// Writing into folders other local programs may also write into, without ever following a link
// planted at a name we write: the file a link leads to is never touched.

// Creates each file new in folder (opened once, so the files land in that folder even if its
// name is moved away meanwhile). Each appears whole under its name: written under a hidden
// partial name, then linked to its name, which fails when anything, a link included, is there.
// Stops at the first failure with the reason in *reason.
bool writeNewFilesIn(const QString &folder, const QList<std::pair<QString, QByteArray>> &files,
                     QString *reason);

// Replaces the file at path with bytes, readable and writable by the owner only: written beside
// it, then renamed over the name, so a crash leaves the old file or the new one, and a link at
// the name is replaced, not written through.
bool replaceOwnerOnlyFile(const QString &path, const QByteArray &bytes, QString *reason);

// Opens the file at path into file for the program's own records (a batch journal), never
// through a link at its name (another program's link would have us write its target) and only as
// a regular file (a pipe would block, a device never end). Replace: made or emptied,
// owner-only, for writing; Append: an existing file, read and appended to. False with the reason.
enum class OwnFileMode { Replace, Append };
bool openOwnFile(const QString &path, OwnFileMode mode, QFile *file, QString *reason);
