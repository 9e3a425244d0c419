#pragma once

#include <QProcess>

// Sends a running child program what Ctrl-C sends it. False where the suite cannot do that (on
// Windows a console interrupt reaches only programs sharing the sender's console).
bool interruptProcess(QProcess &process);
