#include "cli/terminal.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

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

// push_back that never leaves a copy behind: the line may be a password.
void append_secret(std::string& s, char c)
{
    if (s.size() == s.capacity()) {
        std::string bigger;
        bigger.reserve(s.capacity() < 32 ? 64 : 2 * s.capacity());
        bigger.assign(s);
        wipe(s);
        s.swap(bigger);
    }
    s.push_back(c);
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

// Restores the terminal's echo even when reading ends early.
class echo_off {
public:
    explicit echo_off(int fd)
        : fd_(fd)
    {
        if (::tcgetattr(fd_, &saved_) == 0) {
            termios quiet = saved_;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            active_ = ::tcsetattr(fd_, TCSADRAIN, &quiet) == 0;
        }
    }
    ~echo_off()
    {
        if (active_)
            ::tcsetattr(fd_, TCSADRAIN, &saved_);
    }

private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

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

std::optional<std::string> read_line(int fd)
{
    std::string line;
    char c;
    for (;;) {
        if (!wait_readable(fd)) {
            wipe(line);
            return std::nullopt;
        }
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
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

std::optional<std::string> read_secret(const std::string& prompt)
{
    if (!stdin_is_terminal())
        return std::nullopt;
    std::optional<std::string> line;
    {
        // Echo goes off before the prompt shows: nothing typed after it is echoed.
        echo_off guard(STDIN_FILENO);
        std::fputs(prompt.c_str(), stderr);
        std::fflush(stderr);
        line = read_line(STDIN_FILENO);
    }
    std::fputs("\n", stderr);
    return line;
}

std::optional<std::string> read_answer(const std::string& prompt)
{
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    return read_line(STDIN_FILENO);
}

void progress_line::draw(const std::string& text)
{
    text_ = text;
    if (!enabled_)
        return;
    std::fprintf(stderr, "\r\033[K%s", text_.c_str());
    std::fflush(stderr);
    shown_ = true;
}

void progress_line::finish()
{
    if (enabled_ && shown_)
        std::fputs("\n", stderr);
    shown_ = false;
    text_.clear();
}

void progress_line::clear()
{
    if (!enabled_ || !shown_)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}

void progress_line::redraw()
{
    if (enabled_ && !shown_ && !text_.empty())
        draw(text_);
}

} // namespace talvor::cli
