#include "normalizer/StopSignal.h"

#include <atomic>
#include <csignal>
#include <cstdlib>

namespace stop_signal {

namespace {

std::atomic<int> g_pending{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onStopSignal(int signal)
{
    g_pending.store(signal);
}

}  // namespace

void install()
{
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

int pending()
{
    return g_pending.load(std::memory_order_relaxed);
}

void reraise()
{
    int signal = pending();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal);
}

}  // namespace stop_signal
