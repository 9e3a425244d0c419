#include "mainwindow/programtitle.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

void fitTitle(QMessageBox *box)
{
    auto *grid = qobject_cast<QGridLayout *>(box->layout());
    if (!grid)
        return;
    // Room for the title beside the frame's icon and buttons.
    const int width = box->fontMetrics().horizontalAdvance(box->windowTitle()) + 180;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
}
