#include "job/StopSignals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array<int, 3> kStopSignals{SIGTERM, SIGINT, SIGHUP};

// A signal handler may only write to a descriptor: it tells the event loop through this
// pipe, whose read end a socket notifier watches.
int stopPipe[2] = {-1, -1};
volatile std::sig_atomic_t stopReceived = 0;

extern "C" void onStopSignal(int)
{
    const int savedErrno = errno;  // the interrupted code may be about to read it
    stopReceived = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(stopPipe[1], &byte, 1);
    errno = savedErrno;
}

}  // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent)
{
    if (stopPipe[0] >= 0 || ::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    stopReceived = 0;
    notifier_ = std::make_unique<QSocketNotifier>(stopPipe[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(stopPipe[0], bytes, sizeof bytes) > 0) {
        }
        emit arrived();
    });
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int signalNumber : kStopSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

StopSignals::~StopSignals()
{
    if (!notifier_)
        return;
    for (int signalNumber : kStopSignals)
        std::signal(signalNumber, SIG_DFL);
    notifier_.reset();
    ::close(stopPipe[0]);
    ::close(stopPipe[1]);
    stopPipe[0] = stopPipe[1] = -1;
}

bool StopSignals::received()
{
    return stopReceived != 0;
}
