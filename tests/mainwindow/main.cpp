#include "testsuites.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // As QTEST_MAIN sets up a widget test.
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    int failed = 0;
    failed += runMainWindowTests(argc, argv);
    failed += runBatchTests(argc, argv);
    return failed;
}
