#pragma once

#include "files/batchinput.h"
#include "files/querysettings.h"
#include "model/stalerules.h"
#include "watch/watchedfolder.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class BatchPacing;
class LockFile;
struct BatchOptions;
class LookupRunner;
class LookupService;
class LookupSession;
class QTimer;
struct LookupOutcome;

// Where the watcher looks and what it does with a checked export.
struct WatchOptions
{
    QString folder;       // watched: order exports that appear in it (not in its sub-folders)
    QString outputFolder; // where the tables go; empty: beside the exports
    bool archive = true;  // a checked export moves into folder/done/
    // A file counts as complete once its size and time have held still this long: a download or
    // copy still being written is waited for.
    int settleMs = 5000;
    int pollMs = 1000;
    // Files already there (at the start, or from before it when the folder comes back) are
    // checked too.
    bool all = false;

    static WatchOptions fromSettings(const QuerySettings &settings);
};

// A 高 buyer of a checked file.
struct FlaggedBuyer
{
    QString buyerId;
    QStringList reasons;
    QStringList orderNumbers;
};

// What checking one export came to.
struct CheckedFile
{
    QString exportPath; // where it was found
    QString archivedTo; // where it went; empty when it stayed (archiving off, or it failed)
    QString table;      // the table written for it
    int buyers = 0;     // buyers looked up
    qint64 leftOut = 0; // buyers past [batch] maxIds, not looked up
    QList<FlaggedBuyer> highRisk;
    int queued = 0;                // orders newly queued for review
    QList<StaleField> staleFields; // page rules that went stale
    QString staleText;             // what to say about them, naming the configuration
    QString problem;               // something that went wrong after the table was written

    // "订单文件 NAME 已检查：共 N 个，高风险 2 个" (English under LANG=en*), with the export's
    // name as the caller shows it (escaped for a terminal, cut for a notification).
    QString summary(const QString &shownName) const;
};

// Watches a folder for order exports (.csv, .xlsx files the order reader takes; other files are
// ignored) that appear while it runs, and checks each, one at a time, with the lookup service's
// batch at the settings' pace: the table is written beside it (or into the output folder) under
// a name no existing file has, its 高 buyers' orders go into the review queue, and the export
// moves into done/. A file that fails is named with the reason and stays where it is; it is tried
// again only once it changes. Runs on the thread that made it, which needs an event loop.
//
// However many exports arrive at once, the marketplace sees one batch at a time: a file waits
// while any batch runs on the service (the window's too), and the files checked in a row share
// one pacing, so a pause, a widened gap and fewer buyers in flight carry over from one file to
// the next.
class OrderWatcher : public QObject
{
    Q_OBJECT
public:
    // Looks up through the session's service; its settings follow the session's.
    explicit OrderWatcher(LookupSession &session, QObject *parent = nullptr);
    ~OrderWatcher() override;

    void setOptions(const WatchOptions &options) { m_options = options; }
    const WatchOptions &options() const { return m_options; }

    // Starts watching: what the folder holds now is left alone (unless options().all). False
    // with a message when the folder is not there (or is no folder), or another watcher holds it
    // (the message names the holder).
    bool start(QString *error);
    // Stops watching; a file being checked is cut short and stays where it is.
    void stop();
    bool isWatching() const;
    // Paused: no new file is taken; the one being checked finishes.
    void setPaused(bool paused);
    bool isPaused() const { return m_paused; }
    bool isBusy() const;
    // Whether the watched folder is there (false while it is gone, until it comes back).
    bool isFolderAvailable() const { return m_folderAvailable; }

    // The table's name for an export: NAME_检查结果.xlsx, or with (2), (3) … when taken.
    static QString tableNameFor(const QString &exportPath, const QString &outputFolder);
    // Whether a file name is one of the tables the watcher writes.
    static bool isTableName(const QString &fileName);

signals:
    void fileStarted(const QString &path, int buyers);
    void fileChecked(const CheckedFile &file);
    void fileFailed(const QString &path, const QString &error);
    // A buyer looked up in a file is judged 高 (before the file is done).
    void highRiskFound(const QString &buyerId, const QStringList &reasons);
    void pausedChanged(bool paused);
    // The marketplace blocked a page: the file's batch waits `seconds` (why: marker or status).
    void marketplacePaused(int seconds, const QString &why);
    // The watched folder went away (moved, removed, replaced by a link) or came back.
    void folderChanged(bool available, const QString &text);

private:
    void poll();
    void takeNext();
    void check(const QString &path);
    void finish(const QString &path, const BatchInput &input, QString table,
                const QList<LookupOutcome> &outcomes, const QDateTime &began);
    // The checked export archived, or taken again when it changed since it was read.
    void conclude(CheckedFile file);
    void fail(const QString &path, const QString &error);
    // The pacing for the next file: the last one's, unless the settings changed or it has been
    // idle for longer than the longest pause.
    std::shared_ptr<BatchPacing> pacingFor(const BatchOptions &options);

    LookupSession &m_session;
    LookupService *m_service;
    LookupRunner *m_runner;
    QTimer *m_timer;
    WatchOptions m_options;
    QuerySettings m_settings; // the session's: the next file's batch runs with them
    WatchedFolder m_folder;
    std::unique_ptr<LockFile> m_lock; // one watcher per folder
    QStringList m_waiting;            // complete files, in the order they settled
    QString m_current;                // the file being checked
    FileStamp m_currentStamp;         // what it was when read
    qint64 m_currentReadAtMs = 0;     // when (monotonic)
    int m_generation = 0;             // one more at each stop: a wait from before it is dropped
    QStringList m_tables;             // written by this watcher: never taken as exports
    QStringList m_cutShort; // waiting or being checked when the watch stopped: taken at a restart
    bool m_paused = false;
    bool m_folderAvailable = true;
    std::shared_ptr<BatchPacing> m_pacing;
    QString m_pacingMadeFor; // the jobs, pace and pause it was made with
    QElapsedTimer m_sinceLastBatch;
    qint64 m_clockMs = 0;
};

Q_DECLARE_METATYPE(CheckedFile)
