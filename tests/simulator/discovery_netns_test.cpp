// The broadcast case: units inside a network namespace of the test's own,
// the asking side in a second one joined to it by a veth pair.
#include "sim_fixture.h"

#include <algorithm>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/connect/netns.h"

using namespace simtest;
using talvor::test::netns_pair;
using talvor::test::run_in_netns;
using talvor::test::shell;

namespace {

// The units' namespace is a (10.213.0.1 and .3), the asker's b (.2).
class DiscoveryNetns : public ::testing::Test {
protected:
    netns_pair ns{"hubsim", 0};

    void SetUp() override
    {
        if (!ns.ok())
            GTEST_SKIP() << "needs root and iproute2";
        ASSERT_TRUE(shell("ip -n " + ns.a() + " addr add 10.213.0.3/24 dev va"));
    }
};

} // namespace

TEST_F(DiscoveryNetns, BroadcastIsAnsweredByEveryUnitFromItsOwnAddress)
{
    std::unique_ptr<talvor::sim::fleet_server> fleet;
    ASSERT_TRUE(run_in_netns(ns.a(), [&] {
        fleet = start(R"({"discovery":"wildcard","units":[
            {"name":"t","kind":"http","address":"10.213.0.1","gen_conf":{"system":"622"}},
            {"name":"o","kind":"wss","address":"10.213.0.3","gen_conf":{"system":"522"}}]})");
    }));
    std::vector<std::pair<std::string, std::string>> replies;
    ASSERT_TRUE(run_in_netns(ns.b(), [&] {
        int s = ::socket(AF_INET, SOCK_DGRAM, 0);
        int on = 1;
        ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(2212);
        inet_pton(AF_INET, ns.address_b().c_str(), &local.sin_addr);
        ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(2211);
        to.sin_addr.s_addr = INADDR_BROADCAST;
        const char request[6] = {0x1d, static_cast<char>(0xbb), 0, 0, 0, 0x40};
        ASSERT_EQ(::sendto(s, request, 6, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 6);
        for (int waited = 0; waited < 1000 && replies.size() < 2; waited += 50) {
            pollfd p{s, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buf[512];
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n = ::recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
            char text[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
            if (n > 0)
                replies.emplace_back(text, std::string(buf, static_cast<std::size_t>(n)));
        }
        ::close(s);
    }));
    fleet.reset();
    ASSERT_EQ(replies.size(), 2u);
    std::sort(replies.begin(), replies.end());
    EXPECT_EQ(replies[0].first, "10.213.0.1");
    EXPECT_EQ(replies[1].first, "10.213.0.3");
    EXPECT_EQ(replies[0].second.size(), 152u);
    EXPECT_EQ(static_cast<unsigned char>(replies[0].second[2]) | static_cast<unsigned char>(replies[0].second[3]) << 8,
              622);
    EXPECT_EQ(static_cast<unsigned char>(replies[1].second[2]) | static_cast<unsigned char>(replies[1].second[3]) << 8,
              522);
}
