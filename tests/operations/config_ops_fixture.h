#pragma once
// Batch commands against simulated units on loopback, with dialogs that
// answer from the test: the word confirmation is always answered right,
// the progress window pumps the window loop until the batch has ended.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "inventory/unit_group.h"
#include "inventory/window_bridge_headless.h"
#include "operations/batch.h"
#include "operations/commands.h"
#include "simulator/hubsim.h"
#include "transport/conn_sess.h"

namespace talvor::test {

class answering_dialogs final : public dialogs {
public:
    explicit answering_dialogs(headless_bridge& bridge) : bridge_(bridge) {}

    std::deque<task_dialog_answer> answers; // other task dialogs, in order; then IDCANCEL
    std::optional<std::filesystem::path> file_answer, folder_answer;
    std::optional<std::vector<std::uint32_t>> category_answer;

    std::vector<task_dialog_request> tasks; // every task dialog but the word confirmation
    int confirmations = 0;
    std::vector<file_request> file_prompts;
    std::vector<folder_request> folder_prompts;
    std::vector<category_request> category_prompts;
    std::vector<std::string> progress_titles;

    task_dialog_answer task_dialog(const task_dialog_request& r) override
    {
        if (r.ok_radio != 0) {
            ++confirmations;
            return {IDOK, r.ok_radio, false};
        }
        tasks.push_back(r);
        if (answers.empty())
            return {};
        auto a = answers.front();
        answers.pop_front();
        return a;
    }
    std::optional<std::string> ask_password(const password_request&) override { return "password"; }
    std::optional<std::filesystem::path> choose_file(const file_request& r) override
    {
        file_prompts.push_back(r);
        return file_answer;
    }
    std::optional<std::filesystem::path> choose_folder(const folder_request& r) override
    {
        folder_prompts.push_back(r);
        return folder_answer;
    }
    int show_progress(const progress_request& r) override
    {
        progress_titles.push_back(r.title + ": " + r.main_instruction);
        bridge_.run_until([&] { return r.poll().finished; }, std::chrono::seconds(60));
        return IDOK;
    }
    std::optional<std::vector<std::uint32_t>> choose_categories(const category_request& r) override
    {
        category_prompts.push_back(r);
        return category_answer;
    }

private:
    headless_bridge& bridge_;
};

class config_ops_fixture : public ::testing::Test {
protected:
    headless_bridge bridge;
    answering_dialogs ui{bridge};
    AppSettings settings;
    std::filesystem::path work;
    std::unique_ptr<sim::fleet_server> fleet;
    std::unique_ptr<unit_manager> manager;
    std::unique_ptr<batch_context> ctx;

    void SetUp() override
    {
        work = std::filesystem::temp_directory_path() /
               ("talvor-cfgops-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(work);
        std::filesystem::create_directories(work / "trusted");
        std::filesystem::create_directories(work / "files");
        set_trusted_folder((work / "trusted").string());
        settings.tls_checks = 0;
        manager = std::make_unique<unit_manager>(bridge, ui, settings);
        ctx = std::make_unique<batch_context>(*manager, ui);
    }
    void TearDown() override
    {
        manager->shut_down();
        ctx.reset();
        manager.reset();
        fleet.reset();
        std::filesystem::remove_all(work);
    }

    // Serves the units, adds them by address, waits for their refresh and
    // selects every one of them.
    void serve(const std::string& units_json, const std::vector<std::string>& addresses)
    {
        fleet = std::make_unique<sim::fleet_server>(R"({"discovery":"off","units":[)" + units_json + "]}",
                                                    work / "sim");
        for (const auto& a : addresses)
            ASSERT_EQ(manager->add_device(a), add_result::added) << a;
        ASSERT_TRUE(bridge.run_until([&] { return manager->idle(); }, std::chrono::seconds(30)));
        ASSERT_EQ(manager->group().units().size(), addresses.size());
        for (const auto& u : manager->group().units()) {
            u->selected = 1;
            manager->group().selected_class = u->product_class;
        }
    }
    CHubDevice& unit(std::size_t i) { return *manager->group().units().at(i); }
    int result_of(const CHubDevice& u) const
    {
        for (const auto& o : ctx->outcomes())
            if (o.unit == &u)
                return o.result;
        return -1; // took no part
    }
    std::vector<sim::unit_event> uploads(const std::string& name) const
    {
        std::vector<sim::unit_event> out;
        for (auto& e : fleet->events(name))
            if (e.kind == "config")
                out.push_back(e);
        return out;
    }
    std::filesystem::path write_file(const std::string& name, const std::string& text)
    {
        const auto p = work / "files" / name;
        std::FILE* f = std::fopen(p.string().c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
        return p;
    }
};

inline std::string file_text(const std::filesystem::path& p)
{
    std::string s;
    if (std::FILE* f = std::fopen(p.string().c_str(), "rb")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            s.append(buf, n);
        std::fclose(f);
    }
    return s;
}

} // namespace talvor::test
