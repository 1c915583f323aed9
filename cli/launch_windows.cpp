#include "cli/launch.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace talvor::cli {

int launch_browser(const std::string& url)
{
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, url.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 1), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, url.c_str(), -1, wide.data(), size);
    // The user's default browser; values above 32 mean it was started.
    const auto r = reinterpret_cast<INT_PTR>(::ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return r > 32 ? 0 : -1;
}

} // namespace talvor::cli
