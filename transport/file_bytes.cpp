#include "transport/file_bytes.h"

#include <algorithm>
#include <fstream>

namespace talvor {

int read_file_bytes(const std::filesystem::path& path, std::vector<std::uint8_t>& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return -1;
    std::vector<std::uint8_t> data;
    // Sized once: a 16 MiB image grown by doubling was held twice over
    // while it was read.
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec)
        data.reserve(static_cast<std::size_t>(std::min<std::uintmax_t>(size, max_file_bytes)));
    char chunk[1024];
    for (;;) {
        in.read(chunk, sizeof chunk);
        const auto got = static_cast<std::size_t>(in.gcount());
        if (data.size() + got > max_file_bytes)
            return -1; // one byte past the limit was seen: refuse, do not cut
        data.insert(data.end(), chunk, chunk + got);
        if (got < sizeof chunk)
            break;
    }
    if (in.bad())
        return -1;
    out = std::move(data);
    return 0;
}

std::string read_file_problem(const std::filesystem::path& path, std::vector<std::uint8_t>& out)
{
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found)
        return "not found";
    if (status.type() == std::filesystem::file_type::directory)
        return "a folder, not a file";
    if (read_file_bytes(path, out) != 0) {
        const auto size = std::filesystem::file_size(path, ec);
        return !ec && size > max_file_bytes ? "larger than 16 MiB" : "not readable";
    }
    return {};
}

} // namespace talvor
