// Runs the talvorctl binary against simulated units, as a script would.
#include "simulator/hubsim.h"
#include "transport/json_parser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace talvor;
namespace fs = std::filesystem;

namespace {

struct run_result {
    int exit_code = -1;
    std::string out;
    std::string err;
};

std::string slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class TalvorctlRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() /
               ("talvorctl_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "config");
        std::ofstream(dir_ / "password", std::ios::binary) << "fleet-pw\n";
    }
    void TearDown() override
    {
        fleet_.reset();
        fs::remove_all(dir_);
    }

    void start(const std::string& units_json)
    {
        fleet_ = std::make_unique<sim::fleet_server>(R"({"units": [)" + units_json + "]}", dir_ / "sim");
    }

    // Runs talvorctl with no terminal on stdin and a settings store of its own.
    run_result run(const std::string& args)
    {
        const std::string cmd = "cd '" + dir_.string() + "' && XDG_CONFIG_HOME='" + (dir_ / "config").string() +
                                "' timeout 120 '" TALVORCTL_PATH "' " + args + " </dev/null >out.txt 2>err.txt";
        const int status = std::system(cmd.c_str());
        run_result r;
        r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = slurp(dir_ / "out.txt");
        r.err = slurp(dir_ / "err.txt");
        return r;
    }

    fs::path dir_;
    std::unique_ptr<sim::fleet_server> fleet_;
};

std::string http_unit(const std::string& name, const std::string& address, const std::string& mac,
                      const std::string& extra = "")
{
    return R"({"name": ")" + name + R"(", "kind": "http", "address": ")" + address +
           R"(", "password": "fleet-pw", "gen_conf": {"system": "622", "ser": "SER-)" + name + R"(", "mac0": ")" +
           mac + R"(", "fw_v_net": "v0.64.2", "bacnet_desc": "Riser \"A\" \\ north"}, "taps": [{"bus": 0, "address": 1, "type": 3, "ccts": 8, "sernr": "TAP-)" +
           name + R"(", "fstcct": 0, "caps": 5, "fwver": 291, "fpgats": 0}])" + extra + "}";
}

std::string wss_unit(const std::string& name, const std::string& address, const std::string& mac)
{
    return R"({"name": ")" + name + R"(", "kind": "wss", "address": ")" + address +
           R"(", "password": "fleet-pw", "gen_conf": {"system": "522", "ser": "SER-)" + name + R"(", "mac0": ")" +
           mac + R"(", "fw_v_net": "v1.5.0"}})";
}

// Undoes the JSON escaping of \\ and \" (the reader hands strings back raw).
std::string unescape(const std::string& raw)
{
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size())
            ++i;
        out += raw[i];
    }
    return out;
}

// The units of a --json run by address: result, protocol, error, details.
struct unit_view {
    std::string result, protocol, error, label;
    std::map<std::string, std::string> details;
    int taps = 0;
};

std::map<std::string, unit_view> units_of(const std::string& json)
{
    std::map<std::string, unit_view> out;
    auto p = json_parser::from(json);
    if (!p)
        return out;
    const std::size_t units = p->find(json_parser::root, "units");
    if (!p->is(units, json_type::array))
        return out;
    std::size_t u = units + 1;
    for (int i = 0; i < p->tokens[units].size; ++i, u = p->skip(u)) {
        unit_view v;
        v.result = p->get_string(p->find(u, "result"));
        v.protocol = p->get_string(p->find(u, "protocol"));
        v.error = p->get_string(p->find(u, "error"));
        v.label = p->get_string(p->find(u, "label"));
        const std::size_t details = p->find(u, "details");
        std::size_t row = details + 1;
        for (int k = 0; p->is(details, json_type::array) && k < p->tokens[details].size; ++k, row = p->skip(row))
            v.details[p->get_string(row + 1)] = p->get_string(row + 2);
        const std::size_t taps = p->find(u, "taps");
        v.taps = p->is(taps, json_type::array) ? p->tokens[taps].size : -1;
        out[p->get_string(p->find(u, "address"))] = v;
    }
    return out;
}

} // namespace

TEST_F(TalvorctlRun, JsonListsEveryUnitOfBothProtocolsWithFailuresAndDuplicates)
{
    start(http_unit("h1", "127.8.0.1", "00:1a:7e:08:00:01") + "," + wss_unit("w1", "127.8.0.2", "00:1a:7e:08:00:02") +
          "," + http_unit("bad", "127.8.0.3", "00:1a:7e:08:00:03", R"(, "faults": {"login_403": true})") + "," +
          http_unit("dup", "127.8.0.4", "00:1a:7e:08:00:01"));
    auto r = run("--json --password-file password --accept-insecure --tls-checks standard show 127.8.0.1 "
                 "127.8.0.2 127.8.0.3 127.8.0.4");
    EXPECT_EQ(r.exit_code, 1) << r.err; // one unit failed
    auto units = units_of(r.out);
    ASSERT_EQ(units.size(), 4u) << r.out;

    unit_view& w1 = units["127.8.0.2"];
    EXPECT_EQ(w1.result, "ok");
    EXPECT_EQ(w1.protocol, "wss");
    EXPECT_EQ(w1.details["Connection Type"], "HTTPS");
    EXPECT_EQ(w1.details["Product"], "Orvane");

    const unit_view& bad = units["127.8.0.3"];
    EXPECT_EQ(bad.result, "failed");
    EXPECT_FALSE(bad.error.empty());
    // The file's password is offered once per unit: no endless retry.
    int logins = 0;
    for (const auto& e : fleet_->requests("bad"))
        logins += e.target.rfind("/auth_login.action", 0) == 0;
    EXPECT_GE(logins, 1);
    EXPECT_LE(logins, 2);

    // h1 and dup share a MAC: whichever refreshed second is the duplicate.
    unit_view& h1 = units["127.8.0.1"];
    unit_view& dup = units["127.8.0.4"];
    EXPECT_TRUE((h1.result == "ok" && dup.result == "duplicate") || (h1.result == "duplicate" && dup.result == "ok"))
        << h1.result << " / " << dup.result;
    unit_view& listed = h1.result == "ok" ? h1 : dup;
    EXPECT_EQ(listed.protocol, "http");
    // The unit's text is kept as the unit wrote it (escapes undecoded); the
    // JSON output must carry exactly that text through its own escaping.
    EXPECT_EQ(unescape(listed.details["Description"]), R"(Riser \"A\" \\ north)");
    EXPECT_EQ(listed.taps, 1);
}

TEST_F(TalvorctlRun, TextTreeWithoutPromptsAtLevelNone)
{
    start(http_unit("plain", "127.8.1.1", "00:1a:7e:08:01:01"));
    auto r = run("--password-file password --tls-checks none show 127.8.1.1");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Talvor\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("      Serial Number: SER-plain\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("TAP-plain"), std::string::npos) << r.out;
}

TEST_F(TalvorctlRun, InsecureUnitsAreRefusedWhenNobodyCanBeAsked)
{
    start(http_unit("h", "127.8.2.1", "00:1a:7e:08:02:01") + "," + wss_unit("w", "127.8.2.2", "00:1a:7e:08:02:02"));
    // Standard: plain HTTP and the simulator's unknown authority are both problems.
    auto r = run("--json --password-file password --tls-checks standard show 127.8.2.1 127.8.2.2");
    EXPECT_EQ(r.exit_code, 1) << r.err;
    auto units = units_of(r.out);
    ASSERT_EQ(units.size(), 2u) << r.out;
    for (auto& [address, u] : units) {
        EXPECT_EQ(u.result, "failed") << address;
        EXPECT_FALSE(u.error.empty()) << address;
    }
    // Nothing was logged in to.
    for (const auto& e : fleet_->requests())
        EXPECT_NE(e.target.rfind("/auth_login.action", 0), 0u);
}

TEST_F(TalvorctlRun, UsageErrorsExitWithTwo)
{
    EXPECT_EQ(run("show").exit_code, 2);
    EXPECT_EQ(run("--password-file password show 10.0.0.x").exit_code, 2);
    EXPECT_EQ(run("--password-file missing-file show 127.8.3.1").exit_code, 2);
    auto r = run("show 127.8.3.1"); // no terminal, no password file
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("--password-file"), std::string::npos) << r.err;
    EXPECT_EQ(run("--help").exit_code, 0);
}

TEST_F(TalvorctlRun, AddressListErrorsFailTheRun)
{
    std::ofstream(dir_ / "list.txt") << "# units\n127.8.4.1\n10.0.0.x\n";
    auto r = run("--password-file password show --list list.txt");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("File format is invalid, error at line 3 !"), std::string::npos) << r.err;
}
