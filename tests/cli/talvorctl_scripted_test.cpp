// talvorctl as a script drives it: runs that leave units already as asked
// unchanged, configurations compared key by key, passwords from standard
// input or a credentials file, and passing failures tried again.
#include "talvorctl_fixture.h"

#include <sys/stat.h>

#include "inventory/code_tables.h"

using namespace talvorctl_test;

namespace {

const std::string common = "--password-file password --tls-checks none --yes ";

std::string unit_with_config(const std::string& name, const std::string& address, const std::string& site_name)
{
    return admin_unit(name, "http", address, cap_config,
                      R"(, "config_file": {"version": 7, "glob_conf": {"sd_state": 0, "name": ")" + site_name +
                          R"("}, "network": {"dhcp": 1}})");
}

int config_uploads(const sim::fleet_server& fleet, const std::string& unit)
{
    int n = 0;
    for (const auto& e : fleet.events(unit))
        n += e.kind == "config";
    return n;
}

} // namespace

TEST_F(TalvorctlRun, ConfigurationsAreComparedAndUploadedOnlyWhereTheyDiffer)
{
    start(unit_with_config("same", "127.8.50.1", "golden") + "," + unit_with_config("drifted", "127.8.50.2", "north"));
    std::ofstream(dir_ / "golden.cfg") << R"({"version": 7, "glob_conf": {"sd_state": 0, "name": "golden"}, "network": {"dhcp": 1}})";

    run_result r = run(common + "config-diff golden.cfg 127.8.50.1 127.8.50.2");
    EXPECT_EQ(r.exit_code, 1) << r.err; // drift
    EXPECT_EQ(r.out, "compliant: 127.8.50.1 (SER-same [127.8.50.1]): compliant\n"
                     "drift: 127.8.50.2 (SER-drifted [127.8.50.2]): 1 key differs\n"
                     "    /glob_conf/name: unit \"north\", file \"golden\"\n");

    // Against another unit, as JSON.
    r = run(common + "--json config-diff --unit 127.8.50.1 127.8.50.2");
    expect_documented(r.out, "config-diff");
    EXPECT_NE(r.out.find(R"("status": "drift", "changed": false, "differences": [{"category": null, "path": )"
                         R"("/glob_conf/name", "unit": "\"north\"", "file": "\"golden\""}])"),
              std::string::npos)
        << r.out;

    r = run(common + "--json upload-config golden.cfg --only-if-different 127.8.50.1 127.8.50.2");
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    auto units = units_of(r.out);
    EXPECT_EQ(units["127.8.50.1"].status + " " + units["127.8.50.1"].changed, "unchanged false") << r.out;
    EXPECT_EQ(units["127.8.50.2"].status + " " + units["127.8.50.2"].changed, "ok true") << r.out;
    EXPECT_EQ(config_uploads(*fleet_, "same"), 0);
    EXPECT_GT(config_uploads(*fleet_, "drifted"), 0);
}

TEST_F(TalvorctlRun, PasswordsComeWithoutATerminalAndAreNeverShown)
{
    start(admin_unit("shared", "http", "127.8.51.1", 0) + "," +
          R"({"name": "own", "kind": "wss", "address": "127.8.51.2", "password": "Own-Secret 2",
              "gen_conf": {"system": "622", "ser": "SER-own", "fw_v_net": "v0.64.2"}})");
    const auto write = [&](const char* name, const std::string& text, fs::perms mode) {
        std::ofstream(dir_ / name, std::ios::binary) << text;
        fs::permissions(dir_ / name, mode);
    };
    using fs::perms;
    write("creds", "# the units off the site's password\n127.8.51.2 Own-Secret 2\n", perms::owner_read | perms::owner_write);
    write("serial-creds", "SER-own Own-Secret 2\n", perms::owner_read | perms::owner_write);
    write("open-creds", "127.8.51.2 Own-Secret 2\n", perms::owner_read | perms::owner_write | perms::others_read);
    write("stdin", "fleet-pw\nN3w-Fleet-Secret\n", perms::owner_read | perms::owner_write);
    write("nothing", "", perms::owner_read | perms::owner_write);
    const std::string targets = " 127.8.51.1 127.8.51.2";
    std::string printed;

    struct {
        std::string args, input;
        int exit_code;
        std::string says;
    } cases[] = {
        {"--credentials open-creds show" + targets, "nothing", 2, "open-creds: readable by others (mode 0604): make it 0600"},
        {"--credentials serial-creds show" + targets, "nothing", 2, "serial-creds: line 1: 'SER-own' is not an IP address"},
        {"--password-stdin show" + targets, "nothing", 2, "standard input holds no password"},
        {"--password-stdin --password-file password show" + targets, "stdin", 2, "do not go together"},
        // The shared password from standard input fails the unit with its own.
        {"--password-stdin --tls-checks none show" + targets, "stdin", 1, "failed: 127.8.51.2"},
        {"--password-stdin --credentials creds --tls-checks none show" + targets, "stdin", 0, ""},
    };
    for (const auto& c : cases) {
        const run_result r = run(c.args, (dir_ / c.input).string());
        printed += r.out + r.err;
        EXPECT_EQ(r.exit_code, c.exit_code) << c.args << "\n" << r.err;
        EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << c.args << "\n" << r.out << r.err;
    }

    // The new password on the line after the current one; a second run
    // finds it in place and changes nothing.
    const std::string change = "--json --password-stdin --tls-checks none --yes set-password --new-password-stdin 127.8.51.1";
    run_result r = run(change, (dir_ / "stdin").string());
    printed += r.out + r.err;
    EXPECT_EQ(units_of(r.out)["127.8.51.1"].status, "ok") << r.out << r.err;
    EXPECT_TRUE(fleet_->password_matches("shared", "N3w-Fleet-Secret"));
    write("stdin", "N3w-Fleet-Secret\nN3w-Fleet-Secret\n", perms::owner_read | perms::owner_write);
    r = run(change, (dir_ / "stdin").string());
    printed += r.out + r.err;
    EXPECT_EQ(units_of(r.out)["127.8.51.1"].status, "unchanged") << r.out << r.err;
    int changes = 0;
    for (const auto& e : fleet_->events("shared"))
        changes += e.kind == "set_password";
    EXPECT_EQ(changes, 1);

    for (const char* secret : {"fleet-pw", "Own-Secret", "N3w-Fleet"})
        EXPECT_EQ(printed.find(secret), std::string::npos) << secret;
}

TEST_F(TalvorctlRun, RetriesMendPassingFailuresWithinTheRun)
{
    // The first read of one unit and the first erase of the other fail.
    start(admin_unit("read", "http", "127.8.52.1", cap_sdcard, R"(, "faults": {"fail": {"gen_conf_get.action": [500]}})") +
          "," + admin_unit("erase", "wss", "127.8.52.2", cap_sdcard, R"(, "faults": {"fail": {"sdcard_clear.action": [500]}})"));
    const std::string args = "--json erase-sd 127.8.52.1 127.8.52.2 --retry-list retry.txt";

    run_result r = run(common + args);
    EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
    fleet_->set_fault("read", "fail", R"({"gen_conf_get.action": [500]})");
    fleet_->set_fault("erase", "fail", R"({"sdcard_clear.action": [500]})");

    r = run(common + "--retries 2 --timeout 20 " + args);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    auto units = units_of(r.out);
    EXPECT_EQ(units["127.8.52.1"].status, "ok") << r.out;
    EXPECT_EQ(units["127.8.52.2"].status, "ok") << r.out;
    EXPECT_NE(r.err.find("erase-sd: trying 1 unit again (retry 1 of 2)"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(dir_ / "retry.txt"), "# failed units of talvorctl erase-sd\n");
}
