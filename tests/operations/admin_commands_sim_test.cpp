// Customization, restart, SD-card erase, certificates and trusting a unit,
// run as the window runs them against simulated units over loopback.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "inventory/unit_group.h"
#include "operations/commands.h"
#include "operations/customisation_file.h"
#include "simulator/hubsim.h"
#include "tests/connect/connect_fixture.h"
#include "tests/support/test_certs.h"

namespace talvor::test {
namespace {

class admin_commands_test : public connect_fixture {
protected:
    std::filesystem::path work;
    std::unique_ptr<sim::fleet_server> fleet;
    std::unique_ptr<batch_context> ctx;
    int restart_answer = IDNO;

    void SetUp() override
    {
        connect_fixture::SetUp();
        manager->env().factory = probe_hub;
        ctx = std::make_unique<batch_context>(*manager, ui);
        ui.bridge = &bridge;
        settings.tls_checks = 0;
        work = std::filesystem::temp_directory_path() /
               ("talvor-admin-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(work / "trusted");
        set_trusted_folder((work / "trusted").string());
        // Every question answered as a person going ahead would.
        ui.answer_with = [this](const task_dialog_request& r) -> task_dialog_answer {
            if (r.ok_radio)
                return {IDOK, r.ok_radio, false};
            if (r.main_instruction == "Restart TAPs")
                return {restart_answer, 0, false};
            if (r.main_instruction == "CONNECTION NOT SECURE")
                return scripted_dialogs::security(true, false);
            return {IDYES, 0, false};
        };
    }
    void TearDown() override
    {
        manager->shut_down();
        ctx.reset();
        connect_fixture::TearDown();
        fleet.reset();
        std::filesystem::remove_all(work);
    }
    // Serves the units and refreshes each; every unit is selected.
    void serve(const std::string& units_json, std::size_t count)
    {
        fleet = std::make_unique<sim::fleet_server>(R"({"discovery":"off","units":[)" + units_json + "]}", work / "sim");
        for (const auto& line : fleet->describe()) {
            ui.passwords.push_back("password");
            ASSERT_EQ(manager->add_device(line.substr(line.find(' ') + 1, line.rfind(' ') - line.find(' ') - 1)),
                      add_result::added);
        }
        ASSERT_TRUE(settle());
        ASSERT_EQ(listener.ready.size(), count);
        for (const auto& u : manager->group().units())
            u->selected = 1;
        manager->group().selected_class = class_talvor_system;
    }
    // The Refresh command: every unit connects anew.
    void refresh()
    {
        listener.ready.clear();
        ui.passwords.assign(manager->group().units().size(), "password");
        ASSERT_TRUE(manager->refresh_all());
        ASSERT_TRUE(settle());
    }
    CHubDevice& unit_at(const std::string& address)
    {
        for (const auto& u : manager->group().units())
            if (u->address_string() == address)
                return *u;
        throw std::runtime_error("no unit " + address);
    }
    std::vector<sim::unit_event> events(const std::string& name, const std::string& kind)
    {
        std::vector<sim::unit_event> out;
        for (const auto& e : fleet->events(name))
            if (e.kind == kind)
                out.push_back(e);
        return out;
    }
    std::filesystem::path file(const std::string& name, const std::string& bytes)
    {
        const auto path = work / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // Selects the units' TAPs in place of the units.
    void select_taps()
    {
        for (const auto& u : manager->group().units()) {
            u->selected = 0;
            for (const auto& t : u->taps) {
                t->selected = 1;
                manager->group().selected_class = t->product_class;
            }
        }
    }
    std::string failure_of(const CHubDevice& unit) const
    {
        for (const auto& o : ctx->outcomes())
            if (o.unit == &unit)
                return o.result == job_succeeded ? "ok" : o.reason;
        return "not dispatched";
    }
};

std::string hub(const std::string& name, const std::string& address, const std::string& extra)
{
    return R"({"name":")" + name + R"(","kind":"http","address":")" + address + R"(",)" + extra + "}";
}

std::string gen_conf(const std::string& net_version, std::uint32_t capabilities = 0)
{
    std::string g = R"("gen_conf":{"system":"622","ser":"S-)" + net_version + R"(","fw_v_net":"v)" + net_version + R"(")";
    if (capabilities)
        g += R"(,"capabilities":)" + std::to_string(capabilities);
    return g + "}";
}

const char* one_tap = R"("bus_sizes":[4,8],"taps":[{"bus":1,"address":5,"type":3,"ccts":8,"sernr":"T1"}])";

TEST_F(admin_commands_test, tap_restart_targets_follow_the_whole_network_firmware_version)
{
    struct row {
        const char* version;
        std::int64_t argument;
    };
    const row rows[] = {{"0.50.0", (9 << 8) | 6}, // index 8 + 1
                        {"0.52.0", 0x01050106},   // 0x0105 byte-swapped
                        {"0.60.0", 0x010506},
                        {"1.10.0", 0x010506}};
    std::string units;
    for (int i = 0; i < 4; ++i)
        units += (i ? "," : "") + hub("u" + std::to_string(i), "127.13.1." + std::to_string(i + 1),
                                      gen_conf(rows[i].version) + "," + one_tap);
    serve(units, 4);
    select_taps();
    const auto logouts_before = events("u0", "logout").size();
    EXPECT_EQ(OnRestart(*ctx), IDOK);
    EXPECT_EQ(ui.tasks.back().footer, "There is no ability to restart individual TAPs. All the TAPs connected to the "
                                      "same Brevik or Orvane as the selected TAPs will be restarted");
    for (int i = 0; i < 4; ++i) {
        const auto reboots = events("u" + std::to_string(i), "reboot");
        ASSERT_EQ(reboots.size(), 1u) << rows[i].version;
        EXPECT_EQ(reboots[0].number, rows[i].argument) << rows[i].version;
        EXPECT_EQ(events("u" + std::to_string(i), "logout").size(), logouts_before + 1);
    }
    ASSERT_EQ(ctx->outcomes().size(), 4u);
    for (const auto& o : ctx->outcomes())
        EXPECT_EQ(o.result, job_succeeded);
}

TEST_F(admin_commands_test, three_taps_of_which_only_the_second_restarts_still_succeed)
{
    serve(hub("t", "127.13.2.1",
              gen_conf("0.60.0") + R"(,"bus_sizes":[4],"faults":{"fail":{"reboot.action":[500,0,500]}},
                 "taps":[{"bus":0,"address":1,"type":3,"ccts":8},{"bus":0,"address":2,"type":3,"ccts":8},
                         {"bus":0,"address":3,"type":3,"ccts":8}])"),
          1);
    select_taps();
    EXPECT_EQ(OnRestart(*ctx), IDOK);
    std::size_t requests = 0;
    for (const auto& r : fleet->requests("t"))
        requests += r.target.rfind("/reboot.action", 0) == 0;
    EXPECT_EQ(requests, 3u);
    ASSERT_EQ(events("t", "reboot").size(), 1u);
    EXPECT_EQ(events("t", "reboot")[0].number, 0x000206);
    EXPECT_EQ(failure_of(unit_at("127.13.2.1")), "ok");
}

TEST_F(admin_commands_test, sd_card_erase_skips_a_unit_without_the_card_after_the_question)
{
    serve(hub("with", "127.13.3.1", gen_conf("0.60.0")) + "," +
              hub("without", "127.13.3.2", gen_conf("0.60.0", cap_config)),
          2);
    EXPECT_EQ(OnEraseSdCard(*ctx), IDOK);
    EXPECT_EQ(ui.tasks[0].main_instruction, "Not all selected devices support this operation");
    EXPECT_EQ(ui.tasks[0].title, "Erase SD-Card");
    ASSERT_EQ(events("with", "sdcard_clear").size(), 1u);
    EXPECT_EQ(events("with", "sdcard_clear")[0].number, 0);
    EXPECT_TRUE(events("without", "sdcard_clear").empty());
    EXPECT_EQ(ctx->outcomes().size(), 1u);
    EXPECT_EQ(failure_of(unit_at("127.13.3.1")), "ok");
}

TEST_F(admin_commands_test, customization_is_sent_whole_and_bad_files_stop_before_any_job)
{
    serve(hub("c", "127.13.4.1", gen_conf("0.60.0", 0x1F)), 1);
    byte_vector cst = customisation_removal_file();
    cst.insert(cst.end(), {'t', 'a', 'i', 'l'}); // after the checked part
    const std::string good_bytes(cst.begin(), cst.end());
    const auto good = file("good.cst", good_bytes);
    cst[9] ^= 1;
    const auto bad = file("bad.cst", std::string(cst.begin(), cst.end()));
    const auto missing = work / "missing.cst";

    EXPECT_EQ(OnUploadCustomization(*ctx, &bad, 1), 0);
    EXPECT_EQ(ui.tasks.back().content, "Customization file invalid !\n\n" + bad.string() + ": not a customization file");
    EXPECT_EQ(ui.tasks.back().main_instruction, "\"Talvor System\" Customization File");
    EXPECT_EQ(OnUploadCustomization(*ctx, &missing, 1), 0);
    EXPECT_EQ(ui.tasks.back().content, "Failed to load customization file !\n\n" + missing.string() + ": not found");
    EXPECT_TRUE(events("c", "customise").empty());

    const auto logouts_before = events("c", "logout").size();
    EXPECT_EQ(OnUploadCustomization(*ctx, &good, 1), IDOK);
    EXPECT_EQ(OnUploadCustomization(*ctx, nullptr, 0), IDOK);
    const auto uploads = events("c", "customise");
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(uploads[0].bytes, good_bytes);
    EXPECT_EQ(uploads[1].bytes.size(), 16u);
    EXPECT_EQ(events("c", "logout").size(), logouts_before + 2);
}

TEST_F(admin_commands_test, an_http_unit_refuses_every_certificate_operation_locally)
{
    // One claims the certificate commands, the other does not: the first
    // fails locally, the second is passed over with the reason.
    serve(hub("h", "127.13.5.1", gen_conf("0.60.0", cap_config | cap_certificates)) + "," +
              hub("n", "127.13.5.2", gen_conf("0.60.0", cap_config)),
          2);
    const issued cert = test_authority().issue(cert_options{"127.13.5.1"});
    using command = int (*)(batch_context&);
    const std::tuple<command, std::string, const char*> commands[] = {
        {[](batch_context& c) { return OnUploadCertificate(c, nullptr); }, cert.cert_pem,
         "certificate upload failed (-1)"},
        {OnUploadCertificateKey, cert.key_pem, "key upload failed (-1)"},
        {OnRegenerateFallbackCertificate, "", "fallback certificate regeneration failed (-1)"},
        {OnEraseCertificate, "", "certificate erase failed (-1)"},
    };
    for (const auto& [run, bytes, reason] : commands) {
        ui.file_answer = file("any.pem", bytes);
        EXPECT_EQ(run(*ctx), IDOK);
        EXPECT_EQ(failure_of(unit_at("127.13.5.1")), reason);
        ASSERT_EQ(ctx->skipped().size(), 1u);
        EXPECT_EQ(ctx->skipped()[0].reason, "HTTP units have no certificate commands");
        EXPECT_EQ(outcome_status(ctx->skipped()[0]), std::string("skipped"));
    }
    for (const auto& r : fleet->requests())
        EXPECT_EQ(r.target.find("cert"), std::string::npos) << r.target;
}

TEST_F(admin_commands_test, a_restart_the_unit_took_stays_done_when_the_wait_is_cancelled)
{
    serve(hub("r", "127.13.8.1", gen_conf("0.60.0")), 1);
    ui.cancel_when = [this](const progress_state&) { return !events("r", "reboot").empty(); };
    EXPECT_EQ(OnRestart(*ctx), IDOK);
    ASSERT_TRUE(ui.progress.cancelled);
    EXPECT_EQ(failure_of(unit_at("127.13.8.1")), "ok");
}

TEST_F(admin_commands_test, an_uploaded_certificate_and_key_are_served_after_the_restart)
{
    const issued mine = test_authority().issue(cert_options{"127.13.6.1"});
    const std::string mine_der(mine.der.begin(), mine.der.end());
    serve(R"({"name":"w","kind":"wss","address":"127.13.6.1","restart_ms":200})", 1);
    CHubDevice& w = unit_at("127.13.6.1");
    const auto cert_path = file("unit.pem", mine.cert_pem);
    EXPECT_EQ(OnUploadCertificate(*ctx, &cert_path), IDOK);
    EXPECT_EQ(ui.file_prompts.size(), 0u);
    ui.file_answer = file("unit.key", mine.key_pem);
    EXPECT_EQ(OnUploadCertificateKey(*ctx), IDOK);
    ASSERT_EQ(ui.file_prompts.size(), 1u);
    EXPECT_EQ(ui.file_prompts[0].title, "Select \"Talvor System\" User Certificate Key File");
    EXPECT_NE(fleet->unit_cert_der("w"), mine_der); // not before the restart

    restart_answer = IDNO;
    EXPECT_EQ(OnRestart(*ctx), IDOK);
    EXPECT_EQ(failure_of(w), "ok");
    ASSERT_EQ(events("w", "reboot").size(), 1u);
    EXPECT_EQ(events("w", "reboot")[0].number, 1);
    EXPECT_EQ(fleet->unit_cert_der("w"), mine_der);

    // The next connection presents it.
    refresh();
    ASSERT_EQ(listener.ready.size(), 1u);
    EXPECT_EQ(w.hub->get_server_cert(), mine.der);
}

TEST_F(admin_commands_test, a_trusted_unit_connects_at_standard_without_the_question)
{
    settings.tls_checks = 1;
    serve(R"({"name":"w","kind":"wss","address":"127.13.7.1"},)" + hub("h", "127.13.7.2", gen_conf("0.60.0")), 2);
    EXPECT_EQ(ui.security_prompts(), 2u);
    EXPECT_EQ(trust_unit_certificate(*ctx, unit_at("127.13.7.1")), 0);
    EXPECT_EQ(trust_unit_certificate(*ctx, unit_at("127.13.7.2")), -1); // plain HTTP has no certificate
    EXPECT_EQ(ui.tasks.back().title, unit_at("127.13.7.2").label);
    EXPECT_EQ(ui.tasks.back().main_instruction, "Certificate Import Failed");
    EXPECT_EQ(ui.tasks.back().content,
              "Certificate import to user certificate store was cancelled or failed with an error");

    refresh();
    EXPECT_EQ(listener.ready.size(), 2u);
    EXPECT_EQ(ui.security_prompts(), 3u); // the HTTP unit alone asked again
}

TEST_F(admin_commands_test, trusting_an_expired_certificate_says_what_is_still_wrong)
{
    settings.tls_checks = 1;
    serve(R"({"name":"x","kind":"wss","address":"127.13.9.1","cert":"expired"})", 1);
    std::string still;
    EXPECT_EQ(trust_unit_certificate(*ctx, unit_at("127.13.9.1"), &still), 1);
    EXPECT_EQ(still, "trusted, but the unit still fails the TLS checks: Certificate is invalid");
    EXPECT_EQ(ui.tasks.back().main_instruction, "Certificate trusted, problems remain");
}

} // namespace
} // namespace talvor::test
