// A batch acts on the units the user named and sends only files fit to
// send: every fault in the targets or the files stops it before any unit
// is contacted, and the results say what really happened to each unit.
#include "talvorctl_fixture.h"

#include "inventory/code_tables.h"
#include "tests/support/test_certs.h"

using namespace talvorctl_test;

namespace {

const std::string common = "--password-file password --tls-checks none --yes ";

} // namespace

TEST_F(TalvorctlRun, FaultsInTargetsAndFilesStopBeforeAnyUnitIsContacted)
{
    start(admin_unit("a", "wss", "127.8.40.1", cap_config | cap_sdcard));
    const auto write = [&](const char* name, const std::string& bytes) {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    };
    write("good.txt", "127.8.40.1\n");
    write("junk.txt", "127.8.40.1\nnot-an-address\n");
    write("empty.txt", "");
    write("comments.txt", "# the site's units go here\n");
    write("empty.csv", "");
    write("norows.csv", "\xEF\xBB\xBF");
    write("junk.pem", "-----BEGIN CERTIFICATE-----\nnot base64\n-----END CERTIFICATE-----\n");
    write("big.bin", std::string(0x1000001, '\0'));
    fs::create_directories(dir_ / "folder");
    struct {
        const char* args;
        const char* says;
    } cases[] = {
        {"restart --list good.txt --list junk.txt", "address list junk.txt: not an address list: error at line 2"},
        {"restart --list empty.txt", "address list empty.txt: empty"},
        {"restart --list comments.txt", "address list comments.txt: holds no addresses"},
        {"restart --list missing.txt", "address list missing.txt: not found"},
        {"upload-ct empty.csv 127.8.40.1", "empty.csv: empty"},
        {"upload-ct norows.csv 127.8.40.1", "norows.csv: holds no CT types"},
        {"cert-upload junk.pem 127.8.40.1", "junk.pem: not a PEM or DER X.509 certificate"},
        {"cert-key junk.pem 127.8.40.1", "junk.pem: not a PEM or DER private key"},
        {"upload-config nonexist.cfg 127.8.40.1", "nonexist.cfg: not found"},
        {"firmware big.bin 127.8.40.1", "big.bin: larger than 16 MiB"},
        {"download-config --out folder 127.8.40.1", "folder: a folder, not a file"},
        {"download-config --folder good.txt 127.8.40.1", "good.txt: not a folder"},
        {"erase-sd 127.8.40.1 --retry-list /nonexistent/r.txt", "the folder /nonexistent is missing"},
        {"erase-sd 127.8.40.1 --report folder", "folder: a folder, not a file"},
    };
    for (const auto& c : cases) {
        const run_result r = run(common + c.args);
        EXPECT_EQ(r.exit_code, 2) << c.args << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("talvorctl: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_TRUE(fleet_->requests().empty()) << c.args;
    }
}

TEST_F(TalvorctlRun, ResultsSayWhatHappenedToEachUnitNamed)
{
    // "first" and "again" are one unit (same serial and MAC) at two
    // addresses; the first named answers slowly, yet it is the one kept.
    const std::string first =
        http_unit("first", "127.8.41.1", "00:1a:7e:08:41:01",
                  R"(, "faults": {"random": {"chance": 1, "kinds": ["stall"], "stall_ms": 150}})");
    std::string again = http_unit("first", "127.8.41.2", "00:1a:7e:08:41:01");
    again.replace(again.find("\"name\": \"first\""), 15, "\"name\": \"again\"");
    start(first + "," + again);
    std::ofstream(dir_ / "site.txt", std::ios::binary) << "\xEF\xBB\xBF" "127.8.41.1\n127.8.41.2\n";

    run_result r = run(common + "--json erase-sd --list site.txt --retry-list retry.txt");
    EXPECT_EQ(r.exit_code, 1) << r.err;
    auto units = units_of(r.out);
    EXPECT_EQ(units["127.8.41.1"].result, "ok") << r.out;
    EXPECT_EQ(units["127.8.41.2"].result, "duplicate") << r.out;
    EXPECT_EQ(units["127.8.41.2"].error, "duplicate of SER-first [127.8.41.1]") << r.out;
    EXPECT_EQ(slurp(dir_ / "retry.txt"), "# failed units of talvorctl erase-sd\n");
    int erased = 0;
    for (const auto& e : fleet_->events("first"))
        erased += e.kind == "sdcard_clear";
    EXPECT_EQ(erased, 1);
    EXPECT_TRUE(fleet_->events("again").empty() || fleet_->events("again").back().kind != "sdcard_clear");

    // A command the unit does not offer: a row with the reason, no retry.
    r = run(common + "--json cert-regenerate 127.8.41.2 --retry-list retry.txt");
    EXPECT_EQ(r.exit_code, 1) << r.err;
    units = units_of(r.out);
    EXPECT_EQ(units["127.8.41.2"].result, "skipped") << r.out;
    EXPECT_EQ(units["127.8.41.2"].error, "HTTP units have no certificate commands") << r.out;
    EXPECT_EQ(slurp(dir_ / "retry.txt"), "# failed units of talvorctl cert-regenerate\n");
}

TEST_F(TalvorctlRun, ClassTakesTheTreesKindNamesAndSaysWhatTheyCover)
{
    const std::string taps = R"(, "bus_sizes": [4, 8], "taps": [
        {"bus": 0, "address": 1, "type": 3, "ccts": 8, "sernr": "MP-1", "caps": 5, "fwver": 291},
        {"bus": 1, "address": 1, "type": 11, "ccts": 12, "sernr": "RM-1", "caps": 5, "fwver": 291},
        {"bus": 1, "address": 2, "type": 19, "ccts": 12, "sernr": "SM-1", "caps": 5, "fwver": 291}])";
    start(admin_unit("t", "http", "127.8.42.1", cap_config | cap_tap_details, taps) + "," +
          wss_unit("o", "127.8.42.2", "00:1a:7e:08:42:02"));

    run_result r = run(common + "restart --class Nope 127.8.42.1 127.8.42.2");
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("unknown class \"Nope\"; the classes present: Multi-Port TAP (1 TAP: 8 Port (1)); "
                         "Rail Module (2 TAPs: Rail Module (1), Senta Module (1)); Orvane Meter (1 TAP: Meter (1)); "
                         "Orvane System (1 unit); "
                         "Talvor System (1 unit)"),
              std::string::npos)
        << r.err;

    r = run(common + "--json restart --class 'senta module' 127.8.42.1 127.8.42.2");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("--class \"senta module\" stands for the product class \"Rail Module\": 2 TAPs of the kinds "
                         "Rail Module (1), Senta Module (1)"),
              std::string::npos)
        << r.err;
    auto units = units_of(r.out);
    EXPECT_EQ(units["127.8.42.1"].result, "ok");
    EXPECT_EQ(units["127.8.42.2"].result, "skipped");

    // A mixed list is not split by hand: the units of the class are the batch.
    fs::create_directories(dir_ / "saved");
    r = run(common + "--json download-config --folder saved --class 'Talvor System' 127.8.42.1 127.8.42.2");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    units = units_of(r.out);
    EXPECT_EQ(units["127.8.42.1"].result, "ok") << r.out;
    EXPECT_EQ(unescape(units["127.8.42.2"].error), "not of the class \"Talvor System\"") << r.out;
    EXPECT_EQ(run(common + "download-config --folder saved --class 'Senta Module' 127.8.42.1").exit_code, 2);
}
