// Closing the tool while units are still being probed: the units' cancel
// reaches the probe, so shutting down does not wait out its time limits.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/connect/connect_fixture.h"
#include "tests/support/silent_listener.h"

namespace talvor::test {
namespace {

using namespace std::chrono_literals;

class probe_cancel_test : public connect_fixture {};

TEST_F(probe_cancel_test, shutting_down_ends_probes_of_units_that_accept_and_stall)
{
    manager->env().factory = probe_hub;
    constexpr int units = 256;
    std::vector<std::unique_ptr<silent_listener>> listeners;
    std::vector<silent_listener*> all;
    for (int i = 0; i < units; ++i) {
        const std::string a = "127.7.4" + std::to_string(i / 128) + "." + std::to_string(1 + i % 128);
        listeners.push_back(std::make_unique<silent_listener>(a));
        all.push_back(listeners.back().get());
        ASSERT_EQ(manager->add_device(a), add_result::added);
    }
    ASSERT_TRUE(silent_listener::all_connected(all, 20s));

    const auto start = std::chrono::steady_clock::now();
    manager->shut_down();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

} // namespace
} // namespace talvor::test
