#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPair>
#include <QString>

// Entries of a zip archive: name and bytes, in order.
using ZipEntries = QList<QPair<QString, QByteArray>>;

// Writes a real zip with libzip (replacing any file at path): entries deflated, or stored when
// asked, so a test can find and change their bytes in the file. False on any libzip failure.
bool writeZip(const QString &path, const ZipEntries &entries, bool stored = false);

// The picture as PNG file bytes.
QByteArray pngBytes(const QImage &image);
