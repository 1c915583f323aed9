#include "transport/file_bytes.h"

#include <fstream>

namespace talvor {

int read_file_bytes(const std::filesystem::path& path, std::vector<std::uint8_t>& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return -1;
    std::vector<std::uint8_t> data;
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

} // namespace talvor
