// Connecting to simulated units over loopback: the whole path from an added
// address through probe, security prompt, shared password prompt and login
// to the refreshed (or removed) unit.
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "inventory/unit_group.h"
#include "simulator/hubsim.h"
#include "tests/connect/connect_fixture.h"

namespace talvor::test {
namespace {

using namespace std::chrono_literals;

class e2e_test : public connect_fixture {
protected:
    std::filesystem::path work;
    std::unique_ptr<sim::fleet_server> fleet;

    void SetUp() override
    {
        connect_fixture::SetUp();
        manager->env().factory = probe_hub; // the real clients, over loopback
        work = std::filesystem::temp_directory_path()
            / ("talvor-e2e-" + std::to_string(::getpid()) + "-"
               + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(work / "trusted");
        set_trusted_folder((work / "trusted").string());
    }
    void TearDown() override
    {
        connect_fixture::TearDown();
        fleet.reset();
        std::filesystem::remove_all(work);
    }
    void serve(const std::string& units_json)
    {
        fleet = std::make_unique<sim::fleet_server>(R"({"discovery":"off","units":[)" + units_json + "]}", work / "sim");
    }
    int prompt_waiters()
    {
        std::lock_guard<std::mutex> g(manager->group().prompt_lock);
        return manager->group().prompt.waiters;
    }
    std::size_t logins(const std::string& unit)
    {
        std::size_t n = 0;
        for (const auto& e : fleet->events(unit))
            n += e.kind == "login";
        return n;
    }
};

TEST_F(e2e_test, units_needing_the_password_share_one_prompt_and_all_log_in)
{
    serve(R"({"name":"a","kind":"http","address":"127.7.30.1","password":"shared pw"},
             {"name":"b","kind":"http","address":"127.7.30.2","password":"shared pw"},
             {"name":"c","kind":"http","address":"127.7.30.3","password":"shared pw"},
             {"name":"d","kind":"http","address":"127.7.30.4","password":"shared pw"})");
    settings.tls_checks = 1; // Standard: plain HTTP asks
    ui.task_answers.push_back(scripted_dialogs::security(true, true));
    ui.passwords.push_back("shared pw");
    ui.before_password = [this] {
        for (int i = 0; i < 2000 && prompt_waiters() < 4; ++i)
            std::this_thread::sleep_for(5ms);
    };
    for (int i = 1; i <= 4; ++i)
        ASSERT_EQ(manager->add_device("127.7.30." + std::to_string(i)), add_result::added);
    ASSERT_TRUE(settle());

    EXPECT_EQ(ui.security_prompts(), 1u);
    EXPECT_EQ(ui.tasks[0].content.find("Connection is unencrypted") != std::string::npos, true);
    EXPECT_EQ(ui.password_prompts.size(), 1u);
    ASSERT_EQ(listener.ready.size(), 4u) << (listener.removed.empty() ? "" : failure_text(listener.removed[0].reason));
    for (const char* u : {"a", "b", "c", "d"})
        EXPECT_EQ(logins(u), 1u) << u;
    ASSERT_EQ(listed(), 4u);
    for (const auto& unit : manager->group().units()) {
        EXPECT_EQ(unit->system_type, system_talvor);
        EXPECT_EQ(unit->mac[0], 0x02);
    }
}

TEST_F(e2e_test, a_refused_unit_asks_after_each_entry_until_cancelled_then_disappears)
{
    serve(R"({"name":"x","kind":"http","address":"127.7.31.1","password":"right"})");
    settings.tls_checks = 0;
    ui.passwords = {"wrong", "still wrong", std::nullopt};
    manager->add_device("127.7.31.1");
    ASSERT_TRUE(settle());
    EXPECT_EQ(ui.password_prompts.size(), 3u);
    EXPECT_EQ(logins("x"), 0u);
    ASSERT_EQ(listener.removed.size(), 1u);
    EXPECT_EQ(listener.removed[0].reason, unit_failure::password_cancelled);
    EXPECT_EQ(listener.removed[0].protocol, protocol_http);
    EXPECT_EQ(listener.removed[0].address, "127.7.31.1");
    EXPECT_EQ(listed(), 0u);
}

TEST_F(e2e_test, yes_to_all_holds_for_later_units_until_the_next_add)
{
    serve(R"({"name":"p","kind":"http","address":"127.7.32.1"},
             {"name":"q","kind":"http","address":"127.7.32.2"},
             {"name":"r","kind":"http","address":"127.7.32.3"})");
    settings.tls_checks = 2;
    ui.task_answers.push_back(scripted_dialogs::security(true, true));
    ui.passwords = {"password", "password", "password"};
    manager->add_device("127.7.32.1");
    ASSERT_TRUE(settle());
    // A unit that a running discovery reports later connects silently.
    manager->on_unit_found(1, make_unit_address(v4("127.7.32.2")));
    ASSERT_TRUE(settle());
    EXPECT_EQ(ui.security_prompts(), 1u);
    // Add asks again; "No" this time removes the unit.
    ui.task_answers.push_back(scripted_dialogs::security(false, false));
    manager->add_device("127.7.32.3");
    ASSERT_TRUE(settle());
    EXPECT_EQ(ui.security_prompts(), 2u);
    EXPECT_EQ(listener.ready.size(), 2u);
    ASSERT_EQ(listener.removed.size(), 1u);
    EXPECT_EQ(listener.removed[0].reason, unit_failure::security_refused);
    EXPECT_EQ(logins("r"), 0u);
}

TEST_F(e2e_test, csrf_renewal_three_times_in_a_row_leads_to_the_prompt)
{
    serve(R"({"name":"c","kind":"http","address":"127.7.33.1","csrf":["0011aa","bb0022","0033cc"]})");
    settings.tls_checks = 0;
    ui.passwords = {"password", "password"};
    manager->add_device("127.7.33.1");
    ASSERT_TRUE(settle());
    EXPECT_EQ(ui.password_prompts.size(), 2u);
    EXPECT_EQ(logins("c"), 4u);
    EXPECT_EQ(listener.ready.size(), 1u);
}

TEST_F(e2e_test, a_refreshed_unit_whose_mac_is_listed_is_removed_and_a_cancel_removes_too)
{
    serve(R"({"name":"m1","kind":"http","address":"127.7.34.1","mac":"00:1a:2b:3c:4d:5e"},
             {"name":"m2","kind":"http","address":"127.7.34.2","mac":"00:1a:2b:3c:4d:5e"},
             {"name":"m3","kind":"http","address":"127.7.34.3"})");
    settings.tls_checks = 0;
    ui.passwords = {"password"};
    manager->add_device("127.7.34.1");
    ASSERT_TRUE(settle());
    ui.passwords = {"password"};
    manager->add_device("127.7.34.2");
    ASSERT_TRUE(settle());
    ASSERT_EQ(listener.removed.size(), 1u);
    EXPECT_EQ(listener.removed[0].reason, unit_failure::duplicate);
    EXPECT_EQ(listener.removed[0].label, "m2 [127.7.34.2]");

    ui.passwords = {std::nullopt};
    manager->add_device("127.7.34.3");
    ASSERT_TRUE(settle());
    ASSERT_EQ(listener.removed.size(), 2u);
    EXPECT_EQ(listener.removed[1].reason, unit_failure::password_cancelled);
    EXPECT_EQ(listed(), 1u);
}

TEST_F(e2e_test, a_websocket_unit_with_an_untrusted_certificate_asks_then_connects)
{
    serve(R"({"name":"w","kind":"wss","address":"127.7.35.1"})");
    settings.tls_checks = 1;
    ui.task_answers.push_back(scripted_dialogs::security(true, false));
    ui.passwords = {"password"};
    manager->add_device("127.7.35.1");
    ASSERT_TRUE(settle());
    ASSERT_EQ(ui.security_prompts(), 1u);
    EXPECT_NE(ui.tasks[0].content.find("Certificate is untrusted"), std::string::npos);
    EXPECT_EQ(ui.tasks[0].content.find("unencrypted"), std::string::npos);
    ASSERT_EQ(listener.ready.size(), 1u)
        << (listener.removed.empty() ? "" : failure_text(listener.removed[0].reason));
    EXPECT_EQ(manager->group().units()[0]->hub->protocol_kind(), protocol_wss);
}

TEST_F(e2e_test, an_older_unit_connects_at_none_and_asks_at_standard_for_its_invalid_certificate)
{
    // 1024-bit RSA, SHA-1 and TLS 1.0 only; the authority is trusted, so
    // the weakness is the only problem left.
    const std::string old_unit = R"("kind":"wss","cert":"legacy","tls_max":"1.0")";
    serve(R"({"name":"none",)" + old_unit + R"(,"address":"127.7.37.1"},
             {"name":"standard",)" + old_unit + R"(,"address":"127.7.37.2"})");
    const std::string ca = fleet->ca_cert_der();
    ASSERT_EQ(trust_certificate({reinterpret_cast<const std::uint8_t*>(ca.data()), ca.size()}), 0);

    settings.tls_checks = 0;
    ui.passwords = {"password"};
    manager->add_device("127.7.37.1");
    ASSERT_TRUE(settle());
    EXPECT_EQ(ui.security_prompts(), 0u);
    ASSERT_EQ(listener.ready.size(), 1u)
        << (listener.removed.empty() ? "" : failure_text(listener.removed[0].reason));

    settings.tls_checks = 1;
    ui.task_answers.push_back(scripted_dialogs::security(false, false));
    manager->add_device("127.7.37.2");
    ASSERT_TRUE(settle());
    ASSERT_EQ(ui.security_prompts(), 1u);
    EXPECT_NE(ui.tasks[0].content.find("Certificate is invalid"), std::string::npos);
    EXPECT_EQ(ui.tasks[0].content.find("untrusted"), std::string::npos);
    ASSERT_EQ(listener.removed.size(), 1u);
    EXPECT_EQ(listener.removed[0].reason, unit_failure::security_refused);
    EXPECT_EQ(logins("standard"), 0u);
}

TEST_F(e2e_test, an_address_nobody_answers_is_removed_as_unreachable_or_without_client)
{
    settings.tls_checks = 0;
    manager->add_device("127.7.36.1"); // nothing listens: port 80 refused, then 443 refused
    ASSERT_TRUE(settle());
    ASSERT_EQ(listener.removed.size(), 1u);
    EXPECT_EQ(listener.removed[0].reason, unit_failure::unreachable);
    EXPECT_TRUE(ui.password_prompts.empty());
}

} // namespace
} // namespace talvor::test
