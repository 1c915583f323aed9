#include "operations/file_drops.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "operations/commands.h"
#include "transport/path_text.h"

namespace talvor {

namespace {

namespace fs = std::filesystem;

struct drop_target {
    unsigned message;
    const char* title;
    const char* content; // the refusal of a second file
    int (*run)(batch_context&, const fs::path&);
};

bool ends_in_csv(const std::string& path)
{
    if (path.size() < 4)
        return false;
    std::string tail = path.substr(path.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return tail == ".csv";
}

const drop_target targets[] = {
    {WM_DROP_FIRMWARE, "Firmware Update", "Only a single firmware file can be used !",
     [](batch_context& ctx, const fs::path& p) { return OnFirmwareUpdate(ctx, &p); }},
    {WM_DROP_CONFIGURATION, "Upload Configuration", "Only a single configuration file can be used !",
     [](batch_context& ctx, const fs::path& p) {
         // A CT type table looks like a configuration file to the person dropping it.
         return ends_in_csv(path_text(p)) ? OnUploadCtTypes(ctx, &p) : OnUploadConfiguration(ctx, &p);
     }},
    {WM_DROP_CUSTOMIZATION, "Upload Customization", "Only a single customization file can be used !",
     [](batch_context& ctx, const fs::path& p) { return OnUploadCustomization(ctx, &p, 1); }},
    {WM_DROP_CERTIFICATE, "Upload User Certificate", "Only a single certificate file can be used !",
     [](batch_context& ctx, const fs::path& p) { return OnUploadCertificate(ctx, &p); }},
};

} // namespace

std::intptr_t on_file_drop(batch_context& ctx, const window_message& m)
{
    const auto target = std::find_if(std::begin(targets), std::end(targets),
                                     [&](const drop_target& t) { return t.message == m.id; });
    if (target == std::end(targets) || m.wparam == 0)
        return 0;
    const auto& files = *reinterpret_cast<const std::vector<fs::path>*>(m.wparam);
    if (files.empty() || files.front().empty())
        return 0;
    if (files.size() > 1) {
        ctx.ui.task_dialog(error_dialog(target->title, "Multiple files not supported", target->content));
        return 0;
    }
    return target->run(ctx, files.front());
}

} // namespace talvor
