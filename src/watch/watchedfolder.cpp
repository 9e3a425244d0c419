#include "watch/watchedfolder.h"

#include "model/uilanguage.h"

#include <QFileInfo>

#include <algorithm>

namespace {

const QString kArchiveFolder = QStringLiteral("done");

} // namespace

bool WatchedFolder::open(const QString &path, bool takeAll, QString *error)
{
    m_path = path;
    m_takeAll = takeAll;
    m_seen.clear();
    m_toldArchive.clear();
    m_since = QDateTime::currentDateTimeUtc();
    m_pathWasLink = QFileInfo(path).isSymLink();
    if (!m_folder.open(path, error))
        return false;
    m_available = true;
    QList<FolderEntry> entries;
    if (!readEntries(0, {}, Start, &entries, error)) {
        close();
        return false;
    }
    return true;
}

void WatchedFolder::close()
{
    m_folder.close();
    m_available = false;
}

bool WatchedFolder::readEntries(qint64 nowMs, const std::function<bool(const QString &)> &isExport,
                                LookKind kind, QList<FolderEntry> *entries, QString *reason)
{
    if (!m_folder.entries(entries, reason))
        return false;
    const qint64 sinceNs = m_since.toMSecsSinceEpoch() * 1000000;
    QHash<QString, Seen> seen;
    for (const FolderEntry &entry : std::as_const(*entries)) {
        if (entry.kind == FolderEntry::Kind::Folder || (isExport && !isExport(entry.name)))
            continue;
        auto known = m_seen.constFind(entry.name);
        Seen s;
        if (known != m_seen.cend()) {
            s = *known;
        } else if (kind != Later) {
            // What is there when the watch starts is the seller's old files, unless asked for;
            // when the folder comes back, so are its files from before the start (a file made
            // meanwhile is new).
            s.stamp = entry.stamp;
            s.stableSinceMs = nowMs;
            s.handled = !m_takeAll && (kind == Start || entry.stamp.modifiedNs < sinceNs);
        }
        if (s.stamp != entry.stamp) {
            // New, still being written, or changed since: waited for until it holds still. A
            // file that changed after its check is taken again.
            s.stamp = entry.stamp;
            s.stableSinceMs = nowMs;
            s.handled = false;
        }
        seen.insert(entry.name, s);
    }
    m_seen = seen;
    return true;
}

QString WatchedFolder::lostText(InputFolder::PathState state) const
{
    switch (state) {
    case InputFolder::PathState::Link:
        return inUserLanguage(QStringLiteral("监视的文件夹被换成了符号链接，不会跟随：%1"),
                              QStringLiteral("the watched folder was replaced by a symbolic link, "
                                             "which is not followed: %1"))
            .arg(m_path);
    default:
        return inUserLanguage(QStringLiteral("监视的文件夹不见了：%1（出现后继续监视）"),
                              QStringLiteral("the watched folder is gone: %1 (watched for until it "
                                             "is back)"))
            .arg(m_path);
    }
}

WatchedFolder::Look WatchedFolder::look(qint64 nowMs, int settleMs,
                                        const std::function<bool(const QString &)> &isExport)
{
    Look look;
    const InputFolder::PathState state =
        m_folder.isOpen() ? m_folder.pathState() : InputFolder::PathState::Gone;
    if (state != InputFolder::PathState::Same && m_available) {
        // Moved away, removed or replaced: its files are no longer the watched folder's.
        m_available = false;
        m_folder.close();
        look.change = lostText(state);
        look.available = false;
        return look;
    }
    if (!m_available) {
        // Back when a real folder (not a link, unless the path was one) stands at the path again.
        QString reason;
        if ((QFileInfo(m_path).isSymLink() && !m_pathWasLink) || !m_folder.open(m_path, &reason) ||
            m_folder.pathState() != InputFolder::PathState::Same) {
            m_folder.close();
            look.available = false;
            return look;
        }
        m_available = true;
        look.change = inUserLanguage(QStringLiteral("监视的文件夹又出现了：%1"),
                                     QStringLiteral("the watched folder is back: %1"))
                          .arg(m_path);
        QList<FolderEntry> entries;
        QHash<QString, Seen> before = m_seen;
        m_seen.clear();
        readEntries(nowMs, isExport, Return, &entries, &reason);
        // A file it held before, unchanged, stays as it was.
        for (auto it = m_seen.begin(); it != m_seen.end(); ++it) {
            const auto old = before.constFind(it.key());
            if (old != before.cend() && old->stamp == it->stamp)
                *it = *old;
        }
    }
    QList<FolderEntry> entries;
    QString reason;
    if (!readEntries(nowMs, isExport, Later, &entries, &reason))
        return look;
    QList<std::pair<qint64, QString>> ready;
    for (auto it = m_seen.cbegin(); it != m_seen.cend(); ++it) {
        if (!it->handled && nowMs - it->stableSinceMs >= settleMs)
            ready.append({it->stableSinceMs, it.key()});
    }
    std::sort(ready.begin(), ready.end());
    for (const auto &r : ready)
        look.ready.append(r.second);
    return look;
}

bool WatchedFolder::openExport(const QString &name, QFile *file, FileStamp *stamp,
                               QString *reason) const
{
    if (!m_folder.openFile(name, file, reason))
        return false;
    *stamp = InputFolder::stampOf(*file);
    return true;
}

bool WatchedFolder::unchangedSince(const QString &name, const FileStamp &stamp) const
{
    return m_folder.isOpen() && m_folder.stampOf(name) == stamp;
}

void WatchedFolder::takeAgain(const QString &name)
{
    Seen &s = m_seen[name];
    s.handled = false;
    s.stamp = {}; // seen as new on the next look: it must hold still again
}

void WatchedFolder::setHandled(const QString &name)
{
    if (auto it = m_seen.find(name); it != m_seen.end())
        it->handled = true;
}

bool WatchedFolder::archive(const QString &name, QString *movedTo, QString *reason, bool *newReason)
{
    *newReason = false;
    QString why;
    if (m_folder.moveInto(name, kArchiveFolder, movedTo, &why))
        return true;
    // It stays, checked: handled with what it is now, so only a change takes it again.
    if (auto it = m_seen.find(name); it != m_seen.end()) {
        it->stamp = m_folder.stampOf(name);
        it->handled = true;
    }
    *reason = inUserLanguage(QStringLiteral("无法把 %1 移入 %2：%3；它留在原处，不会再次检查"),
                             QStringLiteral("cannot move %1 into %2: %3; it stays where it is and "
                                            "is not checked again"))
                  .arg(name, filePath(kArchiveFolder), why);
    *newReason = why != m_toldArchive;
    m_toldArchive = why;
    return false;
}
