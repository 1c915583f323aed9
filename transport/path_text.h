#pragma once
// Paths travel through the program as UTF-8 text (options, file lists,
// messages). std::filesystem reads plain strings in the system's narrow
// encoding, which on Windows is a code page rather than UTF-8, so every
// change between the two goes through here.
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace talvor {

inline std::filesystem::path utf8_path(std::string_view text)
{
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string path_text(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// std::fopen for a path of any name (on Windows only the wide call takes
// every name), not inherited by programs this one starts.
std::FILE* open_file(const std::filesystem::path& path, const char* mode);

} // namespace talvor
