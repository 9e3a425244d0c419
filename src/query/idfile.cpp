#include "idfile.h"

#include "codepage936.h"
#include "texthelpers.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace {

// Splits bytes into raw id fields, fed in chunks so a long file is read only as far as needed.
class IdFieldSplitter
{
public:
    explicit IdFieldSplitter(int maxIds) : m_maxIds(maxIds) {}

    // False once enough ids are read or on an error.
    bool feed(const char *data, qsizetype size)
    {
        for (qsizetype i = 0; i < size && wantsMore(); ++i)
            take(data[i]);
        return wantsMore();
    }
    void finish()
    {
        if (wantsMore())
            endField();
    }

    bool wantsMore() const { return m_error.isEmpty() && m_fields.size() < m_maxIds; }
    const QList<QByteArray> &fields() const { return m_fields; }
    const QString &error() const { return m_error; }

private:
    enum class State { Start, Unquoted, Quoted, QuoteInQuoted, AfterQuoted };

    void take(char c)
    {
        if (c == '\r' || c == '\n') {
            endField();
            return;
        }
        if (c == ',' && m_state != State::Quoted) {
            endField();
            return;
        }
        switch (m_state) {
        case State::Start:
            if (c == '"') {
                m_field.clear(); // spaces before the opening quote are layout, not id
                m_state = State::Quoted;
                return;
            }
            if (c != ' ')
                m_state = State::Unquoted;
            break;
        case State::Quoted:
            if (c == '"') {
                m_state = State::QuoteInQuoted;
                return;
            }
            break;
        case State::QuoteInQuoted:
            // A second quote is a quote inside the id; anything else follows the closing quote.
            m_state = c == '"' ? State::Quoted : State::AfterQuoted;
            break;
        case State::Unquoted:
        case State::AfterQuoted:
            break;
        }
        if (m_field.size() >= kMaxIdFieldBytes) {
            m_error =
                QStringLiteral("a field is longer than %1 bytes; this is no list of buyer ids")
                    .arg(kMaxIdFieldBytes);
            return;
        }
        m_field.append(c);
    }

    void endField()
    {
        bool blank = true;
        for (char c : std::as_const(m_field)) {
            if (c != ' ') {
                blank = false;
                break;
            }
        }
        if (!blank)
            m_fields.append(m_field);
        m_field.clear();
        m_state = State::Start;
    }

    int m_maxIds;
    State m_state = State::Start;
    QByteArray m_field;
    QList<QByteArray> m_fields;
    QString m_error;
};

bool isValidUtf8(const QList<QByteArray> &fields)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    for (const QByteArray &field : fields) {
        QString ignored = decoder.decode(field);
        if (decoder.hasError())
            return false;
    }
    return true;
}

QStringList decodeFields(const QList<QByteArray> &fields)
{
    QStringList ids;
    ids.reserve(fields.size());
    if (isValidUtf8(fields)) {
        for (const QByteArray &field : fields)
            ids.append(QString::fromUtf8(field));
    } else {
        for (const QByteArray &field : fields)
            ids.append(decode936(field));
    }
    return ids;
}

// The length of a byte order mark to skip, or -1 for UTF-16 text, which the splitter cannot read.
int byteOrderMark(const QByteArray &head)
{
    if (head.startsWith("\xEF\xBB\xBF"))
        return 3;
    // Neither pair can start code page 936 text: 0xFF is no lead byte, and no trail byte is 0xFF.
    if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF"))
        return -1;
    return 0;
}

const QString utf16Error = QStringLiteral("the file is UTF-16 text; save it as UTF-8 or GBK");

} // namespace

IdFileResult parseIdFile(const QByteArray &bytes, int maxIds)
{
    IdFileResult result;
    int skip = byteOrderMark(bytes);
    if (skip < 0) {
        result.error = utf16Error;
        return result;
    }
    IdFieldSplitter splitter(maxIds);
    splitter.feed(bytes.constData() + skip, bytes.size() - skip);
    splitter.finish();
    if (!splitter.error().isEmpty()) {
        result.error = splitter.error();
        return result;
    }
    result.ids = decodeFields(splitter.fields());
    return result;
}

IdFileResult readIdFile(const QString &path, int maxIds)
{
    IdFileResult result;
    auto fail = [&](const QString &reason) {
        result.ids.clear();
        result.error = QStringLiteral("cannot read the id file %1: %2").arg(path, reason);
        return result;
    };
    if (path.isEmpty())
        return fail(QStringLiteral("no file name"));
    if (QFileInfo(path).isDir())
        return fail(QStringLiteral("it is a folder"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());

    IdFieldSplitter splitter(maxIds);
    QByteArray chunk(64 * 1024, Qt::Uninitialized);
    bool first = true;
    while (splitter.wantsMore()) {
        qint64 n = file.read(chunk.data(), chunk.size());
        if (n < 0)
            return fail(file.errorString());
        if (n == 0)
            break;
        qsizetype skip = 0;
        if (first) {
            first = false;
            // The first read of a regular file is a full chunk or the whole file, so the mark is
            // entirely in it.
            skip = byteOrderMark(QByteArray::fromRawData(chunk.constData(), qsizetype(n)));
            if (skip < 0)
                return fail(utf16Error);
        }
        splitter.feed(chunk.constData() + skip, qsizetype(n) - skip);
    }
    splitter.finish();
    if (!splitter.error().isEmpty())
        return fail(splitter.error());
    result.ids = decodeFields(splitter.fields());
    return result;
}

bool isIdFileName(const QString &fileName)
{
    return trimSpaces(fileName).contains(QLatin1String("txt"), Qt::CaseSensitive);
}

QString batchProgressText(int total, int index, const QString &id)
{
    return QStringLiteral("共需要查询") + QString::number(total) +
           QStringLiteral("个买家,正在查询第") + QString::number(index) + QStringLiteral("个:") +
           id;
}

QString batchDoneText()
{
    return QStringLiteral("查询完毕,向EXCEL输送数据");
}
