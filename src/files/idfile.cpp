#include "files/idfile.h"

#include "model/uilanguage.h"

#include "files/inputfile.h"
#include "web/codepage936.h"
#include "web/texthelpers.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

namespace {

QString nulError()
{
    return inUserLanguage(
        QStringLiteral("文件中有 NUL 字节，不是买家ID的文本文件"),
        QStringLiteral("the file holds NUL bytes; it is no text file of buyer ids"));
}

QString utf16Error()
{
    return inUserLanguage(QStringLiteral("文件是 UTF-16 编码的文本，请另存为 UTF-8 或 GBK 编码"),
                          QStringLiteral("the file is UTF-16 text; save it as UTF-8 or GBK"));
}

// Splits bytes into raw id fields, fed in chunks. Past maxIds ids the fields are only counted:
// nothing of them is kept and nothing in them is an error, so memory stays bounded whatever the
// file holds.
class IdFieldSplitter
{
public:
    explicit IdFieldSplitter(int maxIds) : m_maxIds(maxIds) {}

    // False on an error.
    bool feed(const char *data, qsizetype size)
    {
        for (qsizetype i = 0; i < size && m_error.isEmpty(); ++i) {
            // A field only counted, once known not to be blank, matters no more until the byte
            // that can end it (or end its quotes): a quick scan to there keeps a large file's
            // count cheap.
            if (!m_blank && counting()) {
                i = skipCountedField(data, i, size);
                if (i == size)
                    break;
            }
            take(data[i]);
        }
        return m_error.isEmpty();
    }
    void finish()
    {
        if (m_error.isEmpty())
            endField();
    }

    const QList<QByteArray> &fields() const { return m_fields; }
    qint64 leftOut() const { return m_leftOut; }
    const QString &error() const { return m_error; }

private:
    enum class State { Start, Unquoted, Quoted, QuoteInQuoted, AfterQuoted };

    bool counting() const { return m_fields.size() >= m_maxIds; }

    // The first index from i on whose byte may change the state of a field past the limit.
    qsizetype skipCountedField(const char *data, qsizetype i, qsizetype size) const
    {
        const char stop = m_state == State::Quoted ? '"' : ',';
        if (m_state != State::Quoted && m_state != State::Unquoted && m_state != State::AfterQuoted)
            return i;
        while (i < size && data[i] != stop && data[i] != '\n' && data[i] != '\r')
            ++i;
        return i;
    }

    void take(char c)
    {
        if (c == '\0' && !counting()) {
            m_error = nulError();
            return;
        }
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
                // Spaces before the opening quote are layout, not id.
                m_field.clear();
                m_blank = true;
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
        if (c != ' ')
            m_blank = false;
        if (counting())
            return;
        if (m_field.size() >= kMaxIdFieldBytes) {
            m_error =
                inUserLanguage(
                    QStringLiteral("有一项超过 %1 字节，这不是买家ID列表"),
                    QStringLiteral("a field is longer than %1 bytes; this is no list of buyer ids"))
                    .arg(kMaxIdFieldBytes);
            return;
        }
        m_field.append(c);
    }

    void endField()
    {
        if (!m_blank) {
            if (counting())
                ++m_leftOut;
            else
                m_fields.append(m_field);
        }
        m_field.clear();
        m_blank = true;
        m_state = State::Start;
    }

    int m_maxIds;
    State m_state = State::Start;
    QByteArray m_field;
    bool m_blank = true; // the field so far holds nothing but spaces
    QList<QByteArray> m_fields;
    qint64 m_leftOut = 0;
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

// A field as UTF-8, every character kept: fromUtf8 would drop a byte order mark that starts a
// field (one left inside the file), and a field of only that would come out as no id at all.
QString utf8Field(const QByteArray &field)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(field);
}

QStringList decodeFields(const QList<QByteArray> &fields, IdFileEncoding encoding)
{
    QStringList ids;
    ids.reserve(fields.size());
    if (encoding == IdFileEncoding::Utf8 ||
        (encoding == IdFileEncoding::Auto && isValidUtf8(fields))) {
        for (const QByteArray &field : fields)
            ids.append(utf8Field(field));
    } else {
        for (const QByteArray &field : fields)
            ids.append(decode936(field));
    }
    return ids;
}

// UTF-16 text without a byte order mark: ids and separators are mostly ASCII, so every other
// byte of the head is a NUL, on one side only.
bool looksLikeUtf16(const QByteArray &head)
{
    const qsizetype n = qMin<qsizetype>(head.size(), 512) & ~qsizetype(1);
    qsizetype zerosEven = 0;
    qsizetype zerosOdd = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (head[i] == '\0')
            ++(i % 2 ? zerosOdd : zerosEven);
    }
    return n >= 2 && ((zerosOdd > 0 && zerosEven == 0) || (zerosEven > 0 && zerosOdd == 0));
}

// The length of a byte order mark to skip, or -1 with *error set for text the splitter cannot
// read (UTF-16, with or without its mark).
int byteOrderMark(const QByteArray &head, IdFileEncoding encoding, QString *error)
{
    // Neither pair can start code page 936 text: 0xFF is no lead byte, and no trail byte is 0xFF.
    if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF") || looksLikeUtf16(head)) {
        *error = utf16Error();
        return -1;
    }
    if (encoding != IdFileEncoding::Gbk && head.startsWith("\xEF\xBB\xBF"))
        return 3;
    return 0;
}

} // namespace

std::optional<IdFileEncoding> parseIdFileEncoding(const QString &name)
{
    const QString n = name.trimmed().toLower();
    if (n == QLatin1String("auto"))
        return IdFileEncoding::Auto;
    if (n == QLatin1String("utf-8") || n == QLatin1String("utf8"))
        return IdFileEncoding::Utf8;
    if (n == QLatin1String("gbk") || n == QLatin1String("cp936"))
        return IdFileEncoding::Gbk;
    return std::nullopt;
}

IdFileResult parseIdFile(const QByteArray &bytes, int maxIds, IdFileEncoding encoding)
{
    IdFileResult result;
    const int skip = byteOrderMark(bytes, encoding, &result.error);
    if (skip < 0)
        return result;
    IdFieldSplitter splitter(maxIds);
    splitter.feed(bytes.constData() + skip, bytes.size() - skip);
    splitter.finish();
    if (!splitter.error().isEmpty()) {
        result.error = splitter.error();
        return result;
    }
    result.ids = decodeFields(splitter.fields(), encoding);
    result.leftOut = splitter.leftOut();
    return result;
}

IdFileResult readIdFile(const QString &path, int maxIds, IdFileEncoding encoding)
{
    IdFileResult result;
    auto fail = [&](const QString &reason) {
        result.ids.clear();
        result.error = inUserLanguage(QStringLiteral("无法读取买家ID文件 %1：%2"),
                                      QStringLiteral("cannot read the id file %1: %2"))
                           .arg(QDir::toNativeSeparators(path), reason);
        return result;
    };
    if (path.isEmpty())
        return fail(inUserLanguage(QStringLiteral("没有文件名"), QStringLiteral("no file name")));
    QFile file;
    QString reason;
    if (!openRegularFile(path, &file, &reason))
        return fail(reason);

    IdFieldSplitter splitter(maxIds);
    QByteArray chunk(64 * 1024, Qt::Uninitialized);
    bool first = true;
    for (;;) {
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
            QString error;
            skip = byteOrderMark(QByteArray::fromRawData(chunk.constData(), qsizetype(n)), encoding,
                                 &error);
            if (skip < 0)
                return fail(error);
        }
        if (!splitter.feed(chunk.constData() + skip, qsizetype(n) - skip))
            break;
    }
    splitter.finish();
    if (!splitter.error().isEmpty())
        return fail(splitter.error());
    result.ids = decodeFields(splitter.fields(), encoding);
    result.leftOut = splitter.leftOut();
    return result;
}

bool isIdFileName(const QString &fileName)
{
    return trimSpaces(fileName).contains(QLatin1String("txt"), Qt::CaseSensitive);
}

QString batchProgressText(int total, int number, const QString &id)
{
    return QStringLiteral("共需要查询") + QString::number(total) +
           QStringLiteral("个买家,正在查询第") + QString::number(number) + QStringLiteral("个:") +
           id;
}

QString batchDoneText()
{
    return QStringLiteral("查询完毕,向EXCEL输送数据");
}
