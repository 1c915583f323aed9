#pragma once
// The benchmarks run the simulator and each measured run in processes of
// their own, so that CPU time and peak memory are each side's alone and a
// run's peak is not that of an earlier, larger one. The parent stays single
// threaded, so forking it is safe.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <type_traits>

#include "bench/support/figures.h"
#include "simulator/hubsim.h"

namespace talvor::bench {

class sim_process {
public:
    // Serves the fleet from a child process until stop(), `niceness` below
    // the caller's priority.
    sim_process(const std::string& fleet_json, const std::filesystem::path& work, int niceness = 0)
    {
        int ready[2], control[2];
        if (pipe(ready) != 0 || pipe(control) != 0)
            std::exit(1);
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(control[1]);
            int code = 0;
            if (niceness != 0 && nice(niceness) == -1)
                std::perror("nice");
            try {
                sim::fleet_server fleet(fleet_json, work);
                const char c = 'r';
                if (write(ready[1], &c, 1) != 1)
                    code = 1;
                char b;
                while (read(control[0], &b, 1) > 0) {
                }
            } catch (const std::exception& e) {
                std::fprintf(stderr, "simulator: %s\n", e.what());
                code = 1;
            }
            _exit(code);
        }
        close(ready[1]);
        close(control[0]);
        control_ = control[1];
        char c = 0;
        const bool up = read(ready[0], &c, 1) == 1;
        close(ready[0]);
        if (!up) {
            std::fprintf(stderr, "the simulator did not start\n");
            std::exit(1);
        }
    }
    ~sim_process() { stop(); }
    sim_process(const sim_process&) = delete;
    sim_process& operator=(const sim_process&) = delete;

    void stop()
    {
        if (control_ < 0)
            return;
        close(control_);
        control_ = -1;
        waitpid(pid_, nullptr, 0);
    }
    double cpu_seconds() const { return cpu_seconds_of(pid_); }

private:
    pid_t pid_ = -1;
    int control_ = -1;
};

// Runs `fn` in a child process and returns what it returned.
template <typename T>
T in_child(const std::function<T()>& fn)
{
    static_assert(std::is_trivially_copyable_v<T>);
    int out[2];
    if (pipe(out) != 0)
        std::exit(1);
    const pid_t pid = fork();
    if (pid == 0) {
        close(out[0]);
        const T value = fn();
        const bool sent = write(out[1], &value, sizeof value) == static_cast<ssize_t>(sizeof value);
        _exit(sent ? 0 : 1);
    }
    close(out[1]);
    T value{};
    const bool got = read(out[0], &value, sizeof value) == static_cast<ssize_t>(sizeof value);
    close(out[0]);
    waitpid(pid, nullptr, 0);
    if (!got) {
        std::fprintf(stderr, "a measured run did not report\n");
        std::exit(1);
    }
    return value;
}

} // namespace talvor::bench
