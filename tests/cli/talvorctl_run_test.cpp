// Runs the talvorctl binary against simulated units, as a script would.
#include "talvorctl_fixture.h"

#include <functional>

#include "operations/ct_table.h"

using namespace talvorctl_test;

TEST_F(TalvorctlRun, JsonListsEveryUnitOfBothProtocolsWithFailuresAndDuplicates)
{
    start(http_unit("h1", "127.8.0.1", "00:1a:7e:08:00:01") + "," + wss_unit("w1", "127.8.0.2", "00:1a:7e:08:00:02") +
          "," + http_unit("bad", "127.8.0.3", "00:1a:7e:08:00:03", R"(, "faults": {"login_403": true})") + "," +
          http_unit("dup", "127.8.0.4", "00:1a:7e:08:00:01"));
    auto r = run("--json --password-file password --accept-insecure --tls-checks standard show 127.8.0.1 "
                 "127.8.0.2 127.8.0.3 127.8.0.4");
    EXPECT_EQ(r.exit_code, 1) << r.err; // one unit failed
    expect_documented(r.out, "show");
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
    for (auto& [address, u] : units)
        EXPECT_EQ(u.result, "failed") << address;
    // Each names its problems and the ways on.
    EXPECT_EQ(units["127.8.2.1"].error, "security refused (unencrypted): connect anyway with --accept-insecure, or "
                                        "lower the checks with --tls-checks none");
    EXPECT_NE(units["127.8.2.2"].error.find("(untrusted certificate"), std::string::npos) << units["127.8.2.2"].error;
    EXPECT_NE(units["127.8.2.2"].error.find("trust-cert"), std::string::npos) << units["127.8.2.2"].error;
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
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("address list list.txt: not an address list: error at line 3"), std::string::npos) << r.err;
}

namespace {

// Rows of fields, read by the CT tables' CSV reader.
struct csv_reader final : CSVParser {
    std::vector<std::vector<std::string>> rows{{}};
    int on_field(const std::string& text) override { return rows.back().push_back(text), 0; }
    int on_line_end() override { return rows.emplace_back(), 0; }
};

// The refreshed units of a --json run and their TAPs, as column -> value
// maps, the order the CSV export must follow.
std::vector<std::map<std::string, std::string>> json_rows(const std::string& json)
{
    std::vector<std::map<std::string, std::string>> out;
    auto p = json_parser::from(json);
    if (!p)
        return out;
    auto text = [&](std::size_t at, const char* key) { return unescape(p->get_string(p->find(at, key))); };
    auto each = [&](std::size_t at, const char* key, const std::function<void(std::size_t)>& f) {
        const std::size_t array = p->find(at, key);
        std::size_t e = array + 1;
        for (int k = 0; p->is(array, json_type::array) && k < p->tokens[array].size; ++k, e = p->skip(e))
            f(e);
    };
    auto add = [&](std::size_t at, std::map<std::string, std::string> row) {
        each(at, "details", [&](std::size_t d) { row[unescape(p->get_string(d + 1))] = unescape(p->get_string(d + 2)); });
        out.push_back(std::move(row));
    };
    each(json_parser::root, "units", [&](std::size_t u) {
        if (text(u, "result") != "ok")
            return;
        const std::map<std::string, std::string> unit = {{"Kind", "unit"}, {"Hub Type", text(u, "system")},
                                                         {"Unit", text(u, "label")}, {"Address", text(u, "address")},
                                                         {"Protocol", text(u, "protocol")}};
        add(u, unit);
        each(u, "taps", [&](std::size_t t) {
            auto tap = unit;
            tap["Kind"] = "TAP", tap["TAP Class"] = text(t, "tap_class"), tap["TAP"] = text(t, "label");
            add(t, tap);
        });
    });
    return out;
}

} // namespace

TEST_F(TalvorctlRun, CsvHoldsWhatJsonHoldsARowPerUnitAndTap)
{
    start(http_unit("c1", "127.8.7.1", "00:1a:7e:08:07:01") + "," + wss_unit("c2", "127.8.7.2", "00:1a:7e:08:07:02") +
          "," + http_unit("c3", "127.8.7.3", "00:1a:7e:08:07:03", R"(, "faults": {"login_403": true})"));
    const std::string args = " --password-file password --accept-insecure 127.8.7.3 127.8.7.2 127.8.7.1";
    const run_result json = run("--json show" + args);
    const run_result csv = run("show --csv" + args);
    EXPECT_EQ(csv.exit_code, 1) << csv.err;
    EXPECT_NE(csv.err.find("failed: 127.8.7.3"), std::string::npos) << csv.err; // no row, still not lost
    EXPECT_NE(csv.out.find("\r\n"), std::string::npos);

    csv_reader reader;
    ASSERT_EQ(reader.parse(csv.out), 0) << csv.out;
    auto& rows = reader.rows;
    if (!rows.empty() && rows.back().empty())
        rows.pop_back();
    const auto expected = json_rows(json.out);
    ASSERT_EQ(expected.size(), 4u) << json.out; // two units, a TAP each
    ASSERT_EQ(rows.size(), expected.size() + 1) << csv.out;
    const std::vector<std::string>& header = rows[0];
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(rows[i + 1].size(), header.size()) << i;
        std::map<std::string, std::string> got, want = expected[i];
        for (std::size_t c = 0; c < header.size(); ++c)
            got[header[c]] = rows[i + 1][c];
        std::erase_if(got, [](const auto& f) { return f.second.empty(); }); // no such row for it
        std::erase_if(want, [](const auto& f) { return f.second.empty(); });
        EXPECT_EQ(got, want) << "row " << i + 1;
    }
}
