#ifndef PROGRAMLOG_H
#define PROGRAMLOG_H

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

// The program log: one UTF-8 file per run in the program directory, named
// after the time of its first message ("yyyy-MM-dd_hh_mm_ss.log"), one line
// per message, each line flushed at once. Every message is also mirrored to
// standard output in Latin-1, unless the mirror is turned off.

// Message handler for qInstallMessageHandler. Safe to call from any thread:
// calls are serialised, so lines stay whole and the file is opened once.
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);

// Log callback handed to the closed transfer library: a NUL-terminated
// UTF-16 string, written to the program log as a debug message.
void libraryLogCallback(const char16_t *text);

namespace ProgramLog {

// Turns the mirror on standard output on or off (on by default). The
// flasher turns it off: its standard output carries its own messages and
// JSON lines. Any thread.
void setConsoleMirror(bool on);

// Names what every later line of the calling thread concerns (such as
// "EBONY /dev/hidraw3"); the lines start with it. Empty: nothing.
void setThreadSubject(const QString &subject);

// Pure formatting, exposed for tests.
QString fileNameFor(const QDateTime &firstMessageTime);  // "yyyy-MM-dd_hh_mm_ss.log"
QByteArray fileLine(const QDateTime &time, const QString &message);    // UTF-8, ends in LF
QByteArray consoleLine(const QString &message);                         // Latin-1, ends in LF

} // namespace ProgramLog

#endif // PROGRAMLOG_H
