#include "cli/terminal.h"

#include <cstdio>
#include <string>

#include "cli/terminal_os.h"
#include "inventory/password_text.h"

namespace talvor::cli {

namespace {

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

} // namespace

std::optional<std::string> read_line(int fd)
{
    std::string line;
    char c = 0;
    for (;;) {
        const int r = read_byte(fd, c);
        if (r < 0) {
            wipe(line);
            return std::nullopt;
        }
        if (r == 0) {
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
        echo_off guard;
        std::fputs(prompt.c_str(), stderr);
        std::fflush(stderr);
        line = read_line(0);
    }
    std::fputs("\n", stderr);
    return line;
}

std::optional<std::string> read_answer(const std::string& prompt)
{
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    return read_line(0);
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
