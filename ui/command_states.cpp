#include "ui/command_states.h"

#include "inventory/refresh_job.h"
#include "ui/main_dialog.h"

namespace talvor {

namespace {

// The commands on the checked items and the capability a checked unit must
// offer (0: any selection will do, TAPs included).
constexpr struct {
    int id;
    std::uint32_t capability;
} selection_rules[] = {
    {cmd_select_class, 0},
    {cmd_restart_selected, 0},
    {cmd_update_firmware, 0},
    {cmd_download_configuration, cap_config},
    {cmd_upload_configuration, cap_config},
    {cmd_erase_sd_card, cap_sdcard},
    {cmd_upload_customization, cap_customisation},
    {cmd_upload_certificate, cap_certificates},
};

constexpr const char* no_units_text = "No units listed yet";

const char* busy_reason(unit_work busy)
{
    switch (busy) {
    case unit_work::batch:
        return "A batch is running";
    case unit_work::reading:
        return "Units are still being read";
    case unit_work::none:
        break;
    }
    return "";
}

// `units_only`: the command works on units, whatever they offer.
const char* selection_reason(const command_inputs& in, std::uint32_t capability, bool units_only = false)
{
    units_only = units_only || capability != 0;
    if (in.selected_class == class_unknown)
        return units_only ? "Check the units to work on in the tree first" : "Check units or TAPs in the tree first";
    if (units_only) {
        // Capabilities belong to units: with TAPs checked these are off.
        if (in.selected_class != class_orvane_system && in.selected_class != class_talvor_system)
            return "Works on units only; TAPs are checked";
        if (capability && (in.capabilities & capability) == 0)
            return "None of the checked units offers this";
    }
    return busy_reason(in.busy);
}

} // namespace

unit_work busy_work(const busy_units& busy)
{
    if (busy.empty())
        return unit_work::none;
    for (const CHubDevice* unit : busy)
        if (unit->job_kind.load() != job_kind_refresh)
            return unit_work::batch;
    return unit_work::reading;
}

std::vector<command_state> command_states(const command_inputs& in)
{
    std::vector<command_state> out;
    out.push_back({cmd_add, in.address_typed ? "" : "Type an IP address first"});
    out.push_back({cmd_discover, !in.discovery_allowed ? "Discovery is off; turn it on in Settings (\u2630 menu)"
                                 : in.discovery_running ? "Discovery is running"
                                                        : ""});
    out.push_back({cmd_add_multiple, ""});
    for (int id : {cmd_show_more, cmd_show_less})
        out.push_back({id, in.tree_filled ? "" : no_units_text});
    // Reload All and the commands on the selection refuse to start while
    // any unit job is outstanding.
    out.push_back({cmd_reload_all, in.tree_filled ? busy_reason(in.busy) : no_units_text});
    for (const auto& rule : selection_rules)
        out.push_back({rule.id, selection_reason(in, rule.capability)});
    out.push_back({cmd_change_password, selection_reason(in, 0, true)});
    return out;
}

} // namespace talvor
