// A unit restart: the reply goes out, then every connection closes and the
// unit comes back after its down time, presenting what the restart chose.
#include "sim_fixture.h"

#include <gtest/gtest.h>

#include <csignal>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

using namespace simtest;

TEST(UnitRestart, ClosesConnectionsThenAnswersWithTheRegeneratedCertificate)
{
    // The test client's TLS writes meet sockets the restarting unit closed.
    std::signal(SIGPIPE, SIG_IGN);
    auto fleet = start(R"({"units":[{"name":"w","kind":"wss","address":"127.3.40.1","password":"secret",
                           "salt":"s4lt","restart_ms":300}]})");
    const std::string pass = "{ \"pass\" : \"" + wss_key_hex("secret", "s4lt") + "\" }";
    const std::string first_cert = fleet->unit_cert_der("w");
    wire::ws_client ws("127.3.40.1", fleet->ca_cert_path());
    ws.set_timeout_ms(5000);
    ASSERT_EQ(ws.request(envelope(1, "auth_login.action", pass)), "data:1,200,admin");
    EXPECT_EQ(ws.request(envelope(2, "cert_default_regen.action")), "data:2,200,");
    // Restarting TAPs (code 6) leaves the unit and its connection up.
    EXPECT_EQ(ws.request(envelope(3, "reboot.action", "{ \"reboot\" : 17105158 }")), "data:3,200,");
    EXPECT_EQ(fleet->unit_cert_der("w"), first_cert);
    EXPECT_EQ(ws.request(envelope(4, "reboot.action", "{ \"reboot\" : 1 }")), "data:4,200,");
    EXPECT_EQ(ws.receive(), "");
    EXPECT_TRUE(ws.closed());

    std::vector<std::string> events;
    for (const auto& e : fleet->events("w"))
        events.push_back(e.kind + " " + std::to_string(e.number));
    EXPECT_EQ(events, (std::vector<std::string>{"login -1", "cert_default_regen -1", "reboot 17105158", "reboot 1",
                                                "restart 300"}));
    EXPECT_NE(fleet->unit_cert_der("w"), first_cert);

    // Back after the down time, with a certificate the test authority issued.
    std::unique_ptr<wire::ws_client> again;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!again && std::chrono::steady_clock::now() < deadline) {
        try {
            again = std::make_unique<wire::ws_client>("127.3.40.1", fleet->ca_cert_path());
        } catch (const std::runtime_error&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ASSERT_TRUE(again);
    EXPECT_EQ(again->peer_cert_der(), fleet->unit_cert_der("w"));
    EXPECT_EQ(again->request(envelope(1, "config.cfg")), "data:1,403,"); // a fresh connection logs in again
}
