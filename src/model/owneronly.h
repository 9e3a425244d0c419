#pragma once

#include <QFileInfo>
#include <QString>

// The seller's own files (the database, the kept copies of the query configuration) are for their
// eyes only. On POSIX systems the file is made 0600 and a new folder for it 0700; on Windows the
// user's profile, where these files live, is private to the user already.

// Creates path as an empty file unless it exists, and the folders leading to it. False with the
// reason in *error.
bool createOwnerOnlyFile(const QString &path, QString *error);

// Whether the program may write the file or folder: what its owner made read-only stays
// untouched, even where the system would let the program write it.
bool ownerMayWrite(const QFileInfo &info);

// Whether the user running the program owns the file (anyone's files may lie in a shared
// temporary folder; on Windows that folder is the user's own).
bool ownedByUser(const QFileInfo &info);
