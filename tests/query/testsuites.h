#pragma once

// The test classes of this suite, each run by main() in turn.
int runPageRulesTests(int argc, char **argv);
int runBuyerQueryTests(int argc, char **argv);
int runAssessmentTests(int argc, char **argv);
int runCliTests(int argc, char **argv);
