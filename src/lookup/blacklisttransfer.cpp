#include "lookup/blacklisttransfer.h"

#include "model/uilanguage.h"
#include "storage/sellerdatabase.h"

#include <QDir>

BlacklistTransfer importBlacklist(SellerDatabase *database, const BlacklistFile &file,
                                  const QString &path)
{
    BlacklistTransfer done;
    if (!file.ok()) {
        done.result = file.notRegular ? BlacklistTransfer::Result::Refused
                                      : BlacklistTransfer::Result::Failed;
        done.messages.append(file.error);
        return done;
    }
    ImportReport report;
    if (!database->importBlacklist(file.entries, &report)) {
        done.result = BlacklistTransfer::Result::Failed;
        if (report.imported == 0)
            done.messages.append(database->problem() +
                                 inUserLanguage(QStringLiteral("；什么也没有导入"),
                                                QStringLiteral("; nothing was imported")));
        else
            done.messages.append(
                database->problem() +
                inUserLanguage(QStringLiteral("；%2 条中的前 %1 条已导入"),
                               QStringLiteral("; the first %1 of %2 entries were imported"))
                    .arg(report.imported)
                    .arg(file.entries.size()));
        return done;
    }
    done.messages = file.problems + report.problems;
    done.messages.append(
        inUserLanguage(QStringLiteral("%1：新增 %2 个，更新 %3 个，未变 %4 个，拒绝 %5 个"),
                       QStringLiteral("%1: %2 added, %3 updated, %4 unchanged, %5 refused"))
            // One arg(): a "%1" in the file's name stays as it is.
            .arg(QDir::toNativeSeparators(path), QString::number(report.added),
                 QString::number(report.updated), QString::number(report.unchanged),
                 QString::number(report.refused + file.refused)));
    return done;
}

QByteArray blacklistCsvOf(const SellerDatabase &database, int *count)
{
    QList<BlacklistEntry> entries;
    for (const BuyerNote &n : database.notes()) {
        if (n.listed == ListMark::Blacklist)
            entries.append(BlacklistEntry{n.buyerId, n.reason, n.listedOn, 0});
    }
    if (count)
        *count = int(entries.size());
    return blacklistCsv(entries);
}

BlacklistTransfer exportBlacklist(const SellerDatabase &database, const QString &path,
                                  const QList<OwnFile> &ownFiles)
{
    BlacklistTransfer done;
    QString error;
    if (!checkOutput(path, ownFiles, &error)) {
        done.result = BlacklistTransfer::Result::Refused;
        done.messages.append(error);
        return done;
    }
    int count = 0;
    const QByteArray bytes = blacklistCsvOf(database, &count);
    if (QString reason; !writeOutputFile(path, bytes, ownFiles, &reason)) {
        done.result = BlacklistTransfer::Result::Failed;
        done.messages.append(
            inUserLanguage(QStringLiteral("无法写入 %1：%2"), QStringLiteral("cannot write %1: %2"))
                .arg(QDir::toNativeSeparators(path), reason));
        return done;
    }
    done.messages.append(inUserLanguage(QStringLiteral("已把 %1 个黑名单买家写入 %2"),
                                        QStringLiteral("%1 blacklisted buyer(s) written to %2"))
                             .arg(count)
                             .arg(QDir::toNativeSeparators(path)));
    return done;
}
