#include "libraryprogressscope.h"

#include "transferengine.h"

#include <QCoreApplication>

namespace {

// The library's callback carries no context, so the running call's engine
// is kept here.
TransferEngine *progressEngine = nullptr;

} // namespace

LibraryProgressScope::LibraryProgressScope(TransferEngine *engine)
{
    progressEngine = engine;
}

LibraryProgressScope::~LibraryProgressScope()
{
    progressEngine = nullptr;
}

void libraryProgressCallback(int current, int total)
{
    if (!progressEngine)
        return;
    emit progressEngine->libraryProgress(current, total);
    // Ticks of the running transfer timer are not delivered again from here:
    // the library call itself runs inside one of them.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}
