#include "files/orderfile.h"

#include "files/inputfile.h"
#include "files/xlsxreader.h"
#include "model/uilanguage.h"
#include "web/codepage936.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QStringDecoder>

namespace {

constexpr int kMaxColumns = 1024;

// stripCellDecoration without copying: the cell may be a long shared string named by many rows.
QStringView strippedCell(QStringView cell)
{
    QStringView text = cell.trimmed();
    if (text.startsWith(QLatin1String("=\"")) && text.endsWith(u'"') && text.size() >= 3)
        text = text.mid(2, text.size() - 3);
    else if (text.startsWith(u'\''))
        text = text.mid(1);
    // A tab before the number was taken by trimmed() already; what remains may be padded inside.
    return text.trimmed();
}

// Collects the buyers from the rows of the table, the header first.
class OrderTable
{
public:
    explicit OrderTable(const OrderFileOptions &options) : m_options(options) {}

    // False once the header turned out to lack the buyer column.
    bool row(const QStringList &cells)
    {
        if (!m_haveHeader)
            return header(cells);
        const QString buyer = stripCellDecoration(cells.value(m_buyerColumn));
        if (buyer.isEmpty()) {
            bool blank = true;
            for (const QString &cell : cells)
                blank = blank && cell.trimmed().isEmpty();
            if (!blank)
                ++m_result.rowsWithoutBuyer;
            return true;
        }
        ++m_result.orders;
        const QStringView order = m_orderColumn >= 0 && m_orderColumn < cells.size()
                                      ? strippedCell(cells.at(m_orderColumn))
                                      : QStringView();
        const auto addOrder = [&](OrderBuyer &b) {
            ++b.orders;
            if (order.isEmpty())
                return;
            if (b.orderNumbers.size() < kMaxOrderNumbersKept)
                b.orderNumbers.append(keptOrderNumber(order));
            ++b.orderNumberCount;
        };
        if (const auto found = m_index.constFind(buyer); found != m_index.cend()) {
            addOrder(m_result.buyers[*found]);
        } else if (m_result.buyers.size() < m_options.maxBuyers) {
            m_index.insert(buyer, int(m_result.buyers.size()));
            m_result.buyers.append({buyer, 0, {}, 0});
            addOrder(m_result.buyers.last());
        } else {
            m_leftOut.insert(buyer);
        }
        return true;
    }

    OrderFileResult finish(const QString &error = {})
    {
        m_result.leftOut = m_leftOut.size();
        if (!error.isEmpty())
            fail(error);
        return std::move(m_result);
    }

private:
    void fail(const QString &error)
    {
        m_result.buyers.clear();
        m_result.leftOut = 0;
        m_result.error = error;
    }

    bool header(const QStringList &cells)
    {
        QStringList names;
        bool blank = true;
        for (const QString &cell : cells) {
            names.append(stripCellDecoration(cell));
            blank = blank && names.constLast().isEmpty();
        }
        if (blank)
            return true; // blank lines before the header
        m_haveHeader = true;
        while (!names.isEmpty() && names.constLast().isEmpty())
            names.removeLast();
        m_result.columns = names;
        const auto find = [&](const QString &name) {
            for (qsizetype i = 0; i < names.size(); ++i) {
                if (names[i].compare(name.trimmed(), Qt::CaseInsensitive) == 0)
                    return int(i);
            }
            return -1;
        };
        const QStringList wanted = m_options.buyerColumn.trimmed().isEmpty()
                                       ? defaultBuyerColumns()
                                       : QStringList{m_options.buyerColumn.trimmed()};
        for (const QString &name : wanted) {
            m_buyerColumn = find(name);
            if (m_buyerColumn >= 0) {
                m_result.buyerColumn = names[m_buyerColumn];
                break;
            }
        }
        m_orderColumn = find(orderNumberColumn());
        if (m_buyerColumn >= 0)
            return true;
        const QString found =
            names.isEmpty()
                ? inUserLanguage(QStringLiteral("（无）"), QStringLiteral("(none)"))
                : names.join(inUserLanguage(QStringLiteral("、"), QStringLiteral(", ")));
        fail(inUserLanguage(QStringLiteral("表头中没有买家列（%1）。表头中的列：%2"),
                            QStringLiteral("the header has no buyer column (%1); its columns: %2"))
                 .arg(wanted.join(inUserLanguage(QStringLiteral("、"), QStringLiteral(", "))),
                      found));
        m_result.noBuyerColumn = true;
        return false;
    }

    OrderFileOptions m_options;
    OrderFileResult m_result;
    bool m_haveHeader = false;
    int m_buyerColumn = -1;
    int m_orderColumn = -1;
    QHash<QString, int> m_index; // buyer -> place in m_result.buyers
    QSet<QString> m_leftOut;
};

// Splits CSV bytes into records of raw fields. Commas, quotes, '=' and line ends are ASCII and
// never inside a multi-byte character of UTF-8 or code page 936, so the bytes are split before
// decoding.
class CsvSplitter
{
public:
    explicit CsvSplitter(QByteArrayView bytes) : m_bytes(bytes) {}

    // The next record; false at the end or on an error.
    bool next(QList<QByteArray> *fields)
    {
        fields->clear();
        if (m_pos >= m_bytes.size())
            return false;
        ++m_record;
        QByteArray field;
        enum class State { Start, Unquoted, Quoted, AfterQuoted } state = State::Start;
        const auto endField = [&] {
            if (fields->size() < kMaxColumns)
                fields->append(field);
            field.clear();
            state = State::Start;
            m_closeFormula = false;
        };
        while (m_pos < m_bytes.size()) {
            const char c = m_bytes[m_pos++];
            if (state == State::Quoted) {
                if (c == '"') {
                    if (m_pos < m_bytes.size() && m_bytes[m_pos] == '"') {
                        ++m_pos;
                        field.append('"');
                    } else {
                        state = State::AfterQuoted;
                        if (m_closeFormula)
                            field.append('"');
                        m_closeFormula = false;
                    }
                    continue;
                }
            } else if (c == ',') {
                endField();
                continue;
            } else if (c == '\r' || c == '\n') {
                if (c == '\r' && m_pos < m_bytes.size() && m_bytes[m_pos] == '\n')
                    ++m_pos;
                endField();
                return true;
            } else if (state == State::Start) {
                if (c == '"') {
                    field.clear(); // spaces before the quote are layout
                    state = State::Quoted;
                    continue;
                }
                if (c == '=' && m_pos < m_bytes.size() && m_bytes[m_pos] == '"' &&
                    field.trimmed().isEmpty()) {
                    // ="…": a text cell in a formula's dress; the quotes hold the whole cell.
                    ++m_pos;
                    field = "=\"";
                    state = State::Quoted;
                    m_closeFormula = true;
                    continue;
                }
                if (c != ' ')
                    state = State::Unquoted;
            }
            if (field.size() >= kMaxOrderCellBytes) {
                m_error = inUserLanguage(
                              QStringLiteral("第%1行有一格超过 %2 KiB（可能少了一个引号）"),
                              QStringLiteral("line %1 has a cell over %2 KiB (a quote missing?)"))
                              .arg(m_record)
                              .arg(kMaxOrderCellBytes / 1024);
                return false;
            }
            field.append(c);
        }
        endField();
        return true;
    }
    const QString &error() const { return m_error; }

private:
    QByteArrayView m_bytes;
    qsizetype m_pos = 0;
    qint64 m_record = 0;
    bool m_closeFormula = false;
    QString m_error;
};

bool isValidUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString ignored = decoder.decode(bytes);
    return !decoder.hasError();
}

OrderFileResult parseCsv(const QByteArray &bytes, const OrderFileOptions &options)
{
    OrderTable table(options);
    QByteArrayView text(bytes);
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF"))
        return table.finish(
            inUserLanguage(QStringLiteral("文件是 UTF-16 编码的文本，请另存为 UTF-8 或 GBK 编码"),
                           QStringLiteral("the file is UTF-16 text; save it as UTF-8 or GBK")));
    if (bytes.contains('\0'))
        return table.finish(
            inUserLanguage(QStringLiteral("文件中有 NUL 字节，不是订单导出文件"),
                           QStringLiteral("the file holds NUL bytes; it is no order export")));
    bool utf8 = options.encoding == IdFileEncoding::Utf8;
    if (options.encoding != IdFileEncoding::Gbk && bytes.startsWith("\xEF\xBB\xBF")) {
        text = text.sliced(3);
        utf8 = true;
    } else if (options.encoding == IdFileEncoding::Auto) {
        utf8 = isValidUtf8(text);
    }
    CsvSplitter splitter(text);
    QList<QByteArray> fields;
    QStringList cells;
    while (splitter.next(&fields)) {
        cells.clear();
        for (const QByteArray &field : fields)
            cells.append(utf8 ? QString::fromUtf8(field) : decode936(field));
        if (!table.row(cells))
            return table.finish();
    }
    return table.finish(splitter.error());
}

OrderFileResult parseXlsx(const QByteArray &bytes, const OrderFileOptions &options)
{
    OrderTable table(options);
    const QString error =
        readXlsxRows(bytes, [&](const QStringList &cells) { return table.row(cells); });
    return table.finish(error);
}

} // namespace

const QStringList &defaultBuyerColumns()
{
    static const QStringList names = {QStringLiteral("买家会员名"), QStringLiteral("买家昵称"),
                                      QStringLiteral("buyer"), QStringLiteral("buyerId")};
    return names;
}

QString orderNumberColumn()
{
    return QStringLiteral("订单编号");
}

QStringList OrderFileResult::ids() const
{
    QStringList list;
    list.reserve(buyers.size());
    for (const OrderBuyer &b : buyers)
        list.append(b.id);
    return list;
}

bool isOrderFileName(const QString &fileName)
{
    const QString name = fileName.trimmed();
    return name.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive) ||
           name.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive);
}

QString stripCellDecoration(const QString &cell)
{
    const QStringView text = strippedCell(cell);
    return text.size() == cell.size() ? cell : text.toString();
}

OrderFileResult parseOrderFile(const QByteArray &bytes, const OrderFileOptions &options)
{
    return looksLikeZip(bytes) ? parseXlsx(bytes, options) : parseCsv(bytes, options);
}

OrderFileResult readOrderFile(const QString &path, const OrderFileOptions &options)
{
    const auto fail = [&](const QString &reason) {
        OrderFileResult result;
        result.error = inUserLanguage(QStringLiteral("无法读取订单文件 %1：%2"),
                                      QStringLiteral("cannot read the order file %1: %2"))
                           .arg(path, reason);
        return result;
    };
    QFile file;
    QString reason;
    if (path.isEmpty())
        return fail(inUserLanguage(QStringLiteral("没有文件名"), QStringLiteral("no file name")));
    if (!openRegularFile(path, &file, &reason))
        return fail(reason);
    return readOrderFile(&file, path, options);
}

OrderFileResult readOrderFile(QFile *file, const QString &path, const OrderFileOptions &options)
{
    const auto fail = [&](const QString &reason) {
        OrderFileResult result;
        result.error = inUserLanguage(QStringLiteral("无法读取订单文件 %1：%2"),
                                      QStringLiteral("cannot read the order file %1: %2"))
                           .arg(path, reason);
        return result;
    };
    const QByteArray bytes = file->read(kMaxOrderFileBytes + 1);
    if (file->error() != QFileDevice::NoError)
        return fail(file->errorString());
    if (bytes.size() > kMaxOrderFileBytes)
        return fail(inUserLanguage(QStringLiteral("文件超过 %1 MiB"),
                                   QStringLiteral("the file is larger than %1 MiB"))
                        .arg(kMaxOrderFileBytes / (1024 * 1024)));
    OrderFileResult result = parseOrderFile(bytes, options);
    if (result.noBuyerColumn) // the file is read, but is not what it should be
        result.error = inUserLanguage(QStringLiteral("%1：%2"), QStringLiteral("%1: %2"))
                           .arg(path, result.error);
    else if (!result.ok())
        return fail(result.error);
    return result;
}

QString leftOutText(qint64 kept, qint64 leftOut)
{
    if (leftOut <= 0)
        return {};
    return inUserLanguage(QStringLiteral("文件中有%1个买家ID，一次最多查询%2个：只查询前%2个，"
                                         "后面的%3个不会查询。"),
                          QStringLiteral("the file holds %1 buyer ids, a batch takes at most %2: "
                                         "the first %2 are looked up, the other %3 left out"))
        .arg(kept + leftOut)
        .arg(kept)
        .arg(leftOut);
}
