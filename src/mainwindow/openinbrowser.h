#pragma once

#include <QString>

// Opens the address in a new window of the user's default web browser. Returns 1 when a browser
// was asked to open it, 0 when the address is blank, has no "http://" in it, or is not an http
// or https address with a host, or the desktop has nothing to open it with (nothing opens).
int OpenInBrowser(const QString &address);
