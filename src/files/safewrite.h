#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

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
