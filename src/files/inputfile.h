#pragma once

#include "model/systemerror.h"

#include <QFile>
#include <QString>

// Opens path for reading when it is a regular file, and only then: a pipe nobody writes to would
// block the read for ever, and a device may never end. Checked on the opened descriptor (opened
// without waiting for a writer), so nothing can be swapped in between the check and the read.
// False with the reason ("it is a folder", "it is not a regular file (…)", "No such file …");
// *notRegular tells the first two (a mistaken file name) from a file that cannot be read.
bool openRegularFile(const QString &path, QFile *file, QString *reason, bool *notRegular = nullptr);

// A folder held open for reading the files it holds by name: each is opened inside the folder as
// it was when opened here, never through a symbolic link (the name itself must be the file), and
// only when it is a regular file, all checked on the opened descriptor. Whoever can write into the
// folder meanwhile cannot lead a read to another file.
class InputFolder
{
public:
    InputFolder() = default;
    ~InputFolder();
    InputFolder(const InputFolder &) = delete;
    InputFolder &operator=(const InputFolder &) = delete;

    // False with the reason when the path is no folder that can be read.
    bool open(const QString &path, QString *reason);
    // Opens the folder's file `name` (a plain name, no path); false with the reason. *isLink tells
    // a symbolic link at that name.
    bool openFile(const QString &name, QFile *file, QString *reason, bool *isLink = nullptr) const;
    // The path it was opened by, for messages.
    const QString &path() const { return m_path; }

private:
    int m_fd = -1;
    QString m_path;
};
