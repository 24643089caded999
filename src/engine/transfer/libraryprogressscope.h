#ifndef LIBRARYPROGRESSSCOPE_H
#define LIBRARYPROGRESSSCOPE_H

class TransferEngine;

// While it lives, the closed transfer library's progress goes to `engine`
// as its libraryProgress signal. One library call at a time in the whole
// process: the callback carries no context, so a second call on another
// thread would take the first one's progress (a station runs one MOSS unit
// at a time).
class LibraryProgressScope
{
public:
    explicit LibraryProgressScope(TransferEngine *engine);
    ~LibraryProgressScope();
    LibraryProgressScope(const LibraryProgressScope &) = delete;
    LibraryProgressScope &operator=(const LibraryProgressScope &) = delete;
};

// Progress callback handed to the closed transfer library: reports
// `current` out of `total` to the engine of the running call, then
// processes the thread's pending events once so the face stays alive during
// the call. Does nothing while no library call runs.
void libraryProgressCallback(int current, int total);

#endif // LIBRARYPROGRESSSCOPE_H
