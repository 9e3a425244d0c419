#pragma once

#include <QString>

// Shows a written table to the user as a new, untitled document of their spreadsheet program, so
// that saving it asks for a name and never writes over the file at path.
//
// LibreOffice (the first of "libreoffice", "soffice" and "localc" found in PATH) is started on its
// own as `--calc -n path`: Calc, the file taken as a template; else WPS's "et" or Gnumeric on the
// file. False when none is installed or none could be started: the desktop's default handler is
// left to the user's choice (its start says nothing about whether anything opened the file).
bool openSpreadsheet(const QString &path);
