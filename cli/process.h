#pragma once
// What talvorctl needs from the system around it: its arguments as UTF-8,
// standard streams that pass bytes through unchanged, and Ctrl-C.
#include <functional>
#include <string>
#include <vector>

namespace talvor::cli {

// First thing in main, before any thread starts: the arguments as UTF-8,
// and stop requests held back until a stop_watch takes them.
std::vector<std::string> start_process(int argc, char** argv);

// Ctrl-C and termination requests run `on_stop` as ordinary code on a
// thread of their own, never inside a signal handler.
class stop_watch {
public:
    explicit stop_watch(std::function<void()> on_stop);
    ~stop_watch();
    stop_watch(const stop_watch&) = delete;
    stop_watch& operator=(const stop_watch&) = delete;

private:
    struct impl;
    impl* impl_;
};

} // namespace talvor::cli
