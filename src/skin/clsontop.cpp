#include "clsontop.h"

#include <QWidget>
#include <QWindow>

void clsOnTop::MakeTopMost(QWidget *window)
{
    setOnTop(window, true);
}

void clsOnTop::MakeNormal(QWidget *window)
{
    setOnTop(window, false);
}

void clsOnTop::setOnTop(QWidget *window, bool on)
{
    if (!window)
        return;
    QWidget *top = window->window();
    Qt::WindowFlags flags = top->windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, on);
    if (QWindow *handle = top->windowHandle()) {
        // Tell the native window directly, and keep the widget's record in step without the
        // re-creation (and hiding) that setWindowFlags would cause.
        top->overrideWindowFlags(flags);
        handle->setFlag(Qt::WindowStaysOnTopHint, on);
    } else {
        // Not created yet: the flag simply takes effect when the window is first shown.
        top->setWindowFlags(flags);
    }
}
