// Configuration download, configuration upload and CT type tables against
// simulated units (127.12.x.y, ports 80 and 443).
#include <filesystem>
#include <string>

#include "tests/operations/config_ops_fixture.h"

namespace talvor::test {
namespace {

namespace fs = std::filesystem;

std::size_t files_in(const fs::path& folder)
{
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

class config_ops_test : public config_ops_fixture {};

TEST_F(config_ops_test, folder_download_names_each_file_inside_the_folder)
{
    serve(R"({"name":"full","kind":"http","address":"127.12.1.1","config_file_text":"{\"version\":7,\"u\":1}"},
             {"name":"odd","kind":"wss","address":"127.12.1.2","config_file_text":"{\"version\":7,\"u\":2}",
              "gen_conf":{"system":"622","ser":"../up/..","mac0":"02:00:00:0c:01:02"}},
             {"name":"nameless","kind":"http","address":"127.12.1.3","config_file_text":"{\"version\":7,\"u\":3}",
              "gen_conf":{"system":"622","ser":"","mac0":"02:00:00:0c:01:03"}})",
          {"127.12.1.1", "127.12.1.2", "127.12.1.3"});
    const fs::path folder = work / "files" / "out";
    fs::create_directories(folder);
    write_file("out/full.CFG", "old");
    for (int n = 1; n <= 9; ++n)
        write_file("out/full(" + std::to_string(n) + ").CFG", "old");
    ui.folder_answer = folder;

    OnDownloadConfiguration(*ctx);
    ASSERT_EQ(ui.folder_prompts.size(), 1u);
    EXPECT_EQ(ui.folder_prompts[0].title, "Select Configuration File Folder");
    EXPECT_EQ(ui.progress_titles, std::vector<std::string>{
                                      "Download Configuration: Downloading configuration from selected device(s)"});
    EXPECT_EQ(result_of(unit(0)), job_failed);
    EXPECT_EQ(unit(0).job_reason, "all ten file names are taken");
    EXPECT_EQ(result_of(unit(1)), job_succeeded);
    EXPECT_EQ(result_of(unit(2)), job_succeeded);
    EXPECT_EQ(file_text(folder / ".._up_...CFG"), R"({"version":7,"u":2})");
    EXPECT_EQ(file_text(folder / "02_00_00_0c_01_03.CFG"), R"({"version":7,"u":3})");
    EXPECT_EQ(file_text(folder / "full.CFG"), "old");
    EXPECT_EQ(files_in(folder), 12u);
    EXPECT_EQ(files_in(work / "files"), 1u); // nothing beside the folder
}

TEST_F(config_ops_test, an_interrupted_download_leaves_the_earlier_file_as_it_was)
{
    serve(R"({"name":"cut","kind":"http","address":"127.12.2.1","config_file_text":"{\"version\":7,\"long\":\"text\"}",
              "gen_conf":{"system":"622","ser":"","mac0":"02:00:00:0c:02:01"},
              "faults":{"drop_reply_body":["config.cfg"]}})",
          {"127.12.2.1"});
    const fs::path saved = write_file("saved.cfg", "earlier configuration");
    ui.file_answer = saved;

    OnDownloadConfiguration(*ctx);
    ASSERT_EQ(ui.file_prompts.size(), 1u);
    const file_request& r = ui.file_prompts[0];
    EXPECT_EQ(r.title, "Save \"02:00:00:0c:02:01\" Configuration File");
    EXPECT_EQ(r.filter, "Configuration Files (*.cfg)|*.cfg|All Files (*.*)|*.*||");
    EXPECT_TRUE(r.save && r.overwrite_prompt);
    EXPECT_EQ(r.default_extension, "cfg");
    EXPECT_EQ(result_of(unit(0)), job_failed);
    EXPECT_EQ(file_text(saved), "earlier configuration");
    EXPECT_EQ(files_in(work / "files"), 1u);

    fleet->set_fault("cut", "drop_reply_body", "false");
    OnDownloadConfiguration(*ctx);
    EXPECT_EQ(result_of(unit(0)), job_succeeded);
    EXPECT_EQ(file_text(saved), R"({"version":7,"long":"text"})");
    EXPECT_EQ(files_in(work / "files"), 1u);
}

TEST_F(config_ops_test, upload_sends_the_file_twice_with_the_chosen_categories)
{
    const std::string cats = R"("config_cats":{"cats":[{"Network":1},{"Logs":2},{"Meters":8}],"version":7})";
    serve(R"({"name":"h","kind":"http","address":"127.12.3.1",)" + cats + R"(},
             {"name":"w","kind":"wss","address":"127.12.3.2","config_cats":{"cats":[{"Network":16},{"Meters":32}],"version":7},
              "faults":{"ws_drop_once":["config_set.action"]}},
             {"name":"none","kind":"http","address":"127.12.3.3",)" + cats + R"(,
              "gen_conf":{"system":"622","ser":"none","mac0":"02:00:00:0c:03:03","capabilities":1}})",
          {"127.12.3.1", "127.12.3.2", "127.12.3.3"});
    const std::string text = "{\"version\": 7, \"network\": {\"dhcp\": 0}}\n";
    const fs::path file = write_file("site.cfg", text);
    ui.answers.push_back({IDYES}); // partial support: go on with the units that can
    const auto network = static_cast<std::uint32_t>(manager->group().category_id("network"));
    const auto meters = static_cast<std::uint32_t>(manager->group().category_id("Meters"));
    ui.category_answer = std::vector<std::uint32_t>{network, meters};

    OnUploadConfiguration(*ctx, &file);
    ASSERT_EQ(ui.tasks.size(), 1u);
    EXPECT_EQ(ui.tasks[0].main_instruction, "Not all selected devices support this operation");
    ASSERT_EQ(ui.category_prompts.size(), 1u);
    std::string rows;
    for (const auto& row : ui.category_prompts[0].rows)
        rows += row.name + "=" + std::to_string(row.available) + " ";
    EXPECT_EQ(rows, "Network=1 Logs=0 Meters=1 ");
    EXPECT_EQ(ui.confirmations, 1);

    EXPECT_EQ(result_of(unit(0)), job_succeeded);
    auto h = uploads("h");
    ASSERT_EQ(h.size(), 2u);
    for (const auto& e : h) {
        EXPECT_EQ(e.number, 1 | 8);
        EXPECT_EQ(e.bytes, text);
    }
    // The WebSocket unit's first attempt lost its socket: after the pause
    // it logs in again and still sends the file once more.
    EXPECT_EQ(result_of(unit(1)), job_succeeded) << unit(1).job_reason;
    std::string order;
    for (const auto& e : fleet->events("w"))
        order += e.kind + (e.kind == "config" ? ":" + std::to_string(e.number) : "") + " ";
    EXPECT_EQ(order, "login logout login login config:48 logout "); // refresh, then the job
    EXPECT_EQ(uploads("w").at(0).bytes, text);
    EXPECT_EQ(result_of(unit(2)), -1);
    EXPECT_TRUE(uploads("none").empty());
}

TEST_F(config_ops_test, older_format_filtering_and_log_questions_decide_who_receives_the_file)
{
    const std::string cats = R"("config_cats":{"cats":[{"Network":1},{"Logs":2},{"IP Filtering":4}],"version":)";
    serve(R"({"name":"a","kind":"http","address":"127.12.6.1",)" + cats + R"(7}},
             {"name":"b","kind":"http","address":"127.12.6.2",)" + cats + R"(7}},
             {"name":"c","kind":"wss","address":"127.12.6.3","registers":{"4584":32},)" + cats + R"(8}})",
          {"127.12.6.1", "127.12.6.2", "127.12.6.3"});
    const fs::path file = write_file("f.cfg", R"({"version":7,"filtering":{"active":1},"log_conf":{},"glob_conf":{"sd_state":0}})");
    unit_group& g = manager->group();
    const auto logs = static_cast<std::uint32_t>(g.category_id("logs"));
    const auto filtering = static_cast<std::uint32_t>(g.category_id("ip filtering"));
    auto instructions = [&] {
        std::string s;
        for (const auto& t : ui.tasks)
            s += t.main_instruction + "|";
        return s;
    };

    // No category chosen: asked first, and No sends nothing.
    ui.answers = {{IDYES}, {IDNO}};
    ui.category_answer = std::vector<std::uint32_t>{};
    EXPECT_EQ(OnUploadConfiguration(*ctx, &file), 0);
    EXPECT_EQ(ui.tasks.at(0).content,
              "Configuration file has older format than expected by this unit (7 < 8)\r\n\n");
    EXPECT_EQ(ui.tasks.at(1).content, "No configuration categories have been selected so only uncategorised "
                                      "settings will be updated\n\nAre you sure you want to continue ?");

    ui.tasks.clear();
    ui.answers = {{IDYES}, {IDYES}, {IDOK, 0, true}};
    ui.category_answer = std::vector<std::uint32_t>{filtering, logs};
    OnUploadConfiguration(*ctx, &file);
    EXPECT_EQ(instructions(), "Do you wish to continue uploading the configuration?|"
                              "Configuration activates IP address filtering|"
                              "Configuration category selection not valid|");
    EXPECT_EQ(ui.tasks.at(2).content, "This unit has no SD - Card");
    EXPECT_EQ(ui.tasks.at(2).title, unit(0).label); // b was left out without asking
    EXPECT_EQ(ui.confirmations, 1);
    EXPECT_TRUE(uploads("a").empty());
    EXPECT_TRUE(uploads("b").empty());
    auto c = uploads("c");
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[1].number, 2 | 4);

    // Log entries together with SD state bits refuse the whole file.
    const fs::path bad = write_file("bad.cfg", R"({"version":7,"log_conf":{},"glob_conf":{"sd_state":4096}})");
    ui.tasks.clear();
    ui.answers = {{IDYES}};
    ui.category_answer = std::vector<std::uint32_t>{logs};
    EXPECT_EQ(OnUploadConfiguration(*ctx, &bad), 0);
    EXPECT_EQ(ui.tasks.back().content, "Configuration file log entries are invalid!");
}

TEST_F(config_ops_test, a_newer_file_is_rejected_for_all_units_after_one_dialog)
{
    serve(R"({"name":"a","kind":"http","address":"127.12.4.1"},
             {"name":"b","kind":"http","address":"127.12.4.2"},
             {"name":"c","kind":"wss","address":"127.12.4.3"})",
          {"127.12.4.1", "127.12.4.2", "127.12.4.3"});
    const fs::path file = write_file("new.cfg", R"({"version":9})");
    task_dialog_answer apply_to_all{IDOK, 0, true};
    ui.answers.push_back(apply_to_all);

    EXPECT_EQ(OnUploadConfiguration(*ctx, &file), 0);
    ASSERT_EQ(ui.tasks.size(), 1u);
    EXPECT_EQ(ui.tasks[0].title, unit(0).label);
    EXPECT_EQ(ui.tasks[0].main_instruction, "This upload has been rejected");
    EXPECT_EQ(ui.tasks[0].content, "Configuration file has newer format than supported by this unit (9 > 7)\r\n");
    EXPECT_EQ(ui.tasks[0].verification_text, "Apply to all newer configurations");
    EXPECT_EQ(ui.confirmations, 0);
    EXPECT_TRUE(ui.category_prompts.empty());
    for (const char* name : {"a", "b", "c"})
        EXPECT_TRUE(uploads(name).empty()) << name;
}

TEST_F(config_ops_test, ct_table_goes_out_with_its_category_and_an_old_unit_stops_the_command)
{
    serve(R"({"name":"new","kind":"http","address":"127.12.5.1"},
             {"name":"old","kind":"wss","address":"127.12.5.2","config_cats":{"cats":[{"Network":1}],"version":6}})",
          {"127.12.5.1", "127.12.5.2"});
    const fs::path file = write_file("ct.csv", "\xEF\xBB\xBF" "CT-100,100,1,20,2\r\n\"a\"\"b\",5,6,7,8\r\n");
    ui.answers.push_back({IDOK});

    EXPECT_EQ(OnUploadCtTypes(*ctx, &file), 0);
    ASSERT_EQ(ui.tasks.size(), 1u);
    EXPECT_EQ(ui.tasks[0].title, unit(1).label);
    EXPECT_EQ(ui.tasks[0].main_instruction, "Unsupported operation");
    EXPECT_EQ(ui.tasks[0].content, "CT Type Table upload not supported");
    EXPECT_EQ(ui.confirmations, 0);
    EXPECT_TRUE(uploads("new").empty());

    unit(1).selected = 0;
    OnUploadCtTypes(*ctx, &file);
    EXPECT_EQ(ui.confirmations, 1);
    EXPECT_EQ(result_of(unit(0)), job_succeeded);
    auto sent = uploads("new");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].number, 0x80000000LL);
    EXPECT_EQ(sent[0].bytes, R"({ "CTs_update": [ { "name": "CT-100", "factor": [ 100, 1 ], "PHCAL": [ 20, 2 ] },)"
                             R"( { "name": "a?b", "factor": [ 5, 6 ], "PHCAL": [ 7, 8 ] } ] })");

    const fs::path bad = write_file("bad.csv", "a,1,2,3,4\nb,1,2,3,\n");
    EXPECT_EQ(OnUploadCtTypes(*ctx, &bad), 0);
    ASSERT_EQ(ui.tasks.size(), 2u);
    EXPECT_EQ(ui.tasks[1].main_instruction, "Parsing failed at line 2");
    EXPECT_EQ(ui.tasks[1].content, "CT type file is invalid !");
}

} // namespace
} // namespace talvor::test
