#pragma once

#include "model/buyerqueryresult.h"
#include "model/lookupstatus.h"

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QString>
#include <QStringList>

#include <mutex>

// Which input a batch read: its path, size and content hash, and the ids taken from it (their
// count and hash: the options that pick them, a column or the most ids, change them).
struct BatchInputIdentity
{
    QString path; // absolute
    qint64 size = 0;
    QByteArray sha256; // hex
    int idCount = 0;
    QByteArray idsSha256; // hex

    // False with the reason when the file cannot be read.
    static bool of(const QString &path, const QStringList &ids, BatchInputIdentity *identity,
                   QString *error);
    bool operator==(const BatchInputIdentity &other) const;
};

// One finished row as the journal keeps it.
struct JournalRow
{
    int index = -1;
    QString id;
    BuyerQueryResult result;
    LookupStatus status = LookupStatus::Found;
    QString statusDetail;
    int reusedMinutes = -1;
};

// A batch's journal: the input's identity, the options, and every row as it finishes, one JSON
// line each, flushed at once; so a batch that was killed continues where it stopped. A torn last
// line (the program killed while writing it) is ignored.
class BatchJournal
{
public:
    // The journal of a batch writing OUT: OUT + ".journal".
    static QString pathFor(const QString &output);

    // Starts a new journal at path (replacing any). False with the reason.
    bool create(const QString &path, const BatchInputIdentity &input, const QString &options,
                QString *error);
    // Reads the journal at path and keeps appending to it. False with the reason (no journal,
    // or not one of ours).
    bool open(const QString &path, QString *error);

    const BatchInputIdentity &input() const { return m_input; }
    QString options() const { return m_options; }
    const QHash<int, JournalRow> &rows() const { return m_rows; }
    QString path() const { return m_path; }

    // Appends a finished row; safe from any thread.
    bool append(const JournalRow &row);
    // Why a row could not be appended, the first time one could not ("": every one was).
    QString problem() const;
    // The table is written: the journal goes.
    bool remove();

private:
    QString m_path;
    BatchInputIdentity m_input;
    QString m_options;
    QHash<int, JournalRow> m_rows;
    mutable std::mutex m_mutex;
    QFile m_file;
    QString m_problem;
};
