// talvorctl's batch commands run as a script would, without a terminal,
// against simulated units: what reaches the units for each command.
#include "talvorctl_fixture.h"

#include <functional>

#include "inventory/code_tables.h"
#include "operations/customisation_file.h"
#include "simulator/unit.h"
#include "tests/support/test_certs.h"
#include "tests/operations/firmware_images.h"

using namespace talvorctl_test;

namespace {

const std::string common = "--password-file password --tls-checks none --yes ";

// The unit's events from `from` on, logins and logouts left out.
std::vector<sim::unit_event> actions(const sim::fleet_server& fleet, const std::string& unit, std::size_t from)
{
    std::vector<sim::unit_event> out;
    const auto all = fleet.events(unit);
    for (std::size_t i = from; i < all.size(); ++i)
        if (all[i].kind != "login" && all[i].kind != "logout")
            out.push_back(all[i]);
    return out;
}

// A valid 20-byte customization file.
std::string customisation_file()
{
    std::string f = "%ZTC";
    f += std::string("\x14\x00\x00\x00", 4);
    f += std::string("\x01" "content", 8);
    const std::span<const std::uint8_t> head(reinterpret_cast<const std::uint8_t*>(f.data()), f.size());
    const std::uint32_t check = ~talvor::word_crc(head);
    for (int i = 0; i < 4; ++i)
        f += static_cast<char>((check >> (8 * i)) & 0xFF);
    return f;
}

} // namespace

TEST_F(TalvorctlRun, EachCommandMakesItsCallOnTheUnit)
{
    const std::uint32_t caps = cap_config | cap_sdcard | cap_customisation | cap_progress;
    start(admin_unit("w", "wss", "127.8.10.1", caps));
    std::ofstream(dir_ / "ct.csv") << "CT-A,1,2,3,4\n";
    const std::string cst = customisation_file();
    std::ofstream(dir_ / "custom.cst", std::ios::binary) << cst;
    const talvor::test::issued issued = talvor::test::test_authority().issue({"127.8.10.1"});
    std::ofstream(dir_ / "cert.pem") << issued.cert_pem;
    std::ofstream(dir_ / "key.pem") << issued.key_pem;
    const auto removal = talvor::customisation_removal_file();

    struct row {
        std::string args = {};
        std::string event = {};   // the one thing the unit did, or empty for none
        std::int64_t number = -1; // its number (-1: not checked)
        std::string bytes = {};   // the file it took (empty: not checked)
        std::function<void(const run_result&)> check = nullptr;
    };
    const row rows[] = {
        {.args = "upload-ct ct.csv", .event = "config", .number = 0x80000000LL,
         .bytes = R"({ "CTs_update": [ { "name": "CT-A", "factor": [ 1, 2 ], "PHCAL": [ 3, 4 ] } ] })"},
        {.args = "customize custom.cst", .event = "customise", .bytes = cst},
        {.args = "customize --remove", .event = "customise", .bytes = std::string(removal.begin(), removal.end())},
        {.args = "restart --with-taps", .event = "reboot", .number = 7},
        {.args = "erase-sd", .event = "sdcard_clear"},
        {.args = "cert-upload cert.pem", .event = "cert", .bytes = issued.cert_pem},
        {.args = "cert-key key.pem", .event = "key", .bytes = issued.key_pem},
        {.args = "cert-regenerate", .event = "cert_default_regen"},
        {.args = "cert-erase", .event = "cert_clear"},
        {.args = "open",
         .check = [](const run_result& r) {
             EXPECT_EQ(r.out, "ok: 127.8.10.1 (SER-w [127.8.10.1]): https://127.8.10.1\n");
         }},
        {.args = "trust-cert",
         .check = [this](const run_result&) {
             // The unit's own certificate now passes the standard checks.
             const run_result show = run("--password-file password --tls-checks standard show 127.8.10.1");
             EXPECT_EQ(show.exit_code, 0) << show.err;
         }},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.args);
        const std::size_t before = fleet_->events("w").size();
        if (!r.event.empty()) {
            // A dry run logs in and reads, says what it would do, and
            // sends nothing that changes the unit.
            const run_result dry = run(common + "--json --dry-run " + r.args + " 127.8.10.1");
            EXPECT_EQ(dry.exit_code, 0) << dry.out << dry.err;
            const unit_view unit = units_of(dry.out)["127.8.10.1"];
            EXPECT_EQ(unit.plan.rfind("would ", 0), 0u) << dry.out;
            EXPECT_EQ(unit.would_change + unit.changed, "truefalse") << dry.out;
            expect_documented(dry.out, "batch");
            EXPECT_TRUE(actions(*fleet_, "w", before).empty()) << actions(*fleet_, "w", before).front().kind;
        }
        const run_result result = run(common + r.args + " 127.8.10.1");
        EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
        const auto done = actions(*fleet_, "w", before);
        if (r.event.empty()) {
            EXPECT_TRUE(done.empty()) << done.front().kind;
        } else if (done.empty()) {
            ADD_FAILURE() << "nothing reached the unit\n" << result.err;
        } else {
            // Uploads of configuration text go twice; everything else once.
            EXPECT_EQ(done.size(), r.event == "config" ? 2u : 1u);
            EXPECT_EQ(done.front().kind, r.event);
            if (r.number >= 0) {
                EXPECT_EQ(done.front().number, r.number);
            }
            if (!r.bytes.empty()) {
                EXPECT_EQ(done.front().bytes, r.bytes);
            }
        }
        if (r.check)
            r.check(result);
    }
}

TEST_F(TalvorctlRun, FirmwareUpdatesEveryUnitOnlyWhenTheQuestionsAreAnswered)
{
    start(admin_unit("a", "http", "127.8.11.1", cap_progress) + "," +
          admin_unit("b", "wss", "127.8.11.2", cap_progress));
    const std::string image = talvor::test::hub_image(300);
    std::ofstream(dir_ / "hub.bin", std::ios::binary) << image;

    // No terminal and no --yes: nothing reaches any unit.
    run_result r = run("--password-file password --tls-checks none firmware hub.bin 127.8.11.1 127.8.11.2");
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_TRUE(fleet_->requests().empty());

    r = run(common + "--json firmware hub.bin --class 'Talvor System' 127.8.11.1 127.8.11.2");
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    auto units = units_of(r.out);
    EXPECT_EQ(units["127.8.11.1"].result, "ok") << r.out;
    EXPECT_EQ(units["127.8.11.2"].result, "ok") << r.out;
    for (const char* name : {"a", "b"}) {
        int uploads = 0;
        for (const auto& e : fleet_->requests(name))
            if (e.upload_length >= 0) {
                ++uploads;
                EXPECT_EQ(e.upload_sha256, sim::sha256_hex(image)) << name;
            }
        EXPECT_EQ(uploads, 1) << name;
    }
}

TEST_F(TalvorctlRun, UploadConfigSendsTheChosenCategoriesOnly)
{
    const std::string cats = R"(, "config_cats": {"cats": [{"Network": 1}, {"Logs": 2}, {"Modbus": 4}], "version": 7})";
    start(admin_unit("c", "http", "127.8.12.1", cap_config | cap_progress, cats));
    const std::string file = R"({"version": 7, "net": {"dhcp": 1}})";
    std::ofstream(dir_ / "site.cfg") << file;

    run_result r = run(common + "upload-config site.cfg --category modbus --category Network 127.8.12.1");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const auto done = actions(*fleet_, "c", 0);
    ASSERT_EQ(done.size(), 2u); // the configuration goes twice
    for (const auto& e : done) {
        EXPECT_EQ(e.kind, "config");
        EXPECT_EQ(e.number, 5); // Network | Modbus
        EXPECT_EQ(e.bytes, file);
    }

    // A category the unit does not offer is a usage error; nothing is sent.
    r = run(common + "upload-config site.cfg --category Firewall 127.8.12.1");
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("no category \"Firewall\""), std::string::npos) << r.err;
    EXPECT_EQ(actions(*fleet_, "c", 0).size(), 2u);
}

TEST_F(TalvorctlRun, AUnitTheCommandPassesOverStillGetsAFailedRowAndARetry)
{
    // The second unit's categories cannot be read, so it offers no
    // configuration; silence about it would read as success.
    const std::string cats = R"(, "config_cats": {"cats": [{"Network": 1}], "version": 7})";
    start(admin_unit("c", "http", "127.8.12.2", cap_config, cats) + "," +
          admin_unit("n", "http", "127.8.12.3", cap_config, cats + R"(, "faults": {"fail": {"config_cats.action": 500}})"));
    std::ofstream(dir_ / "site.cfg") << R"({"version": 7, "net": {"dhcp": 1}})";
    const run_result r =
        run(common + "upload-config site.cfg --all-categories --retry-list retry.txt 127.8.12.2 127.8.12.3");
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_NE(r.out.find("ok: 127.8.12.2"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("failed: 127.8.12.3 (SER-n [127.8.12.3]): its configuration categories could not be read"),
              std::string::npos)
        << r.out;
    const std::string retry = slurp(dir_ / "retry.txt");
    EXPECT_NE(retry.find("127.8.12.3"), std::string::npos) << retry;
    EXPECT_EQ(retry.find("127.8.12.2"), std::string::npos) << retry;
    EXPECT_TRUE(actions(*fleet_, "n", 0).empty());
}

TEST_F(TalvorctlRun, DownloadConfigIntoAFolderNamesEachFileAfterItsUnit)
{
    start(admin_unit("d1", "http", "127.8.13.1", cap_config, R"(, "config_file_text": "{\"version\": 7, \"u\": 1}")") +
          "," + admin_unit("d2", "wss", "127.8.13.2", cap_config, R"(, "config_file_text": "{\"version\": 7, \"u\": 2}")"));
    fs::create_directories(dir_ / "saved");
    const run_result r = run(common + "download-config --folder saved 127.8.13.1 127.8.13.2");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(slurp(dir_ / "saved" / "SER-d1.CFG"), R"({"version": 7, "u": 1})");
    EXPECT_EQ(slurp(dir_ / "saved" / "SER-d2.CFG"), R"({"version": 7, "u": 2})");
    EXPECT_NE(r.out.find("ok: 127.8.13.2 (SER-d2 [127.8.13.2]): saved to saved/SER-d2.CFG\n"), std::string::npos) << r.out;
    // One unit is named by the same rule, and never replaces a file.
    EXPECT_EQ(run(common + "download-config --folder saved 127.8.13.1").exit_code, 0);
    EXPECT_EQ(slurp(dir_ / "saved" / "SER-d1(1).CFG"), R"({"version": 7, "u": 1})");

    // --out names one file: several units need the folder.
    EXPECT_EQ(run(common + "download-config --out one.cfg 127.8.13.1 127.8.13.2").exit_code, 2);
    EXPECT_FALSE(fs::exists(dir_ / "one.cfg"));
}
