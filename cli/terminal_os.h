#pragma once
// The system's side of the terminal: terminal_posix.cpp, terminal_windows.cpp.
#include <memory>
#include <string>

namespace talvor::cli {

// Turns off the echo of standard input, when it is a terminal, for its
// life; the echo comes back however the read ends.
class echo_off {
public:
    echo_off();
    ~echo_off();
    echo_off(const echo_off&) = delete;
    echo_off& operator=(const echo_off&) = delete;

private:
    struct saved;
    std::unique_ptr<saved> saved_;
};

// One byte of `fd` into `c`: 1, 0 at the end of the input (or a failed
// read), -1 when Ctrl-C interrupted the wait.
int read_byte(int fd, char& c);

} // namespace talvor::cli
