#pragma once
// The window bridge over the Qt event loop: a worker's call becomes a queued
// invocation on the UI thread, and the worker waits for its answer.
#include <QObject>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "inventory/window_bridge.h"

namespace talvor {

class qt_window_bridge;

// Lives on the UI thread; its queued drain() runs the calls that workers
// left in the bridge's inbox.
class bridge_inbox final : public QObject {
    Q_OBJECT
public:
    explicit bridge_inbox(qt_window_bridge& bridge) : bridge_(bridge) {}
public slots:
    void drain();

private:
    qt_window_bridge& bridge_;
};

class qt_window_bridge final : public window_bridge {
public:
    // The constructing thread (the one running the Qt event loop) is the UI thread.
    qt_window_bridge();
    ~qt_window_bridge() override;
    qt_window_bridge(const qt_window_bridge&) = delete;
    qt_window_bridge& operator=(const qt_window_bridge&) = delete;

    void set_target(message_target* target) override;
    std::intptr_t send(const window_message& message) override;
    void post(std::function<void()> task) override;
    void shut_down() override;
    bool is_shut_down() const override;
    bool on_ui_thread() const override;
    // Calls from workers not yet answered (queued or being handled).
    std::size_t pending_calls() const;

    struct pending_call;

private:
    friend class bridge_inbox;
    class reply_to_sender;
    // UI thread: handles the calls waiting in the inbox, oldest first.
    void drain();
    void handle(const std::shared_ptr<pending_call>& call);
    void answer(pending_call& call, std::intptr_t result);

    mutable std::mutex lock_;
    std::vector<std::shared_ptr<pending_call>> waiting_; // not yet answered
    struct inbox_item {
        std::shared_ptr<pending_call> call; // or a task
        std::function<void()> task;
    };
    std::deque<inbox_item> inbox_; // not yet started
    message_target* target_ = nullptr;
    bool shut_down_ = false;
    std::thread::id ui_thread_;
    // Everything a worker hands over goes through inbox_ under lock_ and a
    // plain queued slot call, so no object a worker built is read on the
    // UI thread without that lock (ThreadSanitizer sees the ordering).
    std::unique_ptr<bridge_inbox> context_;
};

} // namespace talvor
