#include "files/inidocument.h"

#include "files/inputfile.h"
#include "model/ownerfolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>
#include <cctype>
#include <optional>

namespace {

// A settings file is small; anything bigger is not one.
constexpr qint64 kMaxIniBytes = 4 * 1024 * 1024;

bool isIniSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The next logical line of an INI file, split exactly as QSettings splits it: CR and LF end a
// line outside quotes, a backslash takes the next byte with it (a line break included), a ';'
// outside quotes ends the line's text and a line starting with ';' is skipped. False at the end.
// At the end of the data, *open tells what the last line would take the next bytes for: a quote
// not closed, or an escape of nothing yet.
struct OpenEnd
{
    bool quote = false;
    bool escape = false;
};

bool readIniLine(QByteArrayView data, qsizetype &dataPos, qsizetype &lineStart, qsizetype &lineLen,
                 qsizetype &equalsPos, OpenEnd *open = nullptr)
{
    const qsizetype dataLen = data.size();
    bool inQuotes = false;
    bool escape = false;
    equalsPos = -1;
    lineStart = dataPos;
    while (lineStart < dataLen && isIniSpace(data.at(lineStart)))
        ++lineStart;
    qsizetype i = lineStart;
    while (i < dataLen) {
        char ch = data.at(i);
        ++i;
        if (ch == '=') {
            if (!inQuotes && equalsPos == -1)
                equalsPos = i - 1;
        } else if (ch == '\n' || ch == '\r') {
            if (i == lineStart + 1) {
                ++lineStart;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (ch == '\\') {
            escape = i == dataLen;
            if (i < dataLen) {
                const char next = data.at(i++);
                if (i < dataLen) {
                    const char after = data.at(i);
                    if ((next == '\n' && after == '\r') || (next == '\r' && after == '\n'))
                        ++i;
                }
            }
        } else if (ch == '"') {
            inQuotes = !inQuotes;
        } else if (ch == ';') {
            if (i == lineStart + 1) {
                while (i < dataLen && (ch = data.at(i)) != '\n' && ch != '\r')
                    ++i;
                while (i < dataLen && isIniSpace(data.at(i)))
                    ++i;
                lineStart = i;
            } else if (!inQuotes) {
                --i;
                break;
            }
        }
    }
    if (open && i == dataLen && i > lineStart)
        *open = {inQuotes, escape};
    dataPos = i;
    lineLen = i - lineStart;
    return lineLen > 0;
}

// What closes the last line of data, so a line added after it starts a line of its own: a
// skipped escape for a lone backslash, a quote for an open one (neither changes its value).
QByteArray closingOf(QByteArrayView data)
{
    OpenEnd open;
    qsizetype dataPos = 0;
    qsizetype lineStart = 0;
    qsizetype lineLen = 0;
    qsizetype equalsPos = -1;
    while (readIniLine(data, dataPos, lineStart, lineLen, equalsPos, &open)) {
    }
    return QByteArray(open.escape ? " " : "") + QByteArray(open.quote ? "\"" : "");
}

// A key or section name as QSettings reads it: %XX and %UXXXX decoded, '\' read as '/'.
QString unescapedKey(QByteArrayView key)
{
    const QString decoded = QString::fromUtf8(key);
    QString result;
    for (qsizetype i = 0; i < decoded.size();) {
        const QChar ch = decoded.at(i);
        if (ch == u'\\') {
            result += u'/';
            ++i;
            continue;
        }
        if (ch != u'%' || i == decoded.size() - 1) {
            result += ch;
            ++i;
            continue;
        }
        const int digits = decoded.at(i + 1) == u'U' ? 4 : 2;
        const qsizetype first = i + 1 + (digits == 4 ? 1 : 0);
        bool ok = false;
        const ushort code = first + digits <= decoded.size()
                                ? QStringView(decoded).sliced(first, digits).toUShort(&ok, 16)
                                : 0;
        if (!ok) {
            result += u'%';
            ++i;
            continue;
        }
        result += QChar(code);
        i = first + digits;
    }
    return result;
}

void chopTrailingSpaces(QString *text, qsizetype limit)
{
    qsizetype n = text->size();
    while (n > limit && (text->at(n - 1) == u' ' || text->at(n - 1) == u'\t'))
        --n;
    text->truncate(n);
}

// A value's bytes as QSettings reads them: escapes decoded, quotes taken off, blanks outside
// quotes trimmed; unquoted commas make a list, which the program reads joined by commas again.
QString valueText(QByteArrayView raw)
{
    static const char escapes[][2] = {{'a', '\a'}, {'b', '\b'},  {'f', '\f'}, {'n', '\n'},
                                      {'r', '\r'}, {'t', '\t'},  {'v', '\v'}, {'"', '"'},
                                      {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
    QString current;
    QStringList list;
    bool isList = false;
    bool inQuotes = false;
    bool currentQuoted = false;
    qsizetype chopLimit = 0;
    qsizetype i = 0;
    const qsizetype to = raw.size();
    const auto skipSpaces = [&] {
        while (i < to && (raw.at(i) == ' ' || raw.at(i) == '\t'))
            ++i;
        chopLimit = current.size();
    };
    // A numeric escape: digits of the base, as many as follow.
    const auto numericEscape = [&](int base, uint value) {
        while (i < to) {
            const char c = raw.at(i);
            int digit = -1;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (base == 16 && c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (base == 16 && c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            if (digit < 0 || digit >= base)
                break;
            value = value * uint(base) + uint(digit);
            ++i;
        }
        current += QChar(char16_t(value));
    };
    skipSpaces();
    while (i < to) {
        const char c = raw.at(i);
        if (c == '\\') {
            ++i;
            if (i >= to)
                break;
            const char e = raw.at(i++);
            bool known = false;
            for (const auto &pair : escapes) {
                if (e == pair[0]) {
                    current += QLatin1Char(pair[1]);
                    known = true;
                    break;
                }
            }
            if (known)
                continue; // trailing blanks before it are still chopped
            if (e == 'x') {
                if (i < to && std::isxdigit(static_cast<unsigned char>(raw.at(i))))
                    numericEscape(16, 0);
            } else if (e >= '0' && e <= '7') {
                numericEscape(8, uint(e - '0'));
                continue;
            } else if ((e == '\n' || e == '\r') && i < to) {
                const char next = raw.at(i);
                if ((next == '\n' || next == '\r') && next != e)
                    ++i;
            }
            chopLimit = current.size();
        } else if (c == '"') {
            ++i;
            currentQuoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes)
                skipSpaces();
        } else if (c == ',' && !inQuotes) {
            if (!currentQuoted)
                chopTrailingSpaces(&current, chopLimit);
            isList = true;
            list.append(current);
            current.clear();
            currentQuoted = false;
            ++i;
            skipSpaces();
        } else {
            qsizetype j = i + 1;
            while (j < to && raw.at(j) != '\\' && raw.at(j) != '"' && raw.at(j) != ',')
                ++j;
            current += QString::fromUtf8(raw.sliced(i, j - i));
            i = j;
        }
    }
    if (!currentQuoted)
        chopTrailingSpaces(&current, chopLimit);
    if (isList) {
        list.append(current);
        return list.join(u',');
    }
    // QSettings reads a leading '@' as the mark of a stored type; "@@" is a plain '@'.
    return current.startsWith(QLatin1String("@@")) ? current.mid(1) : current;
}

bool isValidUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString ignored = decoder.decode(bytes);
    return !decoder.hasError();
}

QString sectionName(const QString &section)
{
    return section.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0 ? QString()
                                                                               : section;
}

} // namespace

QString iniQuoted(const QString &value)
{
    const bool plain = !value.contains(u',') && !value.contains(u';') && !value.contains(u'"') &&
                       !value.contains(u'\\') && !value.contains(u'\n') && !value.contains(u'\r') &&
                       value == value.trimmed();
    if (plain)
        // QSettings reads a leading '@' as the mark of a stored type; "@@" is a plain '@'.
        return value.startsWith(u'@') ? u'@' + value : value;
    QString out = QStringLiteral("\"");
    if (value.startsWith(u'@'))
        out += u'@';
    for (QChar c : value) {
        if (c == u'"' || c == u'\\')
            out += u'\\';
        // A line break in the file would end the value for the reader: escaped.
        if (c == u'\n')
            out += QLatin1String("\\n");
        else if (c == u'\r')
            out += QLatin1String("\\r");
        else
            out += c;
    }
    out += u'"';
    return out;
}

bool IniDocument::load(const QString &path, QString *error)
{
    m_bytes.clear();
    m_utf8 = true;
    if (!QFileInfo::exists(path))
        return true;
    QFile file;
    QString reason;
    if (!openRegularFile(path, &file, &reason) || file.size() > kMaxIniBytes) {
        *error = QStringLiteral("无法读取设置文件 %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    const QByteArray bytes = file.read(kMaxIniBytes + 1);
    if (bytes.size() > kMaxIniBytes) {
        *error = QStringLiteral("无法读取设置文件 %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    m_bytes = bytes;
    m_utf8 = isValidUtf8(m_bytes);
    return true;
}

void IniDocument::setText(const QString &text)
{
    m_bytes = text.toUtf8();
    m_utf8 = true;
}

QList<IniDocument::Entry>
IniDocument::entries(QList<std::pair<QString, qsizetype>> *sectionEnds) const
{
    // QSettings passes over a byte order mark.
    const qsizetype offset = m_bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    const QByteArrayView data = QByteArrayView(m_bytes).sliced(offset);
    QList<Entry> found;
    QString section;
    qsizetype dataPos = 0;
    qsizetype lineStart = 0;
    qsizetype lineLen = 0;
    qsizetype equalsPos = -1;
    while (readIniLine(data, dataPos, lineStart, lineLen, equalsPos)) {
        const QByteArrayView line = data.sliced(lineStart, lineLen);
        if (line.startsWith('[')) {
            qsizetype close = line.indexOf(']');
            if (close < 0)
                close = lineLen;
            const QByteArrayView name = line.first(close).sliced(1).trimmed();
            if (name.compare("general", Qt::CaseInsensitive) == 0)
                section.clear();
            else if (name.compare("%general", Qt::CaseInsensitive) == 0)
                section = QString::fromLatin1(name.sliced(1));
            else
                section = unescapedKey(name);
            if (sectionEnds)
                sectionEnds->append({section, offset + lineStart + lineLen});
            continue;
        }
        if (equalsPos < 0)
            continue;
        Entry entry;
        entry.section = section;
        entry.key = unescapedKey(data.sliced(lineStart, equalsPos - lineStart).trimmed());
        qsizetype start = equalsPos + 1;
        qsizetype end = lineStart + lineLen;
        while (start < end && (data.at(start) == ' ' || data.at(start) == '\t'))
            ++start;
        while (end > start && (data.at(end - 1) == ' ' || data.at(end - 1) == '\t') &&
               data.at(end - 2) != '\\')
            --end;
        entry.valueStart = offset + start;
        entry.valueEnd = offset + end;
        entry.readEnd = offset + lineStart + lineLen;
        entry.lineEnd = offset + lineStart + lineLen;
        found.append(entry);
        if (sectionEnds)
            sectionEnds->append({section, entry.lineEnd});
    }
    return found;
}

std::optional<QString> IniDocument::value(const QString &section, const QString &key) const
{
    const QString wanted = sectionName(section);
    // The program asks for each key by its name, so QSettings looks in that section only (every
    // header of that name, in file order); the last value it reads there is the one it keeps.
    std::optional<Entry> last;
    for (const Entry &entry : entries()) {
        if (entry.section == wanted && entry.key == key)
            last = entry;
    }
    if (!last)
        return std::nullopt;
    // Blanks after a value count once a quote was in it: read up to the line's end.
    return valueText(
        QByteArrayView(m_bytes).sliced(last->valueStart, last->readEnd - last->valueStart));
}

void IniDocument::setValue(const QString &section, const QString &key, const QString &value)
{
    const QByteArray written = iniQuoted(value).toUtf8();
    const QString wanted = sectionName(section);
    QList<std::pair<QString, qsizetype>> sectionEnds;
    const QList<Entry> all = entries(&sectionEnds);
    // Every line the reader takes for the key gets the value (from the last, so the places of
    // the earlier ones stay right); the rest of each line stays.
    bool replaced = false;
    for (qsizetype i = all.size() - 1; i >= 0; --i) {
        const Entry &entry = all.at(i);
        if (entry.section != wanted || entry.key != key)
            continue;
        m_bytes.replace(entry.valueStart, entry.valueEnd - entry.valueStart, written);
        replaced = true;
    }
    if (replaced)
        return;

    const QByteArray newline = m_bytes.contains("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
    const QByteArray line = key.toUtf8() + '=' + written + newline;
    qsizetype after = -1; // the end of the section's last line (its header or a key)
    for (const auto &[name, end] : sectionEnds) {
        if (name == wanted)
            after = end;
    }
    if (after < 0 && wanted.isEmpty())
        after = 0; // keys before any header are [General]'s
    if (after < 0) {
        if (!m_bytes.isEmpty()) {
            const QByteArray closing = closingOf(m_bytes);
            m_bytes += closing;
            if (!closing.isEmpty() || (!m_bytes.endsWith('\n') && !m_bytes.endsWith('\r')))
                m_bytes += newline;
            // A blank line before the new section, unless the last line is blank already.
            const QByteArray body = m_bytes.chopped(m_bytes.endsWith("\r\n") ? 2 : 1);
            const qsizetype lastBreak = std::max(body.lastIndexOf('\n'), body.lastIndexOf('\r'));
            if (!body.mid(lastBreak + 1).trimmed().isEmpty())
                m_bytes += newline;
        }
        m_bytes += '[' + section.toUtf8() + ']' + newline + line;
        return;
    }
    if (after == 0) {
        m_bytes.insert(m_bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0, line);
        return;
    }
    // Past the rest of that line (a comment) and its line end.
    qsizetype at = after;
    while (at < m_bytes.size() && m_bytes.at(at) != '\n' && m_bytes.at(at) != '\r')
        ++at;
    if (at == m_bytes.size()) {
        m_bytes += closingOf(m_bytes) + newline + line;
        return;
    }
    if (m_bytes.at(at) == '\r' && at + 1 < m_bytes.size() && m_bytes.at(at + 1) == '\n')
        ++at;
    m_bytes.insert(at + 1, line);
}

bool IniDocument::save(const QString &path, QString *error) const
{
    if (!m_utf8) {
        *error =
            QStringLiteral("设置文件 %1 不是 UTF-8 编码的文本，未保存（保存会损坏其中的文字）。"
                           "请先将它另存为 UTF-8。")
                .arg(QDir::toNativeSeparators(path));
        return false;
    }
    const QString dir = QFileInfo(path).absolutePath();
    QString reason;
    if (!makeMissingFolders(dir, &reason)) {
        *error = QStringLiteral("无法创建文件夹 %1").arg(QDir::toNativeSeparators(dir));
        return false;
    }
    // QSaveFile follows a link at the name on purpose: the seller may keep the file elsewhere.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(m_bytes) != m_bytes.size() ||
        !file.commit()) {
        *error = QStringLiteral("无法写入设置文件 %1：%2")
                     .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}
