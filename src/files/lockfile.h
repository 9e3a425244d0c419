#pragma once

#include <QString>

#include <memory>

class QLockFile;

// One process at a time on something (a watched folder, a journal): a lock file holding the
// holder's process id, program and host. Released when the holder ends (the file goes with the
// object); a lock whose process is gone, or its file left by a crash, is stale and taken over.
// A lock file is never treated as stale for its age alone: a watch runs for days.
class LockFile
{
public:
    explicit LockFile(const QString &path);
    ~LockFile();
    LockFile(const LockFile &) = delete;
    LockFile &operator=(const LockFile &) = delete;

    // Takes the lock without waiting. False with why not: who holds it ("进程 1234（brelvon-cli，
    // 主机 desk）"; *held then true) or why the file cannot be made.
    bool tryLock(QString *why, bool *held = nullptr);
    void unlock();
    bool isLocked() const;
    const QString &path() const { return m_path; }

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};
