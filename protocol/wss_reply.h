#pragma once
// The numbered "data:" replies of the WebSocket channel.
#include <cstdint>

#include "transport/conn_sess.h"

namespace talvor {

inline constexpr std::uint32_t last_request_number = 0xFFFFFF;

// The number after `counter`: 1 ... 16777215, then 1 again.
std::uint32_t next_request_number(std::uint32_t counter);

// Checks "data:<number>,<status>,<payload>" (the prefix in any case) and
// leaves only the payload in `message`. Returns the status when <number> is
// `id`, else -1; any format fault is -1 too.
int check_reply(byte_vector& message, std::uint32_t id);

} // namespace talvor
