#include "files/batchinput.h"

#include <QHash>

namespace {

OrderFileOptions orderFileOptions(const BatchInputOptions &options)
{
    OrderFileOptions orderOptions;
    orderOptions.buyerColumn = options.buyerColumn;
    orderOptions.maxBuyers = options.maxIds;
    orderOptions.encoding = options.encoding;
    return orderOptions;
}

BatchInput orderInput(OrderFileResult file)
{
    BatchInput input;
    input.orderFile = true;
    input.ids = file.ids();
    input.buyers = std::move(file.buyers);
    input.leftOut = file.leftOut;
    input.error = file.error;
    input.noBuyerColumn = file.noBuyerColumn;
    return input;
}

} // namespace

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
    return orderInput(readOrderFile(path, orderFileOptions(options)));
}

BatchInput readOrderExport(QFile *opened, const QString &path, const BatchInputOptions &options)
{
    return orderInput(readOrderFile(opened, path, orderFileOptions(options)));
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
