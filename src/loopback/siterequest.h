#pragma once

#include <QByteArray>

// One HTTP/1.x request head as the loopback server reads it: the request line and the headers it
// cares about. Lines may end in CR LF or a bare LF.
struct SiteRequest
{
    QByteArray method;
    QByteArray target;
    QByteArray userAgent;
    bool wellFormed = false; // three words on the request line, the target an absolute path
    bool keepOpen = false;   // HTTP/1.1 without "Connection: close", or "Connection: keep-alive";
                             // never after a request with a body (it is not read)
};

// A request head larger than this is refused; no page of ours needs one.
constexpr qsizetype kMaxRequestHead = 64 * 1024;

// Reads the request head that starts at buffer[from] (blank lines before it are skipped). Returns
// the bytes it takes up to and including the empty line that ends it, with *request filled in;
// 0 while the head is incomplete; -1 when no head ends within kMaxRequestHead bytes.
qsizetype parseRequestHead(const QByteArray &buffer, qsizetype from, SiteRequest *request);
