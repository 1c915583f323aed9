// Saving units' configurations as .cfg files.
#include <filesystem>
#include <optional>
#include <string>

#include "inventory/ensure_login.h"
#include "inventory/unit_group.h"
#include "operations/commands.h"
#include "operations/config_file.h"
#include "operations/config_upload_job.h"
#include "transport/path_text.h"

namespace talvor {

namespace fs = std::filesystem;

namespace {

constexpr const char* download_title = "Download Configuration";
constexpr const char* config_filter = "Configuration Files (*.cfg)|*.cfg|All Files (*.*)|*.*||";

// attempts 0: `where` is the file the user chose (and agreed to replace);
// otherwise `where` is a folder and the unit's name picks the file.
void download_job(batch_context& ctx, CHubDevice& unit, const fs::path& where, int attempts)
{
    const connection_env& env = ctx.env();
    if (ensure_login(unit, env) != 200)
        return finish_job(unit, env, false, std::string("login failed: ") + failure_text(unit.login.failure.load()));
    byte_vector bytes;
    const int r = unit.hub->get_config_file_raw(bytes, reply_limit);
    if (r != 200)
        return finish_job(unit, env, false, status_reason("download failed", r));
    std::string reason;
    std::optional<fs::path> written;
    if (attempts == 0) {
        if (replace_file_safely(where, bytes, reason) == 0)
            written = where;
    } else {
        written = write_new_config_file(where, config_file_stem(unit.serial, unit.mac), bytes, reason);
    }
    if (!written)
        return finish_job(unit, env, false, reason);
    unit.job_file = *written;
    unit.hub->logout();
    finish_job(unit, env, true);
}

} // namespace

int OnDownloadConfiguration(batch_context& ctx, const std::filesystem::path* folder)
{
    if (!ctx.begin_command(download_title) || !ctx.check_capability(cap_config, download_title))
        return 0;
    unit_group& group = ctx.manager.group();
    int count = 0;
    CHubDevice* first = nullptr;
    group.for_each_selected_with(cap_config, [&](CHubDevice& u) {
        if (!first)
            first = &u;
        ++count;
    });
    if (!first)
        return 0;

    fs::path where;
    int attempts = 0;
    if (folder) {
        // A folder named beforehand: one unit's file is named as several
        // units' are, and never replaces one.
        where = *folder;
        attempts = 10;
    } else if (count == 1) {
        file_request request;
        request.title = "Save \"" + config_unit_name(first->serial, first->mac) + "\" Configuration File";
        request.filter = config_filter;
        request.save = true;
        request.default_name = config_file_stem(first->serial, first->mac) + ".cfg";
        request.default_extension = "cfg";
        request.overwrite_prompt = true;
        auto chosen = ctx.ui.choose_file(request);
        if (!chosen)
            return 0;
        where = *chosen;
    } else {
        auto chosen = ctx.ui.choose_folder({"Select Configuration File Folder"});
        if (!chosen)
            return 0;
        where = *chosen;
        attempts = 10;
    }

    ctx.clear_cancels();
    ctx.planner = [where, attempts](CHubDevice& u, zt_hub& hub, job_findings& f) -> std::string {
        byte_vector bytes;
        if (const int r = hub.get_config_file_raw(bytes, reply_limit); r != 200)
            return status_reason("download failed", r);
        const std::optional<fs::path> to =
            attempts == 0 ? std::optional<fs::path>(where)
                          : free_config_file_name(where, config_file_stem(u.serial, u.mac));
        if (!to)
            return "all ten file names are taken";
        f.plan = "would save " + size_text(bytes.size()) + " to " + path_text(*to);
        return {};
    };
    group.for_each_selected_with(cap_config, [&](CHubDevice& u) {
        ctx.dispatch(
            job_kind_config_download, u, [&ctx, &u, where, attempts] { download_job(ctx, u, where, attempts); },
            dispatch_form::guarded,
            [](const CHubDevice& d) { return d.selected != 0 && (d.capabilities & cap_config) != 0; });
    });
    return ctx.ShowOperationProgress("Downloading configuration from selected device(s)", download_title);
}

} // namespace talvor
