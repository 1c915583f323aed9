#include "transport/job_thread.h"

#include "transport/thread_slots.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>

namespace talvor {

namespace {
// Threads in run(), over every job_thread of the process.
std::atomic<int> working{0};
} // namespace

job_thread::job_thread(thread_slots* slots) : slots_(slots) {}

job_thread::~job_thread()
{
    {
        std::lock_guard<std::mutex> g(lock_);
        stop_ = true;
    }
    // From here no thread starts for us, not even one whose slot has come.
    if (slots_)
        slots_->withdraw(this);
    bool joinable;
    {
        std::lock_guard<std::mutex> g(lock_);
        joinable = thread_.joinable();
    }
    // No forced termination exists here: a running job is waited for. The
    // owner cancels the unit's network waits first so this returns promptly.
    // A thread that left on its own was detached and no longer touches us;
    // one that is still running sees stop_ and will not detach.
    if (joinable)
        thread_.join();
    // Jobs still queued are destroyed unrun with the deque.
}

std::size_t job_thread::post(job j)
{
    std::size_t pending;
    bool start_thread = false;
    {
        std::lock_guard<std::mutex> g(lock_);
        queue_.push_back(std::move(j));
        pending = queue_.size();
        if (!running_ && !stop_) {
            running_ = true;
            start_thread = true;
        }
    }
    // Outside our lock: the slots take theirs first, then ours in launch().
    if (start_thread)
        start();
    return pending;
}

void job_thread::start()
{
    if (slots_)
        slots_->ask(this, [this](std::uint64_t ticket) { return launch(ticket); });
    else
        launch(0);
}

bool job_thread::launch(std::uint64_t ticket)
{
    std::lock_guard<std::mutex> g(lock_);
    if (stop_) {
        running_ = false;
        return false;
    }
    ++working;
    thread_ = std::thread([this, ticket] { run(ticket); });
    return true;
}

bool job_thread::on_this_thread() const
{
    std::lock_guard<std::mutex> g(lock_);
    return std::this_thread::get_id() == thread_.get_id();
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

// After a batch over thousands of units the allocator holds their transient
// buffers as free pages between the units' lasting data; glibc keeps those
// resident until asked, so the last worker out asks.
void return_free_pages()
{
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}

} // namespace

void job_thread::run(std::uint64_t ticket)
{
    lower_own_priority();
    thread_slots* const slots = slots_;
    {
        std::unique_lock<std::mutex> g(lock_);
        take_jobs(g);
    }
    // Nothing of this object is touched from here on: it may be gone.
    if (slots)
        slots->leave(ticket);
    if (--working == 0)
        return_free_pages();
}

void job_thread::take_jobs(std::unique_lock<std::mutex>& g)
{
    while (!stop_ && !queue_.empty()) {
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
    // Detached, its stack goes back as soon as it returns; when we are being
    // destroyed the destructor joins instead.
    if (!stop_)
        thread_.detach();
    running_ = false;
}

} // namespace talvor
