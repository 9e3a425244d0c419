#include "loopback/siterequest.h"

#include <QList>

qsizetype parseRequestHead(const QByteArray &buffer, qsizetype from, SiteRequest *request)
{
    const qsizetype size = buffer.size();
    qsizetype start = from;
    // Blank lines before a request line are ignored, as HTTP asks of a server.
    while (start < size && (buffer[start] == '\r' || buffer[start] == '\n'))
        ++start;
    // The head ends at the first empty line: LF LF or LF CR LF.
    const qsizetype limit = qMin(size, from + kMaxRequestHead + 3);
    qsizetype end = -1;
    for (qsizetype i = buffer.indexOf('\n', start); i >= 0 && i < limit;
         i = buffer.indexOf('\n', i + 1)) {
        if (i + 1 < size && buffer[i + 1] == '\n') {
            end = i + 2;
            break;
        }
        if (i + 2 < size && buffer[i + 1] == '\r' && buffer[i + 2] == '\n') {
            end = i + 3;
            break;
        }
    }
    if (end < 0)
        return size - from > kMaxRequestHead ? -1 : 0;

    *request = SiteRequest();
    const QList<QByteArray> lines = buffer.mid(start, end - start).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request->wellFormed = requestLine.size() == 3 && requestLine.at(1).startsWith('/');
    request->method = requestLine.value(0);
    request->target = requestLine.value(1);
    bool keepOpen = requestLine.value(2) == "HTTP/1.1";
    bool body = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "user-agent") {
            request->userAgent = value;
        } else if (name == "connection") {
            const QByteArray v = value.toLower();
            keepOpen = v == "keep-alive" || (keepOpen && v != "close");
        } else if (name == "content-length" || name == "transfer-encoding") {
            body = true; // a request body we do not read: no further request can follow
        }
    }
    request->keepOpen = keepOpen && !body;
    return end - from;
}
