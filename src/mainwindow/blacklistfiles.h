#pragma once

#include <QString>

class QWidget;
class SellerDatabase;

// The shared blacklist's CSV file in the window: the seller picks a file (path empty: a file
// dialog) and is told what came of it in the command line's words. Import returns whether any
// buyer's mark may have changed.
bool importBlacklistFile(QWidget *parent, SellerDatabase *database, QString path = QString());
void exportBlacklistFile(QWidget *parent, const SellerDatabase *database, QString path = QString());
