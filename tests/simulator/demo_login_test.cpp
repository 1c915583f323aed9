// The demo fleet read over both wire forms by the tests' own client.
#include "sim_fixture.h"

#include <gtest/gtest.h>

using namespace simtest;

TEST(DemoFleet, HttpUnitLogsInAndServesItsGeneralConfiguration)
{
    auto fleet = start(demo_fleet_on("127.3.1."));
    const std::string unit = "127.3.1.1"; // talvor-north
    EXPECT_EQ(wire::http(unit, "GET", "/XYZZY.ASD").status, 404);

    auto login = http_login(unit, demo_password());
    ASSERT_EQ(login.status, 200);
    EXPECT_EQ(login.body, "admin");
    std::string csrf = cookie(login, "csrf");
    EXPECT_FALSE(csrf.empty());
    EXPECT_FALSE(cookie(login, "auth").empty());

    auto gen = wire::http(unit, "GET", "/gen_conf_get.action");
    ASSERT_EQ(gen.status, 200);
    EXPECT_EQ(json_string(gen.body, "ser"), "TLV-21001");
    EXPECT_EQ(json_string(gen.body, "system"), "622");
    EXPECT_EQ(json_string(gen.body, "mac0"), "00:1a:7e:00:00:01");
    EXPECT_NE(gen.body.find("\"capabilities\":415"), std::string::npos) << gen.body;

    auto taps = wire::http(unit, "GET", "/tap_details.action");
    ASSERT_EQ(taps.status, 200);
    EXPECT_NE(taps.body.find("\"delim\":[4,8]"), std::string::npos) << taps.body;
    EXPECT_NE(taps.body.find("\"type\":[3,9,0,0,11,0,12,0,0,0,0,0]"), std::string::npos) << taps.body;

    auto sd = wire::http(unit, "GET", "/modbus_get.action?start=4584&count=1&interval=1");
    EXPECT_EQ(sd.body, "{\"regs\":[32]}");

    EXPECT_EQ(http_logout(unit, demo_password(), csrf).status, 200);
    EXPECT_EQ(wire::http(unit, "GET", "/gen_conf_get.action").status, 403);
}

TEST(DemoFleet, WssUnitLogsInAndServesItsGeneralConfiguration)
{
    auto fleet = start(demo_fleet_on("127.3.2."));
    const std::string unit = "127.3.2.2"; // talvor-south
    EXPECT_FALSE(wire::port_open(unit, 80));

    wire::ws_client ws(unit, fleet->ca_cert_path());
    std::string salt_reply = ws.request(envelope(1, "auth_salt.action"));
    ASSERT_EQ(salt_reply.rfind("data:1,200,", 0), 0u) << salt_reply;
    std::string salt = salt_reply.substr(11);

    std::string pass = "{ \"pass\" : \"" + wss_key_hex(demo_password(), salt) + "\" }";
    EXPECT_EQ(ws.request(envelope(2, "auth_login.action", pass)), "data:2,200,admin");

    std::string gen = ws.request(envelope(3, "gen_conf_get.action"));
    ASSERT_EQ(gen.rfind("data:3,200,{", 0), 0u) << gen;
    EXPECT_EQ(json_string(gen.substr(11), "ser"), "TLV-21002");

    std::string cats = ws.request(envelope(4, "config_cats.action"));
    EXPECT_NE(cats.find("{\"Logs\":2}"), std::string::npos) << cats;

    EXPECT_EQ(ws.request(envelope(5, "auth_logout.action", pass)), "data:5,200,");
    EXPECT_EQ(ws.request(envelope(6, "gen_conf_get.action")), "data:6,403,");
    EXPECT_EQ(ws.peer_cert_der(), fleet->unit_cert_der("talvor-south"));
}

TEST(DemoFleet, UnitsFlaggedInTheDemoBehaveAsDescribed)
{
    auto fleet = start(demo_fleet_on("127.3.3."));
    // orvane-west redirects port 80; talvor-expired has a certificate problem.
    auto probe = wire::http("127.3.3.4", "GET", "/XYZZY.ASD");
    EXPECT_EQ(probe.status, 301);
    EXPECT_EQ(probe.header("Location"), "https://127.3.3.4/");
    EXPECT_THROW(wire::ws_client("127.3.3.6", fleet->ca_cert_path()), std::runtime_error);
    // talvor-legacy lists its TAPs through the bus registers at 4100.
    ASSERT_EQ(http_login("127.3.3.5", demo_password()).status, 200);
    auto regs = wire::http("127.3.3.5", "GET", "/modbus_get.action?start=4100&count=30&interval=1");
    EXPECT_EQ(regs.body.rfind("{\"regs\":[4,0,8,21,65533,24,30,0,42,0,", 0), 0u) << regs.body;
    // orvane-renew's first token holds "00" at an even offset.
    EXPECT_EQ(cookie(http_login("127.3.3.9", demo_password()), "csrf"), "00c1d2e3");
}
