// Faults of a bad site: a unit restarting under an upload, a link that is
// down for a while, a slow WebSocket link and the seeded random mode.
#include "sim_fixture.h"

#include <gtest/gtest.h>

#include <csignal>

#include <chrono>
#include <thread>

using namespace simtest;

namespace {

std::string open_unit(const std::string& kind, const std::string& address, const std::string& faults)
{
    return R"({"units":[{"name":"u","kind":")" + kind + R"(","address":")" + address +
           R"(","require_login":false,"csrf_check":false,"faults":)" + faults + "}]}";
}

// Polls the unit until it answers again; false after five seconds.
bool answers_again(const std::string& address)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        if (wire::http(address, "GET", "/gen_conf_get.action").status == 200)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::vector<std::string> event_kinds(const talvor::sim::fleet_server& fleet)
{
    std::vector<std::string> out;
    for (const auto& e : fleet.events("u"))
        out.push_back(e.kind);
    return out;
}

} // namespace

TEST(SiteFaults, UnitRestartsUnderAnUploadAndComesBackWithItsOldState)
{
    std::signal(SIGPIPE, SIG_IGN); // the restart cuts the upload being written
    const std::string a = "127.3.60.1";
    auto fleet = start(open_unit("http", a, R"({"restart_upload_once":1000})"));
    const std::string image = wire::multipart({std::string(1 << 20, 'v')});
    EXPECT_EQ(wire::http(a, "POST", "/fw_net_file.action", image).status, -1);
    EXPECT_EQ(wire::http(a, "GET", "/gen_conf_get.action").status, -1); // down
    ASSERT_TRUE(answers_again(a));
    // Nothing of the cut upload was kept; the next upload goes through.
    EXPECT_EQ(event_kinds(*fleet), (std::vector<std::string>{"restart"}));
    EXPECT_EQ(fleet->requests("u").front().fault, "restart_upload");
    EXPECT_EQ(wire::http(a, "POST", "/fw_net_file.action", image).status, 200);
    EXPECT_EQ(event_kinds(*fleet), (std::vector<std::string>{"restart", "fw_net"}));
}

TEST(SiteFaults, LinkDownRefusesConnectionsForItsTimeOnly)
{
    const std::string a = "127.3.60.2";
    auto fleet = start(open_unit("http", a, R"({"link_down":1000})"));
    EXPECT_EQ(wire::http(a, "GET", "/gen_conf_get.action").status, -1);
    EXPECT_TRUE(fleet->requests("u").empty()); // refused before any request was read
    ASSERT_TRUE(answers_again(a));
    EXPECT_EQ(event_kinds(*fleet), (std::vector<std::string>{"link_down"})); // no restart: the unit kept its state
    // Armed again at run time, it also cuts a connection already open.
    std::signal(SIGPIPE, SIG_IGN);
    auto w = start(open_unit("wss", "127.3.60.3", "{}"));
    wire::ws_client ws("127.3.60.3", w->ca_cert_path());
    ws.set_timeout_ms(5000);
    EXPECT_EQ(ws.request(envelope(1, "config.cfg")).substr(0, 11), "data:1,200,");
    w->set_fault("u", "link_down", "60000");
    EXPECT_THROW(wire::ws_client("127.3.60.3", w->ca_cert_path()), std::runtime_error);
    EXPECT_EQ(ws.receive(), "");
    EXPECT_TRUE(ws.closed());
}

TEST(SiteFaults, SlowWebSocketLinkStillTakesTheWholeMessage)
{
    std::signal(SIGPIPE, SIG_IGN);
    auto fleet = start(open_unit("wss", "127.3.60.4", R"({"slow_ws":40})"));
    wire::ws_client ws("127.3.60.4", fleet->ca_cert_path());
    ws.set_timeout_ms(10000);
    const std::string file(100000, 'c');
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(ws.request(envelope(1, "customise_file.action") + std::string(1, '\0') + file), "data:1,200,");
    // At least one pause per 16 KiB piece: a lower bound, so a busy machine cannot fail it.
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(6 * 40));
    EXPECT_EQ(fleet->last_upload("u", "customise"), file);
}

TEST(SiteFaults, RandomModeKindsLeaveTheRequestUndoneExceptAStall)
{
    struct row {
        const char* kind;
        int status; // what the client gets
        bool done;  // whether the unit acted on it
    };
    const row rows[] = {{"drop", -1, false}, {"close", -1, false}, {"500", 500, false}, {"stall", 200, true}};
    int n = 0;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.kind);
        const std::string a = "127.3.61." + std::to_string(++n);
        auto fleet = start(open_unit("http", a, std::string(R"({"random":{"chance":1,"stall_ms":200,"kinds":[")") +
                                                    r.kind + R"("]}})"));
        EXPECT_EQ(wire::http(a, "POST", "/reboot.action", "reboot=1").status, r.status);
        EXPECT_EQ(event_kinds(*fleet).size(), r.done ? 1u : 0u);
        ASSERT_EQ(fleet->requests("u").size(), 1u);
        EXPECT_EQ(fleet->requests("u")[0].fault, r.kind);
    }
}

TEST(SiteFaults, RandomModeRepeatsWithItsSeed)
{
    std::signal(SIGPIPE, SIG_IGN);
    // The faults met by 40 requests, over the WebSocket (a drop or close ends the connection).
    auto faults_met = [](const std::string& address, int seed) {
        auto fleet = start(open_unit("wss", address,
                                     R"({"random":{"chance":0.3,"stall_ms":1,"seed":)" + std::to_string(seed) + "}}"));
        std::string seen;
        std::unique_ptr<wire::ws_client> ws;
        for (int i = 1; i <= 40; ++i) {
            if (!ws || ws->closed()) {
                ws = std::make_unique<wire::ws_client>(address, fleet->ca_cert_path());
                ws->set_timeout_ms(5000);
            }
            ws->request(envelope(i, "config.cfg"));
        }
        for (const auto& e : fleet->requests("u"))
            if (e.method == "WS")
                seen += (e.fault.empty() ? "-" : e.fault) + " ";
        return seen;
    };
    const std::string first = faults_met("127.3.62.1", 7);
    EXPECT_EQ(faults_met("127.3.62.2", 7), first);
    EXPECT_NE(faults_met("127.3.62.3", 8), first);
    for (const char* kind : {"drop", "stall", "500", "close"})
        EXPECT_NE(first.find(kind), std::string::npos) << first;
}
