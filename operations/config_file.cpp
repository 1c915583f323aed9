#include "operations/config_file.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "inventory/reply_values.h"
#include "operations/file_place.h"
#include "transport/json_parser.h"
#include "transport/path_text.h"

namespace talvor {

namespace fs = std::filesystem;

namespace {

std::size_t member(const json_parser& p, std::string_view object, std::string_view key)
{
    const std::size_t o = p.find(json_parser::root, object);
    return o == p.end() ? o : p.find(o, key);
}

bool written_temp(temp_file& tmp, const byte_vector& bytes, std::string& reason)
{
    if (!tmp.ok()) {
        reason = tmp.error();
        return false;
    }
    return tmp.write_all(bytes, reason);
}

} // namespace

std::optional<config_file_info> read_config_file_info(const byte_vector& bytes)
{
    auto p = json_parser::from(std::string(bytes.begin(), bytes.end()));
    if (!p || !p->is(json_parser::root, json_type::object))
        return std::nullopt;
    config_file_info info;
    info.version = reply_number<int>(*p, p->find(json_parser::root, "version")).value_or(0);
    if (info.version == 0)
        return std::nullopt;
    info.sd_state = reply_number<std::int64_t>(*p, member(*p, "glob_conf", "sd_state")).value_or(0);
    const double active = p->get_number(member(*p, "filtering", "active")); // NaN when missing
    info.filtering_active = !std::isnan(active) && active != 0.0;
    info.has_log_conf = p->find(json_parser::root, "log_conf") != p->end();
    if (const std::size_t name = member(*p, "glob_conf", "name"); p->is(name, json_type::string))
        info.name = p->get_string(name);
    return info;
}

std::string config_unit_name(const std::string& serial, const mac_address& mac)
{
    return serial.empty() ? mac_text(mac) : serial;
}

std::string config_file_stem(const std::string& serial, const mac_address& mac)
{
    auto safe = [](std::string s) {
        for (char& c : s) {
            const auto b = static_cast<unsigned char>(c);
            if (b < 0x20 || b == 0x7f || std::strchr("/\\:*?\"<>|", c))
                c = '_';
        }
        return s;
    };
    std::string stem = safe(serial);
    if (stem.empty() || stem == "." || stem == "..")
        stem = safe(mac_text(mac));
    return stem;
}

int replace_file_safely(const fs::path& path, const byte_vector& bytes, std::string& reason)
{
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    temp_file tmp(folder, path_text(path.filename()));
    if (!written_temp(tmp, bytes, reason))
        return -1;
    return move_replacing(tmp, path, reason) ? 0 : -1;
}

namespace {

fs::path numbered_name(const fs::path& folder, const std::string& stem, int n)
{
    return folder / utf8_path(stem + (n ? "(" + std::to_string(n) + ")" : "") + ".CFG");
}

} // namespace

std::optional<fs::path> free_config_file_name(const fs::path& folder, const std::string& stem)
{
    for (int n = 0; n < 10; ++n) {
        std::error_code ec;
        if (const fs::path name = numbered_name(folder, stem, n); !fs::exists(name, ec) && !ec)
            return name;
    }
    return std::nullopt;
}

std::optional<fs::path> write_new_config_file(const fs::path& folder, const std::string& stem,
                                              const byte_vector& bytes, std::string& reason)
{
    temp_file tmp(folder, stem);
    if (!written_temp(tmp, bytes, reason))
        return std::nullopt;
    for (int n = 0; n < 10; ++n) {
        const fs::path name = numbered_name(folder, stem, n);
        const int placed = move_if_free(tmp, name, reason);
        if (placed > 0)
            return name;
        if (placed < 0)
            return std::nullopt;
    }
    reason = "all ten file names are taken";
    return std::nullopt;
}

} // namespace talvor
