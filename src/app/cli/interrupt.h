#pragma once

// Ctrl-C and termination requests, noticed by a running lookup (runUntilDone) instead of killing
// the process, so a batch can stop cleanly and leave no half-written file. Anywhere else they end
// the process at once. On Windows these are the console's Ctrl-C, Ctrl-Break and close events,
// and the console is set up for the program's output (setUpConsole).
void installInterruptHandler();
bool interrupted();
// From now on an interrupt is noticed instead of ending the process.
void watchInterrupts();
