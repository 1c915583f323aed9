// Code tables, classification, address text and the unit record's life.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "inventory/code_tables.h"
#include "inventory/hub_device.h"
#include "inventory/tap_device.h"
#include "inventory/unit_address.h"
#include "inventory/unit_group.h"
#include "tests/support/fake_hub.h"

namespace talvor {
namespace {

TEST(CodeTables, NamesAsUnitsShowThem)
{
    EXPECT_EQ(tap_class_name(tap_rail_module_left), "Rail Mdoule (left)");
    EXPECT_EQ(tap_class_name(tap_rail_module_right), "Rail Module (right)");
    EXPECT_EQ(tap_class_name(tap_icorlen), "iCorlen");
    EXPECT_EQ(product_class_name(class_ferro_module), "Ferro 2.0 Module");
    EXPECT_EQ(product_class_name(class_ambient_hub), "Ambient Hub");
    EXPECT_EQ(system_type_name(system_talvor), "Talvor");
    // The "not known" codes and anything outside the tables.
    EXPECT_EQ(system_type_name(system_unknown), "???");
    EXPECT_EQ(product_class_name(class_unknown), "???");
    EXPECT_EQ(product_class_name(0x900D), "???");
    EXPECT_EQ(tap_class_name(tap_unknown), "???");
    EXPECT_EQ(tap_class_name(0x2010), "???");
    EXPECT_EQ(hub_product_class(system_orvane), class_orvane_system);
    EXPECT_EQ(hub_product_class(system_talvor), class_talvor_system);
    EXPECT_EQ(hub_product_class(system_unknown), class_unknown);
}

TEST(Classify, ByKindAndChannelCount)
{
    struct row { int kind, channels, tap_class, product_class; };
    const row rows[] = {
        {3, 8, tap_8_port, class_multi_port_tap},   {3, 21, tap_icorlen, class_multi_port_tap},
        {3, 84, tap_meter, class_orvane_meter},     {3, 5, tap_4_port, class_multi_port_tap},
        {9, 3, tap_talvor_3phase_meter, class_talvor_3phase_meter},
        {10, 3, tap_dc, class_dc_sense_tap},        {11, 24, tap_rail_module, class_rail_module},
        {15, 1, tap_rail_module, class_rail_module}, {12, 1, tap_contact_module, class_contact_module},
        {13, 1, tap_trunk_module, class_trunk_module}, {14, 1, tap_ferro_module, class_ferro_module},
        {16, 1, tap_corlen_pdi, class_rail_module}, {17, 1, tap_rail_module_right, class_rail_module},
        {18, 1, tap_rail_module_left, class_rail_module}, {19, 1, tap_senta_module, class_rail_module},
        {20, 1, tap_talvor_compact, class_rail_module}, {21, 1, tap_unknown, class_unknown},
        {0, 8, tap_unknown, class_unknown},
    };
    for (const row& r : rows) {
        CTapDevice tap(0);
        tap.kind = r.kind;
        tap.channel_count = r.channels;
        tap.tap_class = 0x1234; // classify must overwrite, not keep
        classify(tap);
        EXPECT_EQ(tap.tap_class, r.tap_class) << "kind " << r.kind << " channels " << r.channels;
        EXPECT_EQ(tap.product_class, r.product_class) << "kind " << r.kind << " channels " << r.channels;
    }
}

TEST(UnitAddress, TextAndLayout)
{
    EXPECT_EQ(address_text(ipv4_mapped(192, 168, 1, 20)), "192.168.1.20");
    ip_address v6{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01};
    EXPECT_EQ(address_text(v6), "2001:db8::1");
    ip_address loopback{};
    loopback[15] = 1;
    EXPECT_EQ(address_text(loopback), "::1");

    unit_address u = make_unit_address(ipv4_mapped(10, 0, 0, 1));
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&u);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(raw[i], 0xff);
    EXPECT_EQ(raw[6], 0);
    EXPECT_EQ(raw[7], 0);
    EXPECT_EQ(raw[8 + 10], 0xff);
    EXPECT_EQ(raw[8 + 12], 10);
    EXPECT_EQ(raw[8 + 15], 1);
    EXPECT_FALSE(u.mac_known());
}

TEST(HubDevice, ValuesAtCreation)
{
    unit_group group;
    const mac_address mac{0, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    CHubDevice* unit = group.add_unit(make_unit_address(ipv4_mapped(192, 168, 1, 20), mac));
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(unit->label, "192.168.1.20");
    EXPECT_EQ(unit->job_result.load(), job_running);
    EXPECT_EQ(unit->job_kind.load(), 0);
    EXPECT_EQ(unit->job_done.load(), 0);
    EXPECT_EQ(unit->system_type, system_unknown);
    EXPECT_EQ(unit->product_class, class_unknown);
    EXPECT_EQ(unit->tree_item, no_tree_node);
    EXPECT_EQ(unit->mac, mac);
    EXPECT_EQ(unit->group, &group);
    EXPECT_EQ(unit->hub, nullptr);
    ASSERT_NE(unit->worker, nullptr);
    EXPECT_EQ(unit->identity(), make_unit_address(ipv4_mapped(192, 168, 1, 20), mac));

    CTapDevice tap(4);
    EXPECT_EQ(tap.bus_address, 5);
    EXPECT_EQ(tap.tree_item, no_tree_node);
    EXPECT_EQ(tap.tap_class, tap_unknown);
    EXPECT_EQ(tap.product_class, class_unknown);
}

TEST(HubDevice, JobStateResetKeepsSharedProgressValue)
{
    unit_group group;
    CHubDevice* unit = group.add_unit(make_unit_address(ipv4_mapped(10, 0, 0, 2)));
    auto shared = unit->job_progress.value;
    unit->job_progress = unit->job_progress.sub(0.5, 1.0);
    shared->set(0.7);
    unit->set_job_state(4, job_running, 0);
    EXPECT_EQ(unit->job_kind.load(), 4);
    EXPECT_EQ(unit->job_progress.low, 0.0);
    EXPECT_EQ(unit->job_progress.high, 1.0);
    EXPECT_EQ(unit->job_progress.value, shared); // a progress dialog may already hold it
    EXPECT_EQ(shared->get(), 0.0);
}

// A job blocked on the network must see the cancel before the record frees
// what it uses; otherwise destruction would wait for the job's time-out.
TEST(HubDevice, DestructionCancelsThenJoinsRunningJob)
{
    std::atomic<bool> started{false};
    std::atomic<int> outcome{0}; // 1 saw the cancel, 2 timed out
    {
        unit_group group;
        CHubDevice* unit = group.add_unit(make_unit_address(ipv4_mapped(10, 0, 0, 3)));
        unit->hub = std::make_unique<test::fake_hub>();
        unit->worker->post([unit, &started, &outcome] {
            started = true;
            for (int i = 0; i < 1000; ++i) { // at most ten seconds
                if (!unit->hub->wait_cancel(0)) {
                    outcome = 1;
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            outcome = 2;
        });
        while (!started)
            std::this_thread::yield();
    }
    EXPECT_EQ(outcome.load(), 1);
}

} // namespace
} // namespace talvor
