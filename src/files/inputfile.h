#pragma once

#include <QFile>
#include <QString>

// Opens path for reading when it is a regular file, and only then: a pipe nobody writes to would
// block the read for ever, and a device may never end. Checked on the opened descriptor (opened
// without waiting for a writer), so nothing can be swapped in between the check and the read.
// False with the reason ("it is a folder", "it is not a regular file (…)", "No such file …");
// *notRegular tells the first two (a mistaken file name) from a file that cannot be read.
bool openRegularFile(const QString &path, QFile *file, QString *reason, bool *notRegular = nullptr);

// What the system's error number errnum means, in the user's language: the common ones of files
// (no such file, permission denied …) in Chinese, else (and in English) the system's own words.
QString systemErrorText(int errnum);
