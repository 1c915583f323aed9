#include "operations/firmware_verify.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <thread>

#include "inventory/ensure_login.h"
#include "inventory/unit_group.h"
#include "inventory/unit_info.h"

namespace talvor {

namespace {

using clock = std::chrono::steady_clock;

// How often a unit is looked at while it installs and restarts.
constexpr int look_interval_ms = 1000;

bool hub_class(int c) { return c == class_orvane_system || c == class_talvor_system; }

std::string text(const version_triple& v)
{
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build);
}

// The unit as read after the update, kept apart from its record: the front
// end may be showing the record while the worker reads.
struct verify_state {
    std::unique_ptr<CHubDevice> fresh;
    std::string after;
};

// A pause the unit's cancel cuts short; false when cancelled.
bool pause(CHubDevice& unit, int ms)
{
    if (unit.hub)
        return unit.hub->wait_cancel(ms);
    const auto end = clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        {
            std::lock_guard<std::mutex> g(unit.login.hub_lock);
            if (unit.login.cancel_requested)
                return false;
        }
        if (clock::now() >= end)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// Reads the versions into `fresh`; false when the unit did not answer.
bool read_versions(zt_hub& hub, CHubDevice& fresh, bool unit_itself)
{
    json_ptr conf = hub.get_gen_conf(reply_limit);
    if (!conf)
        return false;
    read_gen_conf(fresh, *conf);
    if (!unit_itself) {
        json_ptr details = hub.get_tap_details(reply_limit);
        if (!details || read_tap_details(fresh, *details) != 0)
            return false;
    }
    hub.logout();
    return true;
}

void verify_job(CHubDevice& unit, const connection_env& env, int image_class, std::vector<int> taps,
                std::string before, std::string target, clock::time_point deadline,
                std::shared_ptr<verify_state> state)
{
    const bool unit_itself = hub_class(image_class);
    const auto start = clock::now();
    bool went_down = false, answered = false;
    for (;;) {
        const double total = std::chrono::duration<double>(deadline - start).count();
        const double spent = std::chrono::duration<double>(clock::now() - start).count();
        unit.job_progress.set_raw(total > 0 ? std::min(spent / total, 1.0) : 1.0);
        // The image was taken before the check began: cancelling the check
        // leaves the update done, only unconfirmed.
        if (!pause(unit, look_interval_ms))
            return finish_job(unit, env, true, "uploaded, verification cancelled");
        const bool late = clock::now() >= deadline;
        if (ensure_login(unit, env) == 200 && read_versions(*unit.hub, *state->fresh, unit_itself)) {
            answered = true;
            state->after = firmware_versions(*state->fresh, image_class, taps);
            // Asked for a version: back with another one, or restarted
            // with the one it had, it did not take what it was meant to.
            const std::string off =
                target.empty() ? std::string() : versions_off_target(*state->fresh, image_class, taps, target);
            if (!off.empty() && (state->after != before || went_down))
                return finish_job(unit, env, false, "installed " + off + ", expected v" + target);
            if (state->after != before || (!target.empty() && off.empty()))
                return finish_job(unit, env, true);
            // Images carry no version: the same one may have been installed
            // again. Say what was seen.
            if (went_down)
                return finish_job(unit, env, true, "version unchanged at " + before + ", the unit restarted");
        } else {
            went_down = true;
        }
        if (late)
            return finish_job(unit, env, false,
                              answered ? "version unchanged at " + before + ", no restart seen" : "did not answer again");
    }
}

// The record takes the versions read, on the UI thread.
void apply_versions(CHubDevice& unit, const CHubDevice& fresh)
{
    unit.net_version = fresh.net_version;
    unit.sys_version = fresh.sys_version;
    for (const auto& t : unit.taps)
        for (const auto& f : fresh.taps)
            if (f->index == t->index) {
                t->fw_raw = f->fw_raw;
                t->version = f->version;
                t->fpga_timestamp = f->fpga_timestamp;
            }
}

} // namespace

std::vector<int> updated_taps(const CHubDevice& unit, int image_class)
{
    std::vector<int> out;
    if (hub_class(image_class))
        return out;
    for (const auto& t : unit.taps)
        if (t->selected && !(image_class == class_rail_module_fpga && t->product_class == class_rail_module &&
                             (t->tap_caps & tap_cap_waveform) == 0))
            out.push_back(t->index);
    return out;
}

std::string installed_version(const CHubDevice& unit, int image_class, int tap)
{
    if (tap < 0)
        return text(unit.net_version);
    for (const auto& t : unit.taps)
        if (t->index == tap)
            return image_class == class_rail_module_fpga ? std::to_string(t->fpga_timestamp) : text(t->version);
    return {};
}

std::string versions_off_target(const CHubDevice& unit, int image_class, const std::vector<int>& taps,
                                const std::string& target)
{
    if (hub_class(image_class))
        return installed_version(unit, image_class) == target ? std::string() : "v" + text(unit.net_version);
    std::string out;
    for (int index : taps) {
        const std::string version = installed_version(unit, image_class, index);
        if (version == target)
            continue;
        for (const auto& t : unit.taps)
            if (t->index == index)
                out += (out.empty() ? "" : ", ") + t->label + " v" + version;
    }
    return out;
}

std::string firmware_versions(const CHubDevice& unit, int image_class, const std::vector<int>& taps)
{
    if (hub_class(image_class))
        return text(unit.net_version);
    std::string out;
    for (int index : taps)
        for (const auto& t : unit.taps)
            if (t->index == index) {
                out += (out.empty() ? "" : ", ") + t->label + " " +
                       (image_class == class_rail_module_fpga ? "fpga " + std::to_string(t->fpga_timestamp)
                                                             : text(t->version));
            }
    return out;
}

int verify_firmware(batch_context& ctx, std::chrono::milliseconds timeout)
{
    if (!ctx.manager.busy().empty() || ctx.dry_run)
        return 2;
    const int image_class = ctx.file().image_class;
    const std::string target = ctx.target_version;
    const auto deadline = clock::now() + timeout;
    const connection_env* env = &ctx.env();
    std::vector<std::pair<CHubDevice*, std::shared_ptr<verify_state>>> checked;
    ctx.clear_cancels();
    for (const batch_outcome& o : std::vector<batch_outcome>(ctx.outcomes())) {
        if (o.kind != job_kind_firmware || o.result != job_succeeded || o.found.unchanged)
            continue;
        CHubDevice* unit = o.unit;
        auto state = std::make_shared<verify_state>();
        state->fresh = std::make_unique<CHubDevice>(*unit->group, unit->identity());
        std::vector<int> taps = updated_taps(*unit, image_class);
        std::string before = firmware_versions(*unit, image_class, taps);
        if (ctx.dispatch_follow_up(
                job_kind_verify, *unit,
                [unit, env, image_class, taps, before, target, deadline, state] {
                    verify_job(*unit, *env, image_class, taps, before, target, deadline, state);
                },
                [state](batch_outcome& o) { o.version_after = state->after; }))
            checked.emplace_back(unit, state);
    }
    ctx.answer_deadline = deadline;
    const int result = ctx.ShowOperationProgress("Verifying firmware on updated device(s)", "Update Firmware");
    ctx.answer_deadline.reset();
    for (auto& [unit, state] : checked) {
        if (!state->after.empty())
            apply_versions(*unit, *state->fresh);
        state->fresh.reset(); // joins its idle worker here, on the UI thread
    }
    return result;
}

} // namespace talvor
