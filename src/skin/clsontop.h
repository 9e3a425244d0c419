#pragma once

class QWidget;

// Moves a window into or out of the stay-on-top band. The window keeps its place, its size and
// its visibility (unlike QWidget::setWindowFlags, which hides a shown window). A null window is
// ignored; so is a platform that does not support the band.
class clsOnTop
{
public:
    static void MakeTopMost(QWidget *window);
    static void MakeNormal(QWidget *window);

private:
    static void setOnTop(QWidget *window, bool on);
};
