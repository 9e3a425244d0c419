#include "interruptprocess.h"

#include <csignal>

bool interruptProcess(QProcess &process)
{
    return ::kill(pid_t(process.processId()), SIGINT) == 0;
}
