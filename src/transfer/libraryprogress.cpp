#include "libraryprogress.h"

#include <QCoreApplication>
#include <QProgressBar>

QProgressBar *libraryProgressBar = nullptr;

void libraryProgressCallback(int current, int total)
{
    if (!libraryProgressBar)
        return;
    libraryProgressBar->setMaximum(total);
    libraryProgressBar->setValue(current);
    // Ticks of the running transfer timer are not delivered again from here:
    // the library call itself runs inside one of them.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}
