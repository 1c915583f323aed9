#include "inventory/window_bridge_headless.h"

#include <algorithm>
#include <utility>

namespace talvor {

std::intptr_t refused_answer(unsigned id)
{
    // A found unit that cannot be handed over must end the discovery run.
    return id == WM_UNIT_FOUND ? 1 : 0;
}

struct headless_bridge::pending_call {
    window_message message;
    std::intptr_t result = 0;
    bool done = false;
    // One per call: with hundreds of workers waiting, a shared one woke
    // them all for every answer.
    std::condition_variable answered;
};

class headless_bridge::reply_to_sender final : public message_reply {
public:
    reply_to_sender(headless_bridge& bridge, pending_call* call) : bridge_(bridge), call_(call) {}
    void reply(std::intptr_t result) override
    {
        if (!call_)
            return;
        // After this the sender may return and its call record is gone.
        bridge_.answer(*call_, result);
        call_ = nullptr;
    }
    bool replied() const override { return call_ == nullptr; }

private:
    headless_bridge& bridge_;
    pending_call* call_;
};

headless_bridge::headless_bridge() : ui_thread_(std::this_thread::get_id()) {}

headless_bridge::~headless_bridge()
{
    shut_down();
}

void headless_bridge::set_target(message_target* target)
{
    std::lock_guard<std::mutex> g(lock_);
    target_ = target;
}

void headless_bridge::adopt_calling_thread()
{
    std::lock_guard<std::mutex> g(lock_);
    ui_thread_ = std::this_thread::get_id();
}

bool headless_bridge::on_ui_thread() const
{
    std::lock_guard<std::mutex> g(lock_);
    return std::this_thread::get_id() == ui_thread_;
}

bool headless_bridge::is_shut_down() const
{
    std::lock_guard<std::mutex> g(lock_);
    return shut_down_;
}

std::intptr_t headless_bridge::send(const window_message& message)
{
    pending_call call;
    call.message = message;
    std::unique_lock<std::mutex> g(lock_);
    if (shut_down_ || !target_)
        return refused_answer(message.id);
    if (std::this_thread::get_id() == ui_thread_) {
        // Like a window sending to itself: the handler runs at once.
        g.unlock();
        handle(call);
        return call.result;
    }
    queue_.push_back(item{&call, {}});
    work_.notify_one();
    call.answered.wait(g, [&] { return call.done; });
    return call.result;
}

void headless_bridge::answer(pending_call& call, std::intptr_t result)
{
    std::lock_guard<std::mutex> g(lock_);
    call.result = result;
    call.done = true;
    // Under the lock: once it sees `done` the sender may destroy the call.
    call.answered.notify_one();
}

void headless_bridge::handle(pending_call& call)
{
    message_target* target;
    {
        std::lock_guard<std::mutex> g(lock_);
        target = target_;
    }
    reply_to_sender reply(*this, &call);
    const std::intptr_t result = target ? target->handle_message(call.message, reply)
                                        : refused_answer(call.message.id);
    reply.reply(result);
}

void headless_bridge::shut_down()
{
    std::lock_guard<std::mutex> g(lock_);
    shut_down_ = true;
    std::deque<item> keep;
    for (item& i : queue_) {
        if (i.call) {
            i.call->result = refused_answer(i.call->message.id);
            i.call->done = true;
            i.call->answered.notify_one();
        } else {
            keep.push_back(std::move(i));
        }
    }
    queue_.swap(keep);
    work_.notify_all();
}

void headless_bridge::post_task(std::function<void()> task)
{
    std::lock_guard<std::mutex> g(lock_);
    queue_.push_back(item{nullptr, std::move(task)});
    work_.notify_one();
}

std::size_t headless_bridge::pump(std::chrono::milliseconds wait)
{
    std::size_t handled = 0;
    std::unique_lock<std::mutex> g(lock_);
    work_.wait_for(g, wait, [&] { return !queue_.empty(); });
    while (!queue_.empty()) {
        item next = std::move(queue_.front());
        queue_.pop_front();
        g.unlock();
        if (next.call)
            handle(*next.call);
        else if (next.task)
            next.task();
        ++handled;
        g.lock();
    }
    return handled;
}

bool headless_bridge::run_until(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= end)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
        pump(std::min(left, std::chrono::milliseconds(50)));
    }
    return true;
}

} // namespace talvor
