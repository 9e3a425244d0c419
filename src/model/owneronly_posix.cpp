#include "model/owneronly.h"

#include "model/ownerfolders.h"
#include "model/systemerror.h"
#include "model/uilanguage.h"

#include <QDir>
#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Creates an empty file only its owner may read and write (SQLite gives its -wal and -shm files
// the same permissions), and the folder for it, owner-only too where it is new.
bool createOwnerOnlyFile(const QString &path, QString *error)
{
    // Every missing folder on the way owner-only too, whatever the umask.
    if (!makeMissingFolders(QFileInfo(path).absolutePath(), error))
        return false;
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0 && errno != EEXIST) { // EEXIST: another program just made it
        *error = systemErrorText(errno);
        return false;
    }
    if (fd >= 0)
        ::close(fd);
    return true;
}

// Whether the program may write the file or the folder: the owner's write permission counts
// even for a user the system lets write anyway (root), so that what was made read-only stays
// untouched.
bool ownerMayWrite(const QFileInfo &info)
{
    return info.ownerId() == ::geteuid() ? info.permissions().testFlag(QFile::WriteOwner)
                                         : info.isWritable();
}

bool ownedByUser(const QFileInfo &info)
{
    return info.ownerId() == ::getuid();
}
