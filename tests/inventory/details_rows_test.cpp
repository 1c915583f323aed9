// The rows the details list shows for a unit and for its TAPs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "inventory/details_rows.h"
#include "inventory/unit_group.h"
#include "tests/inventory/reader_fixture.h"

namespace talvor {
namespace {

using DetailsRows = test::ReaderFixture;

std::vector<std::string> names(const std::vector<details_row>& rows)
{
    std::vector<std::string> n;
    for (const auto& r : rows)
        n.push_back(r.first);
    return n;
}

std::vector<details_row> of_tap(const CTapDevice& tap)
{
    std::vector<details_row> rows;
    tap_details_rows(tap, rows);
    return rows;
}

TEST_F(DetailsRows, UnitRowsInOrder)
{
    gen_conf(R"({"system":"622","ser":"S-9","bacnet_desc":"Plant","textid":1145258561,"fw_v_net":"v1.2.3",
        "mac0":"00:1A:2b:3c:4d:5e","capabilities":224})"); // 0xE0: signed, production, progress
    unit->sd_card_gb = 8;
    std::vector<details_row> rows{{"kept", "as is"}};
    unit_details_rows(*unit, rows);
    const std::vector<details_row> want = {
        {"kept", "as is"},
        {"Product", "Talvor"},
        {"Serial Number", "S-9"},
        {"Description", "Plant"},
        {"Text Identifier", "BADC"},
        {"Firmware Version", "v1.2.3"},
        {"IP Address", "192.168.1.20"},
        {"MAC Address", "00:1a:2b:3c:4d:5e"},
        {"SD-Card Size", "8GB"},
        {"Firmware Signature", "Required"},
        {"Connection Type", "HTTP"},
    };
    EXPECT_EQ(rows, want);
}

TEST_F(DetailsRows, UnitValueVariants)
{
    auto value = [&](const std::string& name) {
        std::vector<details_row> rows;
        unit_details_rows(*unit, rows);
        for (const auto& r : rows)
            if (r.first == name)
                return r.second;
        return std::string("<missing>");
    };
    EXPECT_EQ(value("Product"), "???");
    EXPECT_EQ(value("SD-Card Size"), "No Card");
    EXPECT_EQ(value("MAC Address"), "ff:ff:ff:ff:ff:ff");
    EXPECT_EQ(value("Firmware Signature"), "None");
    unit->capabilities = cap_signature | cap_certificates;
    EXPECT_EQ(value("Firmware Signature"), "Required (Development)");
    EXPECT_EQ(value("Connection Type"), "HTTPS");
    unit->system_type = system_orvane;
    EXPECT_EQ(value("Product"), "Orvane");
}

TEST_F(DetailsRows, TapsOnBusZeroAndBusOne)
{
    ASSERT_EQ(tap_details(R"({"delim":[1],"type":[11,13],"sernr":["R1","T2"],"ccts":[24,6],"fstcct":[4,30],
        "caps":[21,0],"fwver":[8209,49],"fpgats":[86399,0]})"),
              0);
    const std::vector<details_row> rail = {
        {"Product", "Rail Module"},      {"Serial Number", "R1"},       {"Bus Address", "1"},
        {"Channel Count", "24"},         {"Channel Numbers", "5 - 28"}, {"Firmware Version", "v2.1.1"},
        {"Harmonics", "Yes"},            {"Waveform Capture", "Yes"},   {"Enviromental Sensors", "Yes"},
        {"FPGA Timestamp", "1970-01-01 23:59:59"},
    };
    EXPECT_EQ(of_tap(*unit->taps[0]), rail);
    const std::vector<details_row> trunk = {
        {"Product", "Trunk Module"}, {"Serial Number", "T2"},  {"Bus Address", "1"},
        {"Channel Count", "6"},      {"Firmware Version", "v0.3.1"}, {"Harmonics", "No"},
        {"Waveform Capture", "No"},  {"Enviromental Sensors", "No"},
    };
    EXPECT_EQ(of_tap(*unit->taps[1]), trunk);
}

TEST_F(DetailsRows, MultiPortVersionAndClassesWithoutAbilities)
{
    ASSERT_EQ(tap_details(R"({"delim":[],"type":[3,12],"sernr":["",""],"ccts":[4,2],"fstcct":[0,0],
        "caps":[21,21],"fwver":[165,0],"fpgats":[0,0]})"),
              0);
    EXPECT_EQ(names(of_tap(*unit->taps[0])),
              (std::vector<std::string>{"Product", "Serial Number", "Bus Address", "Channel Count", "Channel Numbers",
                                        "Firmware Version"}));
    EXPECT_EQ(of_tap(*unit->taps[0])[5].second, "v1.05");
    EXPECT_EQ(of_tap(*unit->taps[1]).size(), 6u); // a contact module shows no ability rows
}

TEST_F(DetailsRows, TapsFromRegisters)
{
    unit->system_type = system_talvor;
    unit->sys_version = {7, 4, 2};
    unit->net_version = {0, 0, 1};
    hub->modbus_by_start[4100] = R"({"regs":[24,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]})";
    list_taps_from_registers(*unit);
    ASSERT_EQ(unit->taps.size(), 2u);
    EXPECT_EQ(of_tap(*unit->taps[1]), (std::vector<details_row>{
                                          {"Product", "Rail Module"}, {"Bus Address", "1"}, {"Channel Count", "24"}}));
    EXPECT_EQ(of_tap(*unit->taps[0]),
              (std::vector<details_row>{{"Product", "Talvor 3 Phase Meter"},
                                        {"Bus Address", "31"},
                                        {"Channel Count", "3"},
                                        {"Firmware Version", "v2.4.7"}}));
}

TEST_F(DetailsRows, FpgaTimestampEdges)
{
    CTapDevice tap(0);
    tap.kind = 11;
    classify(tap);
    tap.detail_rows = 0x1F;
    tap.tap_caps = tap_cap_waveform;
    tap.fpga_timestamp = 0;
    EXPECT_EQ(of_tap(tap).back().second, "1970-01-01 00:00:00");
    tap.fpga_timestamp = 4294967295u;
    EXPECT_EQ(of_tap(tap).back().second, "2106-02-07 06:28:15");
    tap.fpga_timestamp = 951782400; // 2000-02-29, a leap day
    EXPECT_EQ(of_tap(tap).back().second, "2000-02-29 00:00:00");
    tap.tap_caps = 0; // no waveform capture: no FPGA row
    EXPECT_EQ(of_tap(tap).back().first, "Enviromental Sensors");
    tap.first_channel = 2147483647;
    tap.channel_count = 2147483647;
    EXPECT_EQ(of_tap(tap)[4].second, "2147483648 - 4294967294");
}

} // namespace
} // namespace talvor

namespace talvor {
namespace {

TEST(SelectionDetails, MergesByNameAndPrefersUnits)
{
    unit_group g;
    CHubDevice* a = g.add_unit(make_unit_address(ipv4_mapped(192, 168, 9, 1)));
    CHubDevice* b = g.add_unit(make_unit_address(ipv4_mapped(192, 168, 9, 2)));
    for (CHubDevice* u : {a, b}) {
        u->system_type = system_talvor;
        u->selected = 1;
    }
    a->net_version = {3, 2, 1};
    b->net_version = {4, 2, 1};
    auto tap = std::make_unique<CTapDevice>(0);
    tap->kind = 11;
    classify(*tap);
    tap->selected = 1;
    b->taps.push_back(std::move(tap));

    auto rows = selection_details(g);
    ASSERT_EQ(rows.size(), 10u); // the units' rows only: TAPs count when no unit is selected
    EXPECT_EQ(rows[0].name, "Product");
    EXPECT_EQ(rows[0].value, "Talvor");
    EXPECT_FALSE(rows[0].various);
    EXPECT_EQ(rows[4].name, "Firmware Version");
    EXPECT_TRUE(rows[4].various);
    EXPECT_EQ(rows[4].value, "");
    EXPECT_TRUE(rows[5].various); // two addresses

    a->selected = b->selected = 0;
    rows = selection_details(g);
    ASSERT_EQ(rows.size(), 2u); // no detail bits: product and bus address
    EXPECT_EQ(rows[0].value, "Rail Module");

    // A name once "various" stays so, even when a later value matches the first.
    std::vector<merged_row> m;
    merge_row(m, {"N", "1"});
    merge_row(m, {"N", "2"});
    merge_row(m, {"N", "1"});
    merge_row(m, {"M", "x"});
    ASSERT_EQ(m.size(), 2u);
    EXPECT_TRUE(m[0].various);
    EXPECT_FALSE(m[1].various);
}

} // namespace
} // namespace talvor
