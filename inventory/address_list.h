#pragma once
// Address list files: items separated by white space, '#' items start a
// comment to the end of the line, lines counted from 1. A UTF-8 byte-order
// mark before the first item is passed over.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "transport/conn_sess.h"

namespace talvor {

struct address_list_result {
    std::vector<ip_address> addresses; // in file order; empty on error
    int error_line = 0;                // 0 when the whole file is valid
};

address_list_result parse_address_list(std::span<const std::uint8_t> bytes);

// "Address List \"<file name>\"": the file name is the part after the last
// path separator of the platform.
std::string address_list_heading(const std::filesystem::path& path);

inline constexpr const char* add_multiple_title = "Add Multiple Devices";
inline constexpr const char* add_device_title = "Add Device";
inline constexpr const char* address_file_dialog_title = "Select Network Address File";
inline constexpr const char* address_file_filter = "Text Files (*.txt)|*.txt|All Files (*.*)|*.*||";

} // namespace talvor
