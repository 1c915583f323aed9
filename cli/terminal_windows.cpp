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

int read_byte(int fd, char& c)
{
    const int n = interrupted.load() ? -1 : _read(fd, &c, 1);
    if (interrupted.load())
        return -1;
    return n == 1 ? 1 : 0;
}

} // namespace talvor::cli
