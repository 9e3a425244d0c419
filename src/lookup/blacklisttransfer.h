#pragma once

#include "files/blacklistcsv.h"
#include "files/outputguard.h"

#include <QString>
#include <QStringList>

class SellerDatabase;

// What moving a shared blacklist in or out of the seller's database came to, in the words both
// programs show: the lines refused, then what was done, or why nothing was.
struct BlacklistTransfer
{
    enum class Result {
        Done,
        Refused, // the file named cannot be used (a folder, one of the program's own files)
        Failed,  // reading, writing or the database failed
    };
    Result result = Result::Done;
    QStringList messages;
    bool ok() const { return result == Result::Done; }
};

// Blacklists every buyer of file (read from path with readBlacklistCsv) in database.
BlacklistTransfer importBlacklist(SellerDatabase *database, const BlacklistFile &file,
                                  const QString &path);
// The blacklisted buyers of database as a CSV file (blacklistCsv).
QByteArray blacklistCsvOf(const SellerDatabase &database, int *count = nullptr);
// Writes that file to path, never over one of ownFiles.
BlacklistTransfer exportBlacklist(const SellerDatabase &database, const QString &path,
                                  const QList<OwnFile> &ownFiles);
