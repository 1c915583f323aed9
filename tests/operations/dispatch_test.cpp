// busy_units, the guarded and unguarded dispatch, and the window's handling
// of a finished job of another kind than refresh.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <unistd.h>

#include "inventory/unit_group.h"
#include "inventory/window_bridge_headless.h"
#include "operations/busy_units.h"
#include "operations/dispatch_job.h"
#include "operations/unit_manager.h"
#include "tests/connect/scripted_dialogs.h"

namespace talvor::test {
namespace {

using namespace std::chrono_literals;

// Keeps a unit's worker busy until opened (bounded).
class gate {
public:
    void wait()
    {
        std::unique_lock<std::mutex> g(lock_);
        open_cv_.wait_for(g, 20s, [&] { return open_; });
    }
    void open()
    {
        std::lock_guard<std::mutex> g(lock_);
        open_ = true;
        open_cv_.notify_all();
    }

private:
    std::mutex lock_;
    std::condition_variable open_cv_;
    bool open_ = false;
};

TEST(busy_units_test, hash_is_fnv1a_over_the_pointer_bytes_low_first)
{
    static_assert(sizeof(void*) == 8);
    unit_pointer_hash h;
    EXPECT_EQ(h(nullptr), 0x9be17165u);
    EXPECT_EQ(h(reinterpret_cast<const CHubDevice*>(std::uintptr_t{0x0102030405060708})), 0xb37ef675u);

    unit_group group;
    busy_units busy;
    CHubDevice* a = group.add_unit(make_unit_address(ipv4_mapped(127, 7, 40, 1)));
    EXPECT_TRUE(busy.insert(a));
    EXPECT_FALSE(busy.insert(a));
    EXPECT_EQ(busy.size(), 1u);
    EXPECT_TRUE(busy.erase(a));
    EXPECT_TRUE(busy.empty());
}

TEST(dispatch_test, guarded_dispatch_leaves_a_busy_unit_out)
{
    unit_group group;
    busy_units busy;
    CHubDevice& unit = *group.add_unit(make_unit_address(ipv4_mapped(127, 7, 41, 1)));
    gate g;
    unit.worker->post([&] { g.wait(); });
    unit.set_job_state(3, job_succeeded, 1);

    std::atomic<int> ran{0};
    EXPECT_FALSE(dispatch_job(busy, 6, unit, [&] { ++ran; }));
    EXPECT_FALSE(busy.contains(&unit));
    EXPECT_EQ(unit.job_kind.load(), 3) << "a unit left out keeps its job state";

    // Unguarded: queued behind the earlier work, state set at once.
    unit.job_progress.value->set(0.7);
    EXPECT_TRUE(dispatch_job(busy, 4, unit, [&] { ++ran; }, dispatch_form::unguarded));
    EXPECT_TRUE(busy.contains(&unit));
    EXPECT_EQ(unit.job_kind.load(), 4);
    EXPECT_EQ(unit.job_result.load(), job_running);
    EXPECT_EQ(unit.job_done.load(), 0);
    EXPECT_EQ(unit.job_progress.value->get(), 0.0);
    g.open();
    EXPECT_EQ(unit.worker->wait_idle(), 0);
    EXPECT_EQ(ran.load(), 1);

    // The operation's own condition.
    busy.clear();
    EXPECT_FALSE(dispatch_job(busy, 6, unit, [&] { ++ran; }, dispatch_form::guarded,
                              [](const CHubDevice& u) { return u.selected != 0; }));
    EXPECT_TRUE(busy.empty());
    unit.selected = 1;
    EXPECT_TRUE(dispatch_job(busy, 6, unit, [&] { ++ran; }, dispatch_form::guarded,
                             [](const CHubDevice& u) { return u.selected != 0; }));
    EXPECT_EQ(unit.worker->wait_idle(), 0);
    EXPECT_EQ(ran.load(), 2);
}

struct counting_listener final : unit_listener {
    int finished = 0;
    int ready = 0;
    void job_finished(CHubDevice&) override { ++finished; }
    void unit_ready(CHubDevice&) override { ++ready; }
};

TEST(completion_test, a_finished_job_of_another_kind_leaves_busy_units_and_the_unit_stays)
{
    headless_bridge bridge;
    scripted_dialogs ui;
    AppSettings settings;
    counting_listener listener;
    unit_manager manager(bridge, ui, settings, &listener);
    CHubDevice& unit = *manager.group().add_unit(make_unit_address(ipv4_mapped(127, 7, 42, 1)));
    int hook = 0;
    manager.other_job_done = [&](CHubDevice& u) {
        EXPECT_FALSE(manager.busy().contains(&u)) << "busy_units is updated before the operation's own step";
        ++hook;
    };

    // A job that reports without job_done set is ignored.
    CHubDevice* target = &unit;
    ASSERT_TRUE(dispatch_job(manager.busy(), 3, unit, [&bridge, target] {
        bridge.send({WM_UNIT_JOB_DONE, 0, reinterpret_cast<std::intptr_t>(target)});
    }));
    ASSERT_TRUE(bridge.run_until([&] { return unit.worker->pending() == 0; }, 10s));
    bridge.pump(0ms);
    EXPECT_TRUE(manager.busy().contains(&unit));
    EXPECT_EQ(hook, 0);

    manager.busy().clear();
    ASSERT_TRUE(dispatch_job(manager.busy(), 3, unit, [&bridge, target] {
        target->job_result = job_failed;
        target->job_done = 1;
        bridge.send({WM_UNIT_JOB_DONE, 0, reinterpret_cast<std::intptr_t>(target)});
    }));
    ASSERT_TRUE(bridge.run_until([&] { return manager.busy().empty(); }, 10s));
    EXPECT_EQ(hook, 1);
    EXPECT_EQ(listener.finished, 1);
    EXPECT_EQ(listener.ready, 0);
    EXPECT_EQ(manager.group().units().size(), 1u) << "only a failed refresh removes a unit";
}

TEST(completion_test, dropped_address_lists_load_in_order_and_other_messages_reach_the_hook)
{
    headless_bridge bridge;
    scripted_dialogs ui;
    AppSettings settings;
    unit_manager manager(bridge, ui, settings);
    manager.env().factory = [](std::shared_ptr<conn_sess>, int) { return probe_result{}; };
    const auto dir = std::filesystem::temp_directory_path() / ("talvor-drop-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "one.txt") << "127.7.43.1\n";
    std::ofstream(dir / "two.txt") << "bad\n";
    std::ofstream(dir / "three.txt") << "127.7.43.3 127.7.43.1\n";
    const std::vector<std::filesystem::path> files{dir / "one.txt", dir / "two.txt", dir / "three.txt"};
    bridge.send({WM_DROP_ADDRESS_LISTS, reinterpret_cast<std::uintptr_t>(&files), 0});
    ASSERT_EQ(manager.group().units().size(), 2u);
    EXPECT_EQ(manager.group().units()[0]->label, "127.7.43.1");
    EXPECT_EQ(manager.group().units()[1]->label, "127.7.43.3");
    ASSERT_EQ(ui.tasks.size(), 1u);
    EXPECT_EQ(ui.tasks[0].main_instruction, "Address List \"two.txt\"");
    EXPECT_EQ(ui.tasks[0].content, "File format is invalid, error at line 1 !");

    unsigned seen = 0;
    manager.other_message = [&](const window_message& m, message_reply&) -> std::intptr_t {
        seen = m.id;
        return 5;
    };
    EXPECT_EQ(bridge.send({WM_DROP_FIRMWARE, 0, 0}), 5);
    EXPECT_EQ(seen, WM_DROP_FIRMWARE);
    ASSERT_TRUE(bridge.run_until([&] { return manager.idle(); }, 20s));
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace talvor::test
