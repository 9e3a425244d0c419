#pragma once

#include <QString>

// The desktop entry that starts the window hidden at login (XDG autostart):
// $XDG_CONFIG_HOME/autostart/brelvon.desktop.
QString autostartEntryPath();
// Its text: program --hidden, with --settings FILE when a settings file other than the default
// is in use.
QString autostartEntryText(const QString &program, const QString &settingsPath);
// Writes the entry (on) or removes it (off). False with a message in *error; removing an entry
// that is not there is no failure.
bool setStartAtLogin(bool on, const QString &program, const QString &settingsPath, QString *error);
