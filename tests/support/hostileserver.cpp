#include "hostileserver.h"

namespace {

LoopbackResponse endlessAnswer(HostileServer::Kind kind)
{
    LoopbackResponse r;
    if (kind == HostileServer::EndlessChunkedBody) {
        r.body = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
        r.endless = "10000\r\n" + QByteArray(0x10000, 'x') + "\r\n";
    } else {
        r.body = "HTTP/1.1 200 OK\r\nX-Endless: ";
        r.endless = QByteArray(512, 'a');
        r.trickleMs = 5;
    }
    return r;
}

} // namespace

HostileServer::HostileServer(Kind kind)
    : m_server([answer = endlessAnswer(kind)](const SiteRequest &) { return answer; })
{
    m_server.setLimits({0, 0}); // the client decides when it has had enough
    m_server.setRecording(true);
    m_server.listen();
}
