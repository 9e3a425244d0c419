#include "files/batchinput.h"

#include <QHash>

BatchInput readBatchInput(const QString &path, const BatchInputOptions &options)
{
    BatchInput input;
    if (!options.orderFile && !isOrderFileName(path)) {
        IdFileResult file = readIdFile(path, options.maxIds, options.encoding);
        input.ids = std::move(file.ids);
        input.leftOut = file.leftOut;
        input.error = file.error;
        return input;
    }
    OrderFileOptions orderOptions;
    orderOptions.buyerColumn = options.buyerColumn;
    orderOptions.maxBuyers = options.maxIds;
    orderOptions.encoding = options.encoding;
    OrderFileResult file = readOrderFile(path, orderOptions);
    input.orderFile = true;
    input.ids = file.ids();
    input.buyers = std::move(file.buyers);
    input.leftOut = file.leftOut;
    input.error = file.error;
    input.noBuyerColumn = file.noBuyerColumn;
    return input;
}

void addOrderColumns(QList<BatchRow> *rows, const QList<OrderBuyer> &buyers)
{
    QHash<QString, const OrderBuyer *> byId;
    for (const OrderBuyer &buyer : buyers)
        byId.insert(buyer.id, &buyer);
    for (BatchRow &row : *rows) {
        if (const OrderBuyer *buyer = byId.value(row.id)) {
            row.orders = buyer->orders;
            row.orderNumbers = buyer->orderNumbers;
            row.orderNumberCount = buyer->orderNumberCount;
        }
    }
}
