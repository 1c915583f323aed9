// The WebSocket client against a scripted TLS unit: message bytes, reply
// checking, socket life and certificate problems.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "protocol/zt_hub_wss.h"
#include "tests/protocol/hub_test_support.h"
#include "tests/support/wss_unit.h"

namespace talvor {
namespace {

using test::answer;
using test::reply;
using test::request_name;
using test::ws_action;

constexpr std::string_view salt = "s4lt";

// Answers the salt request and, through `more`, anything else; 200 with no
// payload otherwise.
test::ws_script unit_script(std::function<std::vector<ws_action>(int, const std::string&)> more = nullptr)
{
    return [more](int connection, const std::string& m) -> std::vector<ws_action> {
        if (more) {
            auto r = more(connection, m);
            if (!r.empty())
                return r;
        }
        if (request_name(m) == "auth_salt.action")
            return {reply(answer(m, 200, std::string(salt)))};
        return {reply(answer(m, 200))};
    };
}

struct wss_fixture {
    test::wss_unit unit;
    zt_hub_wss hub;

    wss_fixture(std::uint8_t host, test::ws_script script, bool expired = false)
        : unit("127.5.1." + std::to_string(host), std::move(script), expired),
          hub(conn_sess::create(test::v4(127, 5, 1, host), std::string(user_agent_text)))
    {
        // These tests are about the channel, not the certificate.
        hub.accepted_problems = problem_identity | problem_untrusted | problem_invalid;
    }
    void connect_and_key()
    {
        ASSERT_EQ(hub.get_challenge(nullptr), 0);
        ASSERT_EQ(hub.derive_key("pw"), 0);
    }
};

TEST(WssClient, EveryOperationSendsItsExactMessage)
{
    wss_fixture f(1, unit_script([](int, const std::string& m) -> std::vector<ws_action> {
        const auto name = request_name(m);
        if (name == "prog_get.action")
            return {reply(answer(m, 200, R"({"status":3})"))};
        if (name == "modbus_get.action")
            return {reply(answer(m, 200, R"({"regs":[7,8]})"))};
        if (name == "auth_login.action")
            return {reply(answer(m, 200, "admin"))};
        if (name.find("get") != std::string::npos || name == "config.cfg" || name.find("tap") == 0 ||
            name.find("config_cats") == 0)
            return {reply(answer(m, 200, "{}"))};
        return {};
    }));
    f.connect_and_key();
    const std::string key = hex_lower(derive_f("pw", salt));
    f.hub.set_request_counter(6); // the restart becomes request 7

    const byte_vector file = test::bytes_of(std::string("A\0B", 3));
    std::vector<int> regs;
    byte_vector raw;
    EXPECT_EQ(f.hub.reboot(1), 200);                                   // 7
    EXPECT_EQ(f.hub.sdcard_clear(3), 200);                             // 8
    EXPECT_EQ(f.hub.login(nullptr), 200);                              // 9
    EXPECT_EQ(f.hub.logout(), 200);                                    // 10
    EXPECT_EQ(f.hub.set_password("new"), 200);                         // 11 salt, 12
    EXPECT_EQ(f.hub.get_config_file_raw(raw, reply_limit), 200);       // 13
    EXPECT_NE(f.hub.get_config_file(reply_limit), nullptr);            // 14
    EXPECT_EQ(f.hub.get_gen_conf_raw(raw, reply_limit), 200);          // 15
    EXPECT_NE(f.hub.get_gen_conf(reply_limit), nullptr);               // 16
    EXPECT_NE(f.hub.get_conf(reply_limit), nullptr);                   // 17
    EXPECT_EQ(f.hub.get_tap_details_raw(raw, reply_limit), 200);       // 18
    EXPECT_NE(f.hub.get_tap_details(reply_limit), nullptr);            // 19
    EXPECT_EQ(f.hub.get_config_cats_raw(raw, reply_limit), 200);       // 20
    EXPECT_NE(f.hub.get_config_cats(reply_limit), nullptr);            // 21
    EXPECT_EQ(f.hub.modbus_read(regs, 4608, 2, 1, reply_limit), 0);    // 22
    EXPECT_EQ(regs, (std::vector<int>{7, 8}));
    EXPECT_EQ(f.hub.modbus_set(4608, {1, 2}), 200);                    // 23
    EXPECT_EQ(f.hub.modbus_set(4608, {}), 200);                        // nothing sent
    EXPECT_EQ(f.hub.set_config(file, 5, progress_range{}), 200);       // 24
    EXPECT_EQ(f.hub.upload_net_firmware(file, progress_range{}, 1), 200); // 25, 26 poll
    EXPECT_EQ(f.hub.upload_sys_firmware(file, 2, progress_range{}, 0), 200); // 27, 28 poll
    EXPECT_EQ(f.hub.upload_sys_firmware(file, -1, progress_range{}, 0), 200); // 29, 30 poll
    EXPECT_EQ(f.hub.upload_customisation(file, progress_range{}), 200);  // 31
    EXPECT_EQ(f.hub.cert_upload(file, progress_range{}), 200);           // 32
    EXPECT_EQ(f.hub.priv_upload(file, progress_range{}), 200);           // 33
    EXPECT_EQ(f.hub.cert_default_regen(), 200);                          // 34
    EXPECT_EQ(f.hub.cert_clear(), 200);                                  // 35

    const std::string nul_file = std::string(1, '\0') + std::string("A\0B", 3);
    const std::vector<std::string> want = {
        R"({ "_id" : 7, "request" : "reboot.action", "data" : { "reboot" : 1 } })",
        R"({ "_id" : 8, "request" : "sdcard_clear.action", "data" : { "sdcard_clear" : 3 } })",
        R"({ "_id" : 9, "request" : "auth_login.action", "data" : { "pass" : ")" + key + R"(" } })",
        R"({ "_id" : 10, "request" : "auth_logout.action", "data" : { "pass" : ")" + key + R"(" } })",
        R"({ "_id" : 11, "request" : "auth_salt.action" })",
        R"({ "_id" : 12, "request" : "auth_set.action", "data" : { "pass" : ")" + key + R"(", "check" : ")" +
            hex_lower(derive_f("new", salt)) + R"(" } })",
        R"({ "_id" : 13, "request" : "config.cfg" })",
        R"({ "_id" : 14, "request" : "config.cfg" })",
        R"({ "_id" : 15, "request" : "gen_conf_get.action" })",
        R"({ "_id" : 16, "request" : "gen_conf_get.action" })",
        R"({ "_id" : 17, "request" : "conf_get.action" })",
        R"({ "_id" : 18, "request" : "tap_details.action" })",
        R"({ "_id" : 19, "request" : "tap_details.action" })",
        R"({ "_id" : 20, "request" : "config_cats.action" })",
        R"({ "_id" : 21, "request" : "config_cats.action" })",
        R"({ "_id" : 22, "request" : "modbus_get.action", "data" : { "start" : 4608, "count" : 2, "interval" : 1 } })",
        R"({ "_id" : 23, "request" : "modbus_set.action", "data" : { "start" : 4608, "count" : 2, "regs" : [ 1, 2 ] } })",
        R"({ "_id" : 24, "request" : "config_set.action", "data" : { "cat" : 5 } })" + nul_file,
        R"({ "_id" : 25, "request" : "fw_net_file.action" })" + nul_file.substr(0, 2), // the byte count limits it
        R"({ "_id" : 26, "request" : "prog_get.action" })",
        R"({ "_id" : 27, "request" : "fw_sys_file.action", "data" : { "target" : 2 } })" + nul_file,
        R"({ "_id" : 28, "request" : "prog_get.action" })",
        R"({ "_id" : 29, "request" : "fw_net_file.action" })" + nul_file,
        R"({ "_id" : 30, "request" : "prog_get.action" })",
        R"({ "_id" : 31, "request" : "customise_file.action" })" + nul_file,
        R"({ "_id" : 32, "request" : "cert_upload.action" })" + nul_file,
        R"({ "_id" : 33, "request" : "priv_upload.action" })" + nul_file,
        R"({ "_id" : 34, "request" : "cert_default_regen.action" })",
        R"({ "_id" : 35, "request" : "cert_clear.action" })",
    };
    auto got = f.unit.messages();
    ASSERT_EQ(got.size(), want.size() + 1);
    got.erase(got.begin()); // the first salt request
    for (std::size_t i = 0; i < want.size(); ++i)
        EXPECT_EQ(got[i], want[i]) << "message " << i;
    EXPECT_EQ(f.hub.protocol_kind(), 2);
}

TEST(WssClient, RequestNumbersWrapToOne)
{
    wss_fixture f(2, unit_script());
    f.hub.set_request_counter(16777214);
    ASSERT_EQ(f.hub.get_challenge(nullptr), 0);
    EXPECT_EQ(f.hub.reboot(2), 200);
    const auto got = f.unit.messages();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(test::envelope_id(got[0]), 16777215);
    EXPECT_EQ(test::envelope_id(got[1]), 1);
    EXPECT_EQ(f.hub.request_counter(), 1u);
}

TEST(WssClient, RepliesForAnotherRequestOrMalformedFailButKeepTheSocket)
{
    wss_fixture f(3, unit_script([](int, const std::string& m) -> std::vector<ws_action> {
        const auto id = test::envelope_id(m);
        const auto name = request_name(m);
        if (name == "reboot.action")
            return {reply("data:" + std::to_string(id - 1) + ",200,")};
        if (name == "sdcard_clear.action")
            return {reply("data:" + std::to_string(id) + ",200")}; // no second comma
        if (name == "cert_clear.action")
            return {reply("DATA:" + std::to_string(id) + ",404,")};
        if (name == "cert_default_regen.action")
            return {{ws_action::text, answer(m, 200)}};
        return {};
    }));
    ASSERT_EQ(f.hub.get_challenge(nullptr), 0);
    EXPECT_EQ(f.hub.reboot(1), -1);
    EXPECT_EQ(f.hub.sdcard_clear(1), -1);
    EXPECT_EQ(f.hub.cert_clear(), 404);
    EXPECT_EQ(f.hub.cert_default_regen(), 200); // a text frame is read the same way
    EXPECT_TRUE(f.hub.socket_open());
    EXPECT_EQ(f.unit.connections(), 1);
}

TEST(WssClient, OversizedReplyFailsOnlyItsOwnRequest)
{
    const std::string big(1000, 'x');
    wss_fixture f(4, unit_script([&](int, const std::string& m) -> std::vector<ws_action> {
        if (request_name(m) == "config.cfg")
            return {reply(answer(m, 200, big))};
        if (request_name(m) == "tap_details.action")
            return {reply(answer(m, 200, "taps"))};
        return {};
    }));
    ASSERT_EQ(f.hub.get_challenge(nullptr), 0);
    byte_vector out = test::bytes_of("untouched");
    EXPECT_EQ(f.hub.get_config_file_raw(out, 256), -1);
    EXPECT_EQ(test::text_of(out), "untouched");
    // The next request gets its own reply, not the tail of the big one.
    EXPECT_EQ(f.hub.get_tap_details_raw(out, 256), 200);
    EXPECT_EQ(test::text_of(out), "taps");
    // With room enough the same reply is read whole.
    EXPECT_EQ(f.hub.get_config_file_raw(out, 2000), 200);
    EXPECT_EQ(test::text_of(out), big);
    EXPECT_EQ(f.unit.connections(), 1);
}

TEST(WssClient, CloseFromUnitClosesSocketUntilNextChallenge)
{
    wss_fixture f(5, unit_script([](int connection, const std::string& m) -> std::vector<ws_action> {
        if (connection == 0 && request_name(m) == "reboot.action")
            return {{ws_action::close, {}}};
        return {};
    }));
    ASSERT_EQ(f.hub.get_challenge(nullptr), 0);
    EXPECT_EQ(f.hub.reboot(1), -1);
    EXPECT_FALSE(f.hub.socket_open());
    EXPECT_TRUE(f.hub.get_server_cert().empty());
    const auto sent = f.unit.messages().size();
    EXPECT_EQ(f.hub.sdcard_clear(1), -1);
    EXPECT_EQ(f.unit.messages().size(), sent); // nothing sent on a closed socket
    EXPECT_EQ(f.hub.get_challenge(nullptr), 0);
    EXPECT_EQ(f.hub.reboot(1), 200);
    EXPECT_EQ(f.unit.connections(), 2);
}

TEST(WssClient, ChallengeReopensASocketTheUnitClosedWhileIdle)
{
    wss_fixture f(6, unit_script([](int connection, const std::string& m) -> std::vector<ws_action> {
        // The first connection answers the restart, then goes away.
        if (connection == 0 && request_name(m) == "reboot.action")
            return {reply(answer(m, 200)), {ws_action::close, {}}};
        return {};
    }));
    ASSERT_EQ(f.hub.get_challenge(nullptr), 0);
    EXPECT_EQ(f.hub.reboot(1), 200);
    EXPECT_EQ(f.hub.get_challenge(nullptr), 0);
    EXPECT_EQ(f.unit.connections(), 2);
    EXPECT_EQ(f.hub.sdcard_clear(0), 200);
}

TEST(WssClient, ChallengeFailsWhenTheUnitWillNotGiveASalt)
{
    wss_fixture f(7, unit_script([](int, const std::string& m) -> std::vector<ws_action> {
        if (request_name(m) == "auth_salt.action")
            return {reply(answer(m, 500, "no"))};
        return {};
    }));
    EXPECT_EQ(f.hub.get_challenge(nullptr), -1);
    EXPECT_EQ(f.hub.derive_key("pw"), -1); // no salt known
}

TEST(WssClient, RoleIsThePayloadAsReceived)
{
    std::atomic<int> round{0};
    wss_fixture f(8, unit_script([&](int, const std::string& m) -> std::vector<ws_action> {
        if (request_name(m) == "auth_login.action")
            return {reply(answer(m, 200, round++ == 0 ? "Admin" : "admin"))};
        return {};
    }));
    f.connect_and_key();
    EXPECT_EQ(f.hub.login(nullptr), 403); // "Admin" is not the role admin here
    std::string role;
    EXPECT_EQ(f.hub.login(&role), 200);
    EXPECT_EQ(role, "admin");
}

TEST(WssClient, ChangedSaltForcesANewKey)
{
    std::atomic<int> salts{0};
    wss_fixture f(9, unit_script([&](int, const std::string& m) -> std::vector<ws_action> {
        if (request_name(m) == "auth_salt.action")
            return {reply(answer(m, 200, salts++ < 2 ? "one" : "two"))};
        return {};
    }));
    EXPECT_FALSE(f.hub.has_key());
    EXPECT_EQ(f.hub.login(nullptr), -1); // no key yet
    ASSERT_EQ(f.hub.get_challenge(nullptr), 0);
    ASSERT_EQ(f.hub.derive_key("pw"), 0);
    ASSERT_EQ(f.hub.get_challenge(nullptr), 0); // same salt keeps the key
    EXPECT_TRUE(f.hub.has_key());
    ASSERT_EQ(f.hub.get_challenge(nullptr), 0); // new salt
    EXPECT_FALSE(f.hub.has_key());
    const auto sent = f.unit.messages().size();
    EXPECT_EQ(f.hub.login(nullptr), -1);
    EXPECT_EQ(f.hub.set_password("x"), -1);
    EXPECT_EQ(f.unit.messages().size(), sent + 1); // only set_password's salt request
    ASSERT_EQ(f.hub.derive_key("pw"), 0);
    EXPECT_EQ(f.hub.login(nullptr), 403); // the unit answers an empty role
    EXPECT_NE(f.unit.messages().back().find(hex_lower(derive_f("pw", "two"))), std::string::npos);
}

TEST(WssClient, FirmwareUploadFollowsProgressUntilFailureStatus)
{
    std::atomic<int> polls{0};
    wss_fixture f(10, unit_script([&](int, const std::string& m) -> std::vector<ws_action> {
        if (request_name(m) == "prog_get.action")
            return {reply(answer(m, 200, polls++ == 0 ? R"({"status":1,"prog":10})" : R"({"status":2})"))};
        return {};
    }));
    ASSERT_EQ(f.hub.get_challenge(nullptr), 0);
    progress_range range{0.0, 1.0};
    EXPECT_EQ(f.hub.upload_net_firmware(test::bytes_of("img"), range, 0), -1);
    EXPECT_EQ(polls.load(), 2);
    EXPECT_DOUBLE_EQ(range.value->get(), 0.1); // the polled part starts after the transfer's tenth
}

TEST(WssClient, NoProgressOptionRefusesFirmwareUploadsWithoutSending)
{
    wss_fixture f(11, unit_script());
    ASSERT_EQ(f.hub.get_challenge(nullptr), 0);
    f.hub.set_flags(option_no_progress);
    const auto img = test::bytes_of("img");
    EXPECT_EQ(f.hub.upload_net_firmware(img, progress_range{}, 0), -1);
    EXPECT_EQ(f.hub.upload_sys_firmware(img, 3, progress_range{}, 0), -1);
    EXPECT_EQ(f.unit.messages().size(), 1u);
    // Transfer-only uploads are unaffected.
    EXPECT_EQ(f.hub.upload_customisation(img, progress_range{}), 200);
    f.hub.clear_flags();
    EXPECT_EQ(f.hub.options(), 0u);
}

TEST(WssClient, ModbusReadNeedsExactlyCountRegisters)
{
    wss_fixture f(12, unit_script([](int, const std::string& m) -> std::vector<ws_action> {
        if (request_name(m) == "modbus_get.action")
            return {reply(answer(m, 200, R"({"regs":[1,2,3]})"))};
        return {};
    }));
    ASSERT_EQ(f.hub.get_challenge(nullptr), 0);
    std::vector<int> out{5};
    EXPECT_EQ(f.hub.modbus_read(out, 4682, 2, 1, reply_limit), -1);
    EXPECT_EQ(out, std::vector<int>{5});
    EXPECT_EQ(f.hub.modbus_read(out, 4682, 3, 1, reply_limit), 0);
    EXPECT_EQ(out, (std::vector<int>{1, 2, 3}));
}

TEST(WssClient, RequestsBeforeTheChallengeFailWithoutConnecting)
{
    wss_fixture f(13, unit_script());
    byte_vector out;
    EXPECT_EQ(f.hub.reboot(1), -1);
    EXPECT_EQ(f.hub.get_config_file_raw(out, reply_limit), -1);
    EXPECT_EQ(f.hub.get_gen_conf(reply_limit), nullptr);
    EXPECT_EQ(f.unit.connections(), 0);
}

TEST(WssCertificate, ExpiredFromUnknownIssuerIsReportedThenAccepted)
{
    const auto trust = test::fresh_folder("trust-14");
    set_trusted_folder(trust.string());
    test::wss_unit unit("127.5.1.14", unit_script(), /*expired=*/true);
    zt_hub_wss hub(conn_sess::create(test::v4(127, 5, 1, 14), std::string(user_agent_text)));
    EXPECT_EQ(hub.get_challenge(nullptr), -1000);
    EXPECT_EQ(hub.found_problems, problem_untrusted | problem_invalid);
    EXPECT_FALSE(hub.socket_open());
    EXPECT_EQ(unit.messages().size(), 0u);

    // Accepting only one of the two is not enough.
    hub.accepted_problems = problem_untrusted;
    EXPECT_EQ(hub.get_challenge(nullptr), -1000);
    EXPECT_TRUE(hub.found_problems & problem_invalid);

    hub.accepted_problems = problem_untrusted | problem_invalid;
    EXPECT_EQ(hub.get_challenge(nullptr), 0);
    EXPECT_EQ(hub.get_server_cert(), unit.cert().der);
    hub.drop_connection();
    EXPECT_FALSE(hub.socket_open());
    EXPECT_TRUE(hub.get_server_cert().empty());
}

TEST(WssCertificate, TrustedUnitConnectsWithNoProblemsAccepted)
{
    const auto trust = test::fresh_folder("trust-15");
    set_trusted_folder(trust.string());
    test::wss_unit unit("127.5.1.15", unit_script());
    ASSERT_EQ(trust_certificate(unit.cert().der), 0);
    zt_hub_wss hub(conn_sess::create(test::v4(127, 5, 1, 15), std::string(user_agent_text)));
    EXPECT_EQ(hub.get_challenge(nullptr), 0);
    EXPECT_EQ(hub.found_problems, 0u);
}

} // namespace
} // namespace talvor
