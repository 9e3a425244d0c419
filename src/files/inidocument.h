#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// An INI file edited in place: every line the program does not change (comments, blank lines,
// keys and sections it does not know) stays as it was, in its place. Values read and written are
// the ones QSettings reads; a value that QSettings would split or cut (commas, semicolons, quotes,
// surrounding blanks) is written quoted.
class IniDocument
{
public:
    // Reads the file. False with a message in *error when it exists but cannot be read; a missing
    // file is an empty document.
    bool load(const QString &path, QString *error);
    // The document from text (a template).
    void setText(const QString &text);
    QString text() const;

    // The value of key in section, unquoted; none when the key is not there.
    std::optional<QString> value(const QString &section, const QString &key) const;
    // Sets the value: on the key's own line when it is there (the last one, which QSettings
    // reads), else after the section's last key, else in a new section at the end.
    void setValue(const QString &section, const QString &key, const QString &value);

    // Writes the document: to a new file beside the old one, then renamed over it, so a crash
    // leaves the old file or the new one, never half of one. False with a message on failure.
    bool save(const QString &path, QString *error) const;

private:
    // The line of key in section (-1: none); *sectionEnd after the section's last key line (-1:
    // no such section).
    int find(const QString &section, const QString &key, int *sectionEnd) const;

    QStringList m_lines;
    bool m_crlf = false;
};

// A value as written in an INI file for QSettings to read back as the same text.
QString iniQuoted(const QString &value);
