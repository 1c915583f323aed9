#include "transport/job_thread.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace talvor {

job_thread::job_thread()
    : thread_([this] { run(); })
{
}

job_thread::~job_thread()
{
    {
        std::lock_guard<std::mutex> g(lock_);
        stop_ = true;
    }
    work_.notify_all();
    // No forced termination exists here: a running job is waited for. The
    // owner cancels the unit's network waits first so this returns promptly.
    if (thread_.joinable())
        thread_.join();
    // Jobs still queued are destroyed unrun with the deque.
}

std::size_t job_thread::post(job j)
{
    std::size_t count;
    bool was_empty;
    {
        std::lock_guard<std::mutex> g(lock_);
        was_empty = queue_.empty();
        queue_.push_back(std::move(j));
        count = queue_.size();
    }
    if (was_empty)
        work_.notify_one();
    return count;
}

std::size_t job_thread::pending() const
{
    std::lock_guard<std::mutex> g(lock_);
    return queue_.size();
}

bool job_thread::after_current(job then)
{
    std::lock_guard<std::mutex> g(lock_);
    if (queue_.empty())
        return false;
    after_current_.push_back(std::move(then));
    return true;
}

long job_thread::wait_idle()
{
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    const auto deadline = start + std::chrono::milliseconds(3000);
    std::unique_lock<std::mutex> g(lock_);
    for (;;) {
        if (queue_.empty())
            return 0;
        if (clock::now() - start > std::chrono::milliseconds(2999))
            return static_cast<long>(queue_.size());
        const std::size_t generation = idle_generation_;
        if (!idle_.wait_until(g, deadline, [&] { return idle_generation_ != generation; }))
            return -1;
    }
}

namespace {

// Jobs are background work. At the window's own priority, hundreds of
// runnable workers put the window's work at the back of a long queue for
// the processor; a lower one (Linux keeps a nice value per thread) lets the
// window in first and costs the workers nothing against other programs.
void lower_own_priority()
{
#ifdef _WIN32
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
#else
    const auto self = static_cast<id_t>(::gettid());
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, self);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, self, std::min(19, now + 10));
#endif
}

} // namespace

void job_thread::run()
{
    lower_own_priority();
    std::unique_lock<std::mutex> g(lock_);
    while (!stop_) {
        if (queue_.empty()) {
            work_.wait(g, [&] { return stop_ || !queue_.empty(); });
            continue;
        }
        // The job stays queued (and counted) until it has returned.
        job current = queue_.front();
        g.unlock();
        current();
        current = nullptr; // its captures die outside the lock too
        g.lock();
        queue_.pop_front();
        if (queue_.empty()) {
            ++idle_generation_;
            idle_.notify_all();
        }
        if (!after_current_.empty()) {
            std::vector<job> then;
            then.swap(after_current_);
            g.unlock();
            for (auto& j : then)
                j();
            then.clear();
            g.lock();
        }
    }
}

} // namespace talvor
