#include "ui/qt_window_bridge.h"

#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <condition_variable>

namespace talvor {

struct qt_window_bridge::pending_call {
    window_message message;
    std::intptr_t result = 0;
    bool done = false;
    bool running = false; // its handler has started
    // One per call: with hundreds of workers waiting, a shared one woke
    // them all for every answer.
    std::condition_variable answered;
};

class qt_window_bridge::reply_to_sender final : public message_reply {
public:
    reply_to_sender(qt_window_bridge& bridge, std::shared_ptr<pending_call> call)
        : bridge_(bridge), call_(std::move(call))
    {
    }
    void reply(std::intptr_t result) override
    {
        if (!call_)
            return;
        bridge_.answer(*call_, result);
        call_.reset();
    }
    bool replied() const override { return !call_; }

private:
    qt_window_bridge& bridge_;
    std::shared_ptr<pending_call> call_;
};

void bridge_inbox::drain()
{
    bridge_.drain();
}

qt_window_bridge::qt_window_bridge()
    : ui_thread_(std::this_thread::get_id()), context_(std::make_unique<bridge_inbox>(*this))
{
}

qt_window_bridge::~qt_window_bridge()
{
    shut_down();
}

void qt_window_bridge::set_target(message_target* target)
{
    std::lock_guard<std::mutex> g(lock_);
    target_ = target;
}

bool qt_window_bridge::on_ui_thread() const
{
    return std::this_thread::get_id() == ui_thread_;
}

std::size_t qt_window_bridge::pending_calls() const
{
    std::lock_guard<std::mutex> g(lock_);
    return waiting_.size();
}

bool qt_window_bridge::is_shut_down() const
{
    std::lock_guard<std::mutex> g(lock_);
    return shut_down_;
}

std::intptr_t qt_window_bridge::send(const window_message& message)
{
    auto call = std::make_shared<pending_call>();
    call->message = message;
    std::unique_lock<std::mutex> g(lock_);
    if (shut_down_ || !target_)
        return refused_answer(message.id);
    if (on_ui_thread()) {
        // A window sending to itself: the handler runs at once.
        g.unlock();
        handle(call);
        return call->result;
    }
    waiting_.push_back(call);
    inbox_.push_back({call, {}});
    QMetaObject::invokeMethod(context_.get(), "drain", Qt::QueuedConnection);
    call->answered.wait(g, [&] { return call->done; });
    return call->result;
}

void qt_window_bridge::answer(pending_call& call, std::intptr_t result)
{
    std::lock_guard<std::mutex> g(lock_);
    if (call.done)
        return;
    call.result = result;
    call.done = true;
    const auto it = std::find_if(waiting_.begin(), waiting_.end(),
                                 [&](const std::shared_ptr<pending_call>& c) { return c.get() == &call; });
    if (it != waiting_.end()) {
        // Order does not matter here: fill the hole with the last one.
        std::swap(*it, waiting_.back());
        waiting_.pop_back();
    }
    call.answered.notify_one();
}

void qt_window_bridge::post(std::function<void()> task)
{
    std::lock_guard<std::mutex> g(lock_);
    inbox_.push_back({nullptr, std::move(task)});
    QMetaObject::invokeMethod(context_.get(), "drain", Qt::QueuedConnection);
}

void qt_window_bridge::drain()
{
    // With hundreds of units reporting at once the inbox can be long: after
    // a few milliseconds the rest waits for the next turn, so that timers
    // and painting are not held up behind it.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(8);
    for (;;) {
        inbox_item next;
        {
            std::lock_guard<std::mutex> g(lock_);
            if (inbox_.empty())
                return;
            if (std::chrono::steady_clock::now() >= until) {
                QMetaObject::invokeMethod(context_.get(), "drain", Qt::QueuedConnection);
                return;
            }
            next = std::move(inbox_.front());
            inbox_.pop_front();
        }
        if (next.call)
            handle(next.call); // may run a modal dialog, which drains the later calls
        else if (next.task)
            next.task();
    }
}

void qt_window_bridge::handle(const std::shared_ptr<pending_call>& call)
{
    message_target* target;
    {
        std::lock_guard<std::mutex> g(lock_);
        if (call->done)
            return; // released by shut_down while it waited for its turn
        call->running = true;
        target = target_;
    }
    reply_to_sender reply(*this, call);
    const std::intptr_t result = target ? target->handle_message(call->message, reply)
                                        : refused_answer(call->message.id);
    reply.reply(result);
}

void qt_window_bridge::shut_down()
{
    std::lock_guard<std::mutex> g(lock_);
    shut_down_ = true;
    // A handler already running finishes and answers its sender itself.
    std::vector<std::shared_ptr<pending_call>> running;
    for (const auto& call : waiting_) {
        if (call->running) {
            running.push_back(call);
            continue;
        }
        call->result = refused_answer(call->message.id);
        call->done = true;
        call->answered.notify_one();
    }
    waiting_.swap(running);
    // Tasks still run; calls not started have been answered above.
    std::erase_if(inbox_, [](const inbox_item& i) { return i.call != nullptr; });
}

} // namespace talvor
