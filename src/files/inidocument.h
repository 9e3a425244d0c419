#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// An INI file edited in place: every byte the program does not change (comments, blank lines,
// keys and sections it does not know, line ends of any kind) stays as it was, in its place. The
// file is read as QSettings reads it: a line ends at CR or LF outside quotes, a backslash joins
// lines, a comment may follow a section header, keys are unescaped; so the editor sees the value
// the program will read. Values written are quoted where QSettings would split or cut them
// (commas, semicolons, quotes, surrounding blanks) and line breaks are escaped.
class IniDocument
{
public:
    // Reads the file. False with a message in *error when it exists but cannot be read; a missing
    // file is an empty document.
    bool load(const QString &path, QString *error);
    // The document from text (a template).
    void setText(const QString &text);
    QString text() const { return QString::fromUtf8(m_bytes); }
    QByteArray bytes() const { return m_bytes; }
    // Whether the file is UTF-8, as QSettings reads it. One that is not is never saved: its other
    // lines could not be kept as they are.
    bool isUtf8() const { return m_utf8; }

    // The value of key in section as QSettings reads it; none when the key is not there.
    std::optional<QString> value(const QString &section, const QString &key) const;
    // Sets the value: on every line QSettings would read as the key, else after the section's last
    // key, else in a new section at the end.
    void setValue(const QString &section, const QString &key, const QString &value);

    // Writes the document: to a new file beside the old one, then renamed over it, so a crash
    // leaves the old file or the new one, never half of one. A settings file that is a symbolic
    // link is followed: the file it leads to is written, the link stays. False with a message on
    // failure, and for a file that is not UTF-8.
    bool save(const QString &path, QString *error) const;

private:
    // A key's line as QSettings reads it: its section and key (unescaped), where its value's
    // bytes are (without the blanks around them) and where the line ends.
    struct Entry
    {
        QString section; // "" for keys before any header and under [General]
        QString key;
        qsizetype valueStart = 0;
        qsizetype valueEnd = 0; // without blanks after it
        qsizetype readEnd = 0;  // with them
        qsizetype lineEnd = 0;  // after the line's own bytes, before its line end
    };
    QList<Entry> entries(QList<std::pair<QString, qsizetype>> *sectionEnds = nullptr) const;

    QByteArray m_bytes;
    bool m_utf8 = true;
};

// A value as written in an INI file for QSettings to read back as the same text.
QString iniQuoted(const QString &value);
