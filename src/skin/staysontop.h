#pragma once

class QWidget;

// Moves the window of `widget` into (on) or out of (off) the stay-on-top band. The window keeps
// its place, its size and its visibility (unlike QWidget::setWindowFlags, which hides a shown
// window). A null widget is ignored; so is a platform that does not support the band.
void setStaysOnTop(QWidget *widget, bool on);
