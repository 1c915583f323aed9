// The broadcast case: units inside a network namespace of the test's own,
// the asking side in a second one joined to it by a veth pair.
#include "sim_fixture.h"

#include <algorithm>
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace simtest;

namespace {

int sh(const std::string& cmd)
{
    return std::system((cmd + " >/dev/null 2>&1").c_str());
}

// Runs f on a thread that has joined the named namespace.
template <class F>
void in_netns(const std::string& ns, F f)
{
    std::thread t([&] {
        int fd = ::open(("/var/run/netns/" + ns).c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::setns(fd, CLONE_NEWNET), 0);
        ::close(fd);
        f();
    });
    t.join();
}

class DiscoveryNetns : public ::testing::Test {
protected:
    std::string units_ns = "hubsim_u" + std::to_string(::getpid());
    std::string asker_ns = "hubsim_a" + std::to_string(::getpid());
    std::string veth = "hsv" + std::to_string(::getpid() % 100000);

    void SetUp() override
    {
        if (::geteuid() != 0 || sh("ip -V") != 0)
            GTEST_SKIP() << "needs root and iproute2";
        ASSERT_EQ(sh("ip netns add " + units_ns), 0);
        ASSERT_EQ(sh("ip netns add " + asker_ns), 0);
        ASSERT_EQ(sh("ip link add " + veth + "a type veth peer name " + veth + "b"), 0);
        ASSERT_EQ(sh("ip link set " + veth + "a netns " + units_ns), 0);
        ASSERT_EQ(sh("ip link set " + veth + "b netns " + asker_ns), 0);
        for (auto a : {"10.213.0.11/24", "10.213.0.12/24"})
            ASSERT_EQ(sh("ip -n " + units_ns + " addr add " + a + " dev " + veth + "a"), 0);
        ASSERT_EQ(sh("ip -n " + units_ns + " link set " + veth + "a up"), 0);
        ASSERT_EQ(sh("ip -n " + asker_ns + " addr add 10.213.0.2/24 dev " + veth + "b"), 0);
        ASSERT_EQ(sh("ip -n " + asker_ns + " link set " + veth + "b up"), 0);
    }

    void TearDown() override
    {
        sh("ip netns del " + units_ns); // takes the veth pair with it
        sh("ip netns del " + asker_ns);
    }
};

} // namespace

TEST_F(DiscoveryNetns, BroadcastIsAnsweredByEveryUnitFromItsOwnAddress)
{
    std::unique_ptr<talvor::sim::fleet_server> fleet;
    in_netns(units_ns, [&] {
        fleet = start(R"({"discovery":"wildcard","units":[
            {"name":"t","kind":"http","address":"10.213.0.11","gen_conf":{"system":"622"}},
            {"name":"o","kind":"wss","address":"10.213.0.12","gen_conf":{"system":"522"}}]})");
    });
    std::vector<std::pair<std::string, std::string>> replies;
    in_netns(asker_ns, [&] {
        int s = ::socket(AF_INET, SOCK_DGRAM, 0);
        int on = 1;
        ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(2212);
        inet_pton(AF_INET, "10.213.0.2", &local.sin_addr);
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
    });
    fleet.reset();
    ASSERT_EQ(replies.size(), 2u);
    std::sort(replies.begin(), replies.end());
    EXPECT_EQ(replies[0].first, "10.213.0.11");
    EXPECT_EQ(replies[1].first, "10.213.0.12");
    EXPECT_EQ(replies[0].second.size(), 152u);
    EXPECT_EQ(static_cast<unsigned char>(replies[0].second[2]) | static_cast<unsigned char>(replies[0].second[3]) << 8,
              622);
    EXPECT_EQ(static_cast<unsigned char>(replies[1].second[2]) | static_cast<unsigned char>(replies[1].second[3]) << 8,
              522);
}
