#include "cli/process.h"

#include <csignal>
#include <pthread.h>
#include <thread>

namespace talvor::cli {

namespace {

// SIGINT and SIGTERM are blocked before any thread starts (every thread
// inherits the mask) and taken by one thread with sigwait.
sigset_t stop_signals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1); // ends the watcher
    return set;
}

} // namespace

std::vector<std::string> start_process(int argc, char** argv)
{
    const sigset_t signals = stop_signals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return std::vector<std::string>(argv + 1, argv + argc);
}

struct stop_watch::impl {
    sigset_t set = stop_signals();
    std::thread thread;
};

stop_watch::stop_watch(std::function<void()> on_stop) : impl_(new impl)
{
    impl_->thread = std::thread([set = impl_->set, on_stop = std::move(on_stop)] {
        for (int sig = 0; sigwait(&set, &sig) == 0 && sig != SIGUSR1;)
            on_stop();
    });
}

stop_watch::~stop_watch()
{
    pthread_kill(impl_->thread.native_handle(), SIGUSR1);
    impl_->thread.join();
    delete impl_;
}

} // namespace talvor::cli
