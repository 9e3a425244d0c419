#pragma once

#include "model/systemerror.h"

#include <QFile>
#include <QList>
#include <QString>

// Opens path for reading when it is a regular file, and only then: a pipe nobody writes to would
// block the read for ever, and a device may never end. Checked on the opened descriptor (opened
// without waiting for a writer), so nothing can be swapped in between the check and the read.
// False with the reason ("it is a folder", "it is not a regular file (…)", "No such file …");
// *notRegular tells the first two (a mistaken file name) from a file that cannot be read.
bool openRegularFile(const QString &path, QFile *file, QString *reason, bool *notRegular = nullptr);

// What a file was when looked at: enough to tell a file that changed or was replaced since.
struct FileStamp
{
    qint64 size = -1; // -1: not there
    qint64 modifiedNs = 0;
    quint64 device = 0;
    quint64 inode = 0;
    bool exists() const { return size >= 0; }
    bool operator==(const FileStamp &o) const
    {
        return size == o.size && modifiedNs == o.modifiedNs && device == o.device &&
               inode == o.inode;
    }
    bool operator!=(const FileStamp &o) const { return !(*this == o); }
};

// NAME.EXT as the n-th of its name: itself for 1, else NAME(n).EXT.
inline QString numberedFileName(const QString &name, int n)
{
    if (n <= 1)
        return name;
    const qsizetype dot = name.indexOf(u'.', 1); // "a.tar.gz" -> "a(2).tar.gz", ".x" -> ".x(2)"
    const QString number = u'(' + QString::number(n) + u')';
    return dot < 0 ? name + number : name.left(dot) + number + name.mid(dot);
}

// One name in a folder, as the folder holds it (a link is a link, not what it leads to).
struct FolderEntry
{
    enum class Kind { Regular, Link, Folder, Other };
    QString name;
    Kind kind = Kind::Other;
    FileStamp stamp;
};

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
    bool isOpen() const { return m_fd >= 0; }
    void close();

    // The folder's entries now (not "." and ".."); false with the reason when it cannot be read.
    bool entries(QList<FolderEntry> *out, QString *reason) const;
    // What the name is now, without following a link (size -1 when nothing is there).
    FileStamp stampOf(const QString &name) const;
    // What an opened file is.
    static FileStamp stampOf(const QFile &file);

    // Whether the path it was opened by still names this folder: Gone when nothing (or no
    // folder) is there, Link when a symbolic link now stands where a folder stood, Replaced when
    // it names another folder.
    enum class PathState { Same, Gone, Link, Replaced };
    PathState pathState() const;

    // Moves the file `name` into the sub-folder `sub` of this folder, made when missing, under
    // its own name or NAME(2).EXT …, never replacing anything. The sub-folder must be a real
    // folder: a link or a file at its name is refused, so nothing ever leaves this folder. The
    // new path in *movedTo; false with the reason.
    bool moveInto(const QString &name, const QString &sub, QString *movedTo, QString *reason) const;

private:
    int m_fd = -1;
    bool m_pathWasLink = false; // the path itself was a symbolic link when opened
    QString m_path;
};
