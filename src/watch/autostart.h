#pragma once

#include <QString>

// What starts the window hidden at login. On Linux a desktop entry (XDG autostart):
// $XDG_CONFIG_HOME/autostart/brelvon.desktop. On Windows the value "Brelvon" under
// HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run, holding the command line.

// The desktop entry's file; empty where the entry is no file (Windows).
QString autostartEntryPath();
// Whether the entry is there.
bool autostartEntryExists();
// Its text: program --hidden, with --settings FILE when a settings file other than the default
// is in use. The desktop entry has both paths quoted and escaped as desktop entries need (paths
// with line breaks or other control characters are refused by setStartAtLogin); the Run value
// is the command line, both paths quoted.
QString autostartEntryText(const QString &program, const QString &settingsPath);
// Writes the entry (on) or removes it (off). False with a message in *error; removing an entry
// that is not there is no failure. The desktop entry is written beside its name and renamed over
// it: a link at the name is replaced, never written through.
bool setStartAtLogin(bool on, const QString &program, const QString &settingsPath, QString *error);
