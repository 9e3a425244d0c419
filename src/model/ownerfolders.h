#pragma once

#include <QString>

// Folders of the seller's own (settings, kept copies, the database): made owner-only whatever the
// umask, and never changed through a link.

// Makes folder and the missing folders on its path, each owner-only (0700) whatever the umask;
// existing folders keep their mode. False with the reason.
bool makeMissingFolders(const QString &folder, QString *reason);

// Makes folder owner-only (0700): missing folders on its path are made with that mode, an existing
// folder of ours is set to it. A link is never changed through: a folder reached by a link at its
// name (or one of another user) keeps its mode. False with the reason when it cannot be made.
bool makeOwnerOnlyFolder(const QString &folder, QString *reason);
