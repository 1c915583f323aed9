// Choosing the client by the probe's outcome.
#include <gtest/gtest.h>

#include <chrono>

#include "protocol/zt_hub.h"
#include "tests/protocol/hub_test_support.h"
#include "tests/protocol/scripted_http_unit.h"
#include "tests/support/silent_listener.h"
#include "transport/conn_sess_impl.h"

namespace talvor {
namespace {

std::unique_ptr<zt_hub> probe_unit(std::uint8_t host, int status, int tls_checks = 1,
                                   std::vector<test::http_seen>* seen = nullptr)
{
    test::scripted_http_unit unit("127.5.4." + std::to_string(host),
                                  [status](const test::http_seen&) { return test::http_answer{status, "x", {}}; });
    auto hub = make_hub(test::v4(127, 5, 4, host), user_agent_text, tls_checks);
    if (seen)
        *seen = unit.requests();
    return hub;
}

TEST(HubFactory, PlainAnswersGiveTheHttpClient)
{
    std::vector<test::http_seen> seen;
    auto hub = probe_unit(1, 404, 1, &seen);
    ASSERT_NE(hub, nullptr);
    EXPECT_EQ(hub->protocol_kind(), 1);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "GET");
    EXPECT_EQ(seen[0].target, "/XYZZY.ASD");
    EXPECT_EQ(seen[0].body, "");

    hub = probe_unit(2, 200);
    ASSERT_NE(hub, nullptr);
    EXPECT_EQ(hub->protocol_kind(), 1);
}

TEST(HubFactory, RedirectOrRefusalGiveTheWebSocketClient)
{
    for (std::uint8_t host : {3, 4}) {
        auto hub = probe_unit(host, host == 3 ? 301 : 302);
        ASSERT_NE(hub, nullptr);
        EXPECT_EQ(hub->protocol_kind(), 2);
    }
    // Nothing listens on port 80 of this address.
    auto hub = make_hub(test::v4(127, 5, 4, 5), user_agent_text, 1);
    ASSERT_NE(hub, nullptr);
    EXPECT_EQ(hub->protocol_kind(), 2);
}

TEST(HubFactory, OtherAnswersGiveNoClientAndSilenceIsNoAnswer)
{
    EXPECT_EQ(probe_unit(6, 500), nullptr);
    EXPECT_EQ(probe_unit(7, 403), nullptr);
    test::scripted_http_unit answering("127.5.4.8", [](const test::http_seen&) { return test::http_answer{500, "", {}}; });
    EXPECT_TRUE(probe_hub(conn_sess::create(test::v4(127, 5, 4, 8), "t"), 1).answered);

    test::silent_listener stalled("127.5.4.9");
    auto session = conn_sess::create(test::v4(127, 5, 4, 9), "t");
    session->internals().timeouts.receive = std::chrono::milliseconds(100);
    const probe_result r = probe_hub(session, 1);
    EXPECT_EQ(r.hub, nullptr);
    EXPECT_FALSE(r.answered);
}

TEST(HubFactory, ProblemWordsFollowTheTlsCheckLevel)
{
    const std::pair<int, std::uint32_t> levels[] = {{0, 15}, {1, 1}, {2, 0}, {9, 0}};
    std::uint8_t host = 10;
    for (auto [level, bits] : levels) {
        auto hub = probe_unit(host++, 404, level);
        ASSERT_NE(hub, nullptr);
        EXPECT_EQ(hub->allowed_problems, bits) << level;
        EXPECT_EQ(hub->accepted_problems, bits) << level;
        EXPECT_EQ(hub->found_problems, 0u) << level;
    }
}

} // namespace
} // namespace talvor
