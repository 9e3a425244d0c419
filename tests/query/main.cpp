#include "testsuites.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int failed = 0;
    failed += runPageRulesTests(argc, argv);
    failed += runBuyerQueryTests(argc, argv);
    failed += runAssessmentTests(argc, argv);
    failed += runCliTests(argc, argv);
    return failed;
}
