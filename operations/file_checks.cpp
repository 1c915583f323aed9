#include "operations/file_checks.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <string_view>
#include <vector>

#include "inventory/address_list.h"
#include "inventory/code_tables.h"
#include "operations/config_file.h"
#include "operations/ct_table.h"
#include "operations/customisation_file.h"
#include "operations/firmware_image.h"
#include "transport/cert_files.h"
#include "transport/file_bytes.h"
#include "transport/path_text.h"

namespace talvor {

namespace fs = std::filesystem;

namespace {

// Whether any product class takes the image; which one is decided once the
// units are known.
bool any_class_takes(std::span<const std::uint8_t> bytes)
{
    const auto data = std::make_shared<const byte_vector>(bytes.begin(), bytes.end());
    for (int c = class_multi_port_tap; c <= class_ambient_hub; ++c) {
        firmware_image image;
        image.data = data;
        if (image.classify(static_cast<std::uint32_t>(c)))
            return true;
    }
    return false;
}

std::string ct_table_problem(std::span<const std::uint8_t> bytes)
{
    std::vector<ct_type_row> rows;
    if (const int line = load_ct_table({reinterpret_cast<const char*>(bytes.data()), bytes.size()}, rows))
        return "not a CT type table: parsing failed at line " + std::to_string(line);
    return rows.empty() ? "holds no CT types" : "";
}

// Creating and removing a file of our own is the one check of a folder
// that every platform answers truly.
bool can_create_in(const fs::path& folder)
{
    static std::atomic<unsigned> serial{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path probe =
        folder / (".talvor-write-check-" + std::to_string(stamp) + "-" + std::to_string(serial++));
    {
        std::ofstream out(probe, std::ios::binary);
        if (!out)
            return false;
    }
    std::error_code ec;
    fs::remove(probe, ec);
    return true;
}

} // namespace

std::string input_content_problem(std::span<const std::uint8_t> bytes, input_kind kind)
{
    if (bytes.empty())
        return "empty";
    switch (kind) {
    case input_kind::firmware:
        return any_class_takes(bytes) ? "" : "not a firmware image any unit takes";
    case input_kind::configuration:
        return read_config_file_info(byte_vector(bytes.begin(), bytes.end()))
                   ? ""
                   : "not a configuration file (no JSON object with a format \"version\")";
    case input_kind::ct_table:
        return ct_table_problem(bytes);
    case input_kind::customisation:
        return customisation_file_valid(bytes) ? "" : "not a customization file";
    case input_kind::certificate:
        return certificate_file_problem(bytes);
    case input_kind::private_key:
        return key_file_problem(bytes);
    case input_kind::address_list: {
        const address_list_result list = parse_address_list(bytes);
        if (list.error_line != 0)
            return "not an address list: error at line " + std::to_string(list.error_line);
        return list.addresses.empty() ? "holds no addresses" : "";
    }
    }
    return {};
}

std::string input_file_problem(const fs::path& path, input_kind kind, byte_vector& bytes)
{
    if (std::string why = read_file_problem(path, bytes); !why.empty())
        return why;
    return input_content_problem(bytes, kind);
}

std::string file_problem_text(const fs::path& path, const std::string& reason)
{
    return path_text(path) + ": " + reason;
}

bool load_input_file(dialogs& ui, const std::string& title, const std::string& heading, const fs::path& path,
                     const std::string& content, byte_vector& bytes)
{
    std::string why = read_file_problem(path, bytes);
    if (why.empty() && bytes.empty())
        why = "empty";
    if (why.empty())
        return true;
    report_input_refused(ui, title, heading, content, path, why);
    return false;
}

void report_input_refused(dialogs& ui, const std::string& title, const std::string& heading,
                          const std::string& content, const fs::path& path, const std::string& reason)
{
    const std::string line = file_problem_text(path, reason);
    ui.task_dialog(error_dialog(title, heading, content.empty() ? line : content + "\n\n" + line));
}

std::string output_file_problem(const fs::path& path)
{
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (status.type() == fs::file_type::directory)
        return "a folder, not a file";
    if (status.type() == fs::file_type::regular) {
        // Opened for appending, which changes nothing in it.
        std::ofstream out(path, std::ios::binary | std::ios::app);
        return out ? "" : "not writable";
    }
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    if (std::string why = output_folder_problem(folder); !why.empty())
        return "the folder " + path_text(folder) + " is " + (why == "not found" ? "missing" : why);
    return {};
}

std::string output_folder_problem(const fs::path& folder)
{
    std::error_code ec;
    const auto status = fs::status(folder, ec);
    if (status.type() == fs::file_type::not_found)
        return "not found";
    if (status.type() != fs::file_type::directory)
        return "not a folder";
    return can_create_in(folder) ? "" : "not writable";
}

} // namespace talvor
