// Discovery, run only inside network namespaces this test creates: a
// responder in one, the discovering side in the other, joined by veth.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

#include "inventory/discovery.h"
#include "inventory/window_bridge_headless.h"
#include "operations/unit_manager.h"
#include "tests/connect/netns.h"
#include "tests/connect/scripted_dialogs.h"

namespace talvor::test {
namespace {

using namespace std::chrono_literals;
using datagram = std::vector<std::uint8_t>;

datagram reply(std::size_t size, unsigned flags, unsigned code, std::uint8_t mac_last, unsigned magic = 0xBB1D)
{
    datagram d(size, 0);
    auto put16 = [&](std::size_t at, unsigned v) {
        d[at] = static_cast<std::uint8_t>(v & 0xFF);
        d[at + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    put16(0, magic);
    put16(2, code);
    put16(4, flags);
    const std::uint8_t mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, mac_last};
    std::memcpy(&d[6], mac, 6);
    const std::size_t at = size >= 152 ? 144 : 60;
    if (at + 8 <= size) {
        std::memcpy(&d[at], "TLV", 3);
        const std::uint8_t id[5] = {0x01, 0x23, 0x45, 0x67, 0x89};
        std::memcpy(&d[at + 3], id, 5);
    }
    return d;
}
datagram extended(std::uint8_t mac_last, unsigned code = 622) { return reply(152, 0xC000, code, mac_last); }
datagram basic(std::uint8_t mac_last, unsigned code = 522) { return reply(68, 0x8000, code, mac_last); }

// Answers every request on port 2211 with `answers`, until stopped.
class responder {
public:
    std::vector<datagram> answers;
    std::atomic<int> requests{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> ready{false};

    void run()
    {
        const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(discovery_unit_port);
        if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
            ready = true;
            return;
        }
        ready = true;
        while (!stop) {
            pollfd p{s, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            std::uint8_t buf[64];
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n != 6 || std::memcmp(buf, discovery_request.data(), 6) != 0)
                continue;
            ++requests;
            for (const auto& d : answers)
                ::sendto(s, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
        ::close(s);
    }
};

struct found {
    mac_key mac;
    ip_address sender;
    std::string identifier;
};

class recording_discover final : public discover {
public:
    std::vector<found> finds;
    int on_found(int, std::span<const std::uint8_t>, const mac_key& mac, const ip_address& sender,
                 const std::string& identifier) override
    {
        finds.push_back({mac, sender, identifier});
        return 0;
    }
};

// Polls `done` for up to `limit`; false when it never held.
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// The responder runs in b while `discovering` runs in a.
void with_responder(const netns_pair& ns, responder& r, const std::function<void()>& discovering)
{
    std::thread unit([&] {
        if (!run_in_netns(ns.b(), [&] { r.run(); }))
            r.ready = true; // nothing listens: the discovering side finds nobody
    });
    if (wait_until([&] { return r.ready.load(); }))
        run_in_netns(ns.a(), discovering);
    else
        ADD_FAILURE() << "the responder never started";
    r.stop = true;
    unit.join();
}

#define NETNS_OR_SKIP(ns)                                                                                    \
    if (!(ns).ok())                                                                                          \
    GTEST_SKIP() << "network namespaces cannot be created here (needs root and iproute2); discovery is only " \
                    "ever tested inside them"

ip_address mapped_text(const std::string& v4)
{
    ip_address a{};
    a[10] = a[11] = 0xFF;
    inet_pton(AF_INET, v4.c_str(), &a[12]);
    return a;
}

TEST(discovery_test, a_unit_answering_all_three_rounds_is_found_once)
{
    netns_pair ns("tlvd1", 1);
    NETNS_OR_SKIP(ns);
    responder unit;
    unit.answers = {extended(0x5e)};
    recording_discover d;
    int opened = -2, ran = -2;
    with_responder(ns, unit, [&] {
        opened = d.open_sockets();
        ran = d.run_discovery();
    });
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(d.socket_count(), 1u) << "lo (127.0.0.0/8) is left out";
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(unit.requests.load(), 3);
    ASSERT_EQ(d.finds.size(), 1u);
    const mac_key want{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e, 0, 0};
    EXPECT_EQ(d.finds[0].mac, want);
    EXPECT_EQ(d.finds[0].sender, mapped_text(ns.address_b()));
    EXPECT_EQ(d.finds[0].identifier, "TLV012345678");
}

TEST(discovery_test, wrong_lengths_flags_magic_or_system_code_are_dropped)
{
    netns_pair ns("tlvd2", 2);
    NETNS_OR_SKIP(ns);
    responder unit;
    unit.answers = {
        reply(68, 0xC000, 622, 0x01),          // basic length with the extended flag
        reply(152, 0x8000, 622, 0x02),         // extended length without it
        reply(152, 0x4000, 622, 0x03),         // bit 15 clear
        reply(152, 0xC000, 622, 0x04, 0xBB1E), // wrong magic
        reply(152, 0xC000, 700, 0x05),         // unknown system code
        reply(200, 0xC000, 622, 0x06),         // longer than any reply
        reply(67, 0x8000, 522, 0x07),          // one byte short
        basic(0x08),                           // the one good reply
    };
    recording_discover d;
    with_responder(ns, unit, [&] {
        d.open_sockets();
        d.run_discovery();
    });
    ASSERT_EQ(d.finds.size(), 1u);
    EXPECT_EQ(d.finds[0].mac[5], 0x08);
}

TEST(discovery_test, a_namespace_with_only_loopback_ends_at_once)
{
    netns_pair ns("tlvd3", 3, false);
    NETNS_OR_SKIP(ns);
    recording_discover d;
    int opened = -2, ran = -2;
    run_in_netns(ns.a(), [&] {
        opened = d.open_sockets();
        ran = d.run_discovery();
    });
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(d.socket_count(), 0u);
    EXPECT_EQ(ran, 0);
    EXPECT_TRUE(d.finds.empty());
}

TEST(discovery_test, reply_reading_without_a_network)
{
    auto r = read_discovery_reply(extended(0x11, 522));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->system_code, 522);
    EXPECT_EQ(r->identifier, "TLV012345678");
    EXPECT_TRUE(read_discovery_reply(basic(0x12, 622)));
    EXPECT_FALSE(read_discovery_reply(reply(68, 0x8000, 0, 0x13)));
    EXPECT_FALSE(read_discovery_reply(datagram{}));
}

struct window_listener final : unit_listener {
    std::vector<removed_unit> removed;
    int discoveries = 0;
    void unit_removed(const removed_unit& r) override { removed.push_back(r); }
    void discovery_finished() override { std::atomic_ref<int>(discoveries).fetch_add(1); }
};

TEST(discovery_test, the_discover_command_adds_each_new_unit_once)
{
    netns_pair ns("tlvd4", 4);
    NETNS_OR_SKIP(ns);
    responder unit;
    // Two MACs from one address: the second is refused by address.
    unit.answers = {extended(0x21), extended(0x22)};
    window_listener listener;
    int found_messages = 0;
    bool disabled_did_nothing = false, started = false, done = false;
    with_responder(ns, unit, [&] {
        headless_bridge bridge;
        scripted_dialogs ui;
        AppSettings settings;
        unit_manager manager(bridge, ui, settings, &listener);
        // The first unit stays listed until the run ends, so the second find
        // meets it.
        manager.env().factory = [&listener](std::shared_ptr<conn_sess>, int) -> probe_result {
            for (int i = 0; i < 2000 && std::atomic_ref<int>(listener.discoveries).load() == 0; ++i)
                std::this_thread::sleep_for(5ms);
            return nullptr;
        };
        disabled_did_nothing = !manager.discover();
        settings.discover_flags = 1;
        started = manager.discover();
        EXPECT_FALSE(manager.discover()) << "one run at a time";
        done = bridge.run_until([&] { return listener.discoveries == 1 && manager.idle(); }, 20s);
        found_messages = static_cast<int>(listener.removed.size());
    });
    EXPECT_TRUE(disabled_did_nothing);
    EXPECT_TRUE(started);
    EXPECT_TRUE(done);
    EXPECT_EQ(unit.requests.load(), 3);
    ASSERT_EQ(found_messages, 1);
    EXPECT_EQ(listener.removed[0].address, ns.address_b());
    EXPECT_EQ(listener.removed[0].reason, unit_failure::no_client);
}

TEST(discovery_test, shutting_down_stops_a_running_discovery)
{
    netns_pair ns("tlvd5", 5);
    NETNS_OR_SKIP(ns);
    responder unit;
    window_listener listener;
    bool stopped_early = false;
    with_responder(ns, unit, [&] {
        headless_bridge bridge;
        scripted_dialogs ui;
        AppSettings settings;
        settings.discover_flags = 1;
        unit_manager manager(bridge, ui, settings, &listener);
        ASSERT_TRUE(manager.discover());
        EXPECT_TRUE(wait_until([&] { return unit.requests.load() > 0; })) << "no request reached the unit";
        manager.shut_down();
        stopped_early = !manager.discovery_running();
    });
    EXPECT_TRUE(stopped_early);
    EXPECT_LT(unit.requests.load(), 3) << "the run ended in its first round";
}

} // namespace
} // namespace talvor::test
