// The headless window bridge: blocking calls from workers, early replies,
// and shutdown releasing everything that waits.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "inventory/window_bridge_headless.h"

namespace talvor::test {
namespace {

using namespace std::chrono_literals;

struct echo_target final : message_target {
    std::function<std::intptr_t(const window_message&, message_reply&)> fn;
    std::thread::id seen_on;
    std::intptr_t handle_message(const window_message& m, message_reply& r) override
    {
        seen_on = std::this_thread::get_id();
        return fn ? fn(m, r) : static_cast<std::intptr_t>(m.wparam) + m.lparam;
    }
};

TEST(headless_bridge_test, a_worker_call_runs_on_the_ui_thread_and_returns_the_answer)
{
    headless_bridge bridge;
    echo_target target;
    bridge.set_target(&target);
    std::atomic<std::intptr_t> answer{0};
    std::thread worker([&] { answer = bridge.send({WM_ASK_SECURITY, 40, 2}); });
    ASSERT_TRUE(bridge.run_until([&] { return answer.load() != 0; }, 10s));
    worker.join();
    EXPECT_EQ(answer.load(), 42);
    EXPECT_EQ(target.seen_on, std::this_thread::get_id());

    // A call from the UI thread itself runs at once.
    EXPECT_EQ(bridge.send({WM_UNIT_FOUND, 1, 1}), 2);
}

TEST(headless_bridge_test, an_early_reply_releases_the_sender_while_the_handler_goes_on)
{
    headless_bridge bridge;
    echo_target target;
    std::atomic<bool> sender_back{false};
    std::atomic<bool> saw_sender_back{false};
    target.fn = [&](const window_message&, message_reply& r) -> std::intptr_t {
        r.reply(7);
        // The handler waits for its sender, as the job-done handler waits
        // for the unit's worker to go idle.
        for (int i = 0; i < 1000 && !sender_back; ++i)
            std::this_thread::sleep_for(5ms);
        saw_sender_back = sender_back.load();
        return 99; // ignored: already replied
    };
    bridge.set_target(&target);
    std::atomic<std::intptr_t> answer{0};
    std::thread worker([&] {
        answer = bridge.send({WM_UNIT_JOB_DONE, 0, 0});
        sender_back = true;
    });
    bridge.pump(10s);
    worker.join();
    EXPECT_TRUE(saw_sender_back.load());
    EXPECT_EQ(answer.load(), 7);
}

TEST(headless_bridge_test, shutdown_refuses_new_calls_and_releases_waiting_ones)
{
    headless_bridge bridge;
    echo_target target;
    bridge.set_target(&target);
    std::vector<std::thread> workers;
    std::vector<std::intptr_t> answers(3, -5);
    const unsigned ids[3] = {WM_ASK_PASSWORD, WM_ASK_SECURITY, WM_UNIT_FOUND};
    for (int i = 0; i < 3; ++i)
        workers.emplace_back([&, i] { answers[i] = bridge.send({ids[i], 100, 100}); });
    // Nobody pumps: the calls wait until the bridge shuts down.
    std::this_thread::sleep_for(50ms);
    bridge.shut_down();
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(answers[0], 0); // password prompt: cancelled
    EXPECT_EQ(answers[1], 0); // security prompt: no
    EXPECT_EQ(answers[2], 1); // a find: stop discovering
    EXPECT_EQ(bridge.send({WM_ASK_PASSWORD, 1, 1}), 0);
    EXPECT_TRUE(bridge.is_shut_down());

    // Tasks still run after shutdown (a SIGINT watcher relies on it).
    bool ran = false;
    bridge.post_task([&] { ran = true; });
    bridge.pump(0ms);
    EXPECT_TRUE(ran);
}

TEST(headless_bridge_test, calls_from_many_workers_are_each_answered_once)
{
    headless_bridge bridge;
    echo_target target;
    bridge.set_target(&target);
    std::atomic<int> done{0};
    std::atomic<int> wrong{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 8; ++i)
        workers.emplace_back([&, i] {
            for (int k = 0; k < 50; ++k)
                if (bridge.send({WM_UNIT_FOUND, static_cast<std::uintptr_t>(i), k}) != i + k)
                    ++wrong;
            ++done;
        });
    EXPECT_TRUE(bridge.run_until([&] { return done.load() == 8; }, 30s));
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
} // namespace talvor::test
