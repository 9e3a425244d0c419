#pragma once

#include <QString>

// Shows a written table to the user as a new, untitled document of their spreadsheet program, so
// that saving it asks for a name and never writes over the file at path.
//
// LibreOffice (the first of "libreoffice" and "soffice" found in PATH) is started on its own as
// `--calc -n path`: Calc, the file taken as a template. Without LibreOffice, or when it cannot be
// started, the desktop's default handler for the file opens it. False when neither could be
// started.
bool openSpreadsheet(const QString &path);
