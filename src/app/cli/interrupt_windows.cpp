#include "app/cli/interrupt.h"

#include "app/cli/console.h"

#include <atomic>

#include <windows.h>

namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_watched{false}; // lookups run that notice Ctrl-C and stop cleanly

// Runs on a thread of its own that the console starts. FALSE hands the event on to the default
// handler, which ends the process.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    if (!g_watched) {
        // The default handler ends the process without running exit's handlers: the console's
        // code pages go back here.
        restoreConsole();
        return FALSE;
    }
    g_interrupted = true;
    return TRUE;
}

} // namespace

void installInterruptHandler()
{
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    setUpConsole();
}

bool interrupted()
{
    return g_interrupted;
}

void watchInterrupts()
{
    g_watched = true;
}
