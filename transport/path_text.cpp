#include "transport/path_text.h"

namespace talvor {

std::FILE* open_file(const std::filesystem::path& path, const char* mode)
{
#ifdef _WIN32
    std::wstring wide_mode(mode, mode + std::char_traits<char>::length(mode));
    return ::_wfopen(path.c_str(), (wide_mode + L"N").c_str());
#else
    return std::fopen(path.c_str(), (std::string(mode) + "e").c_str());
#endif
}

} // namespace talvor
