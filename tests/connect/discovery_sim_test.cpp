// Discover, then connect: simulated units answer the broadcast in one
// test-made network namespace, the unit manager runs in the other.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "inventory/window_bridge_headless.h"
#include "operations/unit_manager.h"
#include "simulator/hubsim.h"
#include "tests/connect/netns.h"
#include "tests/connect/scripted_dialogs.h"

namespace talvor::test {
namespace {

using namespace std::chrono_literals;

struct listener_log final : unit_listener {
    std::vector<std::string> ready;
    std::vector<removed_unit> removed;
    int discoveries = 0;
    void unit_ready(CHubDevice& u) override { ready.push_back(u.label); }
    void unit_removed(const removed_unit& r) override { removed.push_back(r); }
    void discovery_finished() override { ++discoveries; }
};

TEST(discovery_sim_test, discovered_units_are_found_once_and_connected)
{
    netns_pair ns("tlvd6", 6);
    if (!ns.ok() || !shell("ip -n " + ns.b() + " addr add 10.213.6.3/24 dev vb"))
        GTEST_SKIP() << "network namespaces cannot be created here (needs root and iproute2); discovery is only "
                        "ever tested inside them";
    const auto work = std::filesystem::temp_directory_path() / ("talvor-dsim-" + std::to_string(::getpid()));

    // The fleet lives on a thread inside namespace b until `done`.
    std::mutex lock;
    std::condition_variable changed;
    bool serving = false, done = false;
    std::string failure;
    std::unique_ptr<sim::fleet_server> fleet;
    std::thread units([&] {
        const int fd = ::open(("/var/run/netns/" + ns.b()).c_str(), O_RDONLY | O_CLOEXEC);
        const bool in = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0)
            ::close(fd);
        try {
            if (in)
                fleet = std::make_unique<sim::fleet_server>(
                    R"({"discovery":"wildcard","units":[
                        {"name":"u1","kind":"http","address":"10.213.6.2"},
                        {"name":"u2","kind":"http","address":"10.213.6.3"}]})",
                    work);
            else
                failure = "cannot enter the namespace";
        } catch (const std::exception& e) {
            failure = e.what();
        }
        std::unique_lock<std::mutex> g(lock);
        serving = true;
        changed.notify_all();
        changed.wait_for(g, 60s, [&] { return done; });
        fleet.reset();
    });
    {
        std::unique_lock<std::mutex> g(lock);
        changed.wait_for(g, 30s, [&] { return serving; });
    }

    listener_log log;
    bool settled = false;
    std::size_t prompts = 0;
    if (failure.empty() && fleet) {
        run_in_netns(ns.a(), [&] {
            headless_bridge bridge;
            scripted_dialogs ui;
            AppSettings settings;
            settings.discover_flags = 1;
            settings.tls_checks = 0;
            ui.passwords = {"password", "password"};
            unit_manager manager(bridge, ui, settings, &log);
            if (manager.discover())
                settled = bridge.run_until([&] { return log.discoveries == 1 && manager.idle(); }, 30s);
            prompts = ui.password_prompts.size();
        });
    }
    std::size_t udp_u1 = 0;
    if (fleet)
        for (const auto& r : fleet->requests("u1"))
            udp_u1 += r.method == "UDP";
    {
        std::lock_guard<std::mutex> g(lock);
        done = true;
        changed.notify_all();
    }
    units.join();
    std::filesystem::remove_all(work);

    ASSERT_EQ(failure, "");
    EXPECT_TRUE(settled);
    EXPECT_EQ(udp_u1, 3u) << "one request per round";
    ASSERT_EQ(log.ready.size(), 2u) << (log.removed.empty() ? "" : failure_text(log.removed[0].reason));
    std::sort(log.ready.begin(), log.ready.end());
    EXPECT_EQ(log.ready[0], "u1 [10.213.6.2]");
    EXPECT_EQ(log.ready[1], "u2 [10.213.6.3]");
    EXPECT_GE(prompts, 1u);
    EXPECT_LE(prompts, 2u);
}

} // namespace
} // namespace talvor::test
