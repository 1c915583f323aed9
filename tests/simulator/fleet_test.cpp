// Reading the fleet file, binding, TAP lists and shutting down.
#include "sim_fixture.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace simtest;

namespace {

std::string error_of(const std::string& fleet_json)
{
    try {
        start(fleet_json);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return {};
}

} // namespace

TEST(Fleet, BadFleetsAreRefusedWithTheUnitAndMemberNamed)
{
    EXPECT_NE(error_of("[]").find("top level"), std::string::npos);
    EXPECT_NE(error_of(R"({"units":[{"name":"x","kind":"ftp","address":"127.3.40.1"}]})").find("unit \"x\": \"kind\""),
              std::string::npos);
    EXPECT_NE(error_of(R"({"units":[{"name":"x","kind":"http","address":"127.3.40.300"}]})").find("\"address\""),
              std::string::npos);
    EXPECT_NE(error_of(R"({"units":[{"name":"x","kind":"http","address":"127.3.40.1"},
                                    {"name":"y","kind":"http","address":"127.3.40.1"}]})")
                  .find("used twice"),
              std::string::npos);
    EXPECT_NE(error_of(R"({"units":[{"name":"x","kind":"wss","address":"127.3.40.1","cert":"odd"}]})").find("cert"),
              std::string::npos);
    EXPECT_NE(error_of(R"({"units":[{"name":"x","kind":"wss","address":"127.3.40.1","tls_max":"1.4"}]})")
                  .find("\"tls_max\" \"1.4\""),
              std::string::npos);
    EXPECT_NE(error_of(R"({"units":[{"name":"x","kind":"http","address":"127.3.40.1",
                          "taps":[{"bus":1,"address":1,"type":3}],"bus_sizes":[4]}]})")
                  .find("outside"),
              std::string::npos);
}

TEST(Fleet, AnAddressInUseIsReportedAndNothingStaysBound)
{
    auto first = start(R"({"units":[{"name":"a","kind":"http","address":"127.3.41.1"}]})");
    std::string error = error_of(R"({"units":[{"name":"b","kind":"http","address":"127.3.41.2"},
                                              {"name":"c","kind":"http","address":"127.3.41.1"}]})");
    EXPECT_NE(error.find("unit \"c\": cannot listen on 127.3.41.1 port 80"), std::string::npos) << error;
    // The failed fleet let go of the address it had already bound.
    auto again = start(R"({"units":[{"name":"b","kind":"http","address":"127.3.41.2"}]})");
    EXPECT_EQ(wire::http("127.3.41.2", "GET", "/XYZZY.ASD").status, 404);
}

TEST(Fleet, TapListBecomesParallelArraysByBusPosition)
{
    auto fleet = start(R"({"units":[{"name":"t","kind":"http","address":"127.3.42.1","require_login":false,
        "bus_sizes":[2,3],"taps":[{"bus":1,"address":2,"type":11,"ccts":30,"sernr":"R1","fwver":4368,"chip_type":2},
                                  {"bus":0,"address":1,"type":3,"ccts":8,"sernr":"M1"}]}]})");
    auto taps = wire::http("127.3.42.1", "GET", "/tap_details.action");
    EXPECT_EQ(taps.body, "{\"delim\":[2,3],\"type\":[3,0,0,11,0],\"sernr\":[\"M1\",\"\",\"\",\"R1\",\"\"],"
                         "\"ccts\":[8,0,0,30,0],\"fstcct\":[0,0,0,0,0],\"caps\":[0,0,0,0,0],"
                         "\"fwver\":[0,0,0,4368,0],\"fpgats\":[0,0,0,0,0],\"chip_type\":[0,0,0,2,0]}");
}

TEST(Fleet, ShutdownEndsStalledConnectionsAndWritesTheLogFile)
{
    std::filesystem::path log;
    std::unique_ptr<wire::ws_client> ws; // outlives the fleet: its connection is open at shutdown
    {
        auto fleet = start(R"({"units":[{"name":"s","kind":"http","address":"127.3.43.1","faults":{"stall":true}},
                                        {"name":"w","kind":"wss","address":"127.3.43.2","require_login":false,
                                         "faults":{"stall":true}}]})");
        log = fleet->log_path();
        EXPECT_EQ(wire::http_raw("127.3.43.1", "GET /XYZZY.ASD HTTP/1.1\r\nHost: x\r\n\r\n", 200), "");
        ws = std::make_unique<wire::ws_client>("127.3.43.2", fleet->ca_cert_path());
        ws->set_timeout_ms(200);
        EXPECT_EQ(ws->request(envelope(1, "auth_salt.action")), "");
    }
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("\"target\":\"/XYZZY.ASD\""), std::string::npos);
    EXPECT_NE(text.str().find("\"target\":\"auth_salt.action\""), std::string::npos);
}
