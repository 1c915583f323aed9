#pragma once
// Reading unit addresses typed by the user or listed in an address list file.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "transport/conn_sess.h"

namespace talvor {

// One address item: an item holding a '.' gets "::ffff:" in front, then the
// whole is read as IPv6 text. So "::ffff:10.0.0.1" gets a second prefix and
// is refused, as the Add Device box has always done.
std::optional<ip_address> parse_address_item(std::string_view item);

// The Add Device box: trimmed of white space at both ends; nothing when it
// is then empty (`empty` set) or not an address.
std::optional<ip_address> parse_address_box(std::string_view text, bool& empty);

} // namespace talvor
