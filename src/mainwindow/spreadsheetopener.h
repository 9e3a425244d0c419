#pragma once

#include <QString>

// Shows a written table to the user: first with whatever the system opens .xlsx files with (the
// file association: ShellExecute on Windows, the desktop's default application elsewhere), else
// with a spreadsheet program found in PATH as a new, untitled document, so that saving it asks
// for a name and never writes over the file at path: LibreOffice (the first of "libreoffice",
// "soffice" and "localc") as `--calc -n path`, else WPS's "et" or Gnumeric on the file.
// False when nothing could open it.
bool openSpreadsheet(const QString &path);

// Opens a file or folder with the system's association for its type; false when the system has
// none (where the desktop's opener would start and then fail on its own, unseen, the association
// is asked first) or the opener could not be started.
bool openWithSystem(const QString &path);
