// Where a command points: the restart target of a TAP and a unit's web page.
#include <gtest/gtest.h>

#include "inventory/connection_worker.h"
#include "inventory/unit_group.h"
#include "operations/commands.h"
#include "operations/restart_target.h"
#include "tests/support/fake_hub.h"

namespace talvor::test {
namespace {

CTapDevice tap_at(int index, int bus, int bus_address)
{
    CTapDevice t(index);
    t.bus = bus;
    t.bus_address = bus_address;
    return t;
}

TEST(restart_target_test, by_network_firmware_version)
{
    struct row {
        version_triple net;
        CTapDevice tap;
        std::uint32_t target;
    };
    const row rows[] = {
        {{0, 50, 0}, tap_at(4, 1, 5), 5},                // by position
        {{0, 50, 0}, tap_at(255, 1, 5), no_restart_target},
        {{0, 51, 0}, tap_at(4, 1, 5), 0x00010501},       // byte-swapped
        {{0, 52, 0}, tap_at(4, 1, 5), 0x00010501},
        {{0, 60, 0}, tap_at(4, 1, 5), 0x0105},
        {{0, 60, 0}, tap_at(4, 4, 5), no_restart_target},
        {{0, 60, 0}, tap_at(4, 2, 256), no_restart_target},
        {{0, 10, 1}, tap_at(4, 3, 7), 0x0307},           // 1.10 is newer than 0.51
        {{0, 52, 1}, tap_at(4, 3, 7), 0x0307},           // no swap outside 0.51 and 0.52
    };
    for (const auto& r : rows)
        EXPECT_EQ(tap_restart_target(r.net, r.tap), r.target)
            << r.net.major << "." << r.net.minor << " index " << r.tap.index;
    EXPECT_EQ(tap_restart_argument(0x00010501, restart_taps), 0x01050106u);
}

TEST(browser_url_test, scheme_by_protocol_and_brackets_for_ipv6)
{
    unit_group group;
    ip_address v6{};
    v6[0] = 0xfd;
    v6[15] = 0x07;
    CHubDevice* v4_unit = group.add_unit(make_unit_address(ipv4_mapped(192, 168, 1, 20)));
    CHubDevice* v6_unit = group.add_unit(make_unit_address(v6));
    EXPECT_EQ(unit_browser_url(*v4_unit), ""); // no session yet

    auto tls = std::make_shared<fake_unit>();
    tls->http = false;
    install_hub(*v4_unit, std::make_unique<fake_hub>(tls, 0));
    install_hub(*v6_unit, std::make_unique<fake_hub>(std::make_shared<fake_unit>(), 0));
    EXPECT_EQ(unit_browser_url(*v4_unit), "https://192.168.1.20");
    EXPECT_EQ(unit_browser_url(*v6_unit), "http://[fd00::7]");
}

} // namespace
} // namespace talvor::test
