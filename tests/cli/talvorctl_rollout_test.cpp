// Rolling firmware out to a fleet with talvorctl: the failed units listed,
// reported and retried alone, the installed version verified, and the
// number of units at work at once limited.
#include "talvorctl_fixture.h"

#include <algorithm>

#include "inventory/code_tables.h"
#include "simulator/unit.h"
#include "tests/operations/firmware_images.h"

using namespace talvorctl_test;

namespace {

const std::string common = "--password-file password --tls-checks none --yes ";

std::string addresses(const std::string& prefix, int n)
{
    std::string out;
    for (int i = 1; i <= n; ++i)
        out += " " + prefix + std::to_string(i);
    return out;
}

int good_uploads(const sim::fleet_server& fleet, const std::string& unit)
{
    int n = 0;
    for (const auto& e : fleet.requests(unit))
        n += (e.target.rfind("/fw_net_file.action", 0) == 0 || e.target == "fw_net_file.action") && e.status == 200;
    return n;
}

} // namespace

TEST_F(TalvorctlRun, FailedUnitsAreListedReportedAndRetriedAlone)
{
    const std::string fail = R"(, "faults": {"fail": {"fw_net_file.action": 500}})";
    start(admin_unit("r1", "http", "127.8.20.1", cap_progress) + "," +
          admin_unit("r2", "http", "127.8.20.2", cap_progress, fail) + "," +
          admin_unit("r3", "wss", "127.8.20.3", cap_progress) + "," +
          admin_unit("r4", "wss", "127.8.20.4", cap_progress, fail));
    const std::string image = talvor::test::hub_image(300);
    std::ofstream(dir_ / "hub.bin", std::ios::binary) << image;

    run_result r = run(common + "firmware hub.bin" + addresses("127.8.20.", 4) +
                       " --retry-list retry.txt --report report.jsonl");
    EXPECT_EQ(r.exit_code, 1) << r.err;
    const std::string list = "127.8.20.2  # SER-r2 [127.8.20.2]\n127.8.20.4  # SER-r4 [127.8.20.4]\n";
    EXPECT_TRUE(r.out.ends_with(list)) << r.out;
    EXPECT_EQ(slurp(dir_ / "retry.txt"), "# failed units of talvorctl firmware\n" + list);

    // One report line per unit, the same in --report's file and the log folder.
    const std::string report = slurp(dir_ / "report.jsonl");
    const fs::path log_folder = dir_ / "state" / "Quillon" / "Talvor Manager" / "batch-log";
    ASSERT_TRUE(fs::is_directory(log_folder));
    ASSERT_EQ(std::distance(fs::directory_iterator(log_folder), fs::directory_iterator()), 1);
    EXPECT_EQ(slurp(fs::directory_iterator(log_folder)->path()), report);
    std::map<std::string, std::map<std::string, std::string>> lines;
    std::istringstream in(report);
    for (std::string line; std::getline(in, line);) {
        auto p = json_parser::from(line);
        ASSERT_TRUE(p) << line;
        std::map<std::string, std::string> fields;
        p->for_each_member(json_parser::root, [&](const json_parser& j, const std::string& key, std::size_t& v) {
            fields[key] = j.is(v, json_type::string) ? j.get_string(v) : "(not a string)";
            return 0;
        });
        lines[fields["address"]] = fields;
    }
    ASSERT_EQ(lines.size(), 4u) << report;
    for (const auto& [address, f] : lines) {
        SCOPED_TRACE(address);
        const bool failing = address == "127.8.20.2" || address == "127.8.20.4";
        EXPECT_EQ(f.at("command"), "Update Firmware");
        EXPECT_EQ(f.at("serial"), "SER-r" + address.substr(address.size() - 1));
        EXPECT_EQ(f.at("file"), (dir_ / "hub.bin").string());
        EXPECT_EQ(f.at("sha256"), sim::sha256_hex(image));
        EXPECT_EQ(f.at("result"), failing ? "failed" : "ok");
        EXPECT_EQ(f.at("reason"), failing ? "upload failed (500)" : "(not a string)");
        EXPECT_EQ(f.at("version_before"), "0.64.2");
        EXPECT_LE(f.at("start"), f.at("end"));
    }

    // The same command on the list reaches the failed units only.
    fleet_->set_fault("r2", "fail", "false");
    fleet_->set_fault("r4", "fail", "false");
    r = run(common + "firmware hub.bin --list retry.txt");
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    for (const char* name : {"r1", "r2", "r3", "r4"})
        EXPECT_EQ(good_uploads(*fleet_, name), 1) << name;
}

TEST_F(TalvorctlRun, VerifyTellsAnInstalledVersionFromAnUnchangedOne)
{
    // Both units restart after the upload; only one comes back with the new
    // version. Images carry none, so the other may have been given the one
    // it runs: what was seen is said, not "not installed".
    start(admin_unit("v1", "http", "127.8.21.1", cap_progress, R"(, "install_ms": 1500)") + "," +
          admin_unit("v2", "wss", "127.8.21.2", cap_progress,
                     R"(, "install_ms": 1500, "faults": {"keep_version": true})"));
    std::string image = talvor::test::hub_image(300);
    image.replace(0x40, 7, "v0.65.0");
    std::ofstream(dir_ / "hub.bin", std::ios::binary) << image;

    const run_result r =
        run(common + "--json firmware hub.bin --verify --verify-timeout 30" + addresses("127.8.21.", 2));
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    auto units = units_of(r.out);
    const unit_view& installed = units["127.8.21.1"];
    EXPECT_EQ(installed.result, "ok") << r.out;
    EXPECT_EQ(installed.version_before, "0.64.2");
    EXPECT_EQ(installed.version_after, "0.65.0");
    const unit_view& kept = units["127.8.21.2"];
    EXPECT_EQ(kept.result, "ok") << r.out;
    EXPECT_EQ(kept.reason, "version unchanged at 0.64.2, the unit restarted");
    EXPECT_EQ(kept.version_after, "0.64.2");

    // Named, the version makes a second run change only what is not on it.
    const run_result again = run(common + "--json firmware hub.bin --target-version v0.65.0 --verify --verify-timeout 30" +
                                 addresses("127.8.21.", 2));
    EXPECT_EQ(again.exit_code, 1) << again.out << again.err;
    units = units_of(again.out);
    EXPECT_EQ(units["127.8.21.1"].status + ": " + units["127.8.21.1"].reason, "unchanged: already runs v0.65.0");
    EXPECT_EQ(units["127.8.21.2"].status + ": " + units["127.8.21.2"].reason,
              "failed: installed v0.64.2, expected v0.65.0");
    int uploads = 0;
    for (const auto& e : fleet_->events("v1"))
        uploads += e.kind == "install";
    EXPECT_EQ(uploads, 1);
}

TEST_F(TalvorctlRun, ParallelKeepsAtMostThatManyUnitsAtWork)
{
    std::string fleet;
    for (int i = 1; i <= 6; ++i)
        fleet += (i > 1 ? "," : "") +
                 admin_unit("p" + std::to_string(i), "http", "127.8.22." + std::to_string(i), cap_progress);
    start(fleet);
    std::ofstream(dir_ / "hub.bin", std::ios::binary) << talvor::test::hub_image(300);

    const run_result r = run(common + "firmware hub.bin --parallel 2" + addresses("127.8.22.", 6));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    // Each unit is at work from its upload to its last progress poll.
    std::vector<std::pair<std::int64_t, int>> edges; // (time, +1 start / -1 end); ends sort first
    for (int i = 1; i <= 6; ++i) {
        std::int64_t from = -1, to = -1;
        for (const auto& e : fleet_->requests("p" + std::to_string(i))) {
            if (e.target.rfind("/fw_net_file.action", 0) == 0)
                from = e.time_ms;
            if (e.target.rfind("/prog_get.action", 0) == 0)
                to = e.time_ms;
        }
        ASSERT_GE(from, 0) << i;
        ASSERT_GE(to, from) << i;
        edges.push_back({from, 1});
        edges.push_back({to, -1});
    }
    std::sort(edges.begin(), edges.end());
    int at_work = 0, most = 0;
    for (const auto& [time, step] : edges)
        most = std::max(most, at_work += step);
    EXPECT_EQ(most, 2);
}
