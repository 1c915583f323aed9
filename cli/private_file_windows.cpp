#include "cli/secrets.h"

#include <filesystem>

#include "transport/path_text.h"

namespace talvor::cli {

// Windows guards files with access lists, not mode bits; the user's
// profile folders are the user's own.
std::string private_file_problem(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(utf8_path(path), ec) ? std::string() : "not found";
}

} // namespace talvor::cli
