// The talvor-hubsim program: prints what it serves, "ready", and stops
// cleanly on SIGTERM.
#include "wire_client.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Reads the child's output until `until` appears or time runs out.
std::string read_until(int fd, const std::string& until, int timeout_ms)
{
    std::string out;
    for (int waited = 0; waited < timeout_ms && out.find(until) == std::string::npos; waited += 50) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        char buf[1024];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

} // namespace

TEST(Program, ServesUntilSigtermAndExitsCleanly)
{
    auto dir = std::filesystem::temp_directory_path() / ("hubsim-program-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "fleet.json") << R"({"units":[{"name":"p","kind":"http","address":"127.3.50.1"}]})";

    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    std::string program = TALVOR_HUBSIM_PROGRAM, fleet = (dir / "fleet.json").string(), work = (dir / "work").string();
    char* argv[] = {program.data(), fleet.data(), work.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_fds[1]);

    std::string out = read_until(pipe_fds[0], "ready\n", 10000);
    EXPECT_NE(out.find("serving p 127.3.50.1 http\n"), std::string::npos) << out;
    EXPECT_NE(out.find("ready\n"), std::string::npos) << out;
    EXPECT_EQ(wire::http("127.3.50.1", "GET", "/XYZZY.ASD").status, 404);

    ::kill(pid, SIGTERM);
    out = read_until(pipe_fds[0], "stopped\n", 10000);
    EXPECT_NE(out.find("stopped"), std::string::npos);
    int status = 0;
    for (int waited = 0; waited < 10000 && ::waitpid(pid, &status, WNOHANG) == 0; waited += 50)
        ::usleep(50000);
    ::close(pipe_fds[0]);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(wire::port_open("127.3.50.1", 80));
    std::filesystem::remove_all(dir);
}
