// WebSocket units: envelope bytes, login, file messages, reply faults and
// the certificates they present.
#include "sim_fixture.h"

#include "protocol/key_derivation.h"

#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

using namespace simtest;

namespace {

std::string one_unit(const std::string& address, const std::string& extra = {})
{
    return R"({"units":[{"name":"w","kind":"wss","address":")" + address +
           R"(","password":"secret","salt":"s4lt")" + (extra.empty() ? "" : "," + extra) + "}]}";
}

std::string pass_data(const std::string& password = "secret")
{
    return "{ \"pass\" : \"" + wss_key_hex(password, "s4lt") + "\" }";
}

} // namespace

TEST(WssUnit, EnvelopeMustBeByteExactAndLoginGuardsRequests)
{
    auto fleet = start(one_unit("127.3.20.1"));
    wire::ws_client ws("127.3.20.1", fleet->ca_cert_path());
    EXPECT_EQ(ws.request(envelope(1, "auth_salt.action")), "data:1,200,s4lt");
    EXPECT_EQ(ws.request(envelope(2, "config.cfg")), "data:2,403,");
    EXPECT_EQ(ws.request(envelope(3, "auth_login.action", pass_data("wrong"))), "data:3,403,");
    // Same JSON, other spacing: the client never writes that.
    EXPECT_EQ(ws.request("{\"_id\":4,\"request\":\"auth_login.action\",\"data\":" + pass_data() + "}"), "data:4,400,");
    EXPECT_EQ(ws.request(envelope(5, "auth_login.action", pass_data())), "data:5,200,admin");
    EXPECT_EQ(ws.request(envelope(6, "config.cfg")), "data:6,200,{\"version\":7,\"glob_conf\":{\"sd_state\":0}}");
    EXPECT_EQ(ws.request(envelope(7, "reboot.action", "{ \"reboot\" : 1 }")), "data:7,200,");
    EXPECT_EQ(ws.request(envelope(8, "modbus_set.action", "{ \"start\" : 4608, \"count\" : 2, \"regs\" : [ 1, 2 ] }")),
              "data:8,200,");
    EXPECT_EQ(ws.request(envelope(9, "modbus_get.action", "{ \"start\" : 4608, \"count\" : 2, \"interval\" : 1 }")),
              "data:9,200,{\"regs\":[1,2]}");
    EXPECT_EQ(ws.request(envelope(10, "no_such.action")), "data:10,404,");
    auto log = fleet->requests("w");
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0].method, "GET"); // the upgrade
    EXPECT_EQ(log[0].status, 101);
    EXPECT_EQ(log.back().body, envelope(10, "no_such.action"));
}

TEST(WssUnit, FilesRideAfterOneNulByte)
{
    auto fleet = start(one_unit("127.3.21.1"));
    wire::ws_client ws("127.3.21.1", fleet->ca_cert_path());
    ASSERT_EQ(ws.request(envelope(1, "auth_login.action", pass_data())), "data:1,200,admin");
    std::string image("\x00\xff\x00image", 8);
    auto with_file = [](std::string env, const std::string& file) { return env + std::string(1, '\0') + file; };
    EXPECT_EQ(ws.request(with_file(envelope(2, "fw_sys_file.action", "{ \"target\" : 4097 }"), image)), "data:2,200,");
    EXPECT_EQ(fleet->last_upload("w", "fw_sys"), image);
    EXPECT_EQ(fleet->events("w").back().number, 4097);
    EXPECT_EQ(ws.request(envelope(3, "prog_get.action")), "data:3,200,{\"status\":1,\"prog\":0}");

    std::string big(17u << 20, 'k');
    EXPECT_EQ(ws.request(with_file(envelope(4, "config_set.action", "{ \"cat\" : 3 }"), big)), "data:4,200,");
    EXPECT_EQ(fleet->last_upload("w", "config").size(), big.size());
    EXPECT_EQ(ws.request(with_file(envelope(5, "cert_upload.action"), "PEM")), "data:5,200,");
    EXPECT_EQ(ws.request(with_file(envelope(6, "priv_upload.action"), "KEY")), "data:6,200,");
    EXPECT_EQ(ws.request(envelope(7, "cert_upload.action")), "data:7,400,"); // no file
    EXPECT_EQ(ws.request(envelope(8, "cert_default_regen.action")), "data:8,200,");
    EXPECT_EQ(fleet->last_upload("w", "cert"), "PEM");
    EXPECT_EQ(fleet->last_upload("w", "key"), "KEY");
    EXPECT_EQ(fleet->events("w").back().kind, "cert_default_regen");
}

TEST(WssUnit, SetPasswordTakesTheNewKey)
{
    auto fleet = start(one_unit("127.3.22.1"));
    wire::ws_client ws("127.3.22.1", fleet->ca_cert_path());
    std::string data = "{ \"pass\" : \"" + wss_key_hex("secret", "s4lt") + "\", \"check\" : \"" +
                       wss_key_hex("fresh", "s4lt") + "\" }";
    EXPECT_EQ(ws.request(envelope(1, "auth_set.action", data)), "data:1,200,");
    EXPECT_TRUE(fleet->password_matches("w", "fresh"));
    EXPECT_EQ(ws.request(envelope(2, "auth_login.action", pass_data())), "data:2,403,");
    EXPECT_EQ(ws.request(envelope(3, "auth_login.action", pass_data("fresh"))), "data:3,200,admin");
}

TEST(WssUnit, ReplyFaultsAreSwitchedAtRunTime)
{
    auto fleet = start(one_unit("127.3.23.1", R"("require_login":false)"));
    wire::ws_client ws("127.3.23.1", fleet->ca_cert_path());
    fleet->set_fault("w", "ws_wrong_id", "[\"gen_conf_get.action\"]");
    EXPECT_EQ(ws.request(envelope(1, "gen_conf_get.action")).rfind("data:2,200,", 0), 0u);
    EXPECT_EQ(ws.request(envelope(2, "auth_salt.action")), "data:2,200,s4lt");
    fleet->set_fault("w", "ws_wrong_id", "false");
    fleet->set_fault("w", "ws_no_second_comma", "true");
    EXPECT_EQ(ws.request(envelope(3, "auth_salt.action")), "data:3,200");
    fleet->set_fault("w", "ws_no_second_comma", "false");
    fleet->set_fault("w", "ws_capital_data", "true");
    EXPECT_EQ(ws.request(envelope(4, "auth_salt.action")), "DATA:4,200,s4lt");
    fleet->set_fault("w", "stall", "[\"tap_details.action\"]");
    ws.set_timeout_ms(300);
    EXPECT_EQ(ws.request(envelope(5, "tap_details.action")), "");
    fleet->set_fault("w", "ws_close", "true");
    wire::ws_client second("127.3.23.1", fleet->ca_cert_path());
    EXPECT_EQ(second.request(envelope(1, "auth_salt.action")), "");
    EXPECT_TRUE(second.closed());
}

TEST(WssUnit, CertificatesCarryTheFaultsTheFleetAsksFor)
{
    auto fleet = start(R"({"units":[
      {"name":"valid","kind":"wss","address":"127.3.24.1"},
      {"name":"name","kind":"wss","address":"127.3.24.2","cert":"wrong_name"},
      {"name":"expired","kind":"wss","address":"127.3.24.3","cert":"expired"},
      {"name":"early","kind":"wss","address":"127.3.24.4","cert":"not_yet_valid"},
      {"name":"usage","kind":"wss","address":"127.3.24.5","cert":"wrong_usage"},
      {"name":"self","kind":"wss","address":"127.3.24.6","cert":"self_signed","port80":"302"}]})");
    std::string ca = fleet->ca_cert_path();
    EXPECT_EQ(wire::tls_verify_result("127.3.24.1", ca), X509_V_OK);
    EXPECT_EQ(wire::tls_verify_result("127.3.24.2", ca), X509_V_ERR_IP_ADDRESS_MISMATCH);
    EXPECT_EQ(wire::tls_verify_result("127.3.24.3", ca), X509_V_ERR_CERT_HAS_EXPIRED);
    EXPECT_EQ(wire::tls_verify_result("127.3.24.4", ca), X509_V_ERR_CERT_NOT_YET_VALID);
    EXPECT_EQ(wire::tls_verify_result("127.3.24.5", ca), X509_V_ERR_INVALID_PURPOSE);
    EXPECT_EQ(wire::tls_verify_result("127.3.24.6", ca), X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT);
    // Port 80: refused by default, a redirect when asked.
    EXPECT_FALSE(wire::port_open("127.3.24.1", 80));
    auto probe = wire::http("127.3.24.6", "GET", "/XYZZY.ASD");
    EXPECT_EQ(probe.status, 302);
    EXPECT_EQ(probe.header("Location"), "https://127.3.24.6/");
}
