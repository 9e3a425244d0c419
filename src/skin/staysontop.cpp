#include "skin/staysontop.h"

#include <QWidget>
#include <QWindow>

void setStaysOnTop(QWidget *widget, bool on)
{
    if (!widget)
        return;
    QWidget *top = widget->window();
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
