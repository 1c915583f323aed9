#include "cli/terminal.h"

#include <atomic>
#include <cerrno>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "cli/terminal_os.h"
#include "inventory/password_text.h"

namespace talvor::cli {

namespace {

std::atomic<bool> interrupted{false};
int wake_pipe[2] = {-1, -1};
std::once_flag wake_once;

int wake_fd()
{
    std::call_once(wake_once, [] {
        if (::pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            wake_pipe[0] = wake_pipe[1] = -1;
    });
    return wake_pipe[0];
}

// Waits until `fd` can be read; false when interrupted first.
bool wait_readable(int fd)
{
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_fd(), POLLIN, 0}};
    for (;;) {
        if (interrupted.load())
            return false;
        const int n = ::poll(fds, fds[1].fd < 0 ? 1 : 2, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (interrupted.load() || n < 0)
            return false;
        if (fds[0].revents)
            return true;
    }
}

} // namespace

bool stdin_is_terminal() { return ::isatty(STDIN_FILENO) == 1; }
bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

void interrupt_terminal_reads()
{
    interrupted.store(true);
    const int fd = (wake_fd(), wake_pipe[1]);
    if (fd >= 0) {
        const char b = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &b, 1);
    }
}

int read_byte(int fd, char& c)
{
    for (;;) {
        if (!wait_readable(fd))
            return -1;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        return n == 1 ? 1 : 0;
    }
}

struct echo_off::saved {
    termios mode{};
    bool active = false;
};

echo_off::echo_off() : saved_(std::make_unique<saved>())
{
    if (::tcgetattr(STDIN_FILENO, &saved_->mode) == 0) {
        termios quiet = saved_->mode;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        saved_->active = ::tcsetattr(STDIN_FILENO, TCSADRAIN, &quiet) == 0;
    }
}

echo_off::~echo_off()
{
    if (saved_->active)
        ::tcsetattr(STDIN_FILENO, TCSADRAIN, &saved_->mode);
}

} // namespace talvor::cli
