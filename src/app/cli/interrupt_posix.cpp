#include "app/cli/interrupt.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t g_interrupted = 0;
volatile std::sig_atomic_t g_watched = 0; // lookups run that notice Ctrl-C and stop cleanly

void onInterrupt(int signal)
{
    if (!g_watched) {
        // Nothing to stop cleanly (reading a file, writing the database in one transaction):
        // the signal ends the process at once, as it would without us.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    g_interrupted = 1;
}

} // namespace

void installInterruptHandler()
{
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool interrupted()
{
    return g_interrupted != 0;
}

void watchInterrupts()
{
    g_watched = 1;
}
