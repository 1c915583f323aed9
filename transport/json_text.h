#pragma once
// Outgoing JSON for the WebSocket channel, assembled from fixed fragments.
// The blanks are part of what units receive: keep them byte for byte.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talvor::json_text {

// { "_id" : N, "request" : "NAME"[, "data" : DATA] }
std::string envelope(std::uint32_t id, std::string_view request, std::string_view data = {});

std::string pass_data(std::string_view hex);
std::string set_password_data(std::string_view pass_hex, std::string_view check_hex);
std::string target_data(long long target);
std::string reboot_data(unsigned code);
std::string sdcard_clear_data(unsigned code);
std::string category_data(unsigned category);
std::string modbus_read_data(long long start, long long count, long long interval);
// Requires at least one value (an empty write is never sent).
std::string modbus_write_data(long long start, const std::vector<int>& values);

} // namespace talvor::json_text
