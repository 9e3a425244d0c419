#include "mainwindow/blacklistfiles.h"

#include "files/querysettings.h"
#include "lookup/blacklisttransfer.h"
#include "mainwindow/programtitle.h"
#include "storage/sellerdatabase.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>

namespace {

void tellOutcome(QWidget *parent, const BlacklistTransfer &done)
{
    QPointer<QMessageBox> box = new QMessageBox(
        done.ok() ? QMessageBox::Information : QMessageBox::Warning, programTitle(),
        done.messages.isEmpty() ? QString() : done.messages.constLast(), QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("BlacklistOutcome"));
    box->setTextFormat(Qt::PlainText);
    // The refused lines, which may be many, under 显示详细信息.
    if (done.messages.size() > 1)
        box->setDetailedText(done.messages.mid(0, done.messages.size() - 1).join(u'\n'));
    box->exec();
    delete box;
}

} // namespace

bool importBlacklistFile(QWidget *parent, SellerDatabase *database, QString path)
{
    if (!database)
        return false;
    if (path.isEmpty()) {
        const QPointer<QWidget> guard(parent);
        path = QFileDialog::getOpenFileName(parent, QObject::tr("导入黑名单"), QDir::homePath(),
                                            QObject::tr("CSV 文件 (*.csv);;所有文件 (*)"));
        if (path.isEmpty() || (parent && !guard))
            return false;
    }
    const BlacklistTransfer done = importBlacklist(database, readBlacklistCsv(path), path);
    tellOutcome(parent, done);
    return done.ok();
}

void exportBlacklistFile(QWidget *parent, const SellerDatabase *database, QString path)
{
    if (!database)
        return;
    if (path.isEmpty()) {
        const QPointer<QWidget> guard(parent);
        path = QFileDialog::getSaveFileName(parent, QObject::tr("导出黑名单"),
                                            QDir::home().filePath(QObject::tr("黑名单.csv")),
                                            QObject::tr("CSV 文件 (*.csv)"));
        if (path.isEmpty() || (parent && !guard))
            return;
    }
    tellOutcome(parent, exportBlacklist(*database, path,
                                        programFiles(database->path(), defaultSettingsPath())));
}
