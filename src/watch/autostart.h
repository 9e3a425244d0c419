#pragma once

#include <QString>

// The desktop entry that starts the window hidden at login (XDG autostart):
// $XDG_CONFIG_HOME/autostart/brelvon.desktop.
QString autostartEntryPath();
// Its text: program --hidden, with --settings FILE when a settings file other than the default
// is in use; both paths quoted and escaped as desktop entries need (paths with line breaks or
// other control characters are refused by setStartAtLogin).
QString autostartEntryText(const QString &program, const QString &settingsPath);
// Writes the entry (on) or removes it (off). False with a message in *error; removing an entry
// that is not there is no failure. Written beside its name and renamed over it: a link at the
// name is replaced, never written through.
bool setStartAtLogin(bool on, const QString &program, const QString &settingsPath, QString *error);
