// TAPs listed from bus registers, and the reading order of a refresh.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/inventory/reader_fixture.h"

namespace talvor {
namespace {

using Registers = test::ReaderFixture;
using ReadingOrder = test::ReaderFixture;

std::string regs_reply(const std::vector<std::string>& values)
{
    std::string s = R"({"regs":[)";
    for (std::size_t i = 0; i < values.size(); ++i)
        s += (i ? "," : "") + values[i];
    return s + "]}";
}

std::string regs_reply(int count) { return regs_reply(std::vector<std::string>(count, "0")); }

TEST_F(Registers, OrvaneBuiltInMeterAndVersionGate)
{
    unit->system_type = system_orvane;
    unit->sys_version = {0, 49, 5};
    hub->modbus_by_start[4800] = regs_reply(30);
    list_taps_from_registers(*unit);
    ASSERT_EQ(unit->taps.size(), 1u);
    const CTapDevice& m = *unit->taps[0];
    EXPECT_EQ(m.label, "#0");
    EXPECT_EQ(m.index, 0);
    EXPECT_EQ(m.tap_class, tap_meter);
    EXPECT_EQ(m.product_class, class_orvane_meter);
    EXPECT_EQ(m.detail_rows, row_firmware);
    EXPECT_EQ(m.version, (version_triple{0, 49, 5}));
    EXPECT_TRUE(hub->calls.empty()); // before 5.50 the bus registers are not read

    for (version_triple v : {version_triple{0, 50, 5}, version_triple{0, 0, 6}}) {
        hub->calls.clear();
        unit->sys_version = v;
        list_taps_from_registers(*unit);
        ASSERT_EQ(hub->calls, std::vector<std::string>{"modbus_get 4800 30 1"});
        EXPECT_EQ(unit->taps.size(), 1u);
    }
}

TEST_F(Registers, TalvorStartRegister)
{
    unit->system_type = system_talvor;
    struct row { int cwm; version_triple net; const char* call; };
    const row rows[] = {
        {0, {0, 19, 0}, "modbus_get 4800 30 1"}, {0, {0, 20, 0}, "modbus_get 4100 30 1"},
        {1, {0, 2, 0}, "modbus_get 4100 30 1"},  {0, {0, 0, 1}, "modbus_get 4100 30 1"},
    };
    for (const row& r : rows) {
        hub->calls.clear();
        unit->cwm_variant = r.cwm;
        unit->net_version = r.net;
        list_taps_from_registers(*unit);
        EXPECT_EQ(hub->calls, std::vector<std::string>{r.call});
        ASSERT_EQ(unit->taps.size(), 1u);
        const CTapDevice& m = *unit->taps[0];
        EXPECT_EQ(m.label, "#31");
        EXPECT_EQ(m.index, 30);
        EXPECT_EQ(m.bus_address, 31);
        EXPECT_EQ(m.product_class, class_talvor_3phase_meter);
        EXPECT_EQ(m.tap_caps, 0x0D);
        EXPECT_EQ(m.detail_rows, row_channel_count | row_firmware);
    }
}

TEST_F(Registers, AcceptedChannelCounts)
{
    unit->system_type = system_talvor;
    std::vector<std::string> v(30, "0");
    const char* values[] = {"3",     "4",     "8",     "21", "24",  "30",    "42",   "0",  "65535", "65536",
                            "65533", "65532", "32768", "5",  "\"3\"", "null", "-3", "1e300", "12", "true",
                            "[4]",   "4.9"};
    for (std::size_t i = 0; i < std::size(values); ++i)
        v[i] = values[i];
    hub->modbus_by_start[4800] = regs_reply(v);
    list_taps_from_registers(*unit);

    struct want { int index; int channels; int kind; int tap_class; };
    const want expected[] = {
        {0, 3, 10, tap_dc},      {1, 4, 3, tap_4_port},        {2, 8, 3, tap_8_port},
        {3, 21, 3, tap_icorlen}, {4, 24, 11, tap_rail_module}, {5, 30, 11, tap_rail_module},
        {6, 42, 11, tap_rail_module},
        {10, 3, 10, tap_dc}, // 0xFFFD: bit 15 set, so 65536 - v = 3
        {11, 4, 3, tap_4_port},
        {21, 4, 3, tap_4_port}, // 4.9 truncates to 4
    };
    ASSERT_EQ(unit->taps.size(), 1 + std::size(expected));
    for (std::size_t k = 0; k < std::size(expected); ++k) {
        const CTapDevice& t = *unit->taps[k + 1];
        const want& w = expected[k];
        EXPECT_EQ(t.index, w.index) << k;
        EXPECT_EQ(t.bus_address, w.index + 1) << k;
        EXPECT_EQ(t.label, "#" + std::to_string(w.index + 1)) << k;
        EXPECT_EQ(t.channel_count, w.channels) << k;
        EXPECT_EQ(t.kind, w.kind) << k;
        EXPECT_EQ(t.tap_class, w.tap_class) << k;
        EXPECT_EQ(t.detail_rows, row_channel_count) << k;
    }
    EXPECT_EQ(unit->taps[1]->product_class, class_dc_sense_tap);
}

TEST_F(Registers, UnusableRepliesLeaveOnlyTheMeter)
{
    unit->system_type = system_talvor;
    unit->taps.push_back(std::make_unique<CTapDevice>(7)); // from an earlier refresh
    for (const std::string& reply : {regs_reply(29), regs_reply(31), std::string(R"({"regs":4})"),
                                     std::string(R"({"reg":[]})"), std::string("")}) {
        hub->modbus_by_start.clear();
        if (!reply.empty())
            hub->modbus_by_start[4800] = reply;
        list_taps_from_registers(*unit);
        ASSERT_EQ(unit->taps.size(), 1u) << reply;
        EXPECT_EQ(unit->taps[0]->index, 30) << reply;
    }
    unit->system_type = system_unknown;
    hub->calls.clear();
    list_taps_from_registers(*unit);
    EXPECT_TRUE(unit->taps.empty());
    EXPECT_TRUE(hub->calls.empty());
}

const char* talvor_conf = R"({"system":"622","fw_v_net":"v1.0.0","capabilities":131,"mac0":"00:1a:2b:3c:4d:5e"})";

TEST_F(ReadingOrder, FullRefresh)
{
    hub->gen_conf = {talvor_conf};
    hub->sd_registers = std::vector<int>{8};
    hub->config_cats = {R"({"cats":[{"Logs":1}]})"};
    hub->tap_details = {R"({"delim":[],"type":[11],"sernr":["R1"],"ccts":[24],"fstcct":[0],"caps":[0],
        "fwver":[0],"fpgats":[0]})"};
    EXPECT_EQ(read_unit_information(*unit), 0);
    EXPECT_EQ(hub->calls, (std::vector<std::string>{"get_gen_conf", "modbus_read 4584 1", "get_config_cats",
                                                    "get_tap_details", "logout"}));
    EXPECT_EQ(unit->sd_card_gb, 8);
    EXPECT_EQ(unit->capabilities, 131u);
    ASSERT_EQ(unit->taps.size(), 1u);
    EXPECT_EQ(unit->taps[0]->label, "R1");
    EXPECT_EQ(unit->config_categories.size(), 1u);
    EXPECT_EQ(hub->flags, 0u);
}

TEST_F(ReadingOrder, GeneralConfigurationRetries)
{
    hub->gen_conf = {std::nullopt, talvor_conf};
    EXPECT_EQ(read_unit_information(*unit), 0);
    EXPECT_EQ(hub->calls[0], "get_gen_conf");
    EXPECT_EQ(hub->calls[1], "get_gen_conf");
    EXPECT_EQ(hub->flags & option_auth_query, option_auth_query);
    EXPECT_EQ(unit->system_type, system_talvor);

    hub->calls.clear();
    hub->clear_flags();
    hub->gen_conf = {"{not json", std::nullopt};
    hub->conf = {talvor_conf};
    EXPECT_EQ(read_unit_information(*unit), 0);
    EXPECT_EQ(hub->calls[2], "get_conf");
    EXPECT_EQ(unit->mac, (mac_address{0, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}));

    hub->calls.clear();
    EXPECT_EQ(read_unit_information(*unit), -1);
    EXPECT_EQ(hub->calls, (std::vector<std::string>{"get_gen_conf", "get_gen_conf", "get_conf"}));
}

TEST_F(ReadingOrder, FailedReadsClearTheirCapability)
{
    unit->sd_card_gb = 16; // from an earlier refresh
    hub->gen_conf = {talvor_conf};
    hub->config_cats = {R"({"cats":5})"};
    hub->tap_details = {R"({"type":[]})"};
    hub->modbus_by_start[4100] = regs_reply(30);
    EXPECT_EQ(read_unit_information(*unit), 0);
    EXPECT_EQ(unit->capabilities, 0x80u);
    EXPECT_EQ(unit->sd_card_gb, 0);
    EXPECT_EQ(hub->calls, (std::vector<std::string>{"get_gen_conf", "modbus_read 4584 1", "get_config_cats",
                                                    "get_tap_details", "modbus_get 4100 30 1", "logout"}));
    ASSERT_EQ(unit->taps.size(), 1u); // the built-in meter

    // No reply at all clears the bits the same way.
    hub->calls.clear();
    hub->gen_conf = {talvor_conf};
    EXPECT_EQ(read_unit_information(*unit), 0);
    EXPECT_EQ(unit->capabilities, 0x80u);

    // Without the TAP details bit the registers are read directly.
    hub->calls.clear();
    hub->gen_conf = {R"({"system":"622","fw_v_net":"v1.0.0","capabilities":128})"};
    EXPECT_EQ(read_unit_information(*unit), 0);
    EXPECT_EQ(hub->calls, (std::vector<std::string>{"get_gen_conf", "modbus_read 4584 1", "modbus_get 4100 30 1",
                                                    "logout"}));
}

TEST_F(ReadingOrder, NoSessionFails)
{
    unit->hub.reset();
    hub = nullptr;
    EXPECT_EQ(read_unit_information(*unit), -1);
}

} // namespace
} // namespace talvor
