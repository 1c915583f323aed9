// HTTP units: login and its tokens, reads, form and multipart requests,
// progress and faults, as seen on the wire.
#include "sim_fixture.h"

#include "protocol/key_derivation.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace simtest;

namespace {

std::string one_unit(const std::string& address, const std::string& extra = {})
{
    return R"({"units":[{"name":"u","kind":"http","address":")" + address +
           R"(","password":"secret","salt":"NaCl")" + (extra.empty() ? "" : "," + extra) + "}]}";
}

} // namespace

TEST(HttpUnit, LoginIsCheckedAndReadsNeedIt)
{
    auto fleet = start(one_unit("127.3.10.1", R"("role":"  Admin\r\nmore","extra_cookies":["x=\"a b\"  ; path=/"])"));
    const std::string a = "127.3.10.1";
    EXPECT_EQ(wire::http(a, "GET", "/gen_conf_get.action").status, 403);
    EXPECT_EQ(http_login(a, "wrong").status, 403);
    // The body must be exactly pass= and 32 lower-case hex digits.
    wire::http(a, "GET", "/challenge_get.action");
    EXPECT_EQ(wire::http(a, "POST", "/auth_login.action", "pass=ABCDEF").status, 400);

    auto ok = http_login(a, "secret");
    ASSERT_EQ(ok.status, 200);
    EXPECT_EQ(ok.body, "  Admin\r\nmore");
    auto cookies = ok.all("Set-Cookie");
    ASSERT_EQ(cookies.size(), 3u);
    EXPECT_EQ(cookies[2], "x=\"a b\"  ; path=/");
    EXPECT_EQ(wire::http(a, "GET", "/gen_conf_get.action").status, 200);
    // A challenge answers one response only.
    auto again = wire::http(a, "POST", "/auth_login.action", "pass=" + std::string(32, '0'));
    EXPECT_EQ(again.status, 403);
    EXPECT_TRUE(again.all("Set-Cookie").empty()); // cookies only on 200
}

TEST(HttpUnit, CsrfTokenMustBeEchoedOnPostsAndFollowsItsSequence)
{
    auto fleet = start(one_unit("127.3.11.1", R"("csrf":["00ab","1200"])"));
    const std::string a = "127.3.11.1";
    auto first = http_login(a, "secret");
    EXPECT_EQ(cookie(first, "csrf"), "00ab");
    EXPECT_EQ(wire::http(a, "POST", "/reboot.action", "reboot=7").status, 403);
    EXPECT_EQ(wire::http(a, "POST", "/reboot.action?0000", "reboot=7").status, 403);
    EXPECT_EQ(wire::http(a, "POST", "/reboot.action?00ab", "reboot=7").status, 200);
    EXPECT_EQ(wire::http(a, "POST", "/sdcard_clear.action?00ab", "sdcard_clear=0").status, 200);

    EXPECT_EQ(cookie(http_login(a, "secret", "00ab"), "csrf"), "1200");
    std::string third = cookie(http_login(a, "secret", "1200"), "csrf");
    ASSERT_FALSE(third.empty());
    for (std::size_t i = 0; i + 1 < third.size(); i += 2)
        EXPECT_FALSE(third[i] == '0' && third[i + 1] == '0') << third;

    auto events = fleet->events("u");
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[1].kind, "reboot");
    EXPECT_EQ(events[1].number, 7);
    EXPECT_EQ(events[2].kind, "sdcard_clear");
    EXPECT_EQ(events[2].number, 0);
}

TEST(HttpUnit, SetPasswordReplacesThePassword)
{
    auto fleet = start(one_unit("127.3.12.1"));
    const std::string a = "127.3.12.1";
    std::string csrf = cookie(http_login(a, "secret"), "csrf");
    auto ch = wire::http(a, "GET", "/challenge_get.action");
    std::string c = json_string(ch.body, "challenge"), s = json_string(ch.body, "salt");
    auto key = talvor::derive_f("secret", s);
    auto r = talvor::derive_f(key, c);
    auto n = talvor::derive_f("changed", s);
    talvor::key16 p{};
    for (std::size_t i = 0; i < p.size(); ++i)
        p[i] = static_cast<std::uint8_t>(r[i] ^ n[i]);
    // A wrong check leaves the password alone.
    EXPECT_EQ(wire::http(a, "POST", "/auth_set.action?" + csrf,
                         "pass=" + talvor::hex_lower(p) + "&check=" + std::string(32, 'a'))
                  .status,
              403);
    ch = wire::http(a, "GET", "/challenge_get.action");
    c = json_string(ch.body, "challenge");
    r = talvor::derive_f(key, c);
    for (std::size_t i = 0; i < p.size(); ++i)
        p[i] = static_cast<std::uint8_t>(r[i] ^ n[i]);
    auto set = wire::http(a, "POST", "/auth_set.action?" + csrf,
                          "pass=" + talvor::hex_lower(p) + "&check=" + talvor::hex_lower(talvor::derive_f(n, c)));
    EXPECT_EQ(set.status, 200);
    EXPECT_TRUE(fleet->password_matches("u", "changed"));
    EXPECT_EQ(http_login(a, "secret").status, 403);
    EXPECT_EQ(http_login(a, "changed").status, 200);
}

TEST(HttpUnit, AuthTokenInTheQueryIsCheckedWhereTheUnitWantsIt)
{
    auto fleet = start(one_unit("127.3.13.1", R"("faults":{"needs_auth":["gen_conf_get.action"]})"));
    const std::string a = "127.3.13.1";
    auto login = http_login(a, "secret");
    std::string token = cookie(login, "auth");
    EXPECT_EQ(wire::http(a, "GET", "/gen_conf_get.action").status, 403);
    EXPECT_EQ(wire::http(a, "GET", "/gen_conf_get.action?auth=bad").status, 403);
    EXPECT_EQ(wire::http(a, "GET", "/gen_conf_get.action?auth=" + token).status, 200);
    EXPECT_EQ(wire::http(a, "GET", "/conf_get.action").status, 200);
    auto regs = wire::http(a, "GET", "/modbus_get.action?auth=" + token + "&start=10&count=2&interval=1");
    EXPECT_EQ(regs.body, "{\"regs\":[0,0]}");
}

TEST(HttpUnit, ModbusWritesLandInTheRegisterMap)
{
    auto fleet = start(one_unit("127.3.14.1", R"("registers":{"4584":64})"));
    const std::string a = "127.3.14.1";
    std::string csrf = cookie(http_login(a, "secret"), "csrf");
    std::string token;
    EXPECT_EQ(wire::http(a, "POST", "/modbus_set.action?" + csrf, "start=4608&count=2&regs[]=1&regs[]=2").status,
              200);
    EXPECT_EQ(wire::http(a, "GET", "/modbus_get.action?start=4607&count=4&interval=1").body,
              "{\"regs\":[0,1,2,0]}");
    // A count that disagrees with the values is refused and writes nothing.
    EXPECT_EQ(wire::http(a, "POST", "/modbus_set.action?" + csrf, "start=4608&count=3&regs[]=9").status, 400);
    EXPECT_EQ(fleet->register_value("u", 4608), 1);
    EXPECT_EQ(wire::http(a, "GET", "/modbus_get.action?start=4584&count=1&interval=1").body, "{\"regs\":[64]}");
    EXPECT_EQ(wire::http(a, "GET", "/modbus_get.action?start=4584&count=0&interval=1").status, 400);
    fleet->set_fault("u", "modbus_wrong_count", "true");
    EXPECT_EQ(wire::http(a, "GET", "/modbus_get.action?start=4584&count=1&interval=1").body, "{\"regs\":[64,0]}");
}

TEST(HttpUnit, UploadsAreKeptAndFirmwareReportsProgress)
{
    auto fleet = start(one_unit("127.3.15.1"));
    const std::string a = "127.3.15.1";
    std::string csrf = cookie(http_login(a, "secret"), "csrf");
    static const char raw[] = "\x00\x01\r\n--------0123456789abcdef\r\n\r\nrest"; // holds a separator
    std::string image(raw, sizeof raw - 1);
    EXPECT_EQ(wire::http(a, "POST", "/fw_sys_file.action?" + csrf, wire::multipart({"258", image})).status, 200);
    EXPECT_EQ(fleet->last_upload("u", "fw_sys"), image);
    EXPECT_EQ(fleet->events("u").back().number, 258);
    const char* steps[] = {"{\"status\":1,\"prog\":0}", "{\"status\":1,\"prog\":40}", "{\"status\":1,\"prog\":80}",
                           "{\"status\":3,\"prog\":100}", "{\"status\":3,\"prog\":100}"};
    for (auto* step : steps)
        EXPECT_EQ(wire::http(a, "GET", "/prog_get.action").body, step);

    std::string config(17u << 20, 'c'); // above every default body limit
    EXPECT_EQ(wire::http(a, "POST", "/config_set.action?" + csrf, wire::multipart({"2147483648", config})).status,
              200);
    EXPECT_EQ(fleet->last_upload("u", "config").size(), config.size());
    EXPECT_EQ(fleet->events("u").back().number, 2147483648LL);

    EXPECT_EQ(wire::http(a, "POST", "/customise_file.action?" + csrf, wire::multipart({"cst"})).status, 200);
    EXPECT_EQ(fleet->last_upload("u", "customise"), "cst");
    // A body without the framing, or with an upper-case boundary, is refused.
    EXPECT_EQ(wire::http(a, "POST", "/fw_net_file.action?" + csrf, "raw image").status, 400);
    EXPECT_EQ(wire::http(a, "POST", "/fw_net_file.action?" + csrf, wire::multipart({"x"}, "--------0123456789ABCDEF"))
                  .status,
              400);

    fleet->set_fault("u", "progress_fail", "true");
    EXPECT_EQ(wire::http(a, "POST", "/fw_net_file.action?" + csrf, wire::multipart({"img"})).status, 200);
    std::string last;
    for (int i = 0; i < 4; ++i)
        last = wire::http(a, "GET", "/prog_get.action").body;
    EXPECT_EQ(last, "{\"status\":2,\"prog\":40}");
}

TEST(HttpUnit, ProbeAndForcedStatuses)
{
    auto fleet = start(R"({"units":[
      {"name":"p200","kind":"http","address":"127.3.16.1","probe":200},
      {"name":"p500","kind":"http","address":"127.3.16.2","probe":500},
      {"name":"f","kind":"http","address":"127.3.16.3","require_login":false,
       "faults":{"fail":{"tap_details.action":500,"config_cats.action":404},"login_403":true}}]})");
    EXPECT_EQ(wire::http("127.3.16.1", "GET", "/XYZZY.ASD").status, 200);
    EXPECT_EQ(wire::http("127.3.16.2", "GET", "/XYZZY.ASD").status, 500);
    EXPECT_EQ(wire::http("127.3.16.3", "GET", "/tap_details.action").status, 500);
    EXPECT_EQ(wire::http("127.3.16.3", "GET", "/config_cats.action").status, 404);
    EXPECT_EQ(wire::http("127.3.16.3", "GET", "/gen_conf_get.action").status, 200);
    EXPECT_EQ(http_login("127.3.16.3", "password").status, 403);
    EXPECT_EQ(wire::http("127.3.16.3", "GET", "/nothing.action").status, 404);
    // A status HTTP cannot carry becomes 500, and the unit serves on.
    fleet->set_fault("f", "fail", R"({"conf_get.action":1000})");
    EXPECT_EQ(wire::http("127.3.16.3", "GET", "/conf_get.action").status, 500);
    EXPECT_EQ(wire::http("127.3.16.3", "GET", "/tap_details.action").status, 200);
}

TEST(HttpUnit, OnceFaultsActOnTheFirstMatchingRequestOnly)
{
    auto fleet = start(one_unit("127.3.16.5", R"("require_login":false,"faults":{
        "fail":{"config_cats.action":[403]},"drop_reply_body_once":["config.cfg"]})"));
    const std::string a = "127.3.16.5";
    EXPECT_EQ(wire::http(a, "GET", "/gen_conf_get.action").status, 200);
    EXPECT_EQ(wire::http(a, "GET", "/config_cats.action").status, 403);
    EXPECT_EQ(wire::http(a, "GET", "/config_cats.action").status, 200);
    EXPECT_EQ(wire::http(a, "GET", "/config.cfg").status, -1);
    EXPECT_EQ(wire::http(a, "GET", "/config.cfg").status, 200);
}

TEST(HttpUnit, ConnectionFaultsEndTheExchangeWithoutAnAnswer)
{
    auto fleet = start(one_unit("127.3.17.1", R"("require_login":false,"faults":{
        "drop_request_body":["customise_file.action"],"drop_reply_body":["config.cfg"],
        "stall":["tap_details.action"]})"));
    const std::string a = "127.3.17.1";
    std::string head = "POST /customise_file.action HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n\r\n";
    EXPECT_EQ(wire::http_raw(a, head + std::string(60000, 'x')), "");
    EXPECT_EQ(wire::http(a, "GET", "/config.cfg").status, -1);
    auto cut = wire::http_raw(a, "GET /config.cfg HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(cut.rfind("HTTP/1.1 200", 0), 0u);
    EXPECT_EQ(wire::http_raw(a, "GET /tap_details.action HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n", 300), "");
    auto log = fleet->requests("u");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().target, "/tap_details.action");
    EXPECT_EQ(log.back().status, 0);
}

TEST(HttpUnit, SlowReadingStillTakesTheWholeUpload)
{
    auto fleet = start(one_unit("127.3.18.1", R"("require_login":false,"csrf_check":false,"faults":{"slow_upload":5})"));
    std::string file(300000, 'z');
    EXPECT_EQ(wire::http("127.3.18.1", "POST", "/customise_file.action", wire::multipart({file})).status, 200);
    EXPECT_EQ(fleet->last_upload("u", "customise"), file);
}

TEST(HttpUnit, RequestLogKeepsExactBytesAndHeaders)
{
    auto fleet = start(one_unit("127.3.19.1"));
    wire::http("127.3.19.1", "POST", "/auth_login.action?00ab", std::string("pass=\x01\x02", 7));
    auto log = fleet->requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].unit, "u");
    EXPECT_EQ(log[0].method, "POST");
    EXPECT_EQ(log[0].target, "/auth_login.action?00ab");
    EXPECT_EQ(log[0].body, std::string("pass=\x01\x02", 7));
    ASSERT_EQ(log[0].headers.size(), 3u);
    EXPECT_EQ(log[0].headers[0].first, "Host");
    EXPECT_EQ(log[0].headers[1].second, "Talvor Manager");
    EXPECT_EQ(log[0].headers[2].second, "7");
    EXPECT_EQ(log[0].status, 400);
    fleet->clear_requests();
    EXPECT_TRUE(fleet->requests().empty());
}
