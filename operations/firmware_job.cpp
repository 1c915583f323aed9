#include "operations/firmware_job.h"

#include <string>
#include <vector>

#include "inventory/ensure_login.h"
#include "operations/batch.h"
#include "operations/firmware_verify.h"

namespace talvor {

namespace {

bool new_hub(const CHubDevice& unit)
{
    const version_triple& v = unit.net_version;
    return unit.system_type == system_talvor && (v.major >= 1 || (v.major == 0 && v.minor >= 55));
}

std::string status_reason(const char* what, int status)
{
    if (status == -998)
        return "cancelled";
    return std::string(what) + " failed (" + std::to_string(status) + ")";
}

// Rail modules that do not yet take their bus address from the update are
// given it first; an empty reason means done.
std::string prepare_rail_module(zt_hub& hub, int target)
{
    // Without an address the module cannot be told which one it is.
    if (target < 0)
        return "module cannot be addressed";
    if (const int r = hub.modbus_set(0x1200, {rail_module_prepare_value(target)}); r != 200)
        return status_reason("module preparation", r);
    std::vector<int> values;
    if (hub.modbus_read(values, 0x124A, 1, 1, 0x1000000) != 0)
        return "module preparation failed (register read)";
    if (const int r = hub.modbus_set(0x124A, values); r != 200)
        return status_reason("module preparation", r);
    if (!hub.wait_cancel(3000))
        return "cancelled";
    return {};
}

std::string update_taps(CHubDevice& unit, zt_hub& hub, const firmware_job_args& a, std::string& note)
{
    int n = 0;
    for (const auto& tap : unit.taps)
        n += tap_to_update(unit, *tap, a.image_class, a.target_version) ? 1 : 0;
    int k = 0;
    for (const auto& tap_ptr : unit.taps) {
        const CTapDevice& tap = *tap_ptr;
        if (!tap_to_update(unit, tap, a.image_class, a.target_version))
            continue;
        if (a.image_class == class_rail_module_fpga && tap.product_class == class_rail_module) {
            if ((tap.tap_caps & tap_cap_waveform) == 0)
                continue; // no FPGA to update
        } else if (a.image_class != tap.product_class) {
            return tap.label + ": image is for another product type";
        }
        bool placed = true;
        const int t = firmware_target(unit, tap, a.image_class, placed);
        if (!placed)
            return tap.label + ": bus sizes unknown";
        if (a.image_class == class_rail_module && tap.channel_count == 30 &&
            ((tap.detail_rows & row_firmware) == 0 || tap.version == version_triple{0, 11, 1})) {
            if (std::string why = prepare_rail_module(hub, t); !why.empty())
                return tap.label + ": " + why;
        }
        ++k;
        const progress_range part = unit.job_progress.sub(double(k - 1) / n, double(k) / n);
        if (const int r = hub.upload_sys_firmware(*a.image, t, part, a.limit); r != 200)
            return tap.label + ": " + status_reason("upload", r);
        if (!hub.wait_cancel((unit.capabilities & cap_quick_update) ? 2000 : 12000)) {
            // The TAPs before the cancel have their image: say so.
            if (k == n) {
                note = "uploaded (the wait after the last TAP was cancelled)";
                return {};
            }
            return "cancelled after " + std::to_string(k) + " of " + std::to_string(n) + " TAPs were uploaded";
        }
    }
    return {};
}

} // namespace

bool tap_to_update(const CHubDevice& unit, const CTapDevice& tap, int image_class, const std::string& target_version)
{
    return tap.selected &&
           (target_version.empty() || installed_version(unit, image_class, tap.index) != target_version);
}

int rail_module_prepare_value(int target) { return ((target | (target << 8)) ^ 0xFF00) & 0xFFFF; }

int firmware_target(const CHubDevice& unit, const CTapDevice& tap, int image_class, bool& ok)
{
    ok = true;
    const bool fpga = image_class == class_rail_module_fpga;
    int t;
    if (image_class == class_orvane_meter) {
        t = tap.index;
    } else if (new_hub(unit)) {
        if (tap.bus >= 0 && tap.bus <= 3 && tap.bus_address >= 0 && tap.bus_address < 256)
            return ((tap.bus | (fpga ? 0x10 : 0)) << 8) | tap.bus_address;
        return -1;
    } else if (fpga) {
        if (unit.bus_sizes.size() < 3) {
            ok = false;
            return -1;
        }
        t = unit.bus_sizes[0] + unit.bus_sizes[1] + unit.bus_sizes[2] + tap.index + 1;
    } else {
        t = tap.index + 1;
    }
    return t >= 0 && t < 256 ? t : -1;
}

void run_firmware_job(CHubDevice& unit, const connection_env& env, const firmware_job_args& a)
{
    if (ensure_login(unit, env) != 200) {
        finish_job(unit, env, false, std::string("login failed: ") + failure_text(unit.login.failure.load()));
        return;
    }
    zt_hub& hub = *unit.hub;
    std::string why, note;
    if (a.unit_itself) {
        if (a.image_class != unit.product_class)
            why = "image is for another product type";
        else if (const int r = hub.upload_net_firmware(*a.image, unit.job_progress, a.limit); r != 200)
            why = status_reason("upload", r);
    } else {
        why = update_taps(unit, hub, a, note);
    }
    if (!why.empty()) {
        finish_job(unit, env, false, why);
        return;
    }
    hub.logout();
    finish_job(unit, env, true, note);
}

} // namespace talvor
