#pragma once
// One worker thread with a first-in first-out queue of jobs. A job counts as
// pending until it has returned. The thread exists only while jobs are
// pending: a listed unit that waits for its next command holds no stack, no
// allocator caches and no TLS library state of a thread (a third of an
// idle WebSocket unit's memory at thousands of units), and the next post
// starts a new one.
//
// A unit's worker shares thread_slots with the other units': its thread
// starts once a slot is free, and its jobs wait, counted as pending, until
// then.
//
// Destroying a job_thread waits for the running job to return: there is no
// forced termination. A caller must first cut the job's network waits short
// (the unit's cancel), or the destructor waits as long as the job blocks.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace talvor {

class thread_slots;

class job_thread {
public:
    using job = std::function<void()>;

    // Without slots, its thread starts as soon as a job is posted.
    explicit job_thread(thread_slots* slots = nullptr);
    ~job_thread();
    job_thread(const job_thread&) = delete;
    job_thread& operator=(const job_thread&) = delete;

    // Queues a job; returns the pending count including it.
    std::size_t post(job j);
    // 0 once nothing is pending; the pending count when 3000 ms have passed
    // at a check; -1 when the last wait for idleness timed out.
    long wait_idle();
    // Queued plus running jobs, read under the lock.
    std::size_t pending() const;
    // Runs `then` on this thread right after the job now running has
    // returned, before the next one starts. False, `then` dropped, when no
    // job is pending.
    bool after_current(job then);
    bool on_this_thread() const;

private:
    void start();
    // Under the slots' lock when there are slots: false once stopping.
    bool launch(std::uint64_t ticket);
    void run(std::uint64_t ticket);
    void take_jobs(std::unique_lock<std::mutex>& g);

    thread_slots* const slots_;
    mutable std::mutex lock_;
    std::condition_variable idle_;
    std::deque<job> queue_;
    std::vector<job> after_current_; // for the job at the front
    std::size_t idle_generation_ = 0; // bumped each time the queue empties
    bool stop_ = false;
    bool running_ = false; // a thread is in run(), or asked for, and will take queued jobs
    std::thread thread_;
};

} // namespace talvor
