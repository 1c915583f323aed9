#include "transport/user_folder.h"

#include <cstdlib>

namespace fs = std::filesystem;

namespace talvor {

fs::path user_folder(user_files kind)
{
    fs::path base;
#ifdef _WIN32
    // Wide, so that a user name outside the code page still makes a path.
    (void)kind; // Windows keeps both kinds under the local application data
    if (const wchar_t* local = _wgetenv(L"LOCALAPPDATA"); local && *local)
        base = local;
#else
    const bool config = kind == user_files::config;
    if (const char* xdg = std::getenv(config ? "XDG_CONFIG_HOME" : "XDG_STATE_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = config ? fs::path(home) / ".config" : fs::path(home) / ".local" / "state";
#endif
    if (base.empty())
        base = fs::temp_directory_path();
    return base / "Quillon" / "Talvor Manager";
}

} // namespace talvor
