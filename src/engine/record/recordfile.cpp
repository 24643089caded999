#include "record/recordfile.h"

// The appending and locking are the system's own: recordfile_unix.cpp and
// recordfile_win.cpp.

RecordFile::RecordFile(const QString &path)
    : filePath(path)
{
}

RecordFile::~RecordFile()
{
    close();
}
