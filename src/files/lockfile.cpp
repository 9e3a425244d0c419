#include "files/lockfile.h"

#include "model/uilanguage.h"

#include <QLockFile>

LockFile::LockFile(const QString &path) : m_path(path), m_lock(std::make_unique<QLockFile>(path))
{
    m_lock->setStaleLockTime(0);
}

LockFile::~LockFile() = default;

bool LockFile::tryLock(QString *why, bool *held)
{
    if (held)
        *held = false;
    if (m_lock->isLocked() || m_lock->tryLock(0))
        return true;
    switch (m_lock->error()) {
    case QLockFile::LockFailedError: {
        if (held)
            *held = true;
        qint64 pid = 0;
        QString host;
        QString program;
        if (m_lock->getLockInfo(&pid, &host, &program)) {
            *why = inUserLanguage(QStringLiteral("进程 %1（%2，主机 %3）正在使用它（%4）"),
                                  QStringLiteral("process %1 (%2, host %3) holds it (%4)"))
                       .arg(QString::number(pid), program, host, m_path);
        } else {
            *why = inUserLanguage(QStringLiteral("另一个进程正在使用它（%1）"),
                                  QStringLiteral("another process holds it (%1)"))
                       .arg(m_path);
        }
        return false;
    }
    case QLockFile::PermissionError:
        *why = inUserLanguage(QStringLiteral("无法创建锁文件 %1：没有权限"),
                              QStringLiteral("cannot create the lock file %1: permission denied"))
                   .arg(m_path);
        return false;
    default:
        *why = inUserLanguage(QStringLiteral("无法创建锁文件 %1"),
                              QStringLiteral("cannot create the lock file %1"))
                   .arg(m_path);
        return false;
    }
}

void LockFile::unlock()
{
    m_lock->unlock();
}

bool LockFile::isLocked() const
{
    return m_lock->isLocked();
}
