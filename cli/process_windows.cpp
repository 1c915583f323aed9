#include "cli/process.h"

#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <mutex>

namespace talvor::cli {

namespace {

std::mutex watch_lock;
std::function<void()> current_stop;

// Windows runs console control handlers on a thread of its own.
BOOL WINAPI on_console_event(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    std::lock_guard g(watch_lock);
    if (current_stop)
        current_stop();
    return TRUE;
}

std::string utf8_of(const wchar_t* text)
{
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.pop_back(); // the terminating NUL
    return out;
}

} // namespace

std::vector<std::string> start_process(int, char**)
{
    // The same bytes as on other systems: reports and JSON end their lines
    // with LF, and file names and prompts are UTF-8.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    ::SetConsoleOutputCP(CP_UTF8);
    ::SetConsoleCtrlHandler(on_console_event, TRUE);

    // The narrow argv is in the code page: names outside it are lost there.
    std::vector<std::string> args;
    int count = 0;
    if (wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i)
            args.push_back(utf8_of(wide[i]));
        ::LocalFree(wide);
    }
    return args;
}

struct stop_watch::impl {};

stop_watch::stop_watch(std::function<void()> on_stop) : impl_(nullptr)
{
    std::lock_guard g(watch_lock);
    current_stop = std::move(on_stop);
}

stop_watch::~stop_watch()
{
    std::lock_guard g(watch_lock);
    current_stop = nullptr;
}

} // namespace talvor::cli
