#pragma once
// The window bridge over the Qt event loop: a worker's call becomes a queued
// invocation on the UI thread, and the worker waits for its answer.
#include <QObject>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "inventory/window_bridge.h"

namespace talvor {

class qt_window_bridge final : public window_bridge {
public:
    // The constructing thread (the one running the Qt event loop) is the UI thread.
    qt_window_bridge();
    ~qt_window_bridge() override;
    qt_window_bridge(const qt_window_bridge&) = delete;
    qt_window_bridge& operator=(const qt_window_bridge&) = delete;

    void set_target(message_target* target) override;
    std::intptr_t send(const window_message& message) override;
    void shut_down() override;
    bool is_shut_down() const override;
    bool on_ui_thread() const override;
    // Calls from workers not yet answered (queued or being handled).
    std::size_t pending_calls() const;

    struct pending_call;

private:
    class reply_to_sender;
    void handle(const std::shared_ptr<pending_call>& call);
    void answer(pending_call& call, std::intptr_t result);

    mutable std::mutex lock_;
    std::condition_variable answered_;
    std::vector<std::shared_ptr<pending_call>> waiting_;
    message_target* target_ = nullptr;
    bool shut_down_ = false;
    std::thread::id ui_thread_;
    // Lives on the UI thread; queued invocations run in its context and
    // are dropped with it.
    std::unique_ptr<QObject> context_;
};

} // namespace talvor
