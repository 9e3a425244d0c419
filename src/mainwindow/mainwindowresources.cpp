#include "mainwindow/mainwindowresources.h"

#include <QtGlobal>

void initMainWindowResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(mainwindow);
        return true;
    }();
    Q_UNUSED(done);
}
