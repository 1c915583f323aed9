#include "cli/terminal.h"

#include <cstdio>
#include <string>

#include <termios.h>
#include <unistd.h>

namespace talvor::cli {

namespace {

std::optional<std::string> read_line(int fd)
{
    std::string line;
    char c;
    for (;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n <= 0)
            return line.empty() ? std::nullopt : std::optional<std::string>(line);
        if (c == '\n')
            break;
        line.push_back(c);
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
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
            active_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
        }
    }
    ~echo_off()
    {
        if (active_)
            ::tcsetattr(fd_, TCSAFLUSH, &saved_);
    }

private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

} // namespace

bool stdin_is_terminal() { return ::isatty(STDIN_FILENO) == 1; }
bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

std::optional<std::string> read_secret(const std::string& prompt)
{
    if (!stdin_is_terminal())
        return std::nullopt;
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    std::optional<std::string> line;
    {
        echo_off guard(STDIN_FILENO);
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

} // namespace talvor::cli
