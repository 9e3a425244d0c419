#include "app/cli/console.h"

void writeConsole(std::FILE *stream, const QByteArray &utf8)
{
    std::fwrite(utf8.constData(), 1, size_t(utf8.size()), stream);
    std::fflush(stream);
}

void setUpConsole() {}

void restoreConsole() {}
