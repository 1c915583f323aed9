// The login of units: security decision, shared password prompt, the login
// loop, and what a failed refresh leaves behind.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <thread>

#include "inventory/failure_reason.h"
#include "inventory/unit_group.h"
#include "tests/connect/connect_fixture.h"

namespace talvor::test {
namespace {

using namespace std::chrono_literals;

// Waits (bounded) until `n` threads have arrived; true when they all did.
class meeting {
public:
    explicit meeting(int n) : n_(n) {}
    bool arrive()
    {
        std::unique_lock<std::mutex> g(lock_);
        if (++arrived_ >= n_)
            all_.notify_all();
        return all_.wait_for(g, 10s, [&] { return arrived_ >= n_; });
    }

private:
    std::mutex lock_;
    std::condition_variable all_;
    int n_;
    int arrived_ = 0;
};

class login_test : public connect_fixture {
protected:
    int prompt_waiters()
    {
        std::lock_guard<std::mutex> g(manager->group().prompt_lock);
        return manager->group().prompt.waiters;
    }
    // Holds the password prompt open until `n` units wait for it (bounded).
    void hold_prompt_until_waiting(int n)
    {
        ui.before_password = [this, n] {
            for (int i = 0; i < 1000 && prompt_waiters() < n; ++i)
                std::this_thread::sleep_for(10ms);
        };
    }
};

TEST_F(login_test, http_units_at_standard_share_one_prompt_and_log_in_together)
{
    settings.tls_checks = 1;
    meeting logins(4);
    std::atomic<int> met{0};
    for (int i = 1; i <= 4; ++i) {
        auto u = fake("127.7.1." + std::to_string(i));
        u->on_login = [&logins, &met, first = std::make_shared<std::atomic<bool>>(true)] {
            if (first->exchange(false) && logins.arrive())
                ++met;
        };
    }
    ui.task_answers.push_back(scripted_dialogs::security(true, true)); // yes to all
    ui.passwords.push_back("secret");
    hold_prompt_until_waiting(4);

    for (int i = 1; i <= 4; ++i)
        EXPECT_EQ(manager->add_device("127.7.1." + std::to_string(i)), add_result::added);
    ASSERT_TRUE(settle());

    EXPECT_EQ(ui.security_prompts(), 1u);
    ASSERT_EQ(ui.password_prompts.size(), 1u);
    EXPECT_EQ(listener.ready.size(), 4u);
    EXPECT_TRUE(listener.removed.empty());
    // All four were inside their login at the same time.
    EXPECT_EQ(met.load(), 4);
    EXPECT_EQ(manager->group().prompt.password.size(), 0u) << "the shared password must be wiped";
}

TEST_F(login_test, security_prompt_texts_and_remembered_answers)
{
    settings.tls_checks = 2; // Strict: every problem asks
    auto a = fake("127.7.2.1");
    a->http = false;
    a->tls_problems = problem_identity | problem_invalid;
    fake("127.7.2.2")->http = false;
    fakes[v4("127.7.2.2")]->tls_problems = problem_untrusted;
    fake("127.7.2.3");

    ui.task_answers.push_back(scripted_dialogs::security(false, true)); // no to all
    ui.passwords.push_back("secret");
    EXPECT_EQ(manager->add_device("127.7.2.1"), add_result::added);
    ASSERT_TRUE(settle());
    ASSERT_EQ(ui.tasks.size(), 1u);
    const task_dialog_request& r = ui.tasks[0];
    EXPECT_EQ(r.title, "Security Exception For \"127.7.2.1\"");
    EXPECT_EQ(r.content, "Unit: 127.7.2.1\r\n\r\n"
                         "The connection to the unit does not meet security requirements :-\r\n\r\n"
                         "    \u2022    Certificate is invalid\r\n"
                         "    \u2022    Unit identity unconfirmed\r\n"
                         "\r\nAre you sure you want to connect to this unit ?");
    EXPECT_EQ(r.verification_text, "Do not ask again");
    EXPECT_EQ(r.default_button, IDNO);
    ASSERT_NE(listener.removal_of("127.7.2.1"), nullptr);
    EXPECT_EQ(listener.removal_of("127.7.2.1")->reason, unit_failure::security_refused);

    // "No to all" holds for a unit reported later by the same run...
    manager->on_unit_found(1, make_unit_address(v4("127.7.2.2")));
    ASSERT_TRUE(settle());
    EXPECT_EQ(ui.security_prompts(), 1u);
    EXPECT_EQ(listener.removal_of("127.7.2.2")->reason, unit_failure::security_refused);

    // ...until the next Add, which asks again.
    ui.task_answers.push_back(scripted_dialogs::security(true, false));
    EXPECT_EQ(manager->add_device("127.7.2.3"), add_result::added);
    ASSERT_TRUE(settle());
    ASSERT_EQ(ui.security_prompts(), 2u);
    EXPECT_NE(ui.tasks.back().content.find("Connection is unencrypted"), std::string::npos);
    EXPECT_EQ(ui.tasks.back().content.find("Certificate"), std::string::npos);
    EXPECT_EQ(listener.ready.size(), 1u);
}

TEST_F(login_test, yes_to_all_covers_the_problems_shown_until_the_next_add)
{
    settings.tls_checks = 2;
    for (const char* a : {"127.7.3.1", "127.7.3.2", "127.7.3.3", "127.7.3.4"})
        fake(a);
    auto tls = fake("127.7.3.5");
    tls->http = false;
    tls->tls_problems = problem_untrusted | problem_invalid;
    ui.task_answers.push_back(scripted_dialogs::security(true, true));
    // Units 2 and 3 may or may not meet at one prompt.
    ui.passwords = {"secret", "secret", "secret", "secret"};
    manager->add_device("127.7.3.1");
    ASSERT_TRUE(settle());
    manager->on_unit_found(1, make_unit_address(v4("127.7.3.2")));
    manager->on_unit_found(2, make_unit_address(v4("127.7.3.3")));
    ASSERT_TRUE(settle());
    EXPECT_EQ(ui.security_prompts(), 1u);
    EXPECT_EQ(listener.ready.size(), 3u);

    // The answer was given for an unencrypted connection only: a unit whose
    // certificate is untrusted and invalid is asked about, and refused.
    ui.task_answers.push_back(scripted_dialogs::security(false, false));
    manager->on_unit_found(3, make_unit_address(v4("127.7.3.5")));
    ASSERT_TRUE(settle());
    ASSERT_EQ(ui.security_prompts(), 2u);
    EXPECT_NE(ui.tasks.back().content.find("Certificate is untrusted"), std::string::npos);
    ASSERT_NE(listener.removal_of("127.7.3.5"), nullptr);
    EXPECT_EQ(listener.removal_of("127.7.3.5")->problems, problem_untrusted | problem_invalid);

    // A new discovery run's first find asks again.
    ui.task_answers.push_back(scripted_dialogs::security(true, false));
    manager->on_unit_found(0, make_unit_address(v4("127.7.3.4")));
    ASSERT_TRUE(settle());
    EXPECT_EQ(ui.security_prompts(), 3u);
    EXPECT_EQ(listener.ready.size(), 4u);
}

TEST_F(login_test, one_prompt_at_a_time_each_naming_its_unit)
{
    settings.tls_checks = 2; // every HTTP unit asks about its security
    for (const char* a : {"127.7.11.1", "127.7.11.2", "127.7.11.3"})
        fake(a);
    // Each prompt stays open a while, handling the window's other calls
    // meanwhile as a modal dialog does.
    int open = 0, most = 0;
    auto modal = [&] {
        most = std::max(most, ++open);
        bridge.run_until([] { return false; }, 100ms);
        --open;
    };
    ui.answer_with = [&](const task_dialog_request&) {
        modal();
        return scripted_dialogs::security(true, false);
    };
    ui.before_password = modal;
    ui.passwords = {"secret", "secret", "secret"};
    for (const char* a : {"127.7.11.1", "127.7.11.2", "127.7.11.3"})
        manager->add_device(a);
    ASSERT_TRUE(settle());
    EXPECT_EQ(most, 1) << "a prompt opened over another";
    EXPECT_EQ(ui.security_prompts(), 3u);
    EXPECT_EQ(ui.password_prompts.size(), 1u);
    EXPECT_EQ(listener.ready.size(), 3u);
    std::vector<std::string> named;
    for (const auto& t : ui.tasks)
        named.push_back(t.content.substr(0, t.content.find('\r')));
    std::sort(named.begin(), named.end());
    EXPECT_EQ(named, (std::vector<std::string>{"Unit: 127.7.11.1", "Unit: 127.7.11.2", "Unit: 127.7.11.3"}));
}

TEST_F(login_test, the_password_is_kept_until_every_unit_at_work_has_logged_in)
{
    settings.tls_checks = 0;
    auto first = fake("127.7.12.1");
    fake("127.7.12.2");
    // The second unit reaches its login only once the first has logged in,
    // when nobody waits for the answer any more.
    const auto probe = manager->env().factory;
    manager->env().factory = [probe, first](std::shared_ptr<conn_sess> s, int tls) {
        if (s->address() == v4("127.7.12.2"))
            for (int i = 0; i < 1000 && first->logged_in.load() == 0; ++i)
                std::this_thread::sleep_for(10ms);
        return probe(std::move(s), tls);
    };
    ui.passwords = {"secret", "secret"};
    manager->add_device("127.7.12.1");
    manager->add_device("127.7.12.2");
    ASSERT_TRUE(settle());
    EXPECT_EQ(listener.ready.size(), 2u);
    EXPECT_EQ(ui.password_prompts.size(), 1u);
    EXPECT_EQ(manager->group().prompt.password.size(), 0u) << "wiped once the last unit has logged in";

    // The next refresh asks again.
    EXPECT_TRUE(manager->refresh_all());
    ASSERT_TRUE(settle());
    EXPECT_EQ(ui.password_prompts.size(), 2u);
}

TEST_F(login_test, a_refused_unit_asks_again_saying_so_and_its_cancel_leaves_the_others_the_password)
{
    settings.tls_checks = 0;
    fake("127.7.13.1");
    fake("127.7.13.2")->password = "other";
    auto late = fake("127.7.13.3");
    // The third unit comes while the second one's prompt is open.
    std::atomic<bool> second_prompt{false};
    const auto probe = manager->env().factory;
    manager->env().factory = [probe, &second_prompt](std::shared_ptr<conn_sess> s, int tls) {
        if (s->address() == v4("127.7.13.3"))
            for (int i = 0; i < 1000 && !second_prompt.load(); ++i)
                std::this_thread::sleep_for(10ms);
        return probe(std::move(s), tls);
    };
    ui.before_password = [&] {
        if (ui.password_prompts.size() == 1) { // the first two units share the first prompt
            for (int i = 0; i < 1000 && prompt_waiters() < 2; ++i)
                std::this_thread::sleep_for(10ms);
            return;
        }
        second_prompt = true;
        for (int i = 0; i < 1000 && late->logged_in.load() == 0; ++i)
            std::this_thread::sleep_for(10ms);
    };
    ui.passwords = {"secret", std::nullopt};
    for (const char* a : {"127.7.13.1", "127.7.13.2", "127.7.13.3"})
        manager->add_device(a);
    ASSERT_TRUE(settle());
    ASSERT_EQ(ui.password_prompts.size(), 2u);
    EXPECT_EQ(ui.password_prompts[0].refusal, "");
    EXPECT_EQ(ui.password_prompts[1].unit, "127.7.13.2");
    EXPECT_EQ(ui.password_prompts[1].refusal, "The unit refused this password.");
    EXPECT_EQ(late->logged_in.load(), 1) << "the unit that came later took the kept password";
    ASSERT_EQ(listener.removed.size(), 1u);
    EXPECT_EQ(listener.removed[0].address, "127.7.13.2");
}

TEST_F(login_test, refused_password_asks_again_until_cancelled_then_the_unit_goes)
{
    settings.tls_checks = 0;
    auto u = fake("127.7.4.1");
    ui.passwords = {"wrong", "also wrong", std::nullopt};
    manager->add_device("127.7.4.1");
    ASSERT_TRUE(settle());
    ASSERT_EQ(ui.password_prompts.size(), 3u);
    EXPECT_EQ(ui.password_prompts[0].caption, "Password For \"127.7.4.1\"");
    EXPECT_EQ(ui.password_prompts[0].group_title, "Administrator Password");
    EXPECT_EQ(u->derive_calls.load(), 2);
    ASSERT_EQ(listener.removed.size(), 1u);
    EXPECT_EQ(listener.removed[0].reason, unit_failure::password_cancelled);
    EXPECT_EQ(listener.removed[0].protocol, protocol_http);
    EXPECT_EQ(listed(), 0u);
}

TEST_F(login_test, a_front_end_limiting_rounds_ends_a_refused_unit_after_one_prompt)
{
    settings.tls_checks = 0;
    manager->env().max_password_rounds = 1;
    fake("127.7.5.1");
    ui.passwords = {"wrong", "wrong"};
    manager->add_device("127.7.5.1");
    ASSERT_TRUE(settle());
    EXPECT_EQ(ui.password_prompts.size(), 1u);
    ASSERT_EQ(listener.removed.size(), 1u);
    EXPECT_EQ(listener.removed[0].reason, unit_failure::login_refused);
}

TEST_F(login_test, csrf_renewal_three_times_in_a_row_leads_to_the_prompt)
{
    settings.tls_checks = 0;
    auto u = fake("127.7.6.1");
    u->renewals = 3;
    ui.passwords = {"secret", "secret"};
    manager->add_device("127.7.6.1");
    ASSERT_TRUE(settle());
    EXPECT_EQ(ui.password_prompts.size(), 2u);
    EXPECT_EQ(u->logins.load(), 4);
    EXPECT_EQ(listener.ready.size(), 1u);

    // Two renewals stay inside one prompt.
    auto v = fake("127.7.6.2");
    v->renewals = 2;
    ui.passwords = {"secret"};
    manager->add_device("127.7.6.2");
    ASSERT_TRUE(settle());
    EXPECT_EQ(ui.password_prompts.size(), 3u);
    EXPECT_EQ(v->logins.load(), 3);
}

TEST_F(login_test, removal_reasons_name_what_failed)
{
    settings.tls_checks = 0;
    // 127.7.7.1 has no fake: the factory gives no client.
    fake("127.7.7.2")->challenge_result = -975;
    fake("127.7.7.3")->login_status_override = 500;
    fake("127.7.7.4")->gen_conf = "";
    fake("127.7.7.5")->answers_probe = false;
    ui.passwords = {"secret"};
    hold_prompt_until_waiting(2);
    for (const char* a : {"127.7.7.1", "127.7.7.2", "127.7.7.3", "127.7.7.4", "127.7.7.5"})
        manager->add_device(a);
    ASSERT_TRUE(settle());
    ASSERT_EQ(listener.removed.size(), 5u);
    EXPECT_EQ(listener.removal_of("127.7.7.1")->reason, unit_failure::no_client);
    EXPECT_STREQ(failure_text(unit_failure::no_client), "answered neither protocol");
    EXPECT_EQ(listener.removal_of("127.7.7.5")->reason, unit_failure::no_answer);
    EXPECT_STREQ(failure_text(unit_failure::no_answer), "no answer");
    EXPECT_EQ(listener.removal_of("127.7.7.1")->protocol, 0);
    EXPECT_EQ(listener.removal_of("127.7.7.2")->reason, unit_failure::unreachable);
    EXPECT_EQ(listener.removal_of("127.7.7.3")->reason, unit_failure::login_refused);
    EXPECT_EQ(listener.removal_of("127.7.7.4")->reason, unit_failure::read_failed);
    EXPECT_EQ(listed(), 0u);
    EXPECT_TRUE(manager->busy().empty());
}

TEST(failure_reason_test, a_security_refusal_names_the_problems_and_the_ways_on)
{
    const struct {
        std::uint32_t problems;
        reason_words words;
        const char* text;
    } cases[] = {
        {problem_unencrypted, reason_words::command_line,
         "security refused (unencrypted): connect anyway with --accept-insecure, or lower the checks with "
         "--tls-checks none"},
        {problem_untrusted | problem_identity, reason_words::command_line,
         "security refused (untrusted certificate, name mismatch): connect anyway with --accept-insecure, trust "
         "its certificate with trust-cert, or lower the checks with --tls-checks none"},
        {problem_invalid | problem_untrusted, reason_words::command_line,
         "security refused (invalid certificate, untrusted certificate): connect anyway with --accept-insecure, or "
         "lower the checks with --tls-checks none"},
        {problem_identity, reason_words::window,
         "refused (name mismatch): add it again and answer Yes to its security question, or set the TLS "
         "Certificate Checks in Settings to Standard"},
        {0, reason_words::command_line, "security refused"},
        {0, reason_words::window, "refused: its security problems were not accepted"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(failure_reason(unit_failure::security_refused, c.problems, c.words), c.text);
}

TEST_F(login_test, a_refreshed_unit_with_a_listed_mac_is_removed)
{
    settings.tls_checks = 0;
    fake("127.7.8.1")->gen_conf = R"({"mac0":"00:1a:2b:3c:4d:5e","ser":"A1"})";
    fake("127.7.8.2")->gen_conf = R"({"mac0":"00:1a:2b:3c:4d:5e","ser":"B2"})";
    fake("127.7.8.3")->gen_conf = R"({"mac0":"00:1a:2b:3c:4d:5f","ser":"C3"})";
    ui.passwords = {"secret", "secret", "secret"};
    manager->add_device("127.7.8.1");
    ASSERT_TRUE(settle());
    manager->add_device("127.7.8.2");
    manager->add_device("127.7.8.3");
    ASSERT_TRUE(settle());
    ASSERT_EQ(listener.removed.size(), 1u);
    EXPECT_EQ(listener.removed[0].address, "127.7.8.2");
    EXPECT_EQ(listener.removed[0].label, "B2 [127.7.8.2]");
    EXPECT_EQ(listener.removed[0].reason, unit_failure::duplicate);
    EXPECT_EQ(listed(), 2u);

    // The same address again is refused at once, without a message.
    EXPECT_EQ(manager->add_device("127.7.8.1"), add_result::duplicate);
    EXPECT_TRUE(ui.tasks.empty());

    // A discovery run whose first find is a listed unit still asks again later.
    manager->group().prompt.security_answer = 1;
    EXPECT_EQ(manager->on_unit_found(0, make_unit_address(v4("127.7.8.3"))), 0);
    EXPECT_EQ(manager->group().prompt.security_answer.load(), -1);
    EXPECT_EQ(listed(), 2u);
}

TEST_F(login_test, refresh_reconnects_every_unit_with_a_new_session)
{
    settings.tls_checks = 0;
    auto a = fake("127.7.10.1");
    auto b = fake("127.7.10.2");
    ui.passwords = {"secret", "secret", "secret", "secret"};
    manager->add_device("127.7.10.1");
    manager->add_device("127.7.10.2");
    ASSERT_TRUE(settle());
    ASSERT_EQ(listener.ready.size(), 2u);
    manager->group().units()[0]->tree_item = 11;
    const int challenges = a->challenges.load();

    EXPECT_TRUE(manager->refresh_all());
    EXPECT_FALSE(manager->refresh_all()) << "refused while the refresh runs";
    EXPECT_EQ(manager->group().units()[0]->tree_item, no_tree_node);
    ASSERT_TRUE(settle());
    EXPECT_EQ(listener.ready.size(), 4u);
    EXPECT_GT(a->challenges.load(), challenges);
    EXPECT_EQ(b->logged_in.load(), 2);
}

TEST_F(login_test, shutting_down_releases_a_unit_waiting_for_the_password)
{
    settings.tls_checks = 0;
    fake("127.7.9.1");
    std::atomic<bool> asked{false};
    ui.before_password = [&] { asked = true; };
    manager->add_device("127.7.9.1");
    // The unit reaches the prompt; the window never gets to answer it.
    for (int i = 0; i < 1000 && prompt_waiters() == 0; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(prompt_waiters(), 1);
    manager->shut_down(); // returns only once the unit's worker has ended
    EXPECT_FALSE(asked.load());
    EXPECT_EQ(prompt_waiters(), 0);
    EXPECT_EQ(listed(), 1u);
    EXPECT_EQ(manager->add_device("127.7.9.2"), add_result::added);
    EXPECT_EQ(listed(), 2u);
    EXPECT_TRUE(manager->busy().empty()) << "no job is queued once shutting down";
}

} // namespace
} // namespace talvor::test
