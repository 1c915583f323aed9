#include "transport/thread_slots.h"

#include <algorithm>
#include <thread>

namespace talvor {

thread_slots::thread_slots(std::size_t slots, std::chrono::milliseconds young_for)
    : slots_(std::max<std::size_t>(1, slots)), young_for_(young_for)
{
}

thread_slots::~thread_slots()
{
    std::unique_lock<std::mutex> g(lock_);
    closing_ = true;
    changed_.notify_all();
    changed_.wait(g, [this] { return !keeper_running_ && started_ == 0; });
}

thread_slots& thread_slots::units()
{
    // Never destroyed: detached workers may still leave during exit.
    static thread_slots* slots = new thread_slots(256, std::chrono::milliseconds(3000));
    return *slots;
}

bool thread_slots::grown_old(clock::time_point started, clock::time_point now) const
{
    return now - started >= young_for_;
}

void thread_slots::forget_old(clock::time_point now)
{
    while (!young_.empty() && grown_old(young_.begin()->second, now))
        young_.erase(young_.begin());
}

void thread_slots::admit()
{
    forget_old(clock::now());
    while (!waiting_.empty() && young_.size() < slots_) {
        waiter next = std::move(waiting_.front());
        waiting_.pop_front();
        if (next.start(next.ticket)) {
            young_.emplace(next.ticket, clock::now());
            ++started_;
        }
    }
}

void thread_slots::ask(const void* owner, std::function<bool(std::uint64_t)> start)
{
    std::lock_guard<std::mutex> g(lock_);
    // Behind earlier askers even when a slot is free, so that threads start
    // in ticket order.
    waiting_.push_back({owner, next_ticket_++, std::move(start)});
    admit();
    if (!waiting_.empty() && !keeper_running_) {
        keeper_running_ = true;
        std::thread([this] { keep(); }).detach();
    }
}

void thread_slots::leave(std::uint64_t ticket)
{
    std::lock_guard<std::mutex> g(lock_);
    --started_;
    if (young_.erase(ticket) != 0 && !waiting_.empty())
        admit();
    if (closing_)
        changed_.notify_all();
}

void thread_slots::withdraw(const void* owner)
{
    std::lock_guard<std::mutex> g(lock_);
    std::erase_if(waiting_, [owner](const waiter& w) { return w.owner == owner; });
}

std::size_t thread_slots::taken() const
{
    std::lock_guard<std::mutex> g(lock_);
    const auto now = clock::now();
    return static_cast<std::size_t>(
        std::count_if(young_.begin(), young_.end(), [&](const auto& y) { return !grown_old(y.second, now); }));
}

std::size_t thread_slots::waiting() const
{
    std::lock_guard<std::mutex> g(lock_);
    return waiting_.size();
}

void thread_slots::keep()
{
    std::unique_lock<std::mutex> g(lock_);
    for (;;) {
        admit();
        if (waiting_.empty() || closing_) {
            keeper_running_ = false;
            changed_.notify_all();
            return;
        }
        // Every slot is taken by a young thread: wake when the oldest grows
        // old, or earlier when one leaves (leave() admits by itself).
        changed_.wait_until(g, young_.begin()->second + young_for_);
    }
}

} // namespace talvor
