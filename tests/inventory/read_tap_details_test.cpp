// The TAP details reply (parallel per-TAP arrays) and the configuration
// category reply.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/inventory/reader_fixture.h"

namespace talvor {
namespace {

using TapDetails = test::ReaderFixture;
using ConfigCats = test::ReaderFixture;

std::string numbers(int n, int value)
{
    std::string s = "[";
    for (int i = 0; i < n; ++i)
        s += (i ? "," : "") + std::to_string(value);
    return s + "]";
}

std::string texts(int n, const std::string& value)
{
    std::string s = "[";
    for (int i = 0; i < n; ++i)
        s += (i ? ",\"" : "\"") + value + "\"";
    return s + "]";
}

// A reply of n contact modules; `override_key` gets `override_value`, or is
// left out when that is empty.
std::string uniform(int n, const std::string& override_key = "", const std::string& override_value = "")
{
    const std::vector<std::pair<std::string, std::string>> members = {
        {"delim", "[]"},          {"type", numbers(n, 12)},   {"sernr", texts(n, "s")},
        {"ccts", numbers(n, 1)},  {"fstcct", numbers(n, 0)}, {"caps", numbers(n, 0)},
        {"fwver", numbers(n, 0)}, {"fpgats", numbers(n, 0)}, {"chip_type", numbers(n, 0)},
    };
    std::string s = "{";
    for (const auto& [k, v] : members) {
        if (k == override_key && override_value.empty())
            continue; // left out
        s += (s.size() > 1 ? "," : "") + ("\"" + k + "\":") + (k == override_key ? override_value : v);
    }
    return s + "}";
}

TEST_F(TapDetails, ReadsEveryColumn)
{
    ASSERT_EQ(tap_details(R"({"delim":[2,4],"type":[3,9,11],"sernr":["T1","","R3"],"ccts":[8,3,24],
        "fstcct":[0,8,11],"caps":[0,5,21],"fwver":[165,4660,8209],"fpgats":[0,0,86400],"chip_type":[1,2,3]})"),
              0);
    EXPECT_EQ(unit->bus_sizes, (std::vector<int>{2, 4}));
    ASSERT_EQ(unit->taps.size(), 3u);
    const CTapDevice& a = *unit->taps[0];
    EXPECT_EQ(a.label, "T1");
    EXPECT_EQ(a.tap_class, tap_8_port);
    EXPECT_EQ(a.version, (version_triple{0, 5, 1})); // 0xA5: decimal digits 10 and 5
    EXPECT_EQ(a.bus, 0);
    EXPECT_EQ(a.bus_address, 1);
    EXPECT_EQ(a.detail_rows, 0x1F);
    EXPECT_EQ(a.chip_type, 1);
    const CTapDevice& b = *unit->taps[1];
    EXPECT_EQ(b.label, "#2");
    EXPECT_EQ(b.product_class, class_talvor_3phase_meter);
    EXPECT_EQ(b.version, (version_triple{4, 0x23, 1}));
    EXPECT_EQ(b.first_channel, 8);
    EXPECT_EQ(b.tap_caps, 5);
    const CTapDevice& c = *unit->taps[2];
    EXPECT_EQ(c.bus, 1);
    EXPECT_EQ(c.bus_address, 1);
    EXPECT_EQ(c.detail_rows, 0x1B);
    EXPECT_EQ(c.fw_raw, 8209);
    EXPECT_EQ(c.version, (version_triple{1, 1, 2}));
    EXPECT_EQ(c.fpga_timestamp, 86400u);
    EXPECT_EQ(c.index, 2);
}

TEST_F(TapDetails, BusPositionsFromDelim)
{
    ASSERT_EQ(tap_details(uniform(14, "delim", "[4,8]")), 0);
    ASSERT_EQ(unit->taps.size(), 14u);
    auto pos = [&](int i) { return std::make_pair(unit->taps[i]->bus, unit->taps[i]->bus_address); };
    EXPECT_EQ(pos(3), std::make_pair(0, 4));
    EXPECT_EQ(pos(4), std::make_pair(1, 1));
    EXPECT_EQ(pos(5), std::make_pair(1, 2));
    EXPECT_EQ(pos(12), std::make_pair(2, 1));
    EXPECT_EQ(pos(13), std::make_pair(2, 2));
    EXPECT_EQ(unit->taps[13]->label, "s");
    // No bus sizes: everything on bus 0 at index + 1.
    ASSERT_EQ(tap_details(uniform(14)), 0);
    EXPECT_EQ(pos(13), std::make_pair(0, 14));
}

TEST_F(TapDetails, AtMost256Taps)
{
    EXPECT_EQ(tap_details(uniform(256)), 0);
    EXPECT_EQ(unit->taps.size(), 256u);
    EXPECT_EQ(tap_details(uniform(257)), -1);
    EXPECT_EQ(unit->taps.size(), 256u); // a refused reply changes nothing
}

TEST_F(TapDetails, MissingKeys)
{
    EXPECT_EQ(tap_details(uniform(2, "chip_type")), 0);
    ASSERT_EQ(unit->taps.size(), 2u);
    EXPECT_EQ(unit->taps[0]->chip_type, 0);
    for (const char* key : {"delim", "type", "sernr", "ccts", "fstcct", "caps", "fwver", "fpgats"})
        EXPECT_EQ(tap_details(uniform(2, key)), -1) << key;
}

TEST_F(TapDetails, MalformedColumnsChangeNothing)
{
    ASSERT_EQ(tap_details(uniform(3, "delim", "[1]")), 0);
    const struct { const char* key; const char* value; } bad[] = {
        {"sernr", R"(["a","b"])"},     {"ccts", "[1,1]"},          {"ccts", R"([1,"1",1])"},
        {"sernr", "[1,2,3]"},          {"caps", "5"},              {"fwver", "{}"},
        {"type", "[12,12,abc]"},       {"ccts", "[1,1,1e300]"},    {"fpgats", "[0,0,-1]"},
        {"fpgats", "[0,0,4294967296]"}, {"delim", "[-1]"},         {"delim", R"(["4"])"},
        {"fstcct", "[0,[1],0]"},       {"chip_type", "[0,0,0,0]"}, {"type", "[]"},
    };
    for (const auto& b : bad) {
        EXPECT_EQ(tap_details(uniform(3, b.key, b.value)), -1) << b.key << " " << b.value;
        EXPECT_EQ(unit->taps.size(), 3u) << b.key << " " << b.value;
        EXPECT_EQ(unit->bus_sizes, std::vector<int>{1}) << b.key << " " << b.value;
    }
    EXPECT_EQ(tap_details(uniform(3, "fpgats", "[0,0,4294967295]")), 0);
    EXPECT_EQ(unit->taps[2]->fpga_timestamp, 4294967295u);
}

// An empty per-TAP array is read as "not reported": every TAP gets 0 or an
// empty text, never an element that is not there.
TEST_F(TapDetails, EmptyColumnsReadAsAbsent)
{
    ASSERT_EQ(tap_details(R"({"delim":[],"type":[11,13],"sernr":[],"ccts":[24,2],"fstcct":[],"caps":[],
        "fwver":[],"fpgats":[],"chip_type":[]})"),
              0);
    ASSERT_EQ(unit->taps.size(), 2u);
    EXPECT_EQ(unit->taps[1]->label, "#2");
    EXPECT_EQ(unit->taps[1]->serial, "");
    EXPECT_EQ(unit->taps[1]->first_channel, 0);
    EXPECT_EQ(unit->taps[1]->version, version_triple{});
    // Without channel counts no entry is a TAP.
    EXPECT_EQ(tap_details(R"({"delim":[],"type":[11,13],"sernr":[],"ccts":[],"fstcct":[],"caps":[],
        "fwver":[],"fpgats":[]})"),
              0);
    EXPECT_TRUE(unit->taps.empty());
    // No TAPs at all is a valid answer.
    EXPECT_EQ(tap_details(uniform(0, "delim", "[8]")), 0);
    EXPECT_TRUE(unit->taps.empty());
    EXPECT_EQ(unit->bus_sizes, std::vector<int>{8});
}

TEST_F(TapDetails, EmptySlotsKeepTheirPositions)
{
    ASSERT_EQ(tap_details(R"({"delim":[],"type":[3,0,3,3],"sernr":["","","",""],"ccts":[4,4,0,84],
        "fstcct":[0,0,0,0],"caps":[0,0,0,0],"fwver":[0,0,0,195],"fpgats":[0,0,0,0]})"),
              0);
    ASSERT_EQ(unit->taps.size(), 2u);
    EXPECT_EQ(unit->taps[0]->index, 0);
    EXPECT_EQ(unit->taps[1]->index, 3);
    EXPECT_EQ(unit->taps[1]->label, "#4");
    EXPECT_EQ(unit->taps[1]->tap_class, tap_meter);
    EXPECT_EQ(unit->taps[1]->version, (version_triple{0, 23, 1})); // 0xC3: 12 and 3 → 1.23
}

TEST_F(ConfigCats, NamesValuesAndVersion)
{
    ASSERT_EQ(config_cats(R"({"cats":[{"Logs":1},{"Network":2}],"version":3})"), 0);
    EXPECT_EQ(unit->config_version, 3);
    EXPECT_EQ(unit->config_categories, (std::vector<std::pair<int, int>>{{0, 1}, {1, 2}}));
    ASSERT_EQ(config_cats(R"({"cats":[{"network":7},{"logs":8},{"Meters":true}]})"), 0);
    EXPECT_EQ(unit->config_version, 1);
    EXPECT_EQ(unit->config_categories, (std::vector<std::pair<int, int>>{{1, 7}, {0, 8}, {2, 1}}));
    EXPECT_EQ(group.category_name(1), "Network");
    EXPECT_EQ(config_cats(R"({"cats":[]})"), 0);
    EXPECT_TRUE(unit->config_categories.empty());
}

TEST_F(ConfigCats, MalformedRepliesChangeNothing)
{
    ASSERT_EQ(config_cats(R"({"cats":[{"Logs":1}],"version":3})"), 0);
    for (const char* bad : {R"({"version":3})", R"({"cats":{"Logs":1}})", R"({"cats":[{"Logs":1},5]})",
                            R"({"cats":[{"A":1,"B":2}]})", R"({"cats":[{}]})", R"({"cats":[{"New":"1"}]})",
                            R"({"cats":[{"New":[1]}]})", R"({"cats":[{"New":1e300}]})",
                            R"({"cats":[{"New":1}],"version":"2"})", R"({"cats":[{"New":1}],"version":x})",
                            R"([{"cats":[]}])"}) {
        EXPECT_EQ(config_cats(bad), -1) << bad;
        EXPECT_EQ(unit->config_version, 3) << bad;
        EXPECT_EQ(unit->config_categories.size(), 1u) << bad;
    }
    // A refused reply does not grow the shared dictionary either.
    EXPECT_EQ(group.category_count(), 1u);
}

} // namespace
} // namespace talvor
