// A firmware rollout to a small fleet on a bad site: no unit is reported
// done that is not, and one retry of the failed units, once their faults
// have passed, finishes the job.
#include "talvorctl_fixture.h"

#include "inventory/code_tables.h"
#include "tests/operations/firmware_images.h"

using namespace talvorctl_test;

namespace {

// What the unit's own record says: it now runs the image's version.
bool installed(const sim::fleet_server& fleet, const std::string& name, const std::string& version)
{
    for (const auto& e : fleet.events(name))
        if (e.kind == "install" && e.bytes == version)
            return true;
    return false;
}

} // namespace

TEST_F(TalvorctlRun, FaultyFleetRetryClearsEveryTransientFailureAndNoResultIsWrong)
{
    struct site_unit {
        const char* kind;
        const char* faults;
        bool must_fail; // its fault fails the first run for sure
    };
    const site_unit site[] = {
        {"http", "{}", false},
        {"wss", "{}", false},
        {"http", R"({"restart_upload_once": 1500})", true},
        {"wss", R"({"link_down": 1500})", true},
        {"wss", R"({"slow_ws": 5})", false},
        {"http", R"({"random": {"chance": 1, "kinds": ["drop", "500", "close"]}})", true},
        {"wss", R"({"random": {"chance": 0.15, "seed": 3, "stall_ms": 300}})", false},
        {"http", R"({"random": {"chance": 0.15, "seed": 4, "stall_ms": 300}})", false},
    };
    std::string fleet, targets;
    for (int i = 0; i < 8; ++i) {
        const std::string n = std::to_string(i + 1);
        fleet += (i ? "," : "") + admin_unit("f" + n, site[i].kind, "127.8.30." + n, cap_progress,
                                             R"(, "install_ms": 300, "faults": )" + std::string(site[i].faults));
        targets += " 127.8.30." + n;
    }
    start(fleet);
    std::string image = talvor::test::hub_image(300);
    image.replace(0x40, 7, "v0.65.0");
    std::ofstream(dir_ / "hub.bin", std::ios::binary) << image;
    const std::string command = "--password-file password --tls-checks none --yes --json firmware hub.bin --verify "
                                "--verify-timeout 60 --parallel 4 --retry-list retry.txt";

    // Every unit's result against the simulator's record of it.
    auto check = [&](const run_result& r, const char* run) {
        SCOPED_TRACE(run);
        auto units = units_of(r.out);
        EXPECT_EQ(units.size(), 8u) << r.out << r.err;
        int failed = 0;
        for (int i = 0; i < 8; ++i) {
            const std::string n = std::to_string(i + 1);
            SCOPED_TRACE(site[i].faults);
            const unit_view& u = units["127.8.30." + n];
            const bool done = installed(*fleet_, "f" + n, "0.65.0");
            EXPECT_EQ(u.result == "ok", done) << u.result << " " << u.error;
            if (u.result != "ok") {
                EXPECT_FALSE(u.error.empty());
            }
            failed += u.result != "ok";
        }
        return failed;
    };

    const run_result first = run(command + targets);
    EXPECT_EQ(first.exit_code, 1) << first.err;
    const int failed_first = check(first, "first run");
    for (int i = 0; i < 8; ++i)
        if (site[i].must_fail) {
            EXPECT_EQ(units_of(first.out)["127.8.30." + std::to_string(i + 1)].result, "failed") << site[i].faults;
        }
    EXPECT_GE(failed_first, 3);

    for (int i = 0; i < 8; ++i)
        fleet_->set_fault("f" + std::to_string(i + 1), "random", "false");
    const run_result retry = run(command + " --list retry.txt");
    EXPECT_EQ(retry.exit_code, 0) << retry.out << retry.err;
    EXPECT_EQ(units_of(retry.out).size(), static_cast<std::size_t>(failed_first));
    for (const auto& [address, u] : units_of(retry.out))
        EXPECT_EQ(u.result, "ok") << address << ": " << u.error;
    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(installed(*fleet_, "f" + std::to_string(i + 1), "0.65.0")) << site[i].faults;
}
