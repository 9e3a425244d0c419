#pragma once

#include "files/batchinput.h"
#include "files/outputguard.h"
#include "files/spreadsheetexport.h"
#include "lookup/lookupservice.h"
#include "model/batchoptions.h"
#include "model/stalerules.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QFile;
class SellerDatabase;

// What a front end asks a batch to do: the input, how to look it up, and where its results go.
struct BatchRequest
{
    QString inputPath; // an id file or an order export
    // The order export already opened by the front end (null: opened by inputPath). The watcher
    // opens it inside its folder without following links; the run reads that very file.
    std::shared_ptr<QFile> openedExport;
    BatchInputOptions input;
    BatchOptions options; // jobs, pace, tries, the pacing carried on (the journal is the run's)

    QString xlsxPath;        // the table (empty: none)
    QString csvPath;         // a CSV copy (empty: none)
    bool xlsxInTemp = false; // the table goes to a new file in the temporary folder instead
    // Another name for the table when a file took its name while the batch ran (null: that
    // file is replaced). Called on the run's thread.
    std::function<QString()> xlsxPathWhenTaken;
    QList<OwnFile> ownFiles; // the program's own files: no table lands on them
    bool extraColumns = false;
    bool sortByRisk = false;
    // 高 and 未知 rows marked and the summary sheet always (else only for an order export or a
    // table sorted by risk).
    bool markRisk = false;

    // The journal (empty: none): every finished row goes there, so a killed batch resumes.
    QString journalPath;
    bool resume = false;           // continue the journal's batch (when there is a journal)
    bool refuseUnfinished = false; // a journal left from another batch refuses this one
    QString journalNote;           // the options as the journal records them
    // After this long of pauses in a row (no clean page between) the batch gives up on the
    // marketplace (0: the settings' [batch] giveUpAfterMinutes).
    qint64 giveUpAfterMs = 0;
};

// What reading the input came to, before anything is looked up.
struct BatchStart
{
    int total = 0;      // ids to look up, those the journal holds included
    qint64 leftOut = 0; // past the most ids: counted only
    bool orderFile = false;
    int journalled = 0; // rows the journal holds, found or not found: not looked up again
    int retried = 0;    // rows the journal holds that failed or were blocked: tried again
};

// How a batch ended, and everything it came to.
struct BatchRunOutcome
{
    enum class End {
        Refused,   // the input, the output or the journal refused it: nothing looked up
        Finished,  // every id was looked up
        Stopped,   // stopped by the front end: the ids not started are left out
        GaveUp,    // the marketplace kept blocking: the rest are rows "未查询（…）"
        Cancelled, // cut short: no table
    };
    End end = End::Refused;
    // Refused: why, and whether it was the journal held by another process (holderPid set).
    QString refusal;
    qint64 holderPid = 0;
    bool inputUnreadable = false; // the refusal is the input's reader's

    BatchStart start;
    QList<LookupOutcome> outcomes; // the buyers looked up (or kept by the journal), in file order
    QList<BatchRow> rows;          // the table's rows, in the table's order
    int notQueried = 0;            // ids never looked up
    int failed = 0;                // rows neither found nor not found (not-queried ones included)
    QStringList written;           // the files the table went to
    bool tableWritten = false;     // every table asked for went where it was asked to
    QString staleText;             // the page rules that went stale, naming the configuration
    QList<StaleField> staleFields;
    int queued = 0; // orders of 高 buyers newly queued for review
    // Every write that failed (table, CSV, review queue, journal), each in its own words.
    QStringList problems;

    // Every row read and every file written.
    bool complete() const
    {
        return end == End::Finished && failed == 0 && notQueried == 0 && problems.isEmpty();
    }
    // "10 个买家中 3 个未查到（失败 1 个，未查询 2 个）" for a batch that is not complete; "".
    QString shortfallText() const;
};

Q_DECLARE_METATYPE(BatchRunOutcome)

// A batch from its input to its finished table: it reads the input (an id file or an order
// export, bounded as the readers are), keeps the journal (resuming from it, locked to this
// process), looks the buyers up on the service with the pacing it is handed, and then writes
// the table(s), queues the orders of 高 buyers for review and finds the page rules gone stale.
// Every front end (the window, the command line, the watcher) starts one and shows what it
// says; none writes a table or the review queue itself.
//
// The work runs on the service's executor; the signals come on the thread that made the run,
// which needs an event loop. start() reads the input and tells inputRead (or finished with
// End::Refused); the front end then calls lookUp() (or abandon()). Destroying the run cancels
// its work and waits for it.
class BatchRun : public QObject
{
    Q_OBJECT
public:
    BatchRun(LookupService *service, SellerDatabase *database, BatchRequest request,
             QObject *parent = nullptr);
    ~BatchRun() override;

    const BatchRequest &request() const { return m_request; }
    bool isRunning() const { return m_running; }

    // Reads the input and the journal; inputRead or finished(Refused) follows.
    void start();
    // Looks the buyers up and writes what comes of them; finished follows.
    void lookUp();
    // Ends a run that has read its input without looking anything up (finished follows).
    void abandon();
    // No further buyer starts; those in flight finish and the table is written.
    void stop();
    // Cuts the buyers in flight short; the table of those finished is written.
    void stopNow();
    // Cuts the buyers in flight short: no table.
    void cancel();
    // Waits for the work to end.
    void join();

signals:
    void inputRead(const BatchStart &start);
    // A buyer's lookup starts: `position` counts from 1 over the whole file (journalled ones
    // included).
    void buyerStarted(int position, int total, const QString &id);
    void buyerFinished(int index, const LookupOutcome &outcome);
    // The marketplace blocked a page: the whole batch waits `seconds` (why: marker or status).
    void paused(int seconds, const QString &why);
    void finished(const BatchRunOutcome &outcome);

private:
    struct Work;
    void post(std::function<void()> f);
    void refuse(const QString &why, qint64 holderPid = 0, bool inputUnreadable = false);
    BatchRunOutcome runLookups(Work &work);
    void writeResults(Work &work, BatchRunOutcome *outcome);

    LookupService *m_service;
    SellerDatabase *m_database;
    BatchRequest m_request;
    std::shared_ptr<Work> m_work;
    bool m_running = false;
};

// The text a row never looked up shows, because the marketplace kept blocking.
QString batchGaveUpText();
