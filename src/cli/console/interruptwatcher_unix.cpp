// The self-pipe: the signal handler writes a byte, which is all it may
// safely do; the event loop sees the pipe readable and emits interrupted().

#include "console/interruptwatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int pipeEnds[2] = { -1, -1 };
const int watchedSignals[] = { SIGINT, SIGTERM };

void onSignal(int)
{
    const char byte = 1;
    const ssize_t ignored = ::write(pipeEnds[1], &byte, 1);
    (void)ignored;
}

} // namespace

InterruptWatcher::InterruptWatcher(QObject *parent)
    : QObject(parent)
{
    if (::pipe(pipeEnds) != 0)
        return;
    for (int end : pipeEnds) {
        ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
        ::fcntl(end, F_SETFD, FD_CLOEXEC);
    }
    auto *notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(pipeEnds[0], bytes, sizeof bytes) > 0) {
        }
        emit interrupted();
    });

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocking read returns with EINTR
    for (int number : watchedSignals)
        sigaction(number, &action, nullptr);
}

InterruptWatcher::~InterruptWatcher()
{
    for (int number : watchedSignals)
        std::signal(number, SIG_DFL);
    for (int &end : pipeEnds) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}
