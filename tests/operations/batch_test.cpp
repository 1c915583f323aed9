// The common steps of every batch command: eligibility and the partial
// question, the word confirmation, progress, failure and cancel.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <set>

#include "inventory/unit_group.h"
#include "operations/batch.h"
#include "operations/commands.h"
#include "protocol/zt_hub_http.h"
#include "tests/connect/connect_fixture.h"

namespace talvor::test {
namespace {

using namespace std::chrono_literals;

class batch_fixture : public connect_fixture {
protected:
    std::unique_ptr<batch_context> ctx;
    void SetUp() override
    {
        connect_fixture::SetUp();
        ctx = std::make_unique<batch_context>(*manager, ui);
        ui.bridge = &bridge;
    }
    void TearDown() override
    {
        manager->shut_down();
        ctx.reset();
        connect_fixture::TearDown();
    }
    CHubDevice& unit(int n, std::uint32_t caps, bool selected = true)
    {
        CHubDevice& u = *manager->group().add_unit(make_unit_address(ipv4_mapped(127, 7, 50, static_cast<std::uint8_t>(n))));
        u.capabilities = caps;
        u.selected = selected ? 1 : 0;
        u.product_class = class_talvor_system;
        return u;
    }
};

TEST_F(batch_fixture, eligibility_and_the_partial_support_question)
{
    struct row {
        int selected_class;
        std::uint32_t caps_a, caps_b;
        int answer; // 0: no question expected
        bool goes_on;
    };
    const row rows[] = {
        {class_rail_module, cap_config, cap_config, 0, false}, // not a hub class
        {class_talvor_system, cap_sdcard, cap_sdcard, 0, false},
        {class_talvor_system, cap_config, cap_config | cap_sdcard, 0, true},
        {class_orvane_system, cap_config, 0, IDNO, false},
        {class_orvane_system, cap_config, 0, IDYES, true},
    };
    CHubDevice& a = unit(1, 0);
    CHubDevice& b = unit(2, 0);
    for (const row& r : rows) {
        SCOPED_TRACE(r.selected_class);
        manager->group().selected_class = r.selected_class;
        a.capabilities = r.caps_a;
        b.capabilities = r.caps_b;
        ui.tasks.clear();
        if (r.answer)
            ui.task_answers.push_back({r.answer, 0, false});
        EXPECT_EQ(ctx->check_capability(cap_config, "Upload Configuration"), r.goes_on);
        ASSERT_EQ(ui.tasks.size(), r.answer ? 1u : 0u);
        if (r.answer) {
            const auto& t = ui.tasks[0];
            EXPECT_EQ(t.title, "Upload Configuration");
            EXPECT_EQ(t.main_instruction, "Not all selected devices support this operation");
            EXPECT_EQ(t.content, "Do you want to proceed with those that do ?");
            EXPECT_EQ(t.buttons, button_yes | button_no);
            EXPECT_EQ(t.default_button, IDNO);
            EXPECT_EQ(t.main_icon, dialog_icon::warning);
        }
    }
    a.selected = b.selected = 0;
    EXPECT_FALSE(ctx->check_capability(cap_config, "x")) << "nothing selected";
}

TEST_F(batch_fixture, the_word_confirmation_never_preselects_the_right_word_and_checks_the_answer)
{
    const std::set<std::string> words{"Apple", "Banana", "Orange", "Lemon", "Lime", "Pineapple", "Kumquat", "Grape"};
    const std::string footer = "note";
    for (unsigned seed = 1; seed <= 300; ++seed) {
        // One dialog per possible answer, from the same seeds.
        task_dialog_request shown;
        for (int pick = 1999; pick <= 2007; ++pick) {
            std::srand(seed);
            ctx->confirm_rng.seed(seed);
            ui.answer_with = [&](const task_dialog_request& r) {
                shown = r;
                return task_dialog_answer{pick == 1999 ? IDCANCEL : IDOK, pick == 1999 ? r.ok_radio : pick, false};
            };
            const int result = ctx->ConfirmParanoid("Update firmware on selected devices", "Update Firmware", "",
                                                    seed % 2 ? &footer : nullptr);
            EXPECT_EQ(result != 0, pick == shown.ok_radio) << seed << " " << pick;
        }
        ASSERT_EQ(shown.radio_buttons.size(), 8u);
        std::set<std::string> captions;
        std::string right;
        for (std::size_t i = 0; i < 8; ++i) {
            EXPECT_EQ(shown.radio_buttons[i].first, 2007 - static_cast<int>(i));
            captions.insert(shown.radio_buttons[i].second);
            if (shown.radio_buttons[i].first == shown.ok_radio)
                right = shown.radio_buttons[i].second;
        }
        EXPECT_EQ(captions, words);
        EXPECT_NE(shown.default_radio, shown.ok_radio);
        EXPECT_GE(shown.default_radio, 2000);
        EXPECT_LE(shown.default_radio, 2007);
        EXPECT_EQ(shown.content, "Select \"" + right + "\" if you are sure you really want to perform this operation");
        EXPECT_EQ(shown.disabled_buttons, button_ok);
        EXPECT_EQ(shown.default_button, IDCANCEL);
        EXPECT_EQ(shown.footer, seed % 2 ? footer : "");
        EXPECT_EQ(shown.footer_icon, seed % 2 ? dialog_icon::warning : dialog_icon::none);
    }
}

// Holds the jobs at a chosen progress until released (bounded).
struct job_gate {
    std::mutex lock;
    std::condition_variable cv;
    int arrived = 0;
    bool open = false;
    void arrive_and_wait()
    {
        std::unique_lock g(lock);
        ++arrived;
        cv.notify_all();
        cv.wait_for(g, 20s, [&] { return open; });
    }
    bool wait_arrivals(int n)
    {
        std::unique_lock g(lock);
        return cv.wait_for(g, 20s, [&] { return arrived >= n; });
    }
    void release()
    {
        std::lock_guard g(lock);
        open = true;
        cv.notify_all();
    }
};

TEST_F(batch_fixture, two_units_one_failing_average_error_state_and_outcomes)
{
    CHubDevice& a = unit(1, cap_config);
    CHubDevice& b = unit(2, cap_config);
    EXPECT_EQ(ctx->ShowOperationProgress("Working", "Title"), 2) << "nothing dispatched";
    job_gate gate;
    const connection_env& env = ctx->env();
    auto job = [&](CHubDevice& u, double at, bool ok) {
        return [&u, &gate, &env, at, ok] {
            u.job_progress.report(at);
            gate.arrive_and_wait();
            finish_job(u, env, ok, ok ? "" : "unit refused the file");
        };
    };
    ASSERT_TRUE(ctx->dispatch(job_kind_config_upload, a, job(a, 0.4, false), dispatch_form::unguarded));
    ASSERT_TRUE(ctx->dispatch(job_kind_config_upload, b, job(b, 0.85, true), dispatch_form::unguarded));
    EXPECT_FALSE(ctx->begin_command()) << "a batch is running";
    ASSERT_TRUE(gate.wait_arrivals(2));
    EXPECT_EQ(ctx->progress().position, 62);
    EXPECT_FALSE(ctx->progress().finished);
    gate.release();

    EXPECT_EQ(ctx->ShowOperationProgress("Uploading configuration", "Upload Configuration"), IDOK);
    ASSERT_EQ(ui.progress.requests.size(), 1u);
    const auto& r = ui.progress.requests[0];
    EXPECT_EQ(r.title, "Upload Configuration");
    EXPECT_EQ(r.main_instruction, "Uploading configuration");
    EXPECT_EQ(r.verification_text, "Cancel Operation");
    EXPECT_TRUE(ui.progress.error_seen);
    EXPECT_TRUE(ui.progress.last.finished);
    EXPECT_EQ(ui.progress.last.position, 50); // the failed unit did no work
    EXPECT_EQ(progress_summary(ui.progress.last), "1 of 2 units done, 1 failed");
    EXPECT_EQ(ui.progress.last.results, "127.7.50.1: unit refused the file");
    ASSERT_EQ(ctx->outcomes().size(), 2u);
    EXPECT_EQ(ctx->outcomes()[0].unit, &a);
    EXPECT_EQ(ctx->outcomes()[0].result, job_failed);
    EXPECT_EQ(ctx->outcomes()[0].reason, "unit refused the file");
    EXPECT_EQ(ctx->outcomes()[1].result, job_succeeded);
    EXPECT_FALSE(ctx->progress_open());
    // Retrying: only the failed unit stays checked.
    EXPECT_EQ(ctx->select_failed(), 1);
    EXPECT_TRUE(a.selected);
    EXPECT_FALSE(b.selected);

    int checks = 0;
    ctx->consistency_check = [&] { ++checks; };
    EXPECT_TRUE(ctx->begin_command());
    EXPECT_EQ(checks, 1);
}

TEST_F(batch_fixture, cancel_reaches_every_session_and_the_next_batch_lifts_it)
{
    CHubDevice& a = unit(1, cap_config);
    // A real session: its cancel wait is the one jobs use; nothing is sent.
    install_hub(a, std::make_unique<zt_hub_http>(conn_sess::create(a.address, "test")));
    const connection_env& env = ctx->env();
    CHubDevice* target = &a;
    ASSERT_TRUE(ctx->dispatch(job_kind_config_upload, a, [target, &env] {
        const bool waited = target->hub->wait_cancel(20000);
        finish_job(*target, env, waited, "cancelled");
    }, dispatch_form::unguarded));
    ui.cancel_when = [](const progress_state&) { return true; };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ctx->ShowOperationProgress("p", "t"), IDOK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_TRUE(ui.progress.cancelled);
    ASSERT_EQ(ctx->outcomes().size(), 1u);
    EXPECT_EQ(ctx->outcomes()[0].result, job_failed);
    EXPECT_EQ(ctx->outcomes()[0].reason, "cancelled");
    EXPECT_FALSE(a.hub->wait_cancel(0));
    ctx->clear_cancels();
    EXPECT_TRUE(a.hub->wait_cancel(0));
}

TEST_F(batch_fixture, beyond_the_limit_units_wait_their_turn_and_a_cancel_drops_them)
{
    ctx->parallel = 1;
    CHubDevice& a = unit(1, cap_config);
    CHubDevice& b = unit(2, cap_config);
    CHubDevice& c = unit(3, cap_config);
    job_gate gate;
    std::atomic<int> started{0};
    const connection_env& env = ctx->env();
    for (CHubDevice* u : {&a, &b, &c})
        ASSERT_TRUE(ctx->dispatch(job_kind_config_upload, *u, [u, &gate, &env, &started] {
            ++started;
            gate.arrive_and_wait();
            finish_job(*u, env, true);
        }, dispatch_form::unguarded));
    EXPECT_EQ(progress_summary(ctx->progress()), "0 of 3 units done, 2 waiting; slowest: 127.7.50.1 at 0%");
    // Cancel while the first unit works: the two waiting never start.
    ui.cancel_when = [&](const progress_state& s) {
        gate.release();
        return s.waiting == 2;
    };
    EXPECT_EQ(ctx->ShowOperationProgress("p", "t"), IDOK);
    EXPECT_EQ(started.load(), 1);
    ASSERT_EQ(ctx->outcomes().size(), 3u);
    EXPECT_EQ(ctx->outcomes()[0].result, job_succeeded);
    for (int i : {1, 2}) {
        EXPECT_EQ(ctx->outcomes()[i].result, job_failed);
        EXPECT_EQ(ctx->outcomes()[i].reason, "cancelled");
    }
    EXPECT_TRUE(ctx->progress().finished);
}

TEST_F(batch_fixture, the_new_password_is_asked_again_until_it_will_do_and_cancel_sends_nothing)
{
    unit(1, 0);
    manager->group().selected_class = class_talvor_system;
    // "\xe2\x9c\x93" (a check mark) has no place in the units' code page; the euro sign has.
    ui.new_passwords = {{"", ""}, {"abc", "abd"}, {"ok\xe2\x9c\x93", "ok\xe2\x9c\x93"}, {"\xe2\x82\xac?", "\xe2\x82\xac?"}};
    EXPECT_EQ(OnChangePassword(*ctx), 0); // the confirmation was cancelled
    ASSERT_EQ(ui.new_password_prompts.size(), 4u);
    EXPECT_EQ(ui.new_password_prompts[0].error, "");
    EXPECT_EQ(ui.new_password_prompts[1].error, "The password must not be empty.");
    EXPECT_EQ(ui.new_password_prompts[2].error, "The two entries differ: type the same password twice.");
    EXPECT_NE(ui.new_password_prompts[3].error.find("a character the units cannot take"), std::string::npos);
    ASSERT_EQ(ui.tasks.size(), 1u);
    EXPECT_EQ(ui.tasks[0].main_instruction, "Change the administrator password on selected devices");

    // Cancelling the prompt ends the command before any question or job.
    ui.tasks.clear();
    EXPECT_EQ(OnChangePassword(*ctx), 0);
    EXPECT_TRUE(ui.tasks.empty());
    EXPECT_TRUE(ctx->outcomes().empty());
}

// The check after an update is a window of its own: it counts only the
// units it awaits, with the time left, and lists only their results.
TEST_F(batch_fixture, a_follow_up_counts_its_own_units_and_the_time_left)
{
    CHubDevice& a = unit(1, cap_config);
    CHubDevice& b = unit(2, cap_config);
    const connection_env& env = ctx->env();
    ASSERT_TRUE(ctx->dispatch(job_kind_firmware, a, [&a, &env] { finish_job(a, env, true); }, dispatch_form::unguarded));
    ASSERT_TRUE(ctx->dispatch(job_kind_firmware, b, [&b, &env] { finish_job(b, env, false, "refused"); },
                              dispatch_form::unguarded));
    EXPECT_EQ(ctx->ShowOperationProgress("p", "t"), IDOK);

    job_gate gate;
    ctx->answer_deadline = std::chrono::steady_clock::now() + 252s + 500ms;
    ASSERT_TRUE(ctx->dispatch_follow_up(job_kind_verify, a, [&a, &env, &gate] {
        gate.arrive_and_wait();
        finish_job(a, env, false, "did not answer again");
    }));
    const progress_state s = ctx->progress();
    EXPECT_EQ(s.total, 1);
    EXPECT_EQ(progress_wait_text(s), "Waiting for 1 unit to answer again, 4:13 left");
    gate.release();
    EXPECT_EQ(ctx->ShowOperationProgress("v", "t"), IDOK);
    EXPECT_EQ(progress_summary(ui.progress.last), "0 of 1 unit done, 1 failed");
    EXPECT_EQ(ui.progress.last.results, "127.7.50.1: did not answer again");
    EXPECT_EQ(ui.progress.last.not_answered, -1) << "nothing awaited once finished";
}

TEST(progress_text_test, summary_and_wait_lines)
{
    struct row {
        progress_state s;
        const char* summary;
        const char* wait;
    };
    const row rows[] = {
        {{}, "", ""},
        {{.total = 6, .done = 5, .failed = 1}, "5 of 6 units done, 1 failed", ""},
        {{.total = 1, .done = 1}, "1 of 1 unit done", ""},
        {{.waiting = 40, .total = 50, .done = 2}, "2 of 50 units done, 40 waiting", ""},
        {{.total = 6, .done = 3, .not_answered = 3, .seconds_left = 252}, "3 of 6 units done",
         "Waiting for 3 units to answer again, 4:12 left"},
        {{.total = 2, .failed = 1, .not_answered = 1, .seconds_left = 5}, "0 of 2 units done, 1 failed",
         "Waiting for 1 unit to answer again, 0:05 left"},
        {{.total = 2, .done = 2, .not_answered = 0, .seconds_left = 60}, "2 of 2 units done", ""},
    };
    for (const row& r : rows) {
        EXPECT_EQ(progress_summary(r.s), r.summary);
        EXPECT_EQ(progress_wait_text(r.s), r.wait);
    }
}

} // namespace
} // namespace talvor::test
