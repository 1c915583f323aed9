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

// push_back that never leaves a copy behind: the line may be a password.
void append_secret(std::string& s, char c);

} // namespace talvor::cli
