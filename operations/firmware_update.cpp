// The firmware update command: choose or reuse an image, warn about units
// that will refuse it, confirm, and update every target unit.
#include <string>
#include <vector>

#include "operations/commands.h"
#include "operations/firmware_job.h"
#include "operations/firmware_verify.h"
#include "operations/file_checks.h"
#include "transport/path_text.h"

namespace talvor {

namespace {

const std::string window_title = "Firmware Update";
const std::string batch_title = "Update Firmware";

bool hub_class(int c) { return c == class_orvane_system || c == class_talvor_system; }
std::string class_name(int c) { return std::string(product_class_name(c)); }

// Per-unit warnings, then the summary; false when the user stops.
bool warning_sequence(batch_context& ctx, const std::vector<CHubDevice*>& units, const std::string& instruction,
                      const std::string& content, const std::string& summary)
{
    if (units.empty())
        return true;
    for (CHubDevice* unit : units) {
        task_dialog_request r;
        r.title = unit->label;
        r.main_instruction = instruction;
        r.content = content;
        r.buttons = button_ok | button_cancel;
        r.main_icon = dialog_icon::warning;
        r.verification_text = "Skip further warnings";
        const task_dialog_answer a = ctx.ui.task_dialog(r);
        if (a.button != IDOK)
            return false;
        if (a.verification_checked)
            break;
    }
    task_dialog_request s;
    s.title = window_title;
    s.main_instruction = summary;
    s.content = "Are you sure you want to continue ?";
    s.buttons = button_yes | button_no;
    s.default_button = IDNO;
    s.main_icon = dialog_icon::warning;
    return ctx.ui.task_dialog(s).button == IDYES;
}

std::vector<CHubDevice*> units_where(const std::vector<CHubDevice*>& units, bool want, std::uint32_t cap)
{
    std::vector<CHubDevice*> out;
    for (CHubDevice* u : units)
        if (((u->capabilities & cap) != 0) == want)
            out.push_back(u);
    return out;
}

// Step 3: 1 reuse, 0 load a file, -1 end. May switch a rail module's class
// to its FPGA image.
int ask_reuse(batch_context& ctx, int& cls, std::string& name)
{
    const bool rail = cls == class_rail_module;
    const bool have_main = ctx.firmware_cache.contains(static_cast<std::uint32_t>(cls));
    const bool have_fpga = rail && ctx.firmware_cache.contains(class_rail_module_fpga);
    if (!have_main && !have_fpga)
        return 0;
    task_dialog_request r;
    r.title = window_title;
    r.main_instruction = "Update \"" + name + "\" Firmware";
    r.content = "Use previously loaded firmware image ?";
    r.buttons = button_yes | button_no | button_cancel;
    r.default_button = IDYES;
    if (rail) {
        r.radio_buttons = {{2000, "Firmware Image"}, {2001, "FPGA Image"}};
        if (!have_main)
            r.disabled_radios.push_back(2000);
        if (!have_fpga)
            r.disabled_radios.push_back(2001);
        r.default_radio = have_main ? 2000 : 2001;
    }
    const task_dialog_answer a = ctx.ui.task_dialog(r);
    if (a.button == IDNO)
        return 0;
    if (a.button != IDYES)
        return -1;
    const int radio = a.radio ? a.radio : r.default_radio;
    if (rail && radio == 2001) {
        cls = class_rail_module_fpga;
        name = class_name(cls);
    }
    return 1;
}

// Steps 4 to 6: false when the command ends (reported here).
bool load_image(batch_context& ctx, const std::filesystem::path* path, int& cls, const std::string& t)
{
    std::filesystem::path chosen;
    if (path) {
        chosen = *path;
    } else {
        file_request f;
        f.title = "Select " + t;
        f.filter = "Firmware Files (*.bin;*.bit;*.img)|*.bin;*.bit;*.img|All Files (*.*)|*.*||";
        auto answer = ctx.ui.choose_file(f);
        if (!answer)
            return false;
        chosen = *answer;
    }
    byte_vector bytes;
    if (!load_input_file(ctx.ui, window_title, t, chosen, "Failed to load file !", bytes))
        return false;
    firmware_image image;
    image.source = chosen;
    image.data = std::make_shared<const byte_vector>(std::move(bytes));
    bool ok;
    if (cls == class_rail_module)
        ok = image.classify(class_rail_module) || image.classify(class_rail_module_fpga);
    else
        ok = image.classify(static_cast<std::uint32_t>(cls));
    if (!ok) {
        report_input_refused(ctx.ui, window_title, t, "Firmware image is invalid !", chosen,
                             "not an image for this product class");
        return false;
    }
    cls = static_cast<int>(image.type);
    ctx.firmware_cache.store(image);
    return true;
}

std::string tap_note(const std::vector<CHubDevice*>& units)
{
    std::uint32_t any = 0, all = ~0u;
    for (CHubDevice* u : units) {
        any |= u->capabilities;
        all &= u->capabilities;
    }
    std::string note;
    if ((all & cap_quick_update) == 0)
        note = "TAPs connected to older Brevik or Orvane units will be automatically restarted to complete "
               "installation of their firmware update";
    if (any & cap_quick_update) {
        if (!note.empty())
            note += "\n\n";
        note += "TAPs connected to newer Brevik units will not be automatically restarted after they have "
                "received their firmware update. They will need to be restarted explicitly to complete "
                "installation of the new firmware";
    }
    return note;
}

// A dry run's plan for one unit: what would be flashed, from the versions
// the refresh read.
std::string firmware_plan(CHubDevice& unit, int image_class, bool units_themselves, const std::string& target,
                          job_findings& f)
{
    const std::string aim = target.empty() ? std::string() : ", target v" + target;
    f.would_change = true;
    if (units_themselves) {
        if (image_class != unit.product_class)
            return "image is for another product type";
        f.plan = "would flash: runs v" + installed_version(unit, image_class) + aim;
        return {};
    }
    std::string runs;
    int n = 0;
    for (int index : updated_taps(unit, image_class))
        for (const auto& t : unit.taps)
            if (t->index == index && tap_to_update(unit, *t, image_class, target)) {
                if (image_class != t->product_class && image_class != class_rail_module_fpga)
                    return t->label + ": image is for another product type";
                runs += (runs.empty() ? "" : ", ") + t->label + " runs v" + installed_version(unit, image_class, index);
                ++n;
            }
    f.plan = "would flash " + std::to_string(n) + (n == 1 ? " TAP: " : " TAPs: ") + runs + aim;
    return {};
}

// Why a unit is left as it is: it (or each TAP of it) runs the target.
std::string already_text(bool units_themselves, std::size_t taps, const std::string& target)
{
    if (units_themselves)
        return "already runs v" + target;
    return (taps == 1 ? std::string("its TAP already runs v") : "its " + std::to_string(taps) + " TAPs already run v") +
           target;
}

} // namespace

int OnFirmwareUpdate(batch_context& ctx, const std::filesystem::path* path)
{
    if (!ctx.begin_command(batch_title))
        return 0;
    unit_group& group = ctx.manager.group();
    int cls = group.selected_class;
    if (cls == class_unknown)
        return 0;
    const bool units_themselves = hub_class(cls);
    std::vector<CHubDevice*> targets;
    if (units_themselves)
        group.for_each_selected([&](CHubDevice& u) { targets.push_back(&u); });
    else
        group.for_each_with_selected_taps([&](CHubDevice& u) { targets.push_back(&u); });
    if (targets.empty())
        return 0;

    std::string name = class_name(cls);
    if (cls == class_rail_module)
        name += " / " + class_name(class_rail_module_fpga);
    int reuse = 0;
    if (!path && (reuse = ask_reuse(ctx, cls, name)) < 0)
        return 0;
    const std::string t = "\"" + name + "\" Firmware Image";
    if (!reuse && !load_image(ctx, path, cls, t))
        return 0;
    const std::optional<firmware_image> image = ctx.firmware_cache.find(static_cast<std::uint32_t>(cls));
    if (!image) {
        ctx.ui.task_dialog(error_dialog(window_title, t, "Loaded firmware image is invalid !"));
        return 0;
    }

    ctx.note_file(image->source, *image->data, static_cast<int>(image->type));
    const std::string mismatch = "Firmware update image type mismatch";
    if (image->is_multi &&
        !warning_sequence(ctx, units_where(targets, false, cap_multi_image), mismatch,
                          "Loaded image is a multi-image but these are not supported by this unit",
                          "Loading multi-images to one or more of the selected units will fail"))
        return 0;
    const int c = static_cast<int>(image->type);
    if (!image->is_multi &&
        (c == class_talvor_3phase_meter || c == class_rail_module || c == class_trunk_module ||
         c == class_rail_module_fpga) &&
        !warning_sequence(ctx, units_where(targets, true, cap_multi_image), mismatch,
                          "You are attempting to install older firmware on a v0.64.x unit.\n\nThis unit may "
                          "control hardware that does not support older firmware.",
                          "Hardware that does not support older firmware will not be downgraded"))
        return 0;
    if (!image->has_signature() &&
        !warning_sequence(ctx, units_where(targets, true, cap_signature), "Firmware update signature presence mismatch",
                          "Unit requires signed firmware image but loaded image has no signature",
                          "Loading firmware images without a signature to one or more of the selected units will fail"))
        return 0;

    const std::string note = units_themselves ? std::string() : tap_note(targets);
    int taps = 0;
    if (!units_themselves)
        for (CHubDevice* unit : targets)
            for (const auto& t : unit->taps)
                taps += t->selected ? 1 : 0;
    // Images carry no version: their kind and size are what can be said.
    const std::string scope = "Sends " + path_text(image->source.filename()) + " (" +
                              (image->is_multi ? "a multi-image archive with " : "") + "an image for \"" +
                              class_name(c) + "\"" + (image->has_signature() ? ", signed" : "") + ", " +
                              size_text(image->size()) + ") to " +
                              units_text(static_cast<int>(targets.size()), taps) + ".";
    if (!ctx.ConfirmParanoid("Update firmware on selected devices", batch_title, scope,
                             units_themselves ? nullptr : &note, verify_box_text, &ctx.verify_chosen))
        return 0;
    ctx.clear_cancels();
    const connection_env* env = &ctx.env();
    const std::string target = ctx.target_version;
    ctx.planner = [c, units_themselves, target](CHubDevice& unit, zt_hub&, job_findings& f) {
        return firmware_plan(unit, c, units_themselves, target, f);
    };
    std::vector<CHubDevice*> as_asked; // every version to change reports the target already
    for (CHubDevice* unit : targets) {
        const std::vector<int> updated = updated_taps(*unit, c);
        if (!target.empty() && (units_themselves || !updated.empty()) &&
            versions_off_target(*unit, c, updated, target).empty()) {
            as_asked.push_back(unit);
            continue;
        }
        firmware_job_args args;
        args.image = image->data;
        args.image_class = c;
        args.limit = (unit->capabilities & cap_signature) ? 0 : image->image_length;
        args.unit_itself = units_themselves;
        args.target_version = target;
        if (ctx.dispatch(job_kind_firmware, *unit, [unit, env, args] { run_firmware_job(*unit, *env, args); },
                         dispatch_form::unguarded))
            ctx.outcome_of(*unit)->version_before = firmware_versions(*unit, c, updated);
    }
    for (CHubDevice* unit : as_asked) {
        const std::vector<int> updated = updated_taps(*unit, c);
        ctx.settle_unchanged(*unit, job_kind_firmware, already_text(units_themselves, updated.size(), target));
        ctx.outcome_of(*unit)->version_before = firmware_versions(*unit, c, updated);
    }
    return ctx.ShowOperationProgress("Updating firmware on selected device(s)", batch_title);
}

} // namespace talvor
