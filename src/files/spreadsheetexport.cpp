#include "files/spreadsheetexport.h"

#include "model/owneronly.h"
#include "model/uilanguage.h"

#include "files/csvwriter.h"
#include "files/orderfile.h"
#include "files/outputguard.h"

#include "model/lookupstatus.h"

#include "model/buyerassessment.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <xlsxwriter.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <vector>

namespace {

constexpr int kColumns = 12;              // without the extra columns
constexpr int kUrlColumn = 11;            // zero-based: column 12
constexpr int kMaxCellChars = 32767;      // characters a cell may hold
constexpr int kMaxFormulaLiteral = 255;   // characters a text literal in a formula may hold
constexpr int kMaxHyperlinkLength = 2079; // characters of a hyperlink target, once %-escaped

// The record's fields in the order of columns 2 to 11.
QString columnValue(const BatchRow &row, int column)
{
    const BuyerCreditRecord &r = row.record;
    switch (column) {
    case 0:
        return row.id;
    case 1:
        return r.nick;
    case 2:
        return r.regTime;
    case 3:
        return r.address;
    case 4:
        return r.verification;
    case 5:
        return r.goodRate;
    case 6:
        return r.goodCount;
    case 7:
        return r.neutralCount;
    case 8:
        return r.badCount;
    case 9:
        return r.neutralGiven;
    case 10:
        return r.badGiven;
    default:
        return r.creditUrl;
    }
}

bool isHex(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// "_xHHHH_" in a cell's text is read back as the character HHHH; a literal one is written with
// its underscore escaped.
bool startsEscapeLookalike(const QString &text, qsizetype i)
{
    if (i + 7 > text.size() || text[i] != u'_' || (text[i + 1] != u'x' && text[i + 1] != u'X') ||
        text[i + 6] != u'_')
        return false;
    for (qsizetype k = i + 2; k < i + 6; ++k) {
        if (!isHex(text[k]))
            return false;
    }
    return true;
}

// Text that XML 1.0 can carry, whatever it came from (ids, pages, the seller's reasons):
// spreadsheet programs refuse a whole file over one control character in a part. NULs are dropped
// (the writer takes C strings); other control characters, lone surrogates and the non-characters
// U+FFFE/FFFF become U+FFFD. Tabs and line breaks stay.
QString xmlSafeText(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u == 0)
            continue;
        if (QChar::isHighSurrogate(u) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += text[i];
            out += text[++i];
            continue;
        }
        const bool allowed = u == u'\t' || u == u'\n' || u == u'\r' ||
                             (u >= 0x20 && !QChar::isSurrogate(u) && u != 0xFFFE && u != 0xFFFF);
        out += allowed ? QChar(u) : QChar(QChar::ReplacementCharacter);
    }
    return out;
}

// A cell's text as the writer takes it: XML-safe, escape look-alikes escaped, cut after
// kMaxCellChars characters without splitting a character or an escape.
QByteArray cellText(const QString &original)
{
    const QString text = xmlSafeText(original);
    QString out;
    out.reserve(text.size());
    int chars = 0;
    for (qsizetype i = 0; i < text.size();) {
        QStringView piece;
        int weight = 1;
        QString escaped;
        if (startsEscapeLookalike(text, i)) {
            escaped = QStringLiteral("_x005F_");
            piece = escaped;
            weight = 7;
            i += 1;
        } else if (text[i].isHighSurrogate() && i + 1 < text.size() &&
                   text[i + 1].isLowSurrogate()) {
            piece = QStringView(text).mid(i, 2);
            i += 2;
        } else {
            piece = QStringView(text).mid(i, 1);
            i += 1;
        }
        if (chars + weight > kMaxCellChars)
            break;
        chars += weight;
        out.append(piece);
    }
    return out.toUtf8();
}

bool hasControlCharacters(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x20; });
}

bool isWebAddress(const QString &address)
{
    for (const char *scheme : {"http://", "https://", "ftp://"}) {
        if (address.startsWith(QLatin1String(scheme), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

// The hyperlink target's length once the writer has %-escaped it, counted in bytes, which is
// never less than its count of characters.
qsizetype escapedUrlLength(const QString &address)
{
    static const char escapedByWriter[] = " \"<>\\[]^{}`";
    qsizetype length = 0;
    for (char c : address.toUtf8())
        length += (c != '\0' && std::strchr(escapedByWriter, c)) ? 3 : 1;
    return length;
}

// Column widths in the units of the default font: the widest text, a wide character counting two.
double displayWidth(const QString &text)
{
    double width = 0;
    for (QChar c : text) {
        if (c.isLowSurrogate())
            continue;
        width += c.unicode() >= 0x2E80 ? 2 : 1;
    }
    return width;
}

QString writerError(const char *what, lxw_error code)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromUtf8(lxw_strerror(code)));
}

class SheetWriter
{
public:
    SheetWriter(lxw_workbook *workbook, lxw_worksheet *sheet) : m_workbook(workbook), m_sheet(sheet)
    {
        m_text = workbook_add_format(workbook);
        format_set_num_format(m_text, "@");
        m_header = workbook_add_format(workbook);
        format_set_num_format(m_header, "@");
        format_set_bold(m_header);
        m_marked = workbook_add_format(workbook);
        format_set_num_format(m_marked, "@");
        format_set_font_color(m_marked, 0x9C0006);
        format_set_bg_color(m_marked, 0xFFC7CE);
    }
    lxw_format *marked() const { return m_marked; }
    // Made when first asked for, so a table without grey rows has the styles it always had.
    lxw_format *grey()
    {
        if (!m_grey) {
            m_grey = workbook_add_format(m_workbook);
            format_set_num_format(m_grey, "@");
            format_set_font_color(m_grey, 0x595959);
            format_set_bg_color(m_grey, 0xE7E6E6);
        }
        return m_grey;
    }
    lxw_format *bold() const { return m_header; }
    lxw_error comment(lxw_row_t row, lxw_col_t col, const QString &text)
    {
        return worksheet_write_comment(m_sheet, row, col, cellText(text).constData());
    }

    lxw_error text(lxw_row_t row, lxw_col_t col, const QString &value, lxw_format *format = nullptr)
    {
        // A styled empty string is written as a styled blank cell.
        return worksheet_write_string(m_sheet, row, col, cellText(value).constData(),
                                      format ? format : m_text);
    }
    lxw_error header(lxw_col_t col, const QString &value) { return text(0, col, value, m_header); }

    lxw_error link(lxw_row_t row, lxw_col_t col, const QString &given, lxw_format *format = nullptr)
    {
        // An address with control characters is no address to follow: it stays text.
        const QString address = xmlSafeText(given);
        if (address.size() <= kMaxFormulaLiteral && !hasControlCharacters(given)) {
            return worksheet_write_formula_str(m_sheet, row, col,
                                               hyperlinkFormula(address).toUtf8().constData(),
                                               format, cellText(address).constData());
        }
        if (isWebAddress(address) && !hasControlCharacters(given) &&
            escapedUrlLength(address) <= kMaxHyperlinkLength &&
            worksheet_write_url(m_sheet, row, col, address.toUtf8().constData(), nullptr) ==
                LXW_NO_ERROR) {
            // The link keeps its target; the shown text goes through the same escaping as every
            // other cell.
            return text(row, col, address, workbook_get_default_url_format(m_workbook));
        }
        return text(row, col, address, format);
    }

private:
    lxw_workbook *m_workbook;
    lxw_worksheet *m_sheet;
    lxw_format *m_text = nullptr;
    lxw_format *m_header = nullptr;
    lxw_format *m_marked = nullptr;
    lxw_format *m_grey = nullptr;
};

// The extra columns' values of a row.
QStringList extraValues(const BatchRow &row, const BatchTableOptions &options)
{
    const BuyerAssessment a =
        assessBuyer({row.record, row.pages}, options.risk,
                    options.today.isValid() ? options.today : QDate::currentDate(), &row.seller);
    return {a.creditScoreText(),
            creditLevelText(a.creditLevel),
            riskLevelText(a.risk.level),
            a.risk.reasons.join(QStringLiteral("；")),
            lookupStatusText(row.status) + QStringLiteral("：") +
                (row.reusedMinutes >= 0
                     ? QStringLiteral("取自 %1 分钟前的查询").arg(row.reusedMinutes)
                     : buyerPageOutcomesText(row.pages)),
            row.sellerMark,
            row.sellerNote};
}

// The order numbers' cell: the first ones, each cut to a sane length, then how many there are
// in all. An export may name one long number on every row.
QString orderNumbersText(const BatchRow &row)
{
    const qsizetype shown = std::min<qsizetype>(row.orderNumbers.size(), kMaxOrderNumbersKept);
    QStringList numbers;
    numbers.reserve(shown);
    for (qsizetype i = 0; i < shown; ++i)
        numbers.append(shownOrderNumber(row.orderNumbers.at(i)));
    QString text = numbers.join(QStringLiteral("；"));
    const qsizetype all = std::max<qsizetype>(row.orderNumberCount, row.orderNumbers.size());
    if (all > shown)
        text += QStringLiteral("等%1个").arg(all);
    return text;
}

// The extra and order columns' values of a row, as the options ask for them.
QStringList laterValues(const BatchRow &row, const BatchTableOptions &options)
{
    QStringList values = options.extraColumns ? extraValues(row, options) : QStringList();
    if (options.orderColumns)
        values << QString::number(row.orders) << orderNumbersText(row);
    return values;
}

lxw_format *rowFormat(SheetWriter &writer, const BatchRow &row, const BatchTableOptions &options)
{
    if (row.seller.listed || (options.markRisk && row.risk == RiskLevel::High))
        return writer.marked();
    if (options.markRisk && row.risk == RiskLevel::Unknown)
        return writer.grey();
    return nullptr;
}

// A column chart of the verdict counts in B2:B5 (categories A2:A5), one colour per verdict as
// the table marks its rows.
lxw_error insertVerdictChart(lxw_workbook *workbook, lxw_worksheet *sheet, const char *sheetName)
{
    lxw_chart *chart = workbook_add_chart(workbook, LXW_CHART_COLUMN);
    if (!chart)
        return LXW_ERROR_MEMORY_MALLOC_FAILED;
    lxw_chart_series *series = chart_add_series(chart, nullptr, nullptr);
    if (!series)
        return LXW_ERROR_MEMORY_MALLOC_FAILED;
    chart_series_set_categories(series, sheetName, 1, 0, 4, 0);
    chart_series_set_values(series, sheetName, 1, 1, 4, 1);
    // 高, 未知, 中, 低
    lxw_chart_fill fills[] = {
        {0xE04040, 0, 0}, {0xA0A0A0, 0, 0}, {0xF0A030, 0, 0}, {0x40A060, 0, 0}};
    lxw_chart_point points[std::size(fills)] = {};
    lxw_chart_point *list[std::size(fills) + 1] = {};
    for (size_t i = 0; i < std::size(fills); ++i) {
        points[i].fill = &fills[i];
        list[i] = &points[i];
    }
    chart_series_set_points(series, list);
    chart_series_set_labels(series);
    chart_title_set_name(chart, "风险分布");
    chart_legend_set_position(chart, LXW_CHART_LEGEND_NONE);
    lxw_chart_options place = {};
    place.x_scale = 0.8;
    place.y_scale = 0.9;
    return worksheet_insert_chart_opt(sheet, 0, 3, chart, &place);
}

// The sheet "汇总": buyers per verdict and their chart, the warnings, then the blacklisted
// buyers with their reasons.
lxw_error writeSummarySheet(lxw_workbook *workbook, SheetWriter &table, const QList<BatchRow> &rows,
                            const QStringList &warnings)
{
    lxw_worksheet *sheet = workbook_add_worksheet(workbook, "汇总");
    if (!sheet)
        return LXW_ERROR_MEMORY_MALLOC_FAILED;
    SheetWriter writer(workbook, sheet);
    const RiskLevel order[] = {RiskLevel::High, RiskLevel::Unknown, RiskLevel::Medium,
                               RiskLevel::Low};
    lxw_error status = writer.header(0, QStringLiteral("风险"));
    if (status == LXW_NO_ERROR)
        status = writer.header(1, QStringLiteral("人数"));
    lxw_row_t line = 1;
    for (RiskLevel level : order) {
        const auto count = std::count_if(rows.cbegin(), rows.cend(),
                                         [&](const BatchRow &r) { return r.risk == level; });
        if (status == LXW_NO_ERROR)
            status = writer.text(line, 0, riskLevelText(level));
        if (status == LXW_NO_ERROR)
            status = worksheet_write_number(sheet, line, 1, double(count), nullptr);
        ++line;
    }
    if (status == LXW_NO_ERROR)
        status = writer.text(line, 0, QStringLiteral("合计"));
    if (status == LXW_NO_ERROR)
        status = worksheet_write_number(sheet, line, 1, double(rows.size()), nullptr);
    if (status == LXW_NO_ERROR)
        status = insertVerdictChart(workbook, sheet, "汇总");
    line += 2;
    for (const QString &warning : warnings) {
        if (status == LXW_NO_ERROR)
            status = writer.text(line, 0, warning, table.marked());
        ++line;
    }
    if (!warnings.isEmpty())
        ++line;
    if (status == LXW_NO_ERROR)
        status = writer.text(line, 0, QStringLiteral("黑名单买家"), table.bold());
    if (status == LXW_NO_ERROR)
        status = writer.text(line, 1, QStringLiteral("原因"), table.bold());
    for (const BatchRow &row : rows) {
        if (!row.seller.listed || status != LXW_NO_ERROR)
            continue;
        ++line;
        status = writer.text(line, 0, row.id);
        if (status == LXW_NO_ERROR)
            status = writer.text(line, 1, row.seller.note);
    }
    worksheet_set_column(sheet, 0, 0, 24, nullptr);
    worksheet_set_column(sheet, 1, 1, 40, nullptr);
    return status;
}

bool writeWorkbook(const QString &path, const QList<BatchRow> &rows, QString *error,
                   const BatchTableOptions &options)
{
    auto fail = [&](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    const QByteArray nativePath = fopenName(path);
    lxw_workbook *workbook = workbook_new(nativePath.constData());
    if (!workbook)
        return fail(inUserLanguage(QStringLiteral("无法创建工作簿"),
                                   QStringLiteral("cannot create the workbook")));
    lxw_worksheet *sheet = workbook_add_worksheet(workbook, nullptr);
    if (!sheet) {
        workbook_close(workbook);
        return fail(inUserLanguage(QStringLiteral("无法添加工作表"),
                                   QStringLiteral("cannot add a worksheet")));
    }
    SheetWriter writer(workbook, sheet);

    const QStringList headers = batchTableColumns(options);
    const int columns = int(headers.size());
    std::vector<double> widths(size_t(columns), 0.0);
    lxw_error status = LXW_NO_ERROR;
    for (int c = 0; c < columns && status == LXW_NO_ERROR; ++c) {
        widths[size_t(c)] = displayWidth(headers[c]);
        status = writer.header(lxw_col_t(c), headers[c]);
    }
    for (qsizetype r = 0; r < rows.size() && status == LXW_NO_ERROR; ++r) {
        const lxw_row_t row = lxw_row_t(r + 1);
        lxw_format *format = rowFormat(writer, rows[r], options);
        const QStringList extra = laterValues(rows[r], options);
        for (int c = 0; c < columns && status == LXW_NO_ERROR; ++c) {
            const QString value = c < kColumns ? columnValue(rows[r], c) : extra[c - kColumns];
            widths[size_t(c)] = std::max(widths[size_t(c)], displayWidth(value));
            status = c == kUrlColumn ? writer.link(row, lxw_col_t(c), value, format)
                                     : writer.text(row, lxw_col_t(c), value, format);
        }
        if (rows[r].seller.listed && status == LXW_NO_ERROR)
            status = writer.comment(row, 0, rows[r].sellerMark);
    }
    if (status != LXW_NO_ERROR) {
        workbook_close(workbook); // frees it; the partial file is removed by the caller
        return fail(writerError("cannot write a cell", status));
    }
    for (int c = 0; c < columns; ++c)
        worksheet_set_column(sheet, lxw_col_t(c), lxw_col_t(c),
                             std::clamp(widths[size_t(c)] + 2, 8.0, 60.0), nullptr);
    worksheet_freeze_panes(sheet, 1, 0);
    if (options.summarySheet) {
        status = writeSummarySheet(workbook, writer, rows, options.warnings);
        if (status != LXW_NO_ERROR) {
            workbook_close(workbook);
            return fail(writerError("cannot write the summary", status));
        }
    }

    status = workbook_close(workbook);
    if (status != LXW_NO_ERROR)
        return fail(writerError("cannot write the workbook", status));
    return true;
}

} // namespace

QStringList batchTableColumns(const BatchTableOptions &options)
{
    QStringList headers = batchTableHeaders();
    if (options.extraColumns)
        headers += batchTableExtraHeaders();
    if (options.orderColumns)
        headers += batchTableOrderHeaders();
    return headers;
}

QStringList batchTableValues(const BatchRow &row, const BatchTableOptions &options)
{
    QStringList values;
    for (int c = 0; c < kColumns; ++c)
        values.append(columnValue(row, c));
    return values + laterValues(row, options);
}

bool writeBatchCsv(const QString &path, const QList<BatchRow> &rows, QString *error,
                   const BatchTableOptions &options, const QList<OwnFile> &ownFiles)
{
    QByteArray bytes = "\xEF\xBB\xBF" + csvRecord(batchTableColumns(options));
    for (const BatchRow &row : rows)
        bytes += csvRecord(batchTableValues(row, options));
    QString reason;
    if (writeOutputFile(path, bytes, ownFiles, &reason))
        return true;
    if (error)
        *error =
            inUserLanguage(QStringLiteral("无法写入 %1：%2"), QStringLiteral("cannot write %1: %2"))
                .arg(path, reason);
    return false;
}

QString hyperlinkFormula(const QString &address)
{
    QString quoted = address;
    quoted.replace(u'"', QLatin1String("\"\""));
    return QStringLiteral("=HYPERLINK(\"") + quoted + QStringLiteral("\",\"") + quoted +
           QStringLiteral("\")");
}

bool checkBatchOutput(const QString &path, const QList<OwnFile> &ownFiles, QString *error)
{
    return checkOutput(path, ownFiles, error);
}

bool writeBatchSpreadsheet(const QString &path, const QList<BatchRow> &rows, QString *error,
                           const BatchTableOptions &options, const QList<OwnFile> &ownFiles,
                           QString *savedTo)
{
    OutputTarget target;
    QString reason;
    const auto write = [&](const QString &partial, QString *why) {
        return writeWorkbook(partial, rows, why, options);
    };
    if (resolveOutput(path, ownFiles, &target, &reason) && replaceOutput(target, write, &reason))
        return true;
    // The queries are done: whatever went wrong with OUT, their results are not lost.
    QString message =
        inUserLanguage(QStringLiteral("无法写入 %1：%2"), QStringLiteral("cannot write %1: %2"))
            .arg(path, reason);
    QString tempError;
    const QString temp = writeBatchSpreadsheetToTemp(rows, &tempError, options);
    if (!temp.isEmpty())
        message += QStringLiteral("; the table was saved to %1 instead").arg(temp);
    else
        message +=
            QStringLiteral("; nor could it be kept in the temporary folder (%1)").arg(tempError);
    if (savedTo)
        *savedTo = temp;
    if (error)
        *error = message;
    return false;
}

int removeStaleBatchTables(const QString &folder, const QDateTime &now)
{
    // The names writeBatchSpreadsheetToTemp gives: "brelvon-" + six characters + ".xlsx".
    static const QRegularExpression name(QStringLiteral("^brelvon-[A-Za-z0-9]{6}\\.xlsx$"));
    const QDateTime cutOff = now.addDays(-1);
    int removed = 0;
    const QFileInfoList entries = QDir(folder).entryInfoList(
        {QStringLiteral("brelvon-*.xlsx")}, QDir::Files | QDir::NoSymLinks | QDir::Hidden);
    for (const QFileInfo &entry : entries) {
        if (!name.match(entry.fileName()).hasMatch() || !ownedByUser(entry) ||
            entry.lastModified() >= cutOff)
            continue;
        if (QFile::remove(entry.filePath()))
            ++removed;
    }
    return removed;
}

QString writeBatchSpreadsheetToTemp(const QList<BatchRow> &rows, QString *error,
                                    const BatchTableOptions &options)
{
    // QDir::tempPath() is "" when TMPDIR names a missing folder; the file must not then land in
    // the root or working folder.
    const QString folder = QDir::tempPath();
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        if (error)
            *error = QStringLiteral("cannot create a file in the temporary folder %1: no such "
                                    "folder")
                         .arg(qEnvironmentVariable("TMPDIR"));
        return {};
    }
    QTemporaryFile file(folder + QStringLiteral("/brelvon-XXXXXX.xlsx"));
    if (!file.open()) {
        if (error)
            *error = inUserLanguage(QStringLiteral("无法在 %1 中创建文件：%2"),
                                    QStringLiteral("cannot create a file in %1: %2"))
                         .arg(folder, file.errorString());
        return {};
    }
    file.close();
    QString reason;
    if (!writeWorkbook(file.fileName(), rows, &reason, options)) {
        if (error)
            *error = inUserLanguage(QStringLiteral("无法写入 %1：%2"),
                                    QStringLiteral("cannot write %1: %2"))
                         .arg(file.fileName(), reason);
        return {}; // the partial file goes with the temporary file object
    }
    file.setAutoRemove(false);
    return file.fileName();
}
