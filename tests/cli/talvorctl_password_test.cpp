// talvorctl set-password against simulated units of both protocols: what
// each unit ends up accepting, how refusals are reported, and that neither
// password is written anywhere.
#include "talvorctl_fixture.h"

using namespace talvorctl_test;

namespace {

const std::string old_pw = "fleet-pw";
const std::string new_pw = "N3w-Fleet-Secret";

// The files talvorctl wrote: its settings, the report and the batch log.
std::string files_written(const fs::path& dir)
{
    std::string all;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file() && e.path().extension() != ".txt" && e.path().filename() != "password" &&
            e.path().filename() != "new-password" && e.path().string().find("/sim/") == std::string::npos)
            all += slurp(e.path());
    return all;
}

} // namespace

TEST_F(TalvorctlRun, SetPasswordChangesProvesAndReportsEachUnit)
{
    start(admin_unit("h", "http", "127.8.30.1", 0) + "," + admin_unit("w", "wss", "127.8.30.2", 0) + "," +
          admin_unit("refusing", "http", "127.8.30.3", 0, R"(, "faults": {"fail": {"auth_set.action": 422}})") + "," +
          admin_unit("stuck", "wss", "127.8.30.4", 0, R"(, "faults": {"refuse_new_login": true})"));
    std::ofstream(dir_ / "new-password", std::ios::binary) << new_pw << "\n";
    const std::string targets = " 127.8.30.1 127.8.30.2 127.8.30.3 127.8.30.4";
    const std::string common = "--password-file password --tls-checks none --json ";
    std::string printed;
    auto talvorctl = [&](const std::string& args) {
        run_result r = run(args);
        printed += r.out + r.err;
        return r;
    };

    // Nothing is sent when the new password cannot be had.
    std::ofstream(dir_ / "empty") << "\n";
    for (const std::string& args : {std::string("set-password --yes"), std::string("set-password --new-password-file empty --yes")}) {
        const run_result r = talvorctl(common + args + targets);
        EXPECT_EQ(r.exit_code, 2) << args << "\n" << r.err;
    }
    for (const char* unit : {"h", "w", "refusing", "stuck"})
        for (const auto& e : fleet_->events(unit))
            EXPECT_NE(e.kind, "set_password") << unit;

    const run_result r = talvorctl(common + "set-password --new-password-file new-password --yes --report report.jsonl" + targets);
    EXPECT_EQ(r.exit_code, 1) << r.err;
    const auto units = units_of(r.out);
    ASSERT_EQ(units.size(), 4u) << r.out;
    EXPECT_EQ(units.at("127.8.30.1").result, "ok");
    EXPECT_EQ(units.at("127.8.30.2").result, "ok");
    EXPECT_EQ(units.at("127.8.30.3").error, "password change answered 422");
    EXPECT_EQ(units.at("127.8.30.4").error, "password changed, login with the new password failed");
    EXPECT_TRUE(fleet_->password_matches("h", new_pw));
    EXPECT_TRUE(fleet_->password_matches("w", new_pw));
    EXPECT_TRUE(fleet_->password_matches("refusing", old_pw));
    EXPECT_TRUE(fleet_->password_matches("stuck", new_pw));

    // The changed units take the new password and no longer the old one.
    const std::string both = " 127.8.30.1 127.8.30.2";
    const auto with_new = units_of(talvorctl("--password-file new-password --tls-checks none --json show" + both).out);
    const auto with_old = units_of(talvorctl("--password-file password --tls-checks none --json show" + both).out);
    for (const char* a : {"127.8.30.1", "127.8.30.2"}) {
        EXPECT_EQ(with_new.at(a).result, "ok") << a;
        EXPECT_EQ(with_old.at(a).result, "failed") << a;
    }

    // Neither password in what talvorctl printed, its report or the batch log.
    const std::string written = files_written(dir_) + printed;
    EXPECT_NE(written.find("password change answered 422"), std::string::npos); // the report and log are there
    EXPECT_EQ(written.find(old_pw), std::string::npos);
    EXPECT_EQ(written.find(new_pw), std::string::npos);
}
