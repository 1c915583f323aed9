// A configuration file's members, and a unit-supplied serial turned into a
// file name, on any bytes: an accepted file has a version, and a name never
// reaches outside its folder.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "operations/config_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const talvor::byte_vector bytes(data, data + size);
    auto info = talvor::read_config_file_info(bytes);
    if (info && info->version == 0)
        std::abort();
    const std::string stem =
        talvor::config_file_stem(std::string(bytes.begin(), bytes.end()), talvor::mac_address{1, 2, 3, 4, 5, 6});
    if (stem.empty() || stem == "." || stem == ".." || stem.find_first_of("/\\:") != std::string::npos ||
        stem.find('\0') != std::string::npos)
        std::abort();
    return 0;
}
