#pragma once

#include "files/idfile.h"
#include "files/orderfile.h"
#include "model/batchrow.h"

#include <QList>
#include <QString>
#include <QStringList>

// What a batch looks up: the ids of an id file, or the buyers of an order export.
struct BatchInputOptions
{
    int maxIds = kMaxBatchIds;
    IdFileEncoding encoding = IdFileEncoding::Auto;
    QString buyerColumn;    // an order file's buyer column; empty: the usual names
    bool orderFile = false; // read as an order file whatever the name
};

struct BatchInput
{
    QStringList ids;
    bool orderFile = false;
    QList<OrderBuyer> buyers; // an order file's buyers, ids in the same order
    qint64 leftOut = 0;       // ids (buyers) past maxIds, counted only
    QString error;
    bool noBuyerColumn = false;
    bool ok() const { return error.isEmpty(); }
};

// An order file when the name says so (isOrderFileName) or the options ask for one, else an id
// file, which is read exactly as readIdFile reads it.
BatchInput readBatchInput(const QString &path, const BatchInputOptions &options);

// An order export from a file already opened (path for messages).
BatchInput readOrderExport(QFile *opened, const QString &path, const BatchInputOptions &options);

// Fills the order columns of the rows from the order file's buyers (by id).
void addOrderColumns(QList<BatchRow> *rows, const QList<OrderBuyer> &buyers);
