#include "app/cli/console.h"

#include <QString>

#include <atomic>
#include <cstdlib>

#include <io.h>
#include <windows.h>

namespace {

// The console's code pages before ours; 0: no console, or not changed.
std::atomic<UINT> g_inputCodePage{0};
std::atomic<UINT> g_outputCodePage{0};

} // namespace

void writeConsole(std::FILE *stream, const QByteArray &utf8)
{
    std::fflush(stream); // what the C library holds goes first
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
        std::fwrite(utf8.constData(), 1, size_t(utf8.size()), stream);
        std::fflush(stream);
        return;
    }
    const QString text = QString::fromUtf8(utf8);
    const auto *next = reinterpret_cast<const wchar_t *>(text.utf16());
    qsizetype left = text.size();
    // In pieces: some consoles refuse one very large write. A piece never ends between the two
    // halves of a surrogate pair.
    while (left > 0) {
        DWORD piece = DWORD(qMin<qsizetype>(left, 8192));
        if (piece < left && QChar::isHighSurrogate(char16_t(next[piece - 1])))
            --piece;
        DWORD written = 0;
        if (!WriteConsoleW(handle, next, piece, &written, nullptr) || written == 0)
            return;
        next += written;
        left -= written;
    }
}

void setUpConsole()
{
    const UINT output = GetConsoleOutputCP();
    if (output == 0 || output == CP_UTF8)
        return; // no console, or already showing UTF-8
    g_inputCodePage = GetConsoleCP();
    g_outputCodePage = output;
    SetConsoleOutputCP(CP_UTF8);
    std::atexit(restoreConsole);
}

void restoreConsole()
{
    if (const UINT output = g_outputCodePage.exchange(0))
        SetConsoleOutputCP(output);
    if (const UINT input = g_inputCodePage.exchange(0))
        SetConsoleCP(input);
}
