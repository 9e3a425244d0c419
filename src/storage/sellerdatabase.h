#pragma once

#include "model/buyerqueryresult.h"
#include "model/sellerdata.h"
#include "model/stalerules.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// Which lookups history() returns, newest first.
struct HistoryFilter
{
    QStringList buyerIds;  // empty: every buyer
    QDateTime since;       // invalid: from the first
    QString text;          // part of the id or the nick (case-sensitive); empty: any
    int limit = 0;         // at most this many; 0: no limit
    bool withPages = true; // false: StoredLookup::pages stays empty (quicker for long lists)
};

// What a blacklist import did.
struct ImportReport
{
    int added = 0;          // buyers new to the database
    int updated = 0;        // buyers already kept, now blacklisted or with a new reason or date
    int unchanged = 0;      // already blacklisted with the same reason and date
    int refused = 0;        // lines of the file refused, and buyers the seller marked trusted
    qsizetype imported = 0; // entries committed, from the first on (all of them unless it failed)
    QStringList problems;
};

// The seller's own data in one SQLite file: every completed lookup, and a note and a mark per
// buyer. Safe to use from any thread: every call is carried out, one after another, by the
// database's own thread (a Qt SQL connection belongs to the thread that opened it), so the
// workers of a batch can store their lookups at once without losing any. Another program
// writing the same file (the window and the command line) waits for its turn: the file is in
// WAL mode with a generous busy timeout.
//
// A database that cannot be used never stops a lookup: the calls then do nothing (reads give
// empty results, writes return false) and problem() says why, for the user.
class SellerDatabase
{
public:
    enum class State {
        Closed,   // not opened, or opened ExistingOnly where no file is: reads give nothing
        Ready,    // reads and writes
        ReadOnly, // reads only: the file or its folder is read-only
        Off,      // unusable; problem() says why (a damaged file was moved aside)
    };
    enum class OpenMode { CreateIfMissing, ExistingOnly };

    SellerDatabase();
    ~SellerDatabase();
    SellerDatabase(const SellerDatabase &) = delete;
    SellerDatabase &operator=(const SellerDatabase &) = delete;

    // Opens the file, creating it (owner-only permissions, and its folder) when allowed, and
    // brings its layout up to date. A damaged file is renamed to FILE.damaged-YYYYMMDD-HHMMSS
    // (its -wal and -shm files with it), never deleted or overwritten. False unless Ready or
    // ReadOnly (Closed for a missing file with ExistingOnly).
    bool open(const QString &path, OpenMode mode = OpenMode::CreateIfMissing);
    void close();

    State state() const;
    bool canRead() const;
    bool canWrite() const;
    QString path() const;
    // Why the database is off or read-only, or why the last write failed: one sentence for the
    // user. Empty when all is well.
    QString problem() const;
    // Where a damaged file was moved; empty when none was.
    QString movedAside() const;

    // The layout version this program writes; older files are migrated on open.
    static int schemaVersion();

    // History.
    bool addLookup(const BuyerQueryResult &result,
                   const QDateTime &time = QDateTime::currentDateTime());
    std::optional<StoredLookup> lastLookup(const QString &buyerId) const;
    QList<StoredLookup> history(const HistoryFilter &filter = {}) const;
    qint64 lookupCount() const;
    // How many lookups from since up to before were of found buyers, and how many of those had
    // each field filled (counted by the database: a month of history is not read into memory).
    FieldFill fieldFill(const QDateTime &since, const QDateTime &before) const;

    // Notes and marks. note() gives an empty note (with the id) for a buyer without one.
    BuyerNote note(const QString &buyerId) const;
    QList<BuyerNote> notes() const; // ordered by id
    // Saves the note as it stands (an empty one removes the buyer's entry).
    bool saveNote(const BuyerNote &note);
    // False when it failed; *existed says whether there was anything to remove.
    bool removeNote(const QString &buyerId, bool *existed = nullptr);
    // Blacklists every entry, in transactions short enough that other programs writing the
    // file meanwhile are not kept waiting. An existing note is never dropped: a buyer with a note
    // keeps it, a blank reason keeps the reason there was, and a buyer the seller marked trusted
    // is left as it is and counted as refused. When it fails, *report counts what was committed.
    bool importBlacklist(const QList<BlacklistEntry> &entries, ImportReport *report);

    // The review queue. An order already queued (waiting or handled) is not queued again; a
    // waiting one takes the newer reasons. *added counts the new entries.
    bool queueForReview(const QList<ReviewEntry> &entries, int *added = nullptr);
    // The waiting entries, oldest first; with handled ones too (newest handled last) when asked.
    QList<ReviewEntry> reviewQueue(bool withHandled = false) const;
    int reviewCount() const;
    // Marks the waiting entries of an order handled: key is the order number, or the buyer id of
    // entries without one. *marked counts them (0: nothing waits under that key).
    bool markReviewed(const QString &key, const QString &note, int *marked = nullptr);
    // Marks one waiting entry handled (the window's list).
    bool markReviewed(qint64 rowId, const QString &note);

private:
    class Worker;
    std::unique_ptr<Worker> d;
};
