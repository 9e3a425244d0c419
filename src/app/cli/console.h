#pragma once

#include <QByteArray>

#include <cstdio>

// Text for the user on stdout or stderr, given as UTF-8 and flushed at once. A Windows console
// gets it as UTF-16 (WriteConsoleW), which it shows whatever its code page; a file or pipe, and
// every stream on other systems, gets the UTF-8 bytes.
void writeConsole(std::FILE *stream, const QByteArray &utf8);

// Sets a Windows console to UTF-8 output for what the C library or Qt write to it; the code
// pages it had come back when the process ends, Ctrl-C included (restoreConsole), so a program
// run next in the same window reads its own code page. Nothing on other systems.
void setUpConsole();
void restoreConsole();
