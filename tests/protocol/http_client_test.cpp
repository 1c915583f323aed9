// The HTTP action client against a scripted plain-HTTP unit.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "protocol/zt_hub_http.h"
#include "tests/protocol/hub_test_support.h"
#include "tests/protocol/scripted_http_unit.h"

namespace talvor {
namespace {

using test::http_answer;
using test::http_seen;

// A small unit: challenge and salt, a login that checks the response, and
// scripted answers for everything else.
struct fake_unit {
    std::mutex lock;
    std::string challenge = "c-1";
    std::string salt = "s-1";
    std::string password = "pw";
    std::string role = "admin";
    std::vector<std::pair<std::string, std::string>> login_cookies = {{"Set-Cookie", "csrf=00ab"},
                                                                       {"Set-Cookie", "auth=T0K"}};
    std::function<http_answer(const http_seen&)> more;

    http_answer answer(const http_seen& s)
    {
        std::lock_guard g(lock);
        if (more) {
            auto a = more(s);
            if (a.status != 0)
                return a;
        }
        const std::string path = s.target.substr(0, s.target.find('?'));
        if (path == "/challenge_get.action")
            return {200, R"({"challenge":")" + challenge + R"(","salt":")" + salt + R"("})", {}};
        if (path == "/auth_login.action") {
            if (s.body != "pass=" + test::pass_hex(password, salt, challenge))
                return {403, "", {}};
            return {200, role, login_cookies};
        }
        return {200, "{}", {}};
    }
};

struct http_fixture {
    fake_unit fake;
    test::scripted_http_unit unit;
    zt_hub_http hub;

    explicit http_fixture(std::uint8_t host)
        : unit("127.5.6." + std::to_string(host), [this](const http_seen& s) { return fake.answer(s); }),
          hub(conn_sess::create(test::v4(127, 5, 6, host), std::string(user_agent_text)))
    {
        hub.allowed_problems = hub.accepted_problems = problem_unencrypted;
    }
    void log_in()
    {
        ASSERT_EQ(hub.get_challenge(nullptr), 0);
        ASSERT_EQ(hub.derive_key(fake.password), 0);
        ASSERT_EQ(hub.login(nullptr), 200);
    }
    std::vector<http_seen> since(std::size_t n) const
    {
        auto all = unit.requests();
        return std::vector<http_seen>(all.begin() + static_cast<long>(std::min(n, all.size())), all.end());
    }
};

TEST(HttpClient, StrictLevelRefusesTheUnencryptedUnit)
{
    http_fixture f(1);
    f.hub.allowed_problems = f.hub.accepted_problems = problems_allowed_by(2);
    EXPECT_EQ(f.hub.get_challenge(nullptr), -1000);
    EXPECT_EQ(f.hub.found_problems, 8u);
    EXPECT_EQ(f.hub.login(nullptr), -1);
    EXPECT_TRUE(f.unit.requests().empty());
    f.hub.accepted_problems = f.hub.found_problems | f.hub.allowed_problems;
    EXPECT_EQ(f.hub.get_challenge(nullptr), 0);
}

TEST(HttpClient, LoginPostsTheResponseToTheChallenge)
{
    http_fixture f(2);
    std::string challenge;
    ASSERT_EQ(f.hub.get_challenge(&challenge), 0);
    EXPECT_EQ(challenge, "c-1");
    ASSERT_EQ(f.hub.derive_key("pw"), 0);
    std::string role;
    EXPECT_EQ(f.hub.login(&role), 200);
    EXPECT_EQ(role, "admin");
    const auto seen = f.unit.requests();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].method, "GET");
    EXPECT_EQ(seen[0].target, "/challenge_get.action");
    EXPECT_EQ(seen[1].target, "/challenge_get.action");
    EXPECT_EQ(seen[2].method, "POST");
    EXPECT_EQ(seen[2].target, "/auth_login.action");
    EXPECT_TRUE(test::is_prefixed_hex(seen[2].body, "pass=", 32));
    EXPECT_EQ(seen[2].body, "pass=" + test::pass_hex("pw", "s-1", "c-1"));

    // The wrong password is refused by the unit.
    ASSERT_EQ(f.hub.derive_key("wrong"), 0);
    EXPECT_EQ(f.hub.login(nullptr), 403);

    // Logout carries the same response, now with the csrf token.
    ASSERT_EQ(f.hub.derive_key("pw"), 0);
    const auto n = f.unit.requests().size();
    EXPECT_EQ(f.hub.logout(), 200);
    const auto out = f.since(n);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].target, "/auth_logout.action?00ab");
    EXPECT_EQ(out[1].body, "pass=" + test::pass_hex("pw", "s-1", "c-1"));
}

TEST(HttpClient, RoleTextIsTrimmedAndLowerCased)
{
    const std::pair<std::string, std::string> cases[] = {
        {std::string(1, '\0'), "admin"},
        {"  Admin\r\nmore text", "admin"},
        {"\tOPERATOR ", "operator"},
    };
    for (const auto& [body, want] : cases) {
        http_fixture f(3);
        f.fake.role = body;
        ASSERT_EQ(f.hub.get_challenge(nullptr), 0);
        ASSERT_EQ(f.hub.derive_key("pw"), 0);
        std::string role = "unset";
        EXPECT_EQ(f.hub.login(&role), 200);
        EXPECT_EQ(role, want);
        EXPECT_EQ(f.hub.login(nullptr), want == "admin" ? 200 : 403);
    }
}

TEST(HttpClient, ChangedSaltForcesANewKey)
{
    http_fixture f(4);
    f.log_in();
    f.fake.salt = "s-2";
    ASSERT_EQ(f.hub.get_challenge(nullptr), 0);
    EXPECT_FALSE(f.hub.has_key());
    const auto n = f.unit.requests().size();
    EXPECT_EQ(f.hub.login(nullptr), -1);
    for (const auto& s : f.since(n))
        EXPECT_EQ(s.target, "/challenge_get.action"); // no login attempt without a key
    ASSERT_EQ(f.hub.derive_key("pw"), 0);
    EXPECT_EQ(f.hub.login(nullptr), 200);
}

TEST(HttpClient, MissingChallengeOrSaltFails)
{
    http_fixture f(5);
    f.fake.more = [](const http_seen& s) -> http_answer {
        if (s.target == "/challenge_get.action")
            return {200, R"({"salt":"only"})", {}};
        return {0, {}, {}};
    };
    std::string c;
    EXPECT_EQ(f.hub.get_challenge(&c), -1);
    EXPECT_EQ(f.hub.get_challenge(nullptr), 0); // no challenge wanted
    f.fake.more = [](const http_seen& s) -> http_answer {
        if (s.target == "/challenge_get.action")
            return {200, R"({"challenge":"c","salt":""})", {}};
        return {0, {}, {}};
    };
    EXPECT_EQ(f.hub.get_challenge(&c), -1);
    f.fake.more = [](const http_seen&) -> http_answer { return {500, {}, {}}; };
    EXPECT_EQ(f.hub.get_challenge(&c), -1);
}

TEST(HttpClient, SetPasswordSendsMaskedKeyAndCheck)
{
    http_fixture f(6);
    f.log_in();
    const auto n = f.unit.requests().size();
    EXPECT_EQ(f.hub.set_password("new-pw"), 200);
    const auto seen = f.since(n);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].target, "/auth_set.action?00ab");
    const key16 r1 = derive_f(derive_f("pw", "s-1"), "c-1");
    const key16 nk = derive_f("new-pw", "s-1");
    key16 p{};
    for (std::size_t i = 0; i < 16; ++i)
        p[i] = static_cast<std::uint8_t>(r1[i] ^ nk[i]);
    EXPECT_EQ(seen[1].body, "pass=" + hex_lower(p) + "&check=" + hex_lower(derive_f(nk, "c-1")));
    EXPECT_TRUE(f.hub.has_key()); // the stored key stays as it was
}

TEST(HttpClient, FormOperationsAndTheAuthToken)
{
    http_fixture f(7);
    f.log_in();
    const auto n = f.unit.requests().size();
    EXPECT_EQ(f.hub.reboot(5), 200);
    EXPECT_EQ(f.hub.sdcard_clear(2), 200);
    EXPECT_EQ(f.hub.modbus_set(4608, {1, 2}), 200);
    EXPECT_EQ(f.hub.modbus_set(4608, {}), 200); // sends nothing
    f.hub.set_flags(option_auth_query);
    EXPECT_EQ(f.hub.modbus_set(4608, {-3}), 200);
    const auto seen = f.since(n);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].method, "POST");
    EXPECT_EQ(seen[0].target, "/reboot.action?00ab");
    EXPECT_EQ(seen[0].body, "reboot=5");
    EXPECT_EQ(seen[1].target, "/sdcard_clear.action?00ab");
    EXPECT_EQ(seen[1].body, "sdcard_clear=2");
    EXPECT_EQ(seen[2].target, "/modbus_set.action?00ab");
    EXPECT_EQ(seen[2].body, "start=4608&count=2&regs[]=1&regs[]=2");
    EXPECT_EQ(seen[3].body, "start=4608&count=1&regs[]=-3?auth=T0K");
}

TEST(HttpClient, ReadsUseTheirPathsAndTheAuthTokenWhenAsked)
{
    http_fixture f(8);
    f.fake.more = [](const http_seen& s) -> http_answer {
        if (s.target.find("/modbus_get.action") == 0)
            return {200, R"({"regs":[10,20]})", {}};
        return {0, {}, {}};
    };
    f.log_in();
    auto run_reads = [&] {
        byte_vector raw;
        std::vector<int> regs;
        EXPECT_EQ(f.hub.get_config_file_raw(raw, reply_limit), 200);
        EXPECT_EQ(test::text_of(raw), "{}");
        EXPECT_NE(f.hub.get_config_file(reply_limit), nullptr);
        EXPECT_EQ(f.hub.get_gen_conf_raw(raw, reply_limit), 200);
        EXPECT_NE(f.hub.get_gen_conf(reply_limit), nullptr);
        EXPECT_NE(f.hub.get_conf(reply_limit), nullptr);
        EXPECT_EQ(f.hub.get_tap_details_raw(raw, reply_limit), 200);
        EXPECT_NE(f.hub.get_tap_details(reply_limit), nullptr);
        EXPECT_EQ(f.hub.get_config_cats_raw(raw, reply_limit), 200);
        EXPECT_NE(f.hub.get_config_cats(reply_limit), nullptr);
        EXPECT_EQ(f.hub.modbus_read(regs, 4608, 2, 1, reply_limit), 0);
        EXPECT_EQ(regs, (std::vector<int>{10, 20}));
        EXPECT_EQ(f.hub.modbus_read(regs, 4608, 3, 1, reply_limit), -1); // two values for three
    };
    auto n = f.unit.requests().size();
    run_reads();
    std::vector<std::string> plain;
    for (const auto& s : f.since(n)) {
        EXPECT_EQ(s.method, "GET");
        EXPECT_EQ(s.body, "");
        plain.push_back(s.target);
    }
    EXPECT_EQ(plain, (std::vector<std::string>{
                         "/config.cfg", "/config.cfg", "/gen_conf_get.action", "/gen_conf_get.action",
                         "/conf_get.action", "/tap_details.action", "/tap_details.action", "/config_cats.action",
                         "/config_cats.action", "/modbus_get.action?start=4608&count=2&interval=1",
                         "/modbus_get.action?start=4608&count=3&interval=1"}));

    f.hub.set_flags(option_auth_query);
    n = f.unit.requests().size();
    run_reads();
    std::vector<std::string> with_token;
    for (const auto& s : f.since(n))
        with_token.push_back(s.target);
    EXPECT_EQ(with_token, (std::vector<std::string>{
                              "/config.cfg", "/config.cfg", "/gen_conf_get.action?auth=T0K",
                              "/gen_conf_get.action?auth=T0K", "/conf_get.action?auth=T0K", "/tap_details.action",
                              "/tap_details.action", "/config_cats.action", "/config_cats.action",
                              "/modbus_get.action?auth=T0K&start=4608&count=2&interval=1",
                              "/modbus_get.action?auth=T0K&start=4608&count=3&interval=1"}));
}

TEST(HttpClient, FailedReadsHandNothingBack)
{
    http_fixture f(9);
    f.fake.more = [](const http_seen& s) -> http_answer {
        if (s.target == "/config.cfg")
            return {200, std::string(300, 'x'), {}};
        if (s.target == "/tap_details.action")
            return {404, "{}", {}};
        if (s.target == "/config_cats.action")
            return {200, R"({"cats":[)", {}}; // cut short
        return {0, {}, {}};
    };
    byte_vector out = test::bytes_of("kept");
    EXPECT_EQ(f.hub.get_config_file_raw(out, 300), -1); // a body reaching the limit fails
    EXPECT_EQ(test::text_of(out), "kept");
    EXPECT_EQ(f.hub.get_config_file_raw(out, 301), 200);
    EXPECT_EQ(out.size(), 300u);
    EXPECT_EQ(f.hub.get_tap_details_raw(out, reply_limit), 404);
    EXPECT_EQ(f.hub.get_tap_details(reply_limit), nullptr);
    EXPECT_EQ(f.hub.get_config_cats(reply_limit), nullptr);
}

TEST(HttpClient, EmptyBodiesReadAsEmpty)
{
    http_fixture f(16);
    f.fake.role = "";
    f.fake.more = [](const http_seen& s) -> http_answer {
        if (s.target == "/config.cfg")
            return {200, "", {}};
        return {0, {}, {}};
    };
    byte_vector out = test::bytes_of("old");
    EXPECT_EQ(f.hub.get_config_file_raw(out, reply_limit), 200);
    EXPECT_TRUE(out.empty());
    ASSERT_EQ(f.hub.get_challenge(nullptr), 0);
    ASSERT_EQ(f.hub.derive_key("pw"), 0);
    std::string role = "unset";
    EXPECT_EQ(f.hub.login(&role), 200);
    EXPECT_EQ(role, "");
    EXPECT_EQ(f.hub.login(nullptr), 403); // no role is not the administrator
}

// The multipart body as the unit receives it, with its boundary found from
// the first line.
std::vector<std::string> multipart_parts(const std::string& body)
{
    const auto eol = body.find("\r\n\r\n");
    if (eol == std::string::npos)
        return {};
    const std::string b = body.substr(0, eol);
    EXPECT_TRUE(test::is_prefixed_hex(b, "--------", 16));
    const std::string tail = "\r\n" + b + "--\r\n";
    EXPECT_TRUE(body.size() >= eol + 4 + tail.size() && body.ends_with(tail));
    std::string inner = body.substr(eol + 4, body.size() - eol - 4 - tail.size());
    const std::string sep = "\r\n" + b + "\r\n\r\n";
    std::vector<std::string> parts;
    for (std::size_t at; (at = inner.find(sep)) != std::string::npos; inner.erase(0, at + sep.size()))
        parts.push_back(inner.substr(0, at));
    parts.push_back(inner);
    return parts;
}

TEST(HttpClient, UploadsSendTheirMultipartSegments)
{
    http_fixture f(10);
    f.fake.more = [](const http_seen& s) -> http_answer {
        if (s.target == "/prog_get.action")
            return {200, R"({"status":3})", {}};
        return {0, {}, {}};
    };
    f.log_in();
    const byte_vector image = test::bytes_of(std::string("IMG\0\r\nDATA", 10));
    const auto n = f.unit.requests().size();
    EXPECT_EQ(f.hub.upload_net_firmware(image, progress_range{}, 0), 200);
    EXPECT_EQ(f.hub.upload_sys_firmware(image, 3, progress_range{}, 4), 200);
    EXPECT_EQ(f.hub.upload_sys_firmware(image, -1, progress_range{}, 99), 200);
    EXPECT_EQ(f.hub.set_config(image, 7, progress_range{}), 200);
    EXPECT_EQ(f.hub.upload_customisation(image, progress_range{}), 200);
    const auto seen = f.since(n);
    ASSERT_EQ(seen.size(), 8u);
    const std::string img(image.begin(), image.end());
    EXPECT_EQ(seen[0].target, "/fw_net_file.action?00ab");
    EXPECT_EQ(multipart_parts(seen[0].body), std::vector<std::string>{img});
    EXPECT_EQ(seen[1].target, "/prog_get.action");
    EXPECT_EQ(seen[2].target, "/fw_sys_file.action?00ab");
    EXPECT_EQ(multipart_parts(seen[2].body), (std::vector<std::string>{"3", "IMG" + std::string(1, '\0')}));
    EXPECT_EQ(seen[4].target, "/fw_net_file.action?00ab"); // a negative target is the network image
    EXPECT_EQ(multipart_parts(seen[4].body), std::vector<std::string>{img});
    EXPECT_EQ(seen[6].target, "/config_set.action?00ab");
    EXPECT_EQ(multipart_parts(seen[6].body), (std::vector<std::string>{"7", img}));
    EXPECT_EQ(seen[7].target, "/customise_file.action?00ab");
    EXPECT_EQ(multipart_parts(seen[7].body), std::vector<std::string>{img});
}

TEST(HttpClient, FirmwareProgressIsPolledUntilDoneOrFailed)
{
    http_fixture f(11);
    std::atomic<int> poll{0};
    std::vector<std::string> script = {R"({"status":1,"prog":20})", R"({"status":1})", R"({"status":1,"prog":60})",
                                       R"({"status":2})"};
    f.fake.more = [&](const http_seen& s) -> http_answer {
        if (s.target == "/prog_get.action")
            return {200, script[static_cast<std::size_t>(poll++) % script.size()], {}};
        if (s.target.starts_with("/fw_sys_file.action"))
            return {200, "", {}};
        return {0, {}, {}};
    };
    f.log_in();
    const progress_range range{0.5, 1.0};
    EXPECT_EQ(f.hub.upload_sys_firmware(test::bytes_of("i"), 1, range, 0), -1); // status 2
    EXPECT_EQ(poll.load(), 4);
    // 20 % was the lowest: 60 % lies half way through the polled part.
    EXPECT_DOUBLE_EQ(range.value->get(), 0.55 + 0.45 * 0.5);

    poll = 0;
    script = {R"({"status":1,"prog":30})", R"({"prog":99})"};
    EXPECT_EQ(f.hub.upload_sys_firmware(test::bytes_of("i"), 1, range, 0), 200);
    EXPECT_EQ(poll.load(), 2);
    EXPECT_DOUBLE_EQ(range.value->get(), 1.0);

    // Without polling the upload's own status is the result.
    poll = 0;
    f.hub.set_flags(option_no_progress);
    EXPECT_EQ(f.hub.upload_sys_firmware(test::bytes_of("i"), 1, range, 0), 200);
    EXPECT_EQ(poll.load(), 0);
    EXPECT_DOUBLE_EQ(range.value->get(), 1.0); // the transfer ran on the whole range
}

TEST(HttpClient, FailedUploadStatusIsReturnedWithoutPolling)
{
    http_fixture f(12);
    f.fake.more = [](const http_seen& s) -> http_answer {
        if (s.target.starts_with("/fw_net_file.action"))
            return {403, "", {}};
        return {0, {}, {}};
    };
    f.log_in();
    const auto n = f.unit.requests().size();
    EXPECT_EQ(f.hub.upload_net_firmware(test::bytes_of("i"), progress_range{}, 0), 403);
    EXPECT_EQ(f.since(n).size(), 1u);
}

TEST(HttpClient, CertificateOperationsAreNotOffered)
{
    http_fixture f(13);
    const auto file = test::bytes_of("pem");
    EXPECT_EQ(f.hub.cert_upload(file, progress_range{}), -1);
    EXPECT_EQ(f.hub.priv_upload(file, progress_range{}), -1);
    EXPECT_EQ(f.hub.cert_default_regen(), -1);
    EXPECT_EQ(f.hub.cert_clear(), -1);
    EXPECT_TRUE(f.hub.get_server_cert().empty());
    f.hub.drop_connection();
    EXPECT_EQ(f.hub.protocol_kind(), 1);
    EXPECT_TRUE(f.unit.requests().empty());
}

TEST(HttpClient, CsrfRenewalFollowsTheUnitsToken)
{
    http_fixture f(14);
    EXPECT_FALSE(f.hub.csrf_needs_renewal()); // no token yet
    f.fake.login_cookies = {{"Set-Cookie", "csrf=a00b"}};
    f.log_in();
    EXPECT_FALSE(f.hub.csrf_needs_renewal());
    f.fake.login_cookies = {{"Set-Cookie", "CSRF=1200; Path=/"}};
    EXPECT_EQ(f.hub.login(nullptr), 200);
    EXPECT_TRUE(f.hub.csrf_needs_renewal());
}

TEST(HttpClient, CancelCutsWaitsShort)
{
    http_fixture f(15);
    EXPECT_TRUE(f.hub.wait_cancel(1));
    f.hub.set_cancel(true);
    EXPECT_FALSE(f.hub.wait_cancel(60000));
    EXPECT_EQ(f.hub.reboot(1), -998);
    f.hub.set_cancel(false);
    EXPECT_TRUE(f.hub.wait_cancel(1));
}

} // namespace
} // namespace talvor
