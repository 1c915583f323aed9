#pragma once
// How many units' worker threads may start work at once. A refresh of
// thousands of units used to start all their threads together: each held
// its stack, thread state and TLS library state until its unit had
// answered, about 30 KiB above what a listed unit keeps. A slot is taken
// when a worker's thread starts and given back when it leaves, or once the
// thread has worked longer than `young_for`: a unit that waits out a long
// time-out (one that is down) then no longer holds back the others, and no
// wait of one unit on another can stall for good.
//
// A job_thread that finds no free slot stays queued, without a thread,
// until one is free; the slots' own keeper thread exists only while some
// wait, to notice threads growing old.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

namespace talvor {

class thread_slots {
public:
    using clock = std::chrono::steady_clock;

    thread_slots(std::size_t slots, std::chrono::milliseconds young_for);
    // Waits for the keeper and every thread started through the slots to
    // leave; every job_thread using the slots must be gone first.
    ~thread_slots();
    thread_slots(const thread_slots&) = delete;
    thread_slots& operator=(const thread_slots&) = delete;

    // The slots the units' workers share: 256, each for 3 s.
    static thread_slots& units();

    // `start` runs under the slots' lock, now or once a slot is free, in
    // the order asked, with the ticket that its thread's leave() names. It
    // returns whether it started a thread; if not, the slot stays free.
    void ask(const void* owner, std::function<bool(std::uint64_t ticket)> start);
    // The thread started for `ticket` has left.
    void leave(std::uint64_t ticket);
    // Drops the owner's starts that have not run. Once this returns, none
    // of them runs any more.
    void withdraw(const void* owner);

    // Threads counted against the slots now, and tickets waiting.
    std::size_t taken() const;
    std::size_t waiting() const;

private:
    struct waiter {
        const void* owner;
        std::uint64_t ticket;
        std::function<bool(std::uint64_t)> start;
    };
    // Under lock_: forgets threads grown old, then starts waiters while
    // slots are free.
    void admit();
    bool grown_old(clock::time_point started, clock::time_point now) const;
    void forget_old(clock::time_point now);
    void keep();

    const std::size_t slots_;
    const std::chrono::milliseconds young_for_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::deque<waiter> waiting_;
    // Ticket → when its thread started. Threads start in ticket order, so
    // the first is the oldest.
    std::map<std::uint64_t, clock::time_point> young_;
    std::uint64_t next_ticket_ = 1;
    std::size_t started_ = 0; // threads that have not left, young or old
    bool keeper_running_ = false;
    bool closing_ = false;
};

} // namespace talvor
