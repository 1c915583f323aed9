// Both clients end to end against the hub simulator: what reaches the unit,
// byte for byte, and what the unit did with it.
#include <gtest/gtest.h>


#include "protocol/zt_hub_http.h"
#include "protocol/zt_hub_wss.h"
#include "tests/protocol/sim_unit.h"

namespace talvor {
namespace {

using test::sim_unit;

std::string path_of(const std::string& target) { return target.substr(0, target.find('?')); }

const std::string image = std::string("FW\0IMAGE\r\n--", 12);
const std::string config = R"({"version":7,"glob_conf":{"sd_state":1}})";

TEST(SimHttp, EveryOperationReachesTheUnitAsSent)
{
    sim_unit sim("h1", R"({ "name" : "h1", "kind" : "http", "address" : "127.5.2.1", "password" : "pw",
                            "registers" : { "4608" : [11, 12] }, "progress" : [[1, 50], [3, 100]] })");
    zt_hub_http hub(conn_sess::create(test::v4(127, 5, 2, 1), std::string(user_agent_text)));
    hub.allowed_problems = hub.accepted_problems = problems_allowed_by(0);

    ASSERT_EQ(hub.get_challenge(nullptr), 0);
    ASSERT_EQ(hub.derive_key("pw"), 0);
    std::string role;
    ASSERT_EQ(hub.login(&role), 200);
    EXPECT_EQ(role, "admin");

    byte_vector raw;
    std::vector<int> regs;
    EXPECT_EQ(hub.get_config_file_raw(raw, reply_limit), 200);
    EXPECT_NE(hub.get_config_file(reply_limit), nullptr);
    EXPECT_EQ(hub.get_gen_conf_raw(raw, reply_limit), 200);
    const auto gen = hub.get_gen_conf(reply_limit);
    ASSERT_NE(gen, nullptr);
    EXPECT_EQ(gen->get_string(gen->find(json_parser::root, "ser")), "h1");
    EXPECT_NE(hub.get_conf(reply_limit), nullptr);
    EXPECT_EQ(hub.get_tap_details_raw(raw, reply_limit), 200);
    EXPECT_NE(hub.get_tap_details(reply_limit), nullptr);
    EXPECT_EQ(hub.get_config_cats_raw(raw, reply_limit), 200);
    EXPECT_NE(hub.get_config_cats(reply_limit), nullptr);
    EXPECT_EQ(hub.modbus_read(regs, 4608, 2, 1, reply_limit), 0);
    EXPECT_EQ(regs, (std::vector<int>{11, 12}));
    EXPECT_EQ(hub.modbus_set(4608, {1, 2}), 200);
    EXPECT_EQ(sim.fleet->register_value("h1", 4609), 2);
    EXPECT_EQ(hub.reboot(1), 200);
    EXPECT_EQ(hub.sdcard_clear(2), 200);

    const byte_vector img = test::bytes_of(image), cfg = test::bytes_of(config);
    EXPECT_EQ(hub.upload_net_firmware(img, progress_range{}, 0), 200);
    EXPECT_EQ(sim.fleet->last_upload("h1", "fw_net"), image);
    EXPECT_EQ(hub.upload_sys_firmware(img, 3, progress_range{}, 5), 200);
    EXPECT_EQ(sim.fleet->last_upload("h1", "fw_sys"), image.substr(0, 5));
    EXPECT_EQ(hub.upload_sys_firmware(test::bytes_of("other"), -1, progress_range{}, 0), 200);
    EXPECT_EQ(sim.fleet->last_upload("h1", "fw_net"), "other");
    EXPECT_EQ(hub.set_config(cfg, 4, progress_range{}), 200);
    EXPECT_EQ(sim.fleet->last_upload("h1", "config"), config);
    EXPECT_EQ(hub.upload_customisation(img, progress_range{}), 200);
    EXPECT_EQ(sim.fleet->last_upload("h1", "customise"), image);

    EXPECT_EQ(hub.set_password("new-pw"), 200);
    EXPECT_TRUE(sim.fleet->password_matches("h1", "new-pw"));
    EXPECT_EQ(hub.logout(), 403); // the stored key is still the old password's
    ASSERT_EQ(hub.derive_key("new-pw"), 0);
    EXPECT_EQ(hub.logout(), 200);

    std::vector<std::string> events;
    for (const auto& e : sim.fleet->events("h1"))
        events.push_back(e.kind + " " + std::to_string(e.number));
    EXPECT_EQ(events, (std::vector<std::string>{"login -1", "modbus_set 4608", "reboot 1", "sdcard_clear 2",
                                                "fw_net -1", "fw_sys 3", "fw_net -1", "config 4", "customise -1",
                                                "set_password -1", "logout -1"}));

    // What reached the unit, in order.
    std::vector<std::string> seen;
    for (const auto& r : sim.fleet->requests("h1")) {
        seen.push_back(r.method + " " + path_of(r.target));
        if (r.method == "POST" && path_of(r.target) != "/auth_login.action") {
            EXPECT_NE(r.target.find('?'), std::string::npos) << r.target; // csrf token follows
        }
        if (r.method == "GET") {
            EXPECT_EQ(r.body, "") << r.target;
        }
        const auto p = path_of(r.target);
        if (p == "/auth_login.action" || p == "/auth_logout.action") {
            EXPECT_TRUE(test::is_prefixed_hex(r.body, "pass=", 32)) << r.body;
        }
        if (p == "/auth_set.action") {
            EXPECT_TRUE(test::is_prefixed_hex(r.body.substr(0, 37), "pass=", 32)) << r.body;
            EXPECT_TRUE(test::is_prefixed_hex(r.body.substr(37), "&check=", 32)) << r.body;
        }
        if (p == "/modbus_set.action") {
            EXPECT_EQ(r.body, "start=4608&count=2&regs[]=1&regs[]=2");
        }
        if (p == "/reboot.action") {
            EXPECT_EQ(r.body, "reboot=1");
        }
        if (p == "/sdcard_clear.action") {
            EXPECT_EQ(r.body, "sdcard_clear=2");
        }
        if (p == "/modbus_get.action") {
            EXPECT_EQ(r.target, "/modbus_get.action?start=4608&count=2&interval=1");
        }
    }
    const std::vector<std::string> want = {
        "GET /challenge_get.action", "GET /challenge_get.action", "POST /auth_login.action", "GET /config.cfg",
        "GET /config.cfg", "GET /gen_conf_get.action", "GET /gen_conf_get.action", "GET /conf_get.action",
        "GET /tap_details.action", "GET /tap_details.action", "GET /config_cats.action", "GET /config_cats.action",
        "GET /modbus_get.action", "POST /modbus_set.action", "POST /reboot.action", "POST /sdcard_clear.action",
        "POST /fw_net_file.action", "GET /prog_get.action", "GET /prog_get.action", "POST /fw_sys_file.action",
        "GET /prog_get.action", "GET /prog_get.action", "POST /fw_net_file.action", "GET /prog_get.action",
        "GET /prog_get.action", "POST /config_set.action", "POST /customise_file.action",
        "GET /challenge_get.action", "POST /auth_set.action", "GET /challenge_get.action",
        "POST /auth_logout.action", "GET /challenge_get.action", "POST /auth_logout.action"};
    EXPECT_EQ(seen, want);
}

TEST(SimHttp, AuthTokenSatisfiesAUnitThatWantsIt)
{
    sim_unit sim("h2", R"({ "name" : "h2", "kind" : "http", "address" : "127.5.2.2", "password" : "pw",
                            "faults" : { "needs_auth" : true } })");
    zt_hub_http hub(conn_sess::create(test::v4(127, 5, 2, 2), std::string(user_agent_text)));
    hub.accepted_problems = problem_unencrypted;
    ASSERT_EQ(hub.get_challenge(nullptr), 0);
    ASSERT_EQ(hub.derive_key("pw"), 0);
    ASSERT_EQ(hub.login(nullptr), 200);
    EXPECT_EQ(hub.get_gen_conf(reply_limit), nullptr);
    hub.set_flags(option_auth_query);
    EXPECT_NE(hub.get_gen_conf(reply_limit), nullptr);
    EXPECT_NE(hub.modbus_get(0, 1, 1, reply_limit), nullptr);
    EXPECT_EQ(hub.modbus_set(7, {9}), 200);
    EXPECT_EQ(sim.fleet->register_value("h2", 7), 9);
    const auto log = sim.fleet->requests("h2");
    ASSERT_GE(log.size(), 3u);
    EXPECT_TRUE(log[log.size() - 3].target.starts_with("/gen_conf_get.action?auth="));
    EXPECT_TRUE(log[log.size() - 2].target.starts_with("/modbus_get.action?auth="));
    EXPECT_TRUE(log.back().body.starts_with("start=7&count=1&regs[]=9?auth="));
}

TEST(SimHttp, UnitFaultsSurfaceAsFailures)
{
    sim_unit sim("h3", R"({ "name" : "h3", "kind" : "http", "address" : "127.5.2.3", "password" : "pw",
                            "role" : "  Admin\r\nmore text",
                            "faults" : { "modbus_wrong_count" : true, "progress_fail" : true } })");
    zt_hub_http hub(conn_sess::create(test::v4(127, 5, 2, 3), std::string(user_agent_text)));
    hub.accepted_problems = problem_unencrypted;
    ASSERT_EQ(hub.get_challenge(nullptr), 0);
    ASSERT_EQ(hub.derive_key("pw"), 0);
    EXPECT_EQ(hub.login(nullptr), 200); // the role reads as admin
    std::vector<int> regs;
    EXPECT_EQ(hub.modbus_read(regs, 4608, 2, 1, reply_limit), -1);
    EXPECT_EQ(hub.upload_net_firmware(test::bytes_of("img"), progress_range{}, 0), -1);
}

std::string env(int id, const std::string& name, const std::string& data = {})
{
    return R"({ "_id" : )" + std::to_string(id) + R"(, "request" : ")" + name + "\"" +
           (data.empty() ? "" : R"(, "data" : )" + data) + " }";
}

TEST(SimWss, EveryOperationReachesTheUnitAsSent)
{
    sim_unit sim("w1", R"({ "name" : "w1", "kind" : "wss", "address" : "127.5.3.1", "password" : "pw",
                            "salt" : "NaCl", "registers" : { "4608" : [11, 12] },
                            "progress" : [[1, 50], [3, 100]] })");
    set_trusted_folder(sim.trust_authority().string());
    zt_hub_wss hub(conn_sess::create(test::v4(127, 5, 3, 1), std::string(user_agent_text)));
    hub.allowed_problems = hub.accepted_problems = problems_allowed_by(2); // a trusted unit passes Strict

    ASSERT_EQ(hub.get_challenge(nullptr), 0); // 1
    EXPECT_EQ(hub.found_problems, 0u);
    ASSERT_EQ(hub.derive_key("pw"), 0);
    std::string role;
    ASSERT_EQ(hub.login(&role), 200); // 2
    EXPECT_EQ(role, "admin");
    hub.set_request_counter(6);

    byte_vector raw;
    std::vector<int> regs;
    const byte_vector img = test::bytes_of(image), cfg = test::bytes_of(config);
    EXPECT_EQ(hub.reboot(1), 200);                                  // 7
    EXPECT_EQ(hub.sdcard_clear(2), 200);                            // 8
    EXPECT_EQ(hub.get_config_file_raw(raw, reply_limit), 200);      // 9
    EXPECT_NE(hub.get_config_file(reply_limit), nullptr);           // 10
    EXPECT_EQ(hub.get_gen_conf_raw(raw, reply_limit), 200);         // 11
    EXPECT_NE(hub.get_gen_conf(reply_limit), nullptr);              // 12
    EXPECT_NE(hub.get_conf(reply_limit), nullptr);                  // 13
    EXPECT_EQ(hub.get_tap_details_raw(raw, reply_limit), 200);      // 14
    EXPECT_NE(hub.get_tap_details(reply_limit), nullptr);           // 15
    EXPECT_EQ(hub.get_config_cats_raw(raw, reply_limit), 200);      // 16
    EXPECT_NE(hub.get_config_cats(reply_limit), nullptr);           // 17
    EXPECT_EQ(hub.modbus_read(regs, 4608, 2, 1, reply_limit), 0);   // 18
    EXPECT_EQ(regs, (std::vector<int>{11, 12}));
    EXPECT_EQ(hub.modbus_set(4608, {1, 2}), 200);                   // 19
    EXPECT_EQ(hub.upload_net_firmware(img, progress_range{}, 3), 200); // 20, polls 21 22
    EXPECT_EQ(hub.upload_sys_firmware(img, 3, progress_range{}, 0), 200); // 23, polls 24 25
    EXPECT_EQ(hub.set_config(cfg, 4, progress_range{}), 200);       // 26
    EXPECT_EQ(hub.upload_customisation(img, progress_range{}), 200); // 27
    EXPECT_EQ(hub.cert_upload(test::bytes_of("CERT"), progress_range{}), 200); // 28
    EXPECT_EQ(hub.priv_upload(test::bytes_of("KEY"), progress_range{}), 200);  // 29
    EXPECT_EQ(hub.cert_default_regen(), 200);                       // 30
    EXPECT_EQ(hub.cert_clear(), 200);                               // 31
    EXPECT_EQ(hub.set_password("new-pw"), 200);                     // 32 salt, 33
    EXPECT_TRUE(sim.fleet->password_matches("w1", "new-pw"));
    EXPECT_EQ(hub.logout(), 403); // 34: the stored key is still the old password's
    ASSERT_EQ(hub.derive_key("new-pw"), 0);
    EXPECT_EQ(hub.logout(), 200); // 35
    EXPECT_EQ(test::text_of(hub.get_server_cert()), sim.fleet->unit_cert_der("w1"));

    EXPECT_EQ(sim.fleet->last_upload("w1", "fw_net"), image.substr(0, 3)) << "the byte count holds here too";
    EXPECT_EQ(sim.fleet->last_upload("w1", "fw_sys"), image);
    EXPECT_EQ(sim.fleet->last_upload("w1", "config"), config);
    EXPECT_EQ(sim.fleet->last_upload("w1", "customise"), image);
    EXPECT_EQ(sim.fleet->last_upload("w1", "cert"), "CERT");
    EXPECT_EQ(sim.fleet->last_upload("w1", "key"), "KEY");
    EXPECT_EQ(sim.fleet->register_value("w1", 4608), 1);

    const std::string key = hex_lower(derive_f("pw", "NaCl"));
    const std::string file = std::string(1, '\0') + image;
    const std::vector<std::string> want = {
        env(1, "auth_salt.action"),
        env(2, "auth_login.action", R"({ "pass" : ")" + key + R"(" })"),
        R"({ "_id" : 7, "request" : "reboot.action", "data" : { "reboot" : 1 } })",
        env(8, "sdcard_clear.action", R"({ "sdcard_clear" : 2 })"),
        env(9, "config.cfg"),
        env(10, "config.cfg"),
        env(11, "gen_conf_get.action"),
        env(12, "gen_conf_get.action"),
        env(13, "conf_get.action"),
        env(14, "tap_details.action"),
        env(15, "tap_details.action"),
        env(16, "config_cats.action"),
        env(17, "config_cats.action"),
        env(18, "modbus_get.action", R"({ "start" : 4608, "count" : 2, "interval" : 1 })"),
        env(19, "modbus_set.action", R"({ "start" : 4608, "count" : 2, "regs" : [ 1, 2 ] })"),
        env(20, "fw_net_file.action") + file.substr(0, 4),
        env(21, "prog_get.action"),
        env(22, "prog_get.action"),
        env(23, "fw_sys_file.action", R"({ "target" : 3 })") + file,
        env(24, "prog_get.action"),
        env(25, "prog_get.action"),
        env(26, "config_set.action", R"({ "cat" : 4 })") + std::string(1, '\0') + config,
        env(27, "customise_file.action") + file,
        env(28, "cert_upload.action") + std::string(1, '\0') + "CERT",
        env(29, "priv_upload.action") + std::string(1, '\0') + "KEY",
        env(30, "cert_default_regen.action"),
        env(31, "cert_clear.action"),
        env(32, "auth_salt.action"),
        env(33, "auth_set.action",
            R"({ "pass" : ")" + key + R"(", "check" : ")" + hex_lower(derive_f("new-pw", "NaCl")) + R"(" })"),
        env(34, "auth_logout.action", R"({ "pass" : ")" + key + R"(" })"),
        env(35, "auth_logout.action", R"({ "pass" : ")" + hex_lower(derive_f("new-pw", "NaCl")) + R"(" })"),
    };
    std::vector<std::string> seen;
    for (const auto& r : sim.fleet->requests("w1")) {
        if (r.method == "WS")
            seen.push_back(r.body);
        EXPECT_TRUE(r.method == "WS" || r.method == "GET") << r.method; // nothing but the socket's upgrade
    }
    ASSERT_EQ(seen.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i)
        EXPECT_EQ(seen[i], want[i]) << "message " << i;
}

TEST(SimWss, UnitFaultsSurfaceAsFailures)
{
    sim_unit sim("w2", R"({ "name" : "w2", "kind" : "wss", "address" : "127.5.3.2", "password" : "pw",
                            "role" : "Admin",
                            "faults" : { "modbus_wrong_count" : true, "progress_fail" : true,
                                         "ws_wrong_id" : ["reboot.action"],
                                         "ws_capital_data" : ["sdcard_clear.action"],
                                         "ws_no_second_comma" : ["cert_clear.action"] } })");
    zt_hub_wss hub(conn_sess::create(test::v4(127, 5, 3, 2), std::string(user_agent_text)));
    hub.accepted_problems = problems_allowed_by(0);
    ASSERT_EQ(hub.get_challenge(nullptr), 0);
    ASSERT_EQ(hub.derive_key("pw"), 0);
    EXPECT_EQ(hub.login(nullptr), 403); // "Admin" is not admin on this channel
    std::string role;
    ASSERT_EQ(hub.login(&role), 200);
    EXPECT_EQ(role, "Admin");
    std::vector<int> regs;
    EXPECT_EQ(hub.modbus_read(regs, 4608, 2, 1, reply_limit), -1);
    EXPECT_EQ(hub.upload_net_firmware(test::bytes_of("img"), progress_range{}, 0), -1);
    EXPECT_EQ(hub.reboot(1), -1);
    EXPECT_EQ(hub.sdcard_clear(1), 200);
    EXPECT_EQ(hub.cert_clear(), -1);
    EXPECT_EQ(hub.cert_default_regen(), 200); // still in step
}

TEST(SimWss, UnitClosingTheSocketIsReopenedByTheChallenge)
{
    sim_unit sim("w3", R"({ "name" : "w3", "kind" : "wss", "address" : "127.5.3.3", "password" : "pw" })");
    zt_hub_wss hub(conn_sess::create(test::v4(127, 5, 3, 3), std::string(user_agent_text)));
    hub.accepted_problems = problems_allowed_by(0);
    ASSERT_EQ(hub.get_challenge(nullptr), 0);
    ASSERT_EQ(hub.derive_key("pw"), 0);
    ASSERT_EQ(hub.login(nullptr), 200);
    sim.fleet->set_fault("w3", "ws_close", R"(["reboot.action"])");
    EXPECT_EQ(hub.reboot(1), -1);
    EXPECT_FALSE(hub.socket_open());
    EXPECT_EQ(hub.sdcard_clear(1), -1);
    ASSERT_EQ(hub.get_challenge(nullptr), 0);
    EXPECT_TRUE(hub.has_key()); // same salt, same key
    ASSERT_EQ(hub.login(nullptr), 200);
    EXPECT_EQ(hub.sdcard_clear(1), 200);
}

TEST(SimCertificates, ProblemsFoundOnTheHandshake)
{
    struct cert_case {
        std::uint8_t host;
        const char* cert;
        bool trust_authority;
        std::uint32_t found;
    };
    const cert_case cases[] = {
        {1, "expired", false, problem_untrusted | problem_invalid},
        {2, "wrong_name", true, problem_identity},
        {3, "expired", true, problem_invalid},
        {4, "valid", false, problem_untrusted},
    };
    for (const auto& c : cases) {
        const std::string name = "c" + std::to_string(c.host);
        const std::string address = "127.5.8." + std::to_string(c.host);
        sim_unit sim(name, R"({ "name" : ")" + name + R"(", "kind" : "wss", "address" : ")" + address +
                               R"(", "cert" : ")" + c.cert + R"(" })");
        set_trusted_folder((c.trust_authority ? sim.trust_authority() : test::fresh_folder("empty-" + name)).string());
        zt_hub_wss hub(conn_sess::create(test::v4(127, 5, 8, c.host), std::string(user_agent_text)));
        hub.allowed_problems = hub.accepted_problems = problems_allowed_by(1);
        const std::uint32_t left = c.found & ~problems_allowed_by(1);
        EXPECT_EQ(hub.get_challenge(nullptr), left ? -1000 : 0) << c.cert;
        if (left) {
            EXPECT_EQ(hub.found_problems, c.found) << c.cert;
        }
        EXPECT_EQ(sim.fleet->requests(name).empty(), left != 0) << c.cert;
        hub.accepted_problems = hub.found_problems | hub.allowed_problems;
        EXPECT_EQ(hub.get_challenge(nullptr), 0) << c.cert;
    }
}

TEST(SimFactory, ProbeOutcomesPickTheClient)
{
    sim_unit sim("f", R"({ "name" : "f1", "kind" : "http", "address" : "127.5.7.1", "probe" : 404 },
                         { "name" : "f2", "kind" : "http", "address" : "127.5.7.2", "probe" : 500 },
                         { "name" : "f3", "kind" : "wss", "address" : "127.5.7.3", "port80" : "refused" },
                         { "name" : "f4", "kind" : "wss", "address" : "127.5.7.4", "port80" : "301" },
                         { "name" : "f5", "kind" : "http", "address" : "127.5.7.5", "probe" : 200 })");
    auto kind = [](std::uint8_t host) {
        auto hub = make_hub(test::v4(127, 5, 7, host), user_agent_text, 2);
        return hub ? hub->protocol_kind() : 0;
    };
    EXPECT_EQ(kind(1), protocol_http);
    EXPECT_EQ(kind(2), 0);
    EXPECT_EQ(kind(3), protocol_wss);
    EXPECT_EQ(kind(4), protocol_wss);
    EXPECT_EQ(kind(5), protocol_http);
    const auto probe = sim.fleet->requests("f1");
    ASSERT_EQ(probe.size(), 1u);
    EXPECT_EQ(probe[0].method, "GET");
    EXPECT_EQ(probe[0].target, "/XYZZY.ASD");
    EXPECT_EQ(probe[0].body, "");

    // A Strict HTTP unit: refused before anything is sent.
    auto hub = make_hub(test::v4(127, 5, 7, 1), user_agent_text, 2);
    ASSERT_NE(hub, nullptr);
    EXPECT_EQ(hub->get_challenge(nullptr), -1000);
    EXPECT_EQ(hub->found_problems, problem_unencrypted);
    EXPECT_EQ(sim.fleet->requests("f1").size(), 2u); // the two probes only
}

} // namespace
} // namespace talvor
