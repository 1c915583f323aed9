#pragma once
// The window bridge without a window system: the command-line front end and
// the tests run its loop on their main thread, which then is the UI thread.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "inventory/window_bridge.h"

namespace talvor {

class headless_bridge final : public window_bridge {
public:
    // The constructing thread becomes the UI thread.
    headless_bridge();
    ~headless_bridge() override;
    headless_bridge(const headless_bridge&) = delete;
    headless_bridge& operator=(const headless_bridge&) = delete;

    void set_target(message_target* target) override;
    std::intptr_t send(const window_message& message) override;
    void post(std::function<void()> task) override { post_task(std::move(task)); }
    void shut_down() override;
    bool is_shut_down() const override;
    bool on_ui_thread() const override;

    // Makes the calling thread the UI thread (before any pump).
    void adopt_calling_thread();
    // UI thread only: waits up to `wait` for work, then handles every call
    // and task queued; returns how many it handled.
    std::size_t pump(std::chrono::milliseconds wait);
    // UI thread only: pumps until `done()` holds (checked after each pass,
    // at least every 50 ms) or `limit` has passed; true when done.
    bool run_until(const std::function<bool()>& done, std::chrono::milliseconds limit);
    // Any thread: runs `task` on the UI thread at its next pump, also after
    // shut_down (a SIGINT watcher uses it to start shutting down).
    void post_task(std::function<void()> task);

private:
    struct pending_call;
    struct item {
        pending_call* call = nullptr; // or a task
        std::function<void()> task;
    };
    class reply_to_sender;

    void handle(pending_call& call);
    void answer(pending_call& call, std::intptr_t result);

    mutable std::mutex lock_;
    std::condition_variable work_; // the loop waits here; senders on their call's own
    std::deque<item> queue_;
    message_target* target_ = nullptr;
    bool shut_down_ = false;
    std::thread::id ui_thread_;
};

} // namespace talvor
