#pragma once
// The talvorctl binary run against simulated units, as a script would.
#include "simulator/hubsim.h"
#include "transport/json_parser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace talvorctl_test {

using namespace talvor;
namespace fs = std::filesystem;

struct run_result {
    int exit_code = -1;
    std::string out;
    std::string err;
};

inline std::string slurp(const fs::path& p)
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

    // Runs talvorctl with no terminal on stdin, a settings store and a
    // batch log folder of its own.
    run_result run(const std::string& args, const std::string& input = "/dev/null")
    {
        const std::string cmd = "cd '" + dir_.string() + "' && XDG_CONFIG_HOME='" + (dir_ / "config").string() +
                                "' XDG_STATE_HOME='" + (dir_ / "state").string() + "' timeout 120 '" TALVORCTL_PATH
                                "' " + args + " <'" + input + "' >out.txt 2>err.txt";
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

inline std::string http_unit(const std::string& name, const std::string& address, const std::string& mac,
                      const std::string& extra = "")
{
    return R"({"name": ")" + name + R"(", "kind": "http", "address": ")" + address +
           R"(", "password": "fleet-pw", "gen_conf": {"system": "622", "ser": "SER-)" + name + R"(", "mac0": ")" +
           mac + R"(", "fw_v_net": "v0.64.2", "bacnet_desc": "Riser \"A\" \\ north"}, "taps": [{"bus": 0, "address": 1, "type": 3, "ccts": 8, "sernr": "TAP-)" +
           name + R"(", "fstcct": 0, "caps": 5, "fwver": 291, "fpgats": 0}])" + extra + "}";
}

inline std::string wss_unit(const std::string& name, const std::string& address, const std::string& mac)
{
    return R"({"name": ")" + name + R"(", "kind": "wss", "address": ")" + address +
           R"(", "password": "fleet-pw", "gen_conf": {"system": "522", "ser": "SER-)" + name + R"(", "mac0": ")" +
           mac + R"(", "fw_v_net": "v1.5.0"}})";
}

// A Talvor unit of either protocol with the given capabilities.
inline std::string admin_unit(const std::string& name, const std::string& kind, const std::string& address,
                              std::uint32_t caps, const std::string& extra = "")
{
    return R"({"name": ")" + name + R"(", "kind": ")" + kind + R"(", "address": ")" + address +
           R"(", "password": "fleet-pw", "gen_conf": {"system": "622", "ser": "SER-)" + name +
           R"(", "fw_v_net": "v0.64.2", "capabilities": )" + std::to_string(caps) + "}" + extra + "}";
}

// Undoes the JSON escaping of \\ and \" (the reader hands strings back raw).
inline std::string unescape(const std::string& raw)
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
    std::string result, protocol, error, reason, label, version_before, version_after;
    std::string status, plan, changed, would_change; // the flags as "true" or "false"
    std::map<std::string, std::string> details;
    int taps = 0;
};

inline std::map<std::string, unit_view> units_of(const std::string& json)
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
        v.reason = p->get_string(p->find(u, "reason"));
        v.label = p->get_string(p->find(u, "label"));
        v.version_before = p->get_string(p->find(u, "version_before"));
        v.version_after = p->get_string(p->find(u, "version_after"));
        v.status = p->get_string(p->find(u, "status"));
        v.plan = p->get_string(p->find(u, "plan"));
        const auto flag = [&](const char* key) {
            const std::size_t t = p->find(u, key);
            return p->is(t, json_type::primitive) ? p->text.substr(p->tokens[t].start, p->tokens[t].end - p->tokens[t].start)
                                                  : std::string();
        };
        v.changed = flag("changed");
        v.would_change = flag("would_change");
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

// The keys doc/json.md lists in its tables under the headings that start
// with "## " + `section`.
inline std::set<std::string> documented_keys(const std::string& section)
{
    std::ifstream doc(TALVOR_SOURCE_DIR "/doc/json.md");
    std::set<std::string> keys;
    bool inside = false;
    for (std::string line; std::getline(doc, line);) {
        if (line.rfind("## ", 0) == 0)
            inside = line.rfind("## " + section, 0) == 0;
        else if (inside && line.rfind("| `", 0) == 0)
            keys.insert(line.substr(3, line.find('`', 3) - 3));
    }
    return keys;
}

// A --json document holds "schema": 1, and every key in it, at any depth,
// is one doc/json.md lists for it.
inline void expect_documented(const std::string& json, const std::string& section)
{
    auto p = json_parser::from(json);
    ASSERT_TRUE(p) << json;
    EXPECT_EQ(p->get_number(p->find(json_parser::root, "schema")), 1.0) << json;
    const std::set<std::string> keys = documented_keys(section);
    ASSERT_FALSE(keys.empty()) << section;
    for (std::size_t t = 1; t < p->end(); ++t)
        if (p->is(t, json_type::string) && p->tokens[t].size == 1) { // a key: its value is its one child
            EXPECT_TRUE(keys.count(p->get_string(t, 1))) << section << ": \"" << p->get_string(t, 1) << "\" is not in doc/json.md";
        }
}

} // namespace talvorctl_test

