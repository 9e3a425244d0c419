#include "files/inidocument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// A settings file is small; anything bigger is not one.
constexpr qint64 kMaxIniBytes = 4 * 1024 * 1024;

bool isComment(const QString &trimmed)
{
    return trimmed.startsWith(u';') || trimmed.startsWith(u'#');
}

// "[name]" -> name; none for other lines.
std::optional<QString> sectionOf(const QString &trimmed)
{
    if (trimmed.startsWith(u'[') && trimmed.endsWith(u']'))
        return trimmed.mid(1, trimmed.size() - 2).trimmed();
    return std::nullopt;
}

QString keyOf(const QString &trimmed)
{
    const qsizetype equals = trimmed.indexOf(u'=');
    if (equals <= 0 || isComment(trimmed))
        return {};
    return trimmed.left(equals).trimmed();
}

// The value part as QSettings reads it: quoted pieces unquoted, the rest trimmed, a comment
// after an unquoted ';' dropped.
QString unquote(const QString &raw)
{
    QString out;
    bool quoted = false;
    QString pending; // blanks that count only when more text follows
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (quoted) {
            if (c == u'"') {
                quoted = false;
            } else if (c == u'\\' && i + 1 < raw.size()) {
                out += raw.at(++i);
            } else {
                out += c;
            }
        } else if (c == u'"') {
            out += pending;
            pending.clear();
            quoted = true;
        } else if (c == u';') {
            break;
        } else if (c.isSpace()) {
            if (!out.isEmpty())
                pending += c;
        } else {
            out += pending;
            pending.clear();
            out += c;
        }
    }
    return out;
}

// Where a comment after a value begins (an unquoted ';'), or the line's end.
qsizetype commentStart(const QString &line, qsizetype from)
{
    bool quoted = false;
    for (qsizetype i = from; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quoted && c == u'\\')
            ++i;
        else if (c == u'"')
            quoted = !quoted;
        else if (!quoted && c == u';')
            return i;
    }
    return line.size();
}

} // namespace

QString iniQuoted(const QString &value)
{
    const bool plain = !value.contains(u',') && !value.contains(u';') && !value.contains(u'"') &&
                       !value.contains(u'\\') && !value.contains(u'\n') && value == value.trimmed();
    if (plain)
        // QSettings reads a leading '@' as the mark of a stored type; "@@" is a plain '@'.
        return value.startsWith(u'@') ? u'@' + value : value;
    QString out = QStringLiteral("\"");
    if (value.startsWith(u'@'))
        out += u'@';
    for (QChar c : value) {
        if (c == u'"' || c == u'\\')
            out += u'\\';
        if (c == u'\n')
            out += QLatin1String("\\n");
        else
            out += c;
    }
    out += u'"';
    return out;
}

bool IniDocument::load(const QString &path, QString *error)
{
    m_lines.clear();
    m_crlf = false;
    if (!QFileInfo::exists(path))
        return true;
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly) ||
        file.size() > kMaxIniBytes) {
        *error = QStringLiteral("无法读取设置文件 %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    setText(QString::fromUtf8(file.readAll()));
    return true;
}

void IniDocument::setText(const QString &text)
{
    m_crlf = text.contains(QLatin1String("\r\n"));
    QString plain = text;
    plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    m_lines = plain.split(u'\n');
    // A final line break leaves an empty last piece: it is written back by text().
    if (!m_lines.isEmpty() && m_lines.constLast().isEmpty())
        m_lines.removeLast();
}

QString IniDocument::text() const
{
    const QString newline = m_crlf ? QStringLiteral("\r\n") : QStringLiteral("\n");
    QString out;
    for (const QString &line : m_lines)
        out += line + newline;
    return out;
}

int IniDocument::find(const QString &section, const QString &key, int *sectionEnd) const
{
    // QSettings reads keys before any section header as [General].
    QString current = QStringLiteral("General");
    int found = -1;
    *sectionEnd = section == current ? 0 : -1;
    for (int i = 0; i < m_lines.size(); ++i) {
        const QString trimmed = m_lines.at(i).trimmed();
        if (const auto name = sectionOf(trimmed)) {
            current = *name;
            if (current == section && *sectionEnd < 0)
                *sectionEnd = i + 1;
            continue;
        }
        if (current != section)
            continue;
        const QString name = keyOf(trimmed);
        if (name.isEmpty())
            continue;
        *sectionEnd = i + 1;
        if (name == key)
            found = i;
    }
    return found;
}

std::optional<QString> IniDocument::value(const QString &section, const QString &key) const
{
    int end = -1;
    const int line = find(section, key, &end);
    if (line < 0)
        return std::nullopt;
    const QString &text = m_lines.at(line);
    const QString value = unquote(text.mid(text.indexOf(u'=') + 1));
    return value.startsWith(QLatin1String("@@")) ? value.mid(1) : value;
}

void IniDocument::setValue(const QString &section, const QString &key, const QString &value)
{
    const QString written = iniQuoted(value);
    int end = -1;
    const int line = find(section, key, &end);
    if (line >= 0) {
        // The key's own spelling, the spacing around the value and a comment after it stay.
        const QString &old = m_lines.at(line);
        qsizetype start = old.indexOf(u'=') + 1;
        while (start < old.size() && old.at(start).isSpace())
            ++start;
        qsizetype end = commentStart(old, start);
        while (end > start && old.at(end - 1).isSpace())
            --end;
        m_lines[line] = old.left(start) + written + old.mid(end);
        return;
    }
    if (end >= 0) {
        m_lines.insert(end, key + u'=' + written);
        return;
    }
    if (!m_lines.isEmpty() && !m_lines.constLast().trimmed().isEmpty())
        m_lines.append(QString());
    m_lines.append(u'[' + section + u']');
    m_lines.append(key + u'=' + written);
}

bool IniDocument::save(const QString &path, QString *error) const
{
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("无法创建文件夹 %1").arg(QDir::toNativeSeparators(dir));
        return false;
    }
    QSaveFile file(path);
    const QByteArray bytes = text().toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("无法写入设置文件 %1：%2")
                     .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}
