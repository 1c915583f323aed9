// The general configuration reply: identity, versions, MAC, system type,
// capability defaults and corrections.
#include <gtest/gtest.h>

#include "tests/inventory/reader_fixture.h"

namespace talvor {
namespace {

using GenConf = test::ReaderFixture;

TEST_F(GenConf, NetworkVersionText)
{
    struct row { const char* text; version_triple want; };
    const row rows[] = {
        {"V0.61.3", {3, 61, 0}},  {"v1.2.3", {3, 2, 1}},      {"v65535.0.1", {1, 0, 65535}},
        {"v1.2", {}},             {"v1.2.3.4", {}},           {"v1.2.65536", {}},
        {"v1..3", {}},            {"v1.2.3 ", {}},            {"1.2.3", {}},
        {"v.1.2", {}},            {"v1.2.", {}},              {"v99999999999999999999.1.1", {}},
    };
    for (const row& r : rows) {
        gen_conf(std::string(R"({"fw_v_net":")") + r.text + "\"}");
        EXPECT_EQ(unit->net_version, r.want) << r.text;
    }
}

TEST_F(GenConf, SystemVersionTextHasTwoNumbers)
{
    gen_conf(R"({"fw_v_sys":"v5.50"})");
    EXPECT_EQ(unit->sys_version, (version_triple{0, 50, 5}));
    gen_conf(R"({"fw_v_sys":"v5.50.1"})");
    EXPECT_EQ(unit->sys_version, version_triple{});
}

TEST_F(GenConf, NumberEncodedVersions)
{
    gen_conf(R"({"fw_v_net":4660,"fw_v_sys":21281})"); // 0x1234, 0x5321
    EXPECT_EQ(unit->net_version, (version_triple{4, 0x23, 1}));
    EXPECT_EQ(unit->sys_version, (version_triple{1, 0x32, 5}));
    // Not a usable number: the member is skipped like one of a wrong type.
    gen_conf(R"({"fw_v_net":1e300,"fw_v_sys":abc})");
    EXPECT_EQ(unit->net_version, version_triple{});
    EXPECT_EQ(unit->sys_version, version_triple{});
}

TEST_F(GenConf, TextIdByteOrderAndUnprintableBytes)
{
    gen_conf(R"({"textid":1145258561})"); // 0x44434241
    EXPECT_EQ(unit->text_id, "BADC");
    gen_conf(R"({"textid":4407873})"); // 0x00434241
    EXPECT_EQ(unit->text_id, "BA?C");
    gen_conf(R"({"textid":"ABCD"})");
    EXPECT_EQ(unit->text_id, "");
}

TEST_F(GenConf, MacText)
{
    const mac_address want{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    gen_conf(R"({"mac0":"00:1a:2B:3c:4d:5e"})");
    EXPECT_EQ(unit->mac, want);
    gen_conf(R"({"mac0":"0:1:2:3:4:5"})");
    EXPECT_EQ(unit->mac, (mac_address{0, 1, 2, 3, 4, 5}));

    for (const char* bad : {"00:1a:2b:3c:4d", "00:1a:2b:3c:4d:5e:6f", "00:1a:2b:3c:4d:5e:", "100:1a:2b:3c:4d:5e",
                            "00-1a-2b-3c-4d-5e", ":00:1a:2b:3c:4d", "00:1a:2b:3c:4d:5g", "0000000000001:1:1:1:1:1x"}) {
        gen_conf(std::string(R"({"mac0":")") + bad + "\"}");
        EXPECT_EQ(unit->mac, unknown_mac) << bad;
    }
    // Every reply starts from an unknown MAC.
    gen_conf(R"({"mac0":"00:1a:2b:3c:4d:5e"})");
    gen_conf(R"({"mac0":12})");
    EXPECT_EQ(unit->mac, unknown_mac);
}

TEST_F(GenConf, IdentityTextsAndLabel)
{
    gen_conf("{\"SER\":\"Z\xc3\xa9\x01\",\"bacnet_desc\":\"Room 4\"}");
    EXPECT_EQ(unit->serial, "Z???");
    EXPECT_EQ(unit->description, "Room 4");
    EXPECT_EQ(unit->label, "Z??? [192.168.1.20]");
    gen_conf(R"({"ser":42,"bacnet_desc":["x"]})");
    EXPECT_EQ(unit->serial, "");
    EXPECT_EQ(unit->description, "");
    EXPECT_EQ(unit->label, "[192.168.1.20]");
}

TEST_F(GenConf, CwmSystemVariant)
{
    gen_conf(R"({"system":"622-CWM","fw_v_net":"v1.0.0"})");
    EXPECT_EQ(unit->system_type, system_talvor);
    EXPECT_EQ(unit->capabilities, 0x17u);
    EXPECT_EQ(unit->cwm_variant, 1);
    EXPECT_EQ(unit->product_class, class_talvor_system);
    // Without progress reports the session must not poll for them.
    EXPECT_EQ(hub->flags, option_no_progress);
}

TEST_F(GenConf, SystemNameLeadingNumber)
{
    struct row { const char* system; int type; std::uint32_t caps; int cwm; };
    const row rows[] = {
        {R"("522")", system_orvane, 0, 0},        {"522", system_orvane, 0, 0},
        {"622", system_talvor, 0x17, 0},          {R"(" +622abc")", system_talvor, 0x17, 0},
        {R"("622-cwmx")", system_talvor, 0x17, 0}, {R"("-622")", system_orvane, 0, 0},
        {R"("99999999999999999999622")", system_orvane, 0, 0},
        {"true", system_orvane, 0, 0}, // a primitive: the name "1"
    };
    for (const row& r : rows) {
        gen_conf(std::string(R"({"fw_v_net":"v1.0.0","System":)") + r.system + "}");
        EXPECT_EQ(unit->system_type, r.type) << r.system;
        EXPECT_EQ(unit->capabilities, r.caps) << r.system;
        EXPECT_EQ(unit->cwm_variant, r.cwm) << r.system;
    }
}

// Without a system name the network firmware decides; major 0 with minor
// below 16 (or a second MAC) makes a Talvor hub.
TEST_F(GenConf, NoSystemNameDefaultsAroundTheVersionBoundary)
{
    struct row { const char* extra; int type; std::uint32_t caps; int cwm; };
    const row rows[] = {
        {R"("fw_v_net":"v0.40.0")", system_orvane, 0, 0},
        {R"("fw_v_net":"v0.16.0")", system_orvane, 0, 0},
        {R"("fw_v_net":"v0.15.9")", system_talvor, 0, 0},
        {R"("fw_v_net":"v0.2.0")", system_talvor, cap_sdcard, 1},
        {R"("fw_v_net":"v0.1.7")", system_talvor, cap_sdcard, 1},
        {R"("fw_v_net":"v0.0.0")", system_talvor, 0, 0},
        {R"("fw_v_net":"v0.40.0","mac1":"")", system_talvor, cap_sdcard, 0},
        {R"("fw_v_net":"v0.36.0","mac1":"x")", system_talvor, 0, 0},
        {R"("fw_v_net":"v1.0.0","mac1":"x")", system_talvor, cap_sdcard, 0},
        {R"("fw_v_net":"v0.40.0","mac1":7)", system_orvane, 0, 0},
    };
    for (const row& r : rows) {
        gen_conf(std::string("{") + r.extra + "}");
        EXPECT_EQ(unit->system_type, r.type) << r.extra;
        EXPECT_EQ(unit->capabilities, r.caps) << r.extra;
        EXPECT_EQ(unit->cwm_variant, r.cwm) << r.extra;
        EXPECT_EQ(unit->product_class, hub_product_class(r.type)) << r.extra;
    }
}

TEST_F(GenConf, ReportedCapabilitiesWinOverDefaults)
{
    gen_conf(R"({"system":"622","capabilities":384})"); // 0x180
    EXPECT_EQ(unit->capabilities, 0x180u);
    EXPECT_EQ(hub->flags, 0u);
    for (const char* bad : {R"("7")", "-1", "4294967296", "1e20", "nan"}) {
        gen_conf(std::string(R"({"system":"522","capabilities":)") + bad + "}");
        EXPECT_EQ(unit->capabilities, 0u) << bad;
    }
}

TEST_F(GenConf, SignatureAndProgressCorrections)
{
    struct row { const char* version; std::uint32_t caps_in; std::uint32_t caps_out; };
    const row rows[] = {
        {"v0.57.3", 0x21, 0xA1}, {"v0.57.4", 0x21, 0x81}, {"v0.58.0", 0x21, 0x81}, {"v0.58.9", 0x21, 0x81},
        {"v0.59.0", 0x21, 0x81}, {"v0.59.1", 0x21, 0xA1}, {"v0.59.2", 0x01, 0x81}, {"v0.59.3", 0x01, 0x01},
        {"v0.60.0", 0x21, 0xA1}, {"v0.58.0", 0xA1, 0xA1}, // progress reported: untouched
    };
    for (const row& r : rows) {
        hub->clear_flags();
        gen_conf(std::string(R"({"system":"622","fw_v_net":")") + r.version + R"(","capabilities":)" +
                 std::to_string(r.caps_in) + "}");
        EXPECT_EQ(unit->capabilities, r.caps_out) << r.version << " " << r.caps_in;
        EXPECT_EQ(hub->flags, (r.caps_out & cap_progress) ? 0u : option_no_progress) << r.version;
    }
}

TEST_F(GenConf, WebSocketSessionMeansCertificates)
{
    hub->kind = protocol_wss;
    gen_conf(R"({"system":"522"})");
    EXPECT_EQ(unit->capabilities, cap_certificates);
    // The auth-query bit is the reading order's business, never this reader's.
    EXPECT_EQ(hub->flags & option_auth_query, 0u);
}

TEST_F(GenConf, EachReplyStartsFromScratch)
{
    gen_conf(R"({"ser":"A1","textid":1145258561,"fw_v_net":"v1.2.3","fw_v_sys":"v5.50","capabilities":3})");
    gen_conf(R"([1,2,3])"); // not an object: nothing applies, but the reset stands
    EXPECT_EQ(unit->serial, "");
    EXPECT_EQ(unit->text_id, "");
    EXPECT_EQ(unit->net_version, version_triple{});
    EXPECT_EQ(unit->sys_version, version_triple{});
    EXPECT_EQ(unit->label, "[192.168.1.20]");
    EXPECT_EQ(unit->system_type, system_talvor); // v0.0: a Talvor hub by the rule
}

} // namespace
} // namespace talvor
