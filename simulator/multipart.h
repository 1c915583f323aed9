#pragma once
// The upload bodies units receive: no Content-Type, the boundary is the
// body's first line ("--------" and 16 lower-case hex digits).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvor::sim {

// The parts in order, or nothing when the framing is broken. Only the first
// `max_parts - 1` separators split, so file bytes may hold anything.
std::optional<std::vector<std::string>> split_multipart(std::string_view body, std::size_t max_parts);

} // namespace talvor::sim
