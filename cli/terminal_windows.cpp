#include "cli/terminal.h"

#include <windows.h>

#include <io.h>

#include <atomic>

#include "cli/terminal_os.h"
#include "inventory/password_text.h"

namespace talvor::cli {

namespace {

std::atomic<bool> interrupted{false};

HANDLE input() { return ::GetStdHandle(STD_INPUT_HANDLE); }

} // namespace

struct echo_off::saved {
    DWORD mode = 0;
    bool active = false;
};

echo_off::echo_off() : saved_(std::make_unique<saved>())
{
    if (::GetConsoleMode(input(), &saved_->mode))
        saved_->active = ::SetConsoleMode(input(), saved_->mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
}

echo_off::~echo_off()
{
    if (saved_->active)
        ::SetConsoleMode(input(), saved_->mode);
}

bool stdin_is_terminal() { return _isatty(0) != 0; }
bool stderr_is_terminal() { return _isatty(2) != 0; }

// The console ends a pending read itself on Ctrl-C; the flag makes that
// read, and every later one, end with nothing.
void interrupt_terminal_reads() { interrupted.store(true); }

std::optional<std::string> read_line(int fd)
{
    std::string line;
    char c;
    for (;;) {
        const int n = interrupted.load() ? -1 : _read(fd, &c, 1);
        if (interrupted.load()) {
            wipe(line);
            return std::nullopt;
        }
        if (n <= 0) {
            if (line.empty())
                return std::nullopt;
            break;
        }
        if (c == '\n')
            break;
        append_secret(line, c);
    }
    c = 0;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

} // namespace talvor::cli
