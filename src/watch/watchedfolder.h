#pragma once

#include "files/inputfile.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>

// The watched folder as the watcher works on it: opened once and read through its handle, so a
// folder moved away, removed or replaced by a link is noticed and said, never followed. Tells
// which exports have held still for the settle time and are not yet handled; a file is handled
// once checked (or refused) and taken again only when it changes (name, size, time and file).
// Exports are opened inside the folder, never through a link; a checked one is archived into the
// real sub-folder done/, or, where that cannot be, left where it is and remembered as checked.
class WatchedFolder
{
public:
    // What one look at the folder found.
    struct Look
    {
        QStringList ready; // names that have held still and are not handled, oldest first
        // The folder went away or came back since the last look: what to say (else empty), and
        // whether it is there now.
        QString change;
        bool available = true;
    };

    // Opens the folder. What it holds now is old, not new, unless takeAll; false with the reason.
    bool open(const QString &path, bool takeAll, QString *error);
    void close();
    const QString &path() const { return m_path; }
    QString filePath(const QString &name) const { return m_path + u'/' + name; }

    // One look: isExport tells the names the watcher takes (exports, not its own tables).
    Look look(qint64 nowMs, int settleMs, const std::function<bool(const QString &)> &isExport);

    // Opens the export `name` for reading, inside the folder, never through a link and only as a
    // regular file; *stamp is what the opened file is. False with the reason.
    bool openExport(const QString &name, QFile *file, FileStamp *stamp, QString *reason) const;
    // Whether the name is still the file `stamp` describes (not changed, replaced or gone).
    bool unchangedSince(const QString &name, const FileStamp &stamp) const;
    // The file is taken again once it holds still: it changed while it was checked, or its check
    // was cut short.
    void takeAgain(const QString &name);
    // Checked or refused: not taken again as it is.
    void setHandled(const QString &name);

    // Moves a checked export into done/ (made when missing). When it cannot be (done is a file or
    // a link, the move fails), the export stays, remembered as checked, and *reason says why;
    // *newReason is false when that reason was said before, so it is said once.
    bool archive(const QString &name, QString *movedTo, QString *reason, bool *newReason);

private:
    struct Seen
    {
        FileStamp stamp;
        qint64 stableSinceMs = 0;
        bool handled = false;
    };
    // Reads the entries; those not in m_seen are new, or (at the Start, or on the Return of the
    // folder for those made before the start) old unless m_takeAll.
    enum LookKind { Start, Return, Later };
    bool readEntries(qint64 nowMs, const std::function<bool(const QString &)> &isExport,
                     LookKind kind, QList<FolderEntry> *entries, QString *reason);
    QString lostText(InputFolder::PathState state) const;

    InputFolder m_folder;
    QString m_path;
    bool m_takeAll = false;
    bool m_available = false;
    bool m_pathWasLink = false; // the path itself was a link when the watch started
    QDateTime m_since; // the watch's start: files older are not new when the folder comes back
    QHash<QString, Seen> m_seen;
    QString m_toldArchive; // the last reason an export could not be archived, said once
};
