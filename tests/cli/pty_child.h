#pragma once
// A program run on a pseudo-terminal of its own (stdin and stderr; stdout
// to a file), as a person at a terminal would run it.
#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace talvorctl_test {

class pty_child {
public:
    // Starts `program` with `args` in `dir`, extra environment `env`
    // ("NAME=value"), standard output to `out_file`.
    pty_child(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
              const std::vector<std::string>& env, const std::string& out_file);
    ~pty_child();
    pty_child(const pty_child&) = delete;
    pty_child& operator=(const pty_child&) = delete;

    // Reads the terminal until `text` has appeared after `from` (an offset
    // into seen()); its offset, or npos after `limit`.
    std::size_t wait_for(const std::string& text, std::size_t from = 0,
                         std::chrono::milliseconds limit = std::chrono::seconds(30));
    // Typed on the terminal (\x03 is Ctrl-C).
    void type(const std::string& keys);
    // The exit status; -1 when it ended by a signal or was killed after `limit`.
    int wait_exit(std::chrono::milliseconds limit = std::chrono::seconds(30));
    // Whether the terminal echoes typed text now.
    bool echo_on() const;
    const std::string& seen() const { return seen_; }

private:
    void read_some(int timeout_ms);

    pid_t pid_ = -1;
    int master_ = -1;
    int slave_ = -1;
    std::string seen_;
};

} // namespace talvorctl_test
