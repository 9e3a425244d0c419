#pragma once

// The test classes of this suite, each run by main() in turn.
int runMainWindowTests(int argc, char **argv);
int runBatchTests(int argc, char **argv);
