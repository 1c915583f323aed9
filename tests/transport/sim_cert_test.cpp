// The session against the hub simulator's units: the probe, and each
// certificate fault the simulated units can present.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

#include "raw_server.h"
#include "simulator/hubsim.h"
#include "transport/conn_sess.h"

namespace talvor {
namespace {

std::span<const std::uint8_t> bytes(std::string_view s)
{
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string unit(const std::string& name, const std::string& kind, const std::string& address,
                 const std::string& extra)
{
    return R"({"name":")" + name + R"(","kind":")" + kind + R"(","address":")" + address +
           R"(","password":"secret","salt":"s4lt")" + extra + "}";
}

class SimulatedUnits : public ::testing::Test {
protected:
    void SetUp() override
    {
        work_ = std::filesystem::temp_directory_path() /
                ("talvor-transport-sim-" + std::to_string(::getpid()));
        std::filesystem::remove_all(work_);
        std::filesystem::create_directories(work_ / "trust");
        set_trusted_folder((work_ / "trust").string());
    }
    void TearDown() override
    {
        fleet_.reset();
        std::filesystem::remove_all(work_);
    }
    void start(const std::string& units)
    {
        fleet_ = std::make_unique<sim::fleet_server>(R"({"units":[)" + units + "]}", work_ / "fleet");
        const std::string ca = fleet_->ca_cert_der();
        ASSERT_EQ(trust_certificate(bytes(ca)), 0);
    }

    std::filesystem::path work_;
    std::unique_ptr<sim::fleet_server> fleet_;
};

TEST_F(SimulatedUnits, ProbeAnswersTellTheUnitKinds)
{
    start(unit("h", "http", "127.4.3.1", "") + "," + unit("r", "wss", "127.4.3.2", R"(,"port80":"302")") + "," +
          unit("n", "wss", "127.4.3.3", ""));
    const std::pair<const char*, int> probes[] = {{"127.4.3.1", 404}, {"127.4.3.2", 302}, {"127.4.3.3", -975}};
    for (const auto& [address, status] : probes) {
        SCOPED_TRACE(address);
        http_exchange probe(conn_sess::create(test::mapped(address), "Talvor Manager"), false, "/XYZZY.ASD");
        EXPECT_EQ(probe.run(progress_range{}), status);
    }
    const auto log = fleet_->requests("h");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].target, "/XYZZY.ASD");
}

TEST_F(SimulatedUnits, EachCertificateFaultYieldsItsBitsAndAcceptingThemOpens)
{
    struct fault {
        const char* name;
        const char* cert;
        std::uint32_t bits;
        const char* extra = "";
    };
    // Older units' weaknesses (small key and SHA-1, or TLS below 1.2) count
    // as an invalid certificate once the handshake has gone through.
    const fault faults[] = {
        {"valid", "valid", 0},
        {"expired", "expired", problem_invalid},
        {"not_yet_valid", "not_yet_valid", problem_invalid},
        {"wrong_name", "wrong_name", problem_identity},
        {"wrong_usage", "wrong_usage", problem_invalid},
        {"self_signed", "self_signed", problem_untrusted},
        {"legacy", "legacy", problem_invalid},
        {"tls10", "valid", problem_invalid, R"(,"tls_max":"1.0")"},
        {"tls11", "valid", problem_invalid, R"(,"tls_max":"1.1")"},
        {"tls12", "valid", 0, R"(,"tls_max":"1.2")"},
    };
    std::string units;
    int n = 10;
    for (const auto& f : faults)
        units += (units.empty() ? "" : ",") + unit(f.name, "wss", "127.4.3." + std::to_string(n++),
                                                   std::string(R"(,"cert":")") + f.cert + "\"" + f.extra);
    start(units);

    n = 10;
    for (const auto& f : faults) {
        SCOPED_TRACE(f.name);
        auto s = conn_sess::create(test::mapped("127.4.3." + std::to_string(n++)), "Talvor Manager");
        ws_socket ws(s);
        std::uint32_t found = 0;
        if (f.bits != 0) {
            EXPECT_EQ(ws.open(0, found), tcode::certificate_problem);
            EXPECT_EQ(found, f.bits);
        }
        ASSERT_EQ(ws.open(f.bits, found), tcode::ok);
        const byte_vector der = ws.server_certificate();
        EXPECT_EQ(std::string(der.begin(), der.end()), fleet_->unit_cert_der(f.name));
        ASSERT_EQ(ws.send(bytes(R"({ "_id" : 1, "request" : "auth_salt.action" })")), tcode::ok);
        byte_vector reply;
        bool overflow = false;
        ASSERT_EQ(ws.receive(reply, 256, overflow), tcode::ok);
        EXPECT_EQ(std::string(reply.begin(), reply.end()), "data:1,200,s4lt");
    }
}

} // namespace
} // namespace talvor
