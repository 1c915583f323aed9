// The firmware update command against simulated units over loopback: the
// unit's own image over both protocols, TAPs one after another, the FPGA
// image, cancel in the pause, and the length limit of unsigned units.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>

#include "inventory/unit_group.h"
#include "operations/commands.h"
#include "operations/firmware_job.h"
#include "operations/firmware_verify.h"
#include "simulator/hubsim.h"
#include "simulator/unit.h"
#include "tests/connect/connect_fixture.h"
#include "tests/operations/firmware_images.h"

namespace talvor::test {
namespace {

using namespace std::chrono_literals;

class firmware_sim_test : public connect_fixture {
protected:
    std::filesystem::path work;
    std::unique_ptr<sim::fleet_server> fleet;
    std::unique_ptr<batch_context> ctx;

    void SetUp() override
    {
        connect_fixture::SetUp();
        manager->env().factory = probe_hub;
        ctx = std::make_unique<batch_context>(*manager, ui);
        ui.bridge = &bridge;
        settings.tls_checks = 0;
        work = std::filesystem::temp_directory_path() /
               ("talvor-fw-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(work / "trusted");
        set_trusted_folder((work / "trusted").string());
        ui.answer_with = [](const task_dialog_request& r) -> task_dialog_answer {
            return {r.ok_radio ? IDOK : IDYES, r.ok_radio, false};
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
    // Serves the units (in this order) and refreshes them; the units are
    // selected, or with `taps` every TAP in place of its unit.
    void serve(const std::vector<std::string>& units, bool taps = false)
    {
        std::string list;
        for (const auto& u : units)
            list += (list.empty() ? "" : ",") + u;
        fleet = std::make_unique<sim::fleet_server>(R"({"discovery":"off","units":[)" + list + "]}", work / "sim");
        for (const auto& line : fleet->describe()) {
            ui.passwords.push_back("password");
            ASSERT_EQ(manager->add_device(line.substr(line.find(' ') + 1, line.rfind(' ') - line.find(' ') - 1)),
                      add_result::added);
        }
        ASSERT_TRUE(settle());
        ASSERT_EQ(listener.ready.size(), units.size());
        for (const auto& u : manager->group().units()) {
            u->selected = taps ? 0 : 1;
            manager->group().selected_class = u->product_class;
            for (const auto& t : u->taps)
                if (taps) {
                    t->selected = 1;
                    manager->group().selected_class = t->product_class;
                }
        }
    }
    CHubDevice& unit(std::size_t i) { return *manager->group().units().at(i); }
    std::string outcome_of(const CHubDevice& u) const
    {
        for (const auto& o : ctx->outcomes())
            if (o.unit == &u)
                return o.result == job_succeeded ? "ok" : o.reason;
        return "not dispatched";
    }
    std::filesystem::path file(const std::string& bytes)
    {
        const auto path = work / "image.bin";
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::vector<sim::unit_event> events(const std::string& name, const std::string& kind) const
    {
        std::vector<sim::unit_event> out;
        for (const auto& e : fleet->events(name))
            if (e.kind == kind)
                out.push_back(e);
        return out;
    }
};

std::string unit_json(const std::string& name, const std::string& kind, const std::string& address,
                      const std::string& version, std::uint32_t caps, const std::string& extra = "")
{
    return R"({"name":")" + name + R"(","kind":")" + kind + R"(","address":")" + address +
           R"(","gen_conf":{"system":"622","ser":")" + name + R"(","fw_v_net":"v)" + version +
           R"(","capabilities":)" + std::to_string(caps) + "}" + extra + "}";
}

TEST_F(firmware_sim_test, unit_images_over_both_protocols_with_one_failing_and_the_length_limit)
{
    serve({unit_json("plain-http", "http", "127.14.1.1", "0.60.0", cap_progress),
           unit_json("plain-wss", "wss", "127.14.1.2", "0.60.0", cap_progress),
           unit_json("signing", "http", "127.14.1.3", "0.60.0", cap_progress | cap_signature),
           unit_json("failing", "wss", "127.14.1.4", "0.60.0", cap_progress | cap_signature,
                     R"(,"faults":{"fail":{"fw_net_file.action":500}})")});
    const std::string image = hub_image(300, true);
    const auto path = file(image);
    // The refresh has logged out once already.
    const auto ok_logouts = events("plain-http", "logout").size();
    const auto failed_logouts = events("failing", "logout").size();
    EXPECT_EQ(OnFirmwareUpdate(*ctx, &path), IDOK);

    EXPECT_TRUE(ui.progress.error_seen);
    EXPECT_EQ(ui.progress.last.position, 75); // three of four units did the work
    EXPECT_EQ(outcome_of(unit(0)), "ok");
    EXPECT_EQ(outcome_of(unit(1)), "ok");
    EXPECT_EQ(outcome_of(unit(2)), "ok");
    EXPECT_EQ(outcome_of(unit(3)), "upload failed (500)");
    const std::string unsigned_part = image.substr(0, 300);
    EXPECT_EQ(fleet->last_upload("plain-http", "fw_net"), unsigned_part);
    EXPECT_EQ(fleet->last_upload("plain-wss", "fw_net"), unsigned_part);
    EXPECT_EQ(fleet->last_upload("signing", "fw_net"), image);
    for (const auto& e : fleet->requests("plain-wss"))
        if (e.target == "fw_net_file.action") {
            EXPECT_EQ(e.upload_length, 300);
            EXPECT_EQ(e.upload_sha256, sim::sha256_hex(unsigned_part));
        }
    EXPECT_EQ(events("plain-http", "logout").size(), ok_logouts + 1);
    EXPECT_EQ(events("failing", "logout").size(), failed_logouts) << "a failed job does not log out";
}

TEST_F(firmware_sim_test, three_taps_share_the_range_in_thirds_with_targets_of_old_and_new_hubs)
{
    const std::string taps = R"(,"bus_sizes":[4,8],"taps":[{"bus":0,"address":1,"type":3,"ccts":8},
        {"bus":1,"address":2,"type":3,"ccts":8},{"bus":1,"address":3,"type":3,"ccts":8}])";
    serve({unit_json("old", "http", "127.14.2.1", "0.50.0", cap_tap_details | cap_quick_update | cap_progress, taps),
           unit_json("new", "wss", "127.14.2.2", "0.60.0", cap_tap_details | cap_quick_update | cap_progress, taps)},
          true);
    ASSERT_EQ(manager->group().selected_class, class_multi_port_tap);
    std::set<int> thirds_seen; // of the old hub's value, in 1/3 steps
    CHubDevice& old_hub = unit(0);
    ui.cancel_when = [&](const progress_state&) {
        const double v = old_hub.job_progress.value->get() * 3;
        if (std::abs(v - std::round(v)) < 1e-9)
            thirds_seen.insert(static_cast<int>(std::round(v)));
        return false;
    };
    const auto path = file(multi_port_tap_image());
    EXPECT_EQ(OnFirmwareUpdate(*ctx, &path), IDOK);
    EXPECT_EQ(outcome_of(unit(0)), "ok");
    EXPECT_EQ(outcome_of(unit(1)), "ok");
    EXPECT_TRUE(thirds_seen.count(1) && thirds_seen.count(2)) << "the pauses after the first two TAPs";

    // Older hubs number TAPs from their index, newer ones by bus and address.
    const std::vector<std::int64_t> want_old{1, 6, 7}, want_new{0x001, 0x102, 0x103};
    std::vector<std::int64_t> got_old, got_new;
    for (const auto& e : events("old", "fw_sys"))
        got_old.push_back(e.number);
    for (const auto& e : fleet->requests("new"))
        if (e.target == "fw_sys_file.action")
            got_new.push_back(e.upload_target);
    EXPECT_EQ(got_old, want_old);
    EXPECT_EQ(got_new, want_new);
    ASSERT_FALSE(ui.tasks.empty());
    const auto& confirm = ui.tasks.back();
    EXPECT_EQ(confirm.main_instruction, "Update firmware on selected devices");
    EXPECT_EQ(confirm.footer,
              "TAPs connected to newer Brevik units will not be automatically restarted after they have received "
              "their firmware update. They will need to be restarted explicitly to complete installation of the "
              "new firmware");
}

TEST_F(firmware_sim_test, an_fpga_image_skips_rail_modules_without_waveform_capture)
{
    serve({unit_json("rail", "http", "127.14.3.1", "0.50.0", cap_tap_details | cap_quick_update | cap_progress,
                     R"(,"bus_sizes":[2,2,2],"taps":[{"bus":0,"address":1,"type":11,"ccts":6,"caps":0},
                        {"bus":0,"address":2,"type":11,"ccts":6,"caps":4}])")},
          true);
    ASSERT_EQ(manager->group().selected_class, class_rail_module);
    const auto path = file(fpga_image());
    EXPECT_EQ(OnFirmwareUpdate(*ctx, &path), IDOK);
    EXPECT_EQ(outcome_of(unit(0)), "ok");
    const auto sent = events("rail", "fw_sys");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].number, 2 + 2 + 2 + 1 + 1) << "the bus sizes, then the second module's index + 1";
    EXPECT_TRUE(ctx->firmware_cache.contains(class_rail_module_fpga));
}

TEST_F(firmware_sim_test, cancel_in_the_pause_after_an_upload_ends_the_job_at_once)
{
    serve({unit_json("slow", "http", "127.14.4.1", "0.50.0", cap_tap_details | cap_progress,
                     R"(,"taps":[{"bus":0,"address":1,"type":3,"ccts":8}])")},
          true);
    CHubDevice& u = unit(0);
    std::chrono::steady_clock::time_point cancelled_at;
    ui.cancel_when = [&](const progress_state&) {
        if (u.job_progress.value->get() < 1.0)
            return false;
        cancelled_at = std::chrono::steady_clock::now();
        return true;
    };
    const auto path = file(multi_port_tap_image());
    EXPECT_EQ(OnFirmwareUpdate(*ctx, &path), IDOK);
    ASSERT_TRUE(ui.progress.cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - cancelled_at, 1s);
    // The TAP took its image before the cancel: done, only the wait was cut.
    EXPECT_EQ(outcome_of(u), "ok");
    EXPECT_EQ(ctx->outcomes().front().reason, "uploaded (the wait after the last TAP was cancelled)");
    EXPECT_EQ(events("slow", "fw_sys").size(), 1u);
}

TEST_F(firmware_sim_test, work_accepted_before_a_cancel_is_reported_done)
{
    // The check after an update is cancelled while the unit installs: the
    // image was taken, so the unit is done, with that said.
    serve({unit_json("v", "http", "127.14.5.1", "0.60.0", cap_progress, R"(,"install_ms":20000)")});
    const auto path = file(hub_image(300));
    ASSERT_EQ(OnFirmwareUpdate(*ctx, &path), IDOK);
    ui.cancel_when = [](const progress_state& s) { return s.position > 0; };
    EXPECT_EQ(verify_firmware(*ctx, 60s), IDOK);
    ASSERT_TRUE(ui.progress.cancelled);
    EXPECT_EQ(outcome_of(unit(0)), "ok");
    EXPECT_EQ(ctx->outcomes().front().reason, "uploaded, verification cancelled");
    EXPECT_EQ(outcome_status(ctx->outcomes().front()), std::string("ok"));
}

TEST_F(firmware_sim_test, the_bar_shows_work_done_and_names_the_unit_furthest_behind)
{
    serve({unit_json("fast", "http", "127.14.6.1", "0.60.0", cap_progress),
           unit_json("slow", "http", "127.14.6.2", "0.60.0", cap_progress, R"(,"faults":{"slow_upload":40})"),
           unit_json("bad", "http", "127.14.6.3", "0.60.0", cap_progress,
                     R"(,"faults":{"fail":{"fw_net_file.action":500}})")});
    std::vector<progress_state> seen;
    ui.cancel_when = [&](const progress_state& s) {
        seen.push_back(s);
        return false;
    };
    const auto path = file(hub_image(256 * 1024));
    ASSERT_EQ(OnFirmwareUpdate(*ctx, &path), IDOK);
    bool named = false;
    for (const progress_state& s : seen) {
        // Never more than the units done and the parts of those at work.
        EXPECT_LE(s.position, (s.done + (s.total - s.done - s.failed)) * 100 / s.total);
        named = named || s.slowest.rfind("slow [127.14.6.2] at ", 0) == 0;
    }
    EXPECT_TRUE(named);
    EXPECT_EQ(ui.progress.last.position, 66); // two of three done, one failed
}

TEST(firmware_target_test, targets_and_rail_module_values)
{
    unit_group group;
    CHubDevice& u = *group.add_unit(make_unit_address(ipv4_mapped(127, 14, 9, 1)));
    CTapDevice tap(5);
    tap.bus = 1;
    tap.bus_address = 2;
    struct row {
        int system;
        version_triple net;
        int image;
        std::vector<int> bus_sizes;
        int target;
        bool placed;
    };
    const row rows[] = {
        {system_talvor, {0, 55, 0}, class_rail_module, {}, 0x102, true},
        {system_talvor, {0, 55, 0}, class_rail_module_fpga, {}, 0x1102, true},
        {system_talvor, {0, 54, 0}, class_rail_module, {}, 6, true},
        {system_orvane, {0, 60, 1}, class_rail_module_fpga, {1, 2, 3, 9}, 1 + 2 + 3 + 6, true},
        {system_orvane, {0, 60, 1}, class_rail_module_fpga, {1, 2}, -1, false},
        {system_talvor, {0, 60, 0}, class_orvane_meter, {}, 5, true},
    };
    for (const row& r : rows) {
        u.system_type = r.system;
        u.net_version = r.net;
        u.bus_sizes = r.bus_sizes;
        bool placed = true;
        EXPECT_EQ(firmware_target(u, tap, r.image, placed), r.target) << r.image << " " << r.net.minor;
        EXPECT_EQ(placed, r.placed);
    }
    tap.bus = 4; // beyond the buses a new hub addresses
    u.system_type = system_talvor;
    u.net_version = {0, 60, 0};
    bool placed = true;
    EXPECT_EQ(firmware_target(u, tap, class_rail_module, placed), -1);
    EXPECT_EQ(rail_module_prepare_value(1), 0xFE01);
    EXPECT_EQ(rail_module_prepare_value(0x103), 0xFC03) << "16 bits";
}

} // namespace
} // namespace talvor::test
